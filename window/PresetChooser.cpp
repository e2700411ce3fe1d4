// SPDX-License-Identifier: GPL-3.0-or-later
#include "PresetChooser.h"

#include <QComboBox>
#include <QDir>
#include <QInputDialog>
#include <QLabel>
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

// The pop-up item that carries the "(changed)" mark, kept on the pop-up: only that one's text
// changes when the mark moves, however many presets there are.
const char* const kMarkedItem = "brinesongMarkedItem";

// A preset's title as a pop-up item shows it, and its tooltip: the whole title where it is
// shortened.
void setItem(QComboBox* box, int index, const QString& title) {
    const QString shown = elidedName(title);
    box->setItemText(index, shown);
    box->setItemData(index, shown == title ? QVariant() : QVariant(title), Qt::ToolTipRole);
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
    if (changeSea_) {
        changeSea_(preset->values);
    } else {
        preset->values.applyTo(preferences_);
    }
    showCurrent();
    emit applied();
    return true;
}

bool PresetChooser::saveAs(const QString& name) {
    return commit([&] {
        if (!settings_.presets.save(name, WaveValues::of(preferences_))) {
            return false;
        }
        settings_.presetName = settings_.presets.find(name)->name;
        return true;
    });
}

bool PresetChooser::saveCurrent() {
    return currentIsUsers() && saveAs(current()->name);
}

bool PresetChooser::renameCurrent(const QString& newName) {
    const QString oldName = currentName();
    const bool renamedNow = commit([&] {
        if (!currentIsUsers() || !settings_.presets.rename(oldName, newName)) {
            return false;
        }
        settings_.presetName = newName.trimmed();
        return true;
    });
    if (renamedNow) {
        emit renamed(oldName, settings_.presetName);
    }
    return renamedNow;
}

bool PresetChooser::deleteCurrent() {
    return commit([&] {
        if (!currentIsUsers() || !settings_.presets.remove(current()->name)) {
            return false;
        }
        settings_.presetName.clear();
        return true;
    });
}

void PresetChooser::setWriter(const QString& fileName, std::function<QString()> write) {
    fileName_ = fileName;
    write_ = std::move(write);
}

QMessageBox* PresetChooser::failureAlert() const {
    return failureAlert_;
}

bool PresetChooser::commit(const std::function<bool()>& change) {
    const PresetBook before = settings_.presets;
    const QString beforeName = settings_.presetName;
    if (!change()) {
        return false;
    }
    const QString failure = write_ ? write_() : QString();
    if (failure.isEmpty()) {
        fillChoices();
        return true;
    }
    // A preset the file does not hold would be lost at the next quit, or at a crash before it:
    // the user is told now, where they acted, and the presets stay as the file has them.
    settings_.presets = before;
    settings_.presetName = beforeName;
    fillChoices();
    delete failureAlert_.data();
    auto* alert = new QMessageBox(
        QMessageBox::Warning, Texts::tr("Presets"),
        Texts::tr("The presets cannot be saved: %1 cannot be written (%2). They stay as they were.")
            .arg(QDir::toNativeSeparators(fileName_), failure),
        QMessageBox::Ok, commandWindow_);
    alert->button(QMessageBox::Ok)->setText(Texts::tr("OK"));
    alert->setWindowModality(Qt::WindowModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    failureAlert_ = alert;
    alert->open();  // nothing waits for it
    return false;
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
        if (!confirm(Texts::tr("Replace the preset \"%1\" with the current settings?")
                         .arg(elidedName(taken->name)),
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
        confirm(Texts::tr("Delete the preset \"%1\"?").arg(elidedName(current()->name)),
                Texts::tr("Delete"))) {
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
                                   QPushButton* rename, QPushButton* remove, QLabel* notes) {
    commandWindow_ = window;
    saveButton_ = save;
    renameButton_ = rename;
    deleteButton_ = remove;
    notesText_ = notes;
    showNotes();
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
        list.push_back({elidedName(preset.title()), preset.name, preset.name == currentName});
    }
    return list;
}

void PresetChooser::settingsChanged() {
    showCurrent();
}

void PresetChooser::reload(const QStringList& notes) {
    notes_ = notes;
    showNotes();
    fillChoices();
}

void PresetChooser::showNotes() {
    if (!notesText_) {
        return;
    }
    notesText_->setVisible(!notes_.isEmpty());
    notesText_->setText(
        Texts::tr("Some presets in the settings file cannot be read: they are left "
                  "out here, and kept in the file as they are."));
    notesText_->setToolTip(notes_.join(QLatin1Char('\n')));
    notesText_->setAccessibleDescription(notes_.join(QLatin1Char('\n')));
}

void PresetChooser::fillChoices() {
    const std::vector<Preset> presets = settings_.presets.all();
    for (QComboBox* box : boxes_) {
        if (!box) {
            continue;
        }
        const QSignalBlocker blocker(box);
        box->clear();
        box->setProperty(kMarkedItem, -1);
        for (const Preset& preset : presets) {
            if (!preset.shipped && box->count() == int(shippedPresets().size())) {
                box->insertSeparator(box->count());
            }
            box->addItem(QString(), preset.name);
            setItem(box, box->count() - 1, preset.title());
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
        // Only the current item carries the mark: the one that carried it gets its title back.
        const int marked = box->property(kMarkedItem).toInt();
        if (marked >= 0 && marked < box->count()) {
            if (const Preset* listed = settings_.presets.find(box->itemData(marked).toString())) {
                setItem(box, marked, listed->title());
            }
        }
        const int index = preset ? box->findData(preset->name) : -1;
        if (index >= 0) {
            box->setItemText(index, currentTitle());
        }
        box->setProperty(kMarkedItem, index);
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
