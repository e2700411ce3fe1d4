// SPDX-License-Identifier: GPL-3.0-or-later
// The preferences panel: the window side of the settings model. The presets with their commands
// (which the controller's PresetChooser carries out) and how a chosen preset glides in, five
// sliders with whole-number texts, two checkboxes, the wander, restore defaults, and the
// output-device pop-up, which draws the device list as it stands and again at every change of the
// list or the selection.
//
// The panel is loaded at its first showing. Every change goes straight into the settings model,
// which the renderer reads at every buffer, so the sound changes while it plays; nothing is saved
// here (the controller writes the settings at quit).
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <memory>

#include "audio/OutputDeviceSelection.h"
#include "synth/Preferences.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

namespace brinesong {

class PresetChooser;

class PreferencesPanel : public QObject, public PreferencesView {
    Q_OBJECT
public:
    // Sliders run in tenths of a percent, so a setting can hold fractions the texts truncate.
    static constexpr double kSliderStepsPerPercent = 10.0;

    explicit PreferencesPanel(Preferences& preferences, QObject* parent = nullptr);
    ~PreferencesPanel() override;

    // Shows the panel, loading it on first use. A failed load is logged and beeped, and the next
    // call tries again.
    void showPanel();
    // The window the panel belongs to: closing that one quits, whether the panel is open or not.
    void setParentWindow(QWidget* parent) { parentWindow_ = parent; }
    bool isLoaded() const { return lightWaveSlider != nullptr; }
    // The device list behind the output-device pop-up; none leaves the pop-up empty. Set before
    // the panel is first shown.
    void setOutputDeviceSelection(OutputDeviceSelection* selection) { outputDevices_ = selection; }
    // What carries out the presets' choice and commands; set before the panel is first shown.
    void setPresetChooser(PresetChooser* presets) { presets_ = presets; }
    QWidget* panelWindow() const { return window; }

    // The preference "Keep the computer awake while playing or waiting to start": not a wave
    // setting, so the panel only shows it and reports the user's changes; restoring the defaults
    // leaves it alone.
    void setKeepAwake(bool keepAwake);
    bool keepAwake() const { return keepAwake_; }
    // "Change over": the seconds a preset chosen while the sound plays glides in, one of
    // kChangeOverChoices; shown here, changed by the user, kept by the controller.
    void setChangeOverSeconds(int seconds);
    int changeOverSeconds() const { return changeOverSeconds_; }
    // "Keep playing when the window is closed" (on unless turned off), shown and reported alike.
    void setKeepPlayingWhenClosed(bool keepPlaying);
    bool keepPlayingWhenClosed() const { return keepPlaying_; }
    // "Start at login" (off unless turned on): ticking it installs the autostart entry, unticking
    // removes it. A failure is said in the panel, and the box goes back to what is installed.
    void setStartAtLogin(bool start);
    bool startAtLogin() const { return startAtLogin_; }

    // Brings every control in line with the settings.
    void updateUI();

    void updateLightWaveText() override;
    void updateHeavyWaveText() override;
    void updateAscentText() override;
    void updateDescentText() override;
    void updateWaveIntervalText() override;
    void updateAmplitudeGenerator();

    // Fills the output-device pop-up from the device list: one item per entry, the selection
    // selected; a disabled placeholder when there is no device. Nothing while the panel is not
    // loaded.
    void drawDeviceList();

    // Slider and checkbox actions; each reads its own control.
    void lightWaveChanged();
    void heavyWaveChanged();
    void ascentChanged();
    void descentChanged();
    void waveIntervalChanged();
    void boostSoundLevelChanged();
    void amplitudeGeneratorChanged();
    void wanderChanged();
    void resetToDefault();

    // Outlets, empty until the panel is loaded.
    QPointer<QWidget> window;
    QSlider* lightWaveSlider = nullptr;
    QSlider* heavyWaveSlider = nullptr;
    QSlider* ascentSlider = nullptr;
    QSlider* descentSlider = nullptr;
    QSlider* waveIntervalSlider = nullptr;
    QLabel* lightWaveText = nullptr;
    QLabel* heavyWaveText = nullptr;
    QLabel* ascentText = nullptr;
    QLabel* descentText = nullptr;
    QLabel* waveIntervalText = nullptr;
    QCheckBox* boostSoundLevelCheckbox = nullptr;
    QCheckBox* amplitudeGeneratorCheckbox = nullptr;
    QComboBox* mAudioOutputPopUpButton = nullptr;
    QCheckBox* keepAwakeCheckbox = nullptr;
    QCheckBox* keepPlayingCheckbox = nullptr;
    QCheckBox* startAtLoginCheckbox = nullptr;
    QLabel* startAtLoginProblem = nullptr;  // why the autostart entry could not be changed
    QPushButton* resetToDefaultButton = nullptr;
    QPushButton* closeButton = nullptr;
    QComboBox* presetChoice = nullptr;
    QPushButton* savePresetButton = nullptr;
    QPushButton* savePresetAsButton = nullptr;
    QPushButton* renamePresetButton = nullptr;
    QPushButton* deletePresetButton = nullptr;
    QLabel* presetNotesText = nullptr;  // which of the user's presets could not be read
    QComboBox* changeOverChoice = nullptr;
    QSlider* wanderSlider = nullptr;  // whole points, 0 to 50
    QLabel* wanderText = nullptr;

signals:
    // The user ticked or cleared "Keep the computer awake while playing or waiting to start".
    void keepAwakeChanged(bool keepAwake);
    // Likewise "Keep playing when the window is closed".
    void keepPlayingWhenClosedChanged(bool keepPlaying);
    // The autostart entry was installed (true) or removed (false) as the user asked.
    void startAtLoginChanged(bool start);
    // A setting that shapes the sound was changed here (a slider, a check box, the defaults).
    void soundSettingsChanged();
    // F1 was pressed in the panel.
    void helpRequested();
    // The user chose another "Change over".
    void changeOverChosen(int seconds);
    // The user moved the wander: the settings model holds it already.
    void wanderMoved(double points);

private:
    bool load();
    void clearOutlets();
    void awakeFromNib();
    static void setSlider(QSlider* slider, double percent);
    static double sliderPercent(const QSlider* slider);
    static void showWhole(QLabel* text, double percent);
    // Shows `value` in `box`, not as the user's change.
    void showPreference(QCheckBox* box, bool value);
    void startAtLoginToggled(bool start);

    Preferences& preferences_;
    QPointer<QWidget> parentWindow_;
    OutputDeviceSelection* outputDevices_ = nullptr;
    PresetChooser* presets_ = nullptr;
    // Set while the panel moves its own controls, so their change signals are not taken as the
    // user's and written back.
    bool updating_ = false;
    bool keepAwake_ = true;
    int changeOverSeconds_ = 5;
    bool keepPlaying_ = true;
    bool startAtLogin_ = false;
};

}  // namespace brinesong
