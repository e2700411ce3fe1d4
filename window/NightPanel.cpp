// SPDX-License-Identifier: GPL-3.0-or-later
#include "NightPanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "model/NightProgramme.h"
#include "model/Presets.h"
#include "platform/Localization.h"
#include "window/InterfaceLoader.h"
#include "window/WindowKeys.h"

namespace brinesong {

namespace {

enum Column { kMinuteColumn, kGlideColumn, kPresetColumn, kRemoveColumn, kColumns };

}  // namespace

NightPanel::NightPanel(NightProgramme& programme, const PresetBook& presets,
                       std::function<QString()> save, QObject* parent)
    : QObject(parent), programme_(programme), presets_(presets), save_(std::move(save)) {}

NightPanel::~NightPanel() {
    delete window.data();
}

void NightPanel::showPanel() {
    if (!stepsArea) {
        if (!load()) {
            std::fprintf(stderr, "Failed to load Night.ui\n");
            QApplication::beep();
            return;
        }
        drawSteps();
    }
    window->show();
    window->raise();
    window->activateWindow();
}

bool NightPanel::load() {
    QWidget* root = loadInterface(QStringLiteral("Night"), parentWindow_);
    QScrollArea* area = outlet<QScrollArea>(root, "stepsArea");
    if (!area) {
        delete root;
        return false;
    }
    root->setWindowFlag(Qt::Window);
    window = area->window();
    connect(window, &QObject::destroyed, this, [this] { clearOutlets(); });
    stepsArea = area;
    nightEnabledCheckbox = outlet<QCheckBox>(root, "nightEnabledCheckbox");
    addStepButton = outlet<QPushButton>(root, "addStepButton");
    closeButton = outlet<QPushButton>(root, "closeButton");
    nightNotesText = outlet<QLabel>(root, "nightNotesText");

    if (nightEnabledCheckbox) {
        connect(nightEnabledCheckbox, &QCheckBox::toggled, this, &NightPanel::setProgrammeEnabled);
    }
    if (addStepButton) {
        connect(addStepButton, &QPushButton::clicked, this, [this] {
            if (addStep()) {
                // The new step's minutes, to be set first.
                drawSteps(static_cast<int>(programme_.steps().size()) - 1);
            }
        });
    }
    bindPanelKeys(window, closeButton, [this] { emit helpRequested(); });
    return true;
}

void NightPanel::clearOutlets() {
    nightEnabledCheckbox = nullptr;
    stepsArea = nullptr;
    fields_.clear();
    addStepButton = nullptr;
    closeButton = nullptr;
    nightNotesText = nullptr;
}

QStringList NightPanel::presetNames() const {
    QStringList names;
    for (const Preset& preset : presets_.all()) {
        names << preset.name;
    }
    return names;
}

void NightPanel::presetsChanged() {
    if (stepsArea && presetNames() != drawnNames_) {
        drawStepsLater(-1, 0);
    }
}

void NightPanel::programmeChanged() {
    save();
    drawStepsLater(-1, 0);
}

void NightPanel::drawSteps(int focusRow, int focusColumn) {
    if (!stepsArea) {
        return;
    }
    if (nightEnabledCheckbox) {
        const QSignalBlocker blocker(nightEnabledCheckbox);
        nightEnabledCheckbox->setChecked(programme_.enabled());
    }
    drawnNames_ = presetNames();
    const std::vector<Preset> presets = presets_.all();
    const std::vector<ProgrammeStep>& steps = programme_.steps();
    // The rows anew, a grid under the columns' heads, each row named by a label of its own at its
    // head (which names the preset's pop-up to a screen reader); the last drawing goes with its
    // widget.
    auto* rows = new QWidget;
    auto* grid = new QGridLayout(rows);
    grid->setColumnStretch(kPresetColumn + 1, 1);
    grid->setRowStretch(static_cast<int>(steps.size()) + 1, 1);
    const QString heads[] = {Texts::tr("After (minutes)"), Texts::tr("Glide (minutes)"),
                             Texts::tr("Preset")};
    for (int column = 0; column < kRemoveColumn; ++column) {
        grid->addWidget(new QLabel(heads[column]), 0, column + 1);
    }
    fields_.clear();
    for (int row = 0; row < static_cast<int>(steps.size()); ++row) {
        const ProgrammeStep& step = steps[size_t(row)];
        const QString number = QString::number(row + 1);

        auto* minute = new QSpinBox;
        minute->setRange(0, kLatestMinute);
        minute->setValue(
            static_cast<int>(std::lround(std::min<double>(step.minute, kLatestMinute))));
        minute->setKeyboardTracking(false);  // typed minutes count once complete
        minute->setAccessibleName(Texts::tr("Step %1: after minutes").arg(number));
        minute->setAccessibleDescription(
            Texts::tr("Minutes from the start of the sound at which the step begins"));
        connect(minute, &QSpinBox::valueChanged, this,
                [this, row](int value) { setStepMinute(row, value); });

        auto* glide = new QSpinBox;
        glide->setRange(0, kLongestGlide);
        glide->setValue(
            static_cast<int>(std::lround(std::min<double>(step.glideMinutes, kLongestGlide))));
        glide->setKeyboardTracking(false);
        glide->setAccessibleName(Texts::tr("Step %1: glide minutes").arg(number));
        glide->setAccessibleDescription(
            Texts::tr("Minutes the sea takes to glide to the preset; 0 glides over a second"));
        connect(glide, &QSpinBox::valueChanged, this,
                [this, row](int value) { setStepGlide(row, value); });

        auto* preset = new QComboBox;
        preset->setAccessibleDescription(Texts::tr("The preset the step glides to"));
        for (const Preset& listed : presets) {
            preset->addItem(listed.title(), listed.name);
        }
        const Preset* named = presets_.find(step.preset);
        if (named) {
            preset->setCurrentIndex(preset->findData(named->name));
        } else {
            // Shown as it is named, and as missing: the night skips it.
            preset->insertItem(0, Texts::tr("%1 (missing)").arg(step.preset), step.preset);
            preset->setCurrentIndex(0);
            preset->setToolTip(Texts::tr("No preset has this name any more: the step is skipped"));
            preset->setAccessibleDescription(preset->toolTip());
        }
        connect(preset, &QComboBox::activated, this, [this, row, preset](int index) {
            setStepPreset(row, preset->itemData(index).toString());
        });

        auto* remove = new QPushButton(Texts::tr("Remove"));
        remove->setAutoDefault(false);
        remove->setAccessibleName(Texts::tr("Remove step %1").arg(number));
        connect(remove, &QPushButton::clicked, this, [this, row] {
            if (removeStep(row)) {
                drawStepsLater(std::min(row, static_cast<int>(programme_.steps().size()) - 1),
                               kRemoveColumn);
            }
        });

        auto* name = new QLabel(Texts::tr("Step %1").arg(number));
        name->setBuddy(preset);
        grid->addWidget(name, row + 1, 0);
        fields_.push_back({minute, glide, preset, remove});
        for (int column = 0; column < kColumns; ++column) {
            grid->addWidget(fields_.back()[size_t(column)], row + 1, column + 1);
        }
    }
    stepsArea->setWidget(rows);
    // Tab runs along each row, then to the next.
    QWidget* previous = nightEnabledCheckbox;
    for (const auto& fields : fields_) {
        for (QWidget* field : fields) {
            if (previous) {
                QWidget::setTabOrder(previous, field);
            }
            previous = field;
        }
    }
    if (previous && addStepButton) {
        QWidget::setTabOrder(previous, addStepButton);
    }
    if (QWidget* field = stepField(focusRow, focusColumn)) {
        field->setFocus();
        stepsArea->ensureWidgetVisible(field);
    }
    if (addStepButton) {
        addStepButton->setEnabled(steps.size() < NightProgramme::kMostSteps);
    }
    showNotes();
}

QWidget* NightPanel::stepField(int row, int column) const {
    if (row < 0 || row >= static_cast<int>(fields_.size()) || column < 0 || column >= kColumns) {
        return nullptr;
    }
    return fields_[size_t(row)][size_t(column)];
}

void NightPanel::drawStepsLater(int focusRow, int focusColumn) {
    QMetaObject::invokeMethod(
        this, [this, focusRow, focusColumn] { drawSteps(focusRow, focusColumn); },
        Qt::QueuedConnection);
}

bool NightPanel::addStep() {
    std::vector<ProgrammeStep> steps = programme_.steps();
    ProgrammeStep step;
    step.minute = steps.empty() ? kNewStepGap : steps.back().minute + kNewStepGap;
    step.glideMinutes = NightProgramme::kDefaultGlideMinutes;
    step.preset = steps.empty() ? shippedPresets().front().name : steps.back().preset;
    steps.push_back(step);
    if (!programme_.setSteps(std::move(steps))) {
        return false;
    }
    save();
    return true;
}

bool NightPanel::removeStep(int row) {
    std::vector<ProgrammeStep> steps = programme_.steps();
    if (row < 0 || row >= static_cast<int>(steps.size())) {
        return false;
    }
    steps.erase(steps.begin() + row);
    programme_.setSteps(std::move(steps));
    save();
    return true;
}

bool NightPanel::setStepMinute(int row, double minute) {
    std::vector<ProgrammeStep> steps = programme_.steps();
    if (row < 0 || row >= static_cast<int>(steps.size())) {
        return false;
    }
    // Where the step stands once the steps are in order of their minutes again: after every
    // earlier minute, and after the steps of the same minute that stood before it.
    int moved = 0;
    for (int i = 0; i < static_cast<int>(steps.size()); ++i) {
        if (i != row &&
            (steps[size_t(i)].minute < minute || (steps[size_t(i)].minute == minute && i < row))) {
            ++moved;
        }
    }
    steps[size_t(row)].minute = minute;
    if (!programme_.setSteps(std::move(steps))) {
        return false;
    }
    save();
    if (moved != row) {
        drawStepsLater(moved, kMinuteColumn);
    }
    return true;
}

bool NightPanel::setStepGlide(int row, double minutes) {
    std::vector<ProgrammeStep> steps = programme_.steps();
    if (row < 0 || row >= static_cast<int>(steps.size())) {
        return false;
    }
    steps[size_t(row)].glideMinutes = minutes;
    if (!programme_.setSteps(std::move(steps))) {
        return false;
    }
    save();
    return true;
}

bool NightPanel::setStepPreset(int row, const QString& name) {
    std::vector<ProgrammeStep> steps = programme_.steps();
    if (row < 0 || row >= static_cast<int>(steps.size()) || steps[size_t(row)].preset == name) {
        return false;
    }
    const bool wasMissing = NightProgramme::presetMissing(steps[size_t(row)], presets_);
    steps[size_t(row)].preset = name;
    if (!programme_.setSteps(std::move(steps))) {
        return false;
    }
    save();
    if (wasMissing) {
        drawStepsLater(row, kPresetColumn);  // its missing mark goes
    }
    return true;
}

void NightPanel::setProgrammeEnabled(bool enabled) {
    if (enabled == programme_.enabled()) {
        return;
    }
    programme_.setEnabled(enabled);
    if (nightEnabledCheckbox && nightEnabledCheckbox->isChecked() != enabled) {
        const QSignalBlocker blocker(nightEnabledCheckbox);
        nightEnabledCheckbox->setChecked(enabled);
    }
    save();
}

void NightPanel::save() {
    saveFailure_ = save_ ? save_() : QString();
    showNotes();
}

QString NightPanel::notes() const {
    QStringList lines;
    const std::vector<ProgrammeStep>& steps = programme_.steps();
    if (std::any_of(steps.begin(), steps.end(), [this](const ProgrammeStep& step) {
            return NightProgramme::presetMissing(step, presets_);
        })) {
        lines << Texts::tr("A step whose preset is missing is skipped.");
    }
    if (!saveFailure_.isEmpty()) {
        lines << Texts::tr("The night programme could not be saved: %1").arg(saveFailure_);
    }
    if (steps.size() >= NightProgramme::kMostSteps) {
        lines << Texts::tr("A night has at most %1 steps.").arg(NightProgramme::kMostSteps);
    }
    return lines.join(QLatin1Char('\n'));
}

void NightPanel::showNotes() {
    if (nightNotesText) {
        nightNotesText->setText(notes());
    }
}

}  // namespace brinesong
