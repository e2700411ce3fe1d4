// SPDX-License-Identifier: GPL-3.0-or-later
// The night programme's panel: its switch and its steps, a row each (after how many minutes, over
// how many minutes, to which preset, and a button that removes it), and a button that adds one.
// Every change the user makes is saved at once; a save that fails is said in the panel, with the
// reason. A step naming a preset that no longer exists shows it as missing (it is skipped when the
// night runs); a renamed preset is renamed in the steps by the controller.
//
// The panel is loaded at its first showing, like the others, and closed by its button, Escape or
// Ctrl+W; F1 asks for the help. A field shows what the programme holds and writes only what the
// user changed in it: a stored 12.5 minutes stays 12.5 until that field is edited. Main thread
// only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <array>
#include <functional>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QWidget;

namespace brinesong {

class NightProgramme;
class PresetBook;

class NightPanel : public QObject {
    Q_OBJECT
public:
    // The fields' ranges, in whole minutes.
    static constexpr int kLatestMinute = 7 * 24 * 60;
    static constexpr int kLongestGlide = 12 * 60;
    static constexpr double kNewStepGap = 30.0;  // minutes after the last step a new one comes

    // `programme` and `presets` are the controller's. `save` writes the programme to the settings
    // file at once and answers why it could not (empty when it could).
    NightPanel(NightProgramme& programme, const PresetBook& presets, std::function<QString()> save,
               QObject* parent = nullptr);
    ~NightPanel() override;

    // Shows the panel, loading it on first use. A failed load is logged and beeped, and the next
    // call tries again.
    void showPanel();
    void setParentWindow(QWidget* parent) { parentWindow_ = parent; }
    bool isLoaded() const { return stepsArea != nullptr; }
    QWidget* panelWindow() const { return window; }

    // The presets changed (one saved, renamed, deleted): the rows follow, when their names did.
    void presetsChanged();
    // The programme was changed elsewhere (a preset renamed in it): saved, and shown anew.
    void programmeChanged();

    // What the controls do; each saves the programme at once. Rows are the steps' indices.
    // False when nothing changed: a 101st step, a row that is none.
    bool addStep();
    bool removeStep(int row);
    bool setStepMinute(int row, double minute);
    bool setStepGlide(int row, double minutes);
    bool setStepPreset(int row, const QString& name);
    void setProgrammeEnabled(bool enabled);

    // What the panel says below the steps: skipped steps, a failed save.
    QString notes() const;

    // The field of step `row` in `column` (0 minute, 1 glide, 2 preset, 3 remove); none while
    // the panel is not loaded or has no such row.
    QWidget* stepField(int row, int column) const;

    // Outlets, empty until the panel is loaded.
    QPointer<QWidget> window;
    QCheckBox* nightEnabledCheckbox = nullptr;
    QScrollArea* stepsArea = nullptr;  // holds the rows
    QPushButton* addStepButton = nullptr;
    QPushButton* closeButton = nullptr;
    QLabel* nightNotesText = nullptr;

signals:
    // F1 was pressed in the panel.
    void helpRequested();

private:
    bool load();
    void clearOutlets();
    // Fills the table from the programme; `focusRow` (and column) takes the keyboard focus.
    void drawSteps(int focusRow = -1, int focusColumn = 0);
    // The same, once the control that asked has returned: a field is not deleted in its signal.
    void drawStepsLater(int focusRow, int focusColumn);
    void save();
    void showNotes();
    QStringList presetNames() const;

    NightProgramme& programme_;
    const PresetBook& presets_;
    std::function<QString()> save_;
    QPointer<QWidget> parentWindow_;
    QString saveFailure_;     // why the last save failed; empty when it did not
    QStringList drawnNames_;  // the presets the rows were drawn with
    std::vector<std::array<QWidget*, 4>> fields_;  // the rows as drawn
};

}  // namespace brinesong
