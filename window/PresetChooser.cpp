// SPDX-License-Identifier: GPL-3.0-or-later
#include "PresetChooser.h"

#include <QComboBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>

#include "model/Settings.h"
#include "platform/Localization.h"
#include "synth/Preferences.h"

namespace brinesong {

namespace {

// Window managers draw a dialog's title in bold between its icon and its buttons, and cut it
// ("Renam... reset") where the dialog is narrower than that: the width that leaves it whole, with
// room for an icon and three buttons of about a line each on both sides of a centred title.
int widthForTitle(const QWidget& dialog, const QString& title) {
    QFont bold = dialog.font();
    bold.setBold(true);
    return QFontMetrics(bold).horizontalAdvance(title) + 8 * dialog.fontMetrics().height();
}

}  // namespace

PresetChooser::PresetChooser(Settings& settings, Preferences& preferences, QObject* parent)
    : QObject(parent), settings_(settings), preferences_(preferences) {}

const Preset* PresetChooser::current() const {
    return settings_.presetName.isEmpty() ? nullptr : settings_.presets.find(settings_.presetName);
}

bool PresetChooser::currentIsUsers() const {
    const Preset* preset = current();
    return preset && !preset->shipped;
}

QString PresetChooser::currentName() const {
    const Preset* preset = current();
    return preset ? preset->name : QString();
}

bool PresetChooser::changed() const {
    const Preset* preset = current();
    return preset && !preset->values.sameAs(WaveValues::of(preferences_));
}

QString PresetChooser::currentTitle() const {
    const Preset* preset = current();
    return preset ? preset->markedTitle(WaveValues::of(preferences_)) : QString();
}

bool PresetChooser::choose(const QString& name) {
    const Preset* preset = settings_.presets.find(name);
    if (!preset) {
        return false;
    }
    settings_.presetName = preset->name;
    preset->values.applyTo(preferences_);
    showCurrent();
    emit applied();
    return true;
}

bool PresetChooser::saveAs(const QString& name) {
    if (!settings_.presets.save(name, WaveValues::of(preferences_))) {
        return false;
    }
    settings_.presetName = settings_.presets.find(name)->name;
    fillChoices();
    return true;
}

bool PresetChooser::saveCurrent() {
    return currentIsUsers() && saveAs(current()->name);
}

bool PresetChooser::renameCurrent(const QString& newName) {
    if (!currentIsUsers() || !settings_.presets.rename(current()->name, newName)) {
        return false;
    }
    settings_.presetName = newName.trimmed();
    fillChoices();
    return true;
}

bool PresetChooser::deleteCurrent() {
    if (!currentIsUsers() || !settings_.presets.remove(current()->name)) {
        return false;
    }
    settings_.presetName.clear();
    fillChoices();
    return true;
}

QString PresetChooser::askName(const QString& title, const QString& label,
                               const QString& suggestion, const QString& renaming) {
    QString name = suggestion;
    QString why;
    for (;;) {
        QInputDialog dialog(commandWindow_);
        dialog.setWindowTitle(title);
        dialog.setLabelText(why.isEmpty() ? label : why + QLatin1Char('\n') + label);
        dialog.setTextValue(name);
        // The dialog's own least width is its layout's.
        if (auto* field = dialog.findChild<QLineEdit*>()) {
            field->setMinimumWidth(widthForTitle(dialog, title));
        }
        dialog.setOkButtonText(Texts::tr("OK"));
        dialog.setCancelButtonText(Texts::tr("Cancel"));
        if (dialog.exec() != QDialog::Accepted) {
            return {};
        }
        name = dialog.textValue().trimmed();
        const Preset* taken = settings_.presets.find(name);
        // Saving under the name of one of the user's own presets replaces it, once confirmed.
        if (renaming.isNull() && taken && !taken->shipped) {
            return name;
        }
        why = settings_.presets.nameRefusal(name, renaming);
        if (why.isEmpty()) {
            return name;
        }
    }
}

bool PresetChooser::confirm(const QString& text, const QString& action) {
    QMessageBox box(QMessageBox::Question, Texts::tr("Presets"), text, QMessageBox::NoButton,
                    commandWindow_);
    QPushButton* yes = box.addButton(action, QMessageBox::AcceptRole);
    box.setDefaultButton(box.addButton(Texts::tr("Cancel"), QMessageBox::RejectRole));
    box.exec();
    return box.clickedButton() == yes;
}

void PresetChooser::askSaveAs() {
    const QString name = askName(Texts::tr("Save Preset"), Texts::tr("Name of the preset:"),
                                 currentIsUsers() ? current()->name : QString(), QString());
    if (name.isEmpty()) {
        return;
    }
    if (const Preset* taken = settings_.presets.find(name); taken && !taken->shipped) {
        if (!confirm(
                Texts::tr("Replace the preset \"%1\" with the current settings?").arg(taken->name),
                Texts::tr("Replace"))) {
            return;
        }
    }
    saveAs(name);
}

void PresetChooser::askRename() {
    if (!currentIsUsers()) {
        return;
    }
    const QString oldName = current()->name;
    const QString name =
        askName(Texts::tr("Rename Preset"), Texts::tr("New name of the preset:"), oldName, oldName);
    if (!name.isEmpty()) {
        renameCurrent(name);
    }
}

void PresetChooser::askDelete() {
    if (currentIsUsers() &&
        confirm(Texts::tr("Delete the preset \"%1\"?").arg(current()->name), Texts::tr("Delete"))) {
        deleteCurrent();
    }
}

void PresetChooser::attachChoice(QComboBox* box) {
    if (!box) {
        return;
    }
    boxes_.emplace_back(box);
    box->setPlaceholderText(Texts::tr("No preset"));
    // Only the user's choice: filling the pop-up is not one.
    connect(box, &QComboBox::activated, this, [this, box](int index) {
        const QString name = box->itemData(index).toString();
        if (!name.isEmpty()) {
            choose(name);
        }
    });
    fillChoices();
}

void PresetChooser::attachCommands(QWidget* window, QPushButton* save, QPushButton* saveAs,
                                   QPushButton* rename, QPushButton* remove) {
    commandWindow_ = window;
    saveButton_ = save;
    renameButton_ = rename;
    deleteButton_ = remove;
    const auto attach = [this](QPushButton* button, void (PresetChooser::*command)()) {
        if (button) {
            connect(button, &QPushButton::clicked, this, [this, command] { (this->*command)(); });
        }
    };
    if (save) {
        connect(save, &QPushButton::clicked, this, [this] { saveCurrent(); });
    }
    attach(saveAs, &PresetChooser::askSaveAs);
    attach(rename, &PresetChooser::askRename);
    attach(remove, &PresetChooser::askDelete);
    showCurrent();
}

std::vector<PresetChooser::Item> PresetChooser::items() const {
    std::vector<Item> list;
    const QString currentName = this->currentName();
    for (const Preset& preset : settings_.presets.all()) {
        list.push_back({preset.title(), preset.name, preset.name == currentName});
    }
    return list;
}

void PresetChooser::settingsChanged() {
    showCurrent();
}

void PresetChooser::reload() {
    fillChoices();
}

void PresetChooser::fillChoices() {
    const std::vector<Preset> presets = settings_.presets.all();
    for (QComboBox* box : boxes_) {
        if (!box) {
            continue;
        }
        const QSignalBlocker blocker(box);
        box->clear();
        for (const Preset& preset : presets) {
            if (!preset.shipped && box->count() == int(shippedPresets().size())) {
                box->insertSeparator(box->count());
            }
            box->addItem(preset.title(), preset.name);
        }
    }
    showCurrent();
}

void PresetChooser::showCurrent() {
    const Preset* preset = current();
    for (QComboBox* box : boxes_) {
        if (!box) {
            continue;
        }
        const QSignalBlocker blocker(box);
        // Only the current item carries the mark.
        for (int i = 0; i < box->count(); ++i) {
            if (const Preset* listed = settings_.presets.find(box->itemData(i).toString())) {
                box->setItemText(i, listed->title());
            }
        }
        const int index = preset ? box->findData(preset->name) : -1;
        if (index >= 0) {
            box->setItemText(index, currentTitle());
        }
        box->setCurrentIndex(index);
    }
    const bool users = currentIsUsers();
    if (saveButton_) {
        saveButton_->setEnabled(users && changed());
    }
    if (renameButton_) {
        renameButton_->setEnabled(users);
    }
    if (deleteButton_) {
        deleteButton_->setEnabled(users);
    }
    emit presetsShown();
}

}  // namespace brinesong
