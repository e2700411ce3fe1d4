// SPDX-License-Identifier: GPL-3.0-or-later
// The presets in the window: the choice above the volume in the main window, the same choice in
// the preferences panel with the commands that save, rename and delete the user's own, and the
// tray's submenu. Each shows the current preset, marked "(changed)" while the wave settings differ
// from its values (as whole numbers, as they are stored and shown); choosing it again restores
// them.
//
// It works on the settings the controller read at launch (the user's presets and which one is
// current). A preset saved, renamed or deleted is written to the settings file at once, through
// the writer the controller gives; when the file cannot be written, the presets are as they were
// before, and an alert on the panel says why. Long names are shown shortened in their middle.
// Main thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <vector>

#include "model/Presets.h"

class QComboBox;
class QLabel;
class QMessageBox;
class QPushButton;
class QWidget;

namespace brinesong {

class Preferences;
struct Settings;

class PresetChooser : public QObject {
    Q_OBJECT
public:
    // `settings` holds the presets and the current one's name; `preferences` the wave settings.
    PresetChooser(Settings& settings, Preferences& preferences, QObject* parent = nullptr);

    // The current preset (as PresetBook::find names it), empty for none.
    QString currentName() const;
    // The current preset's values differ from the wave settings.
    bool changed() const;
    // As the window shows the current preset: "Storm", "Storm (changed)"; empty for none.
    QString currentTitle() const;

    // Sets the wave settings to the preset's values and makes it the current one. False when there
    // is no such preset.
    bool choose(const QString& name);
    // What sets the wave settings to a chosen preset's values (the sound glides to them); without
    // one they are only set.
    void setSeaChanger(std::function<void(const WaveValues&)> changeSea) {
        changeSea_ = std::move(changeSea);
    }

    // The user's own presets, from the current settings. Each false, with nothing changed, when
    // the name is refused (PresetBook::nameRefusal) or there is no current preset of the user's.
    // A name of one of the user's presets gives that one the current settings.
    bool saveAs(const QString& name);
    bool saveCurrent();  // the current settings into the current preset of the user's
    bool renameCurrent(const QString& newName);
    bool deleteCurrent();  // the settings stay as they are; no preset is current then

    // What writes the presets to the settings file at `fileName` at once: returns why it could
    // not, empty when it did. Without one nothing is written.
    void setWriter(const QString& fileName, std::function<QString()> write);
    // The alert that said why the presets could not be written, while it is open.
    QMessageBox* failureAlert() const;

    // The same, asking the user: the name in a dialog (again, saying why, after a refused one),
    // and whether to replace a preset of that name or delete the current one.
    void askSaveAs();
    void askRename();
    void askDelete();

    // A pop-up that offers the presets and shows the current one: filled now and after every
    // change; the user's choice in it is taken.
    void attachChoice(QComboBox* box);
    // The preferences panel's commands; the dialogs they open belong to `window`. Each button is
    // enabled when its command can be carried out. `notes` (optional) says which of the user's
    // presets in the settings file could not be read.
    void attachCommands(QWidget* window, QPushButton* save, QPushButton* saveAs,
                        QPushButton* rename, QPushButton* remove, QLabel* notes = nullptr);

    // For the tray's submenu: each preset's title and name, the current one marked.
    struct Item {
        QString title;
        QString name;
        bool current = false;
    };
    std::vector<Item> items() const;

    // The wave settings were changed elsewhere (a slider, a switch, the defaults): the mark
    // follows.
    void settingsChanged();
    // The presets or the current one were set from the settings file: every pop-up is refilled.
    // `notes` are the lines about the presets left out as unreadable, which the panel shows.
    void reload(const QStringList& notes = {});

signals:
    // The wave settings were set from a preset: the panel and the sound follow.
    void applied();
    // The presets, the current one or its mark may have changed: shown anew here, and on the bus.
    void presetsShown();
    // One of the user's presets was renamed.
    void renamed(const QString& from, const QString& to);

private:
    const Preset* current() const;
    bool currentIsUsers() const;
    // Asks for a name until one is taken or the dialog is cancelled; empty when cancelled.
    QString askName(const QString& title, const QString& label, const QString& suggestion,
                    const QString& renaming);
    bool confirm(const QString& text, const QString& action);
    // Carries out `change` on the presets and writes them; when that fails, undoes the change and
    // says why. False when the change was refused or undone.
    bool commit(const std::function<bool()>& change);
    void showNotes();
    // Refills every pop-up, or only shows the mark and the buttons' states.
    void fillChoices();
    void showCurrent();

    Settings& settings_;
    Preferences& preferences_;
    std::vector<QPointer<QComboBox>> boxes_;
    QPointer<QWidget> commandWindow_;
    QPointer<QPushButton> saveButton_;
    QPointer<QPushButton> renameButton_;
    QPointer<QPushButton> deleteButton_;
    QPointer<QLabel> notesText_;
    QPointer<QMessageBox> failureAlert_;
    QStringList notes_;
    QString fileName_;
    std::function<QString()> write_;
    std::function<void(const WaveValues&)> changeSea_;
};

}  // namespace brinesong
