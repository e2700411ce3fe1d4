// SPDX-License-Identifier: GPL-3.0-or-later
// The main window as the user sees it: its widgets (the description "MainWindow"), the wiring of
// its controls and menu commands, the menus' titles and enabled states, the status line, the
// picture of the waves, the help panel and the About box, and the keys the window takes for
// itself (Escape stops the sound, Space starts or stops it). It decides nothing about the sound:
// it asks the program through `WindowActions` and shows what it is told. Main thread only.
#pragma once

#include <QIcon>
#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <functional>

class QAction;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QKeyEvent;
class QLabel;
class QMessageBox;
class QPushButton;
class QSlider;
class QSpinBox;
class QTimeEdit;

namespace brinesong {

class RenderTap;
class Schedule;
class ScheduleControls;
class WavePicture;

// What the window asks of the program.
struct WindowActions {
    std::function<bool()> isPlaying;  // sound plays, or is wanted and waits
    std::function<bool()> isSaving;   // an export is in progress
    std::function<void()> playStop;
    std::function<void()> cancel;
    std::function<void()> saveAs;
    std::function<void()> showPreferences;
    // The user moved the volume slider, or setVolume set the volume: the gain, 0.0 to 1.0.
    std::function<void(double volume)> volumeChanged;
    // Closing the window now leaves the program running in the tray instead of quitting. May be
    // empty: closing quits.
    std::function<bool()> closesToTray;
    // The user asked to quit: the Quit command, or the window's close button.
    std::function<void()> quit;
    std::function<void()> showNightProgramme;
};

class MainWindowView : public QObject {
    Q_OBJECT
public:
    // `schedule` gets the schedule's controls bound to it and tells when its texts change; `tap`
    // feeds the picture of the waves.
    MainWindowView(WindowActions actions, Schedule& schedule, RenderTap& tap,
                   QObject* parent = nullptr);
    // The window goes with the view.
    ~MainWindowView() override;

    // Builds the window and fills the outlets. False when the description is missing or lacks the
    // play/stop button; nothing is left of it then.
    bool load();
    // Connects the controls, the menu commands and the window's keys to the program.
    void connectActions();

    // Enables `item` (and titles the play/stop command) for the state of this moment.
    bool validateMenuItem(QAction* item);
    void validateMenus();

    // The button's title and the menus for the play state.
    void showPlayState(bool playing);
    // The status line's account of the sound; the line follows, then the menus.
    void showSoundStatus(const QString& text);
    // The settings file that cannot be written (empty: it can): the status line says so.
    void setUnwritableSettingsFile(const QString& fileName);

    // Brings the window to the front, out of the tray or from under other windows.
    void showWindow();
    // Makes the window fit the screen it is on, as a frame restored from another screen may not.
    void fitToScreen();
    // The settings cannot be written (to `fileName`, for `reason`): asks whether to quit all the
    // same. True to quit.
    bool askQuitAnyway(const QString& fileName, const QString& reason);
    void showHelp();
    void showAbout();

    // The slider's action: hands its value on as the volume.
    void volumeSliderChanged();
    // Sets the volume as a user moving the slider would, to `volume` exactly (the slider shows
    // it to the nearest percent). A value beyond 0.0 to 1.0 is held to it, and one that is not
    // finite is ignored.
    void setVolume(double volume);
    // Moves the slider to `volume` without handing it on (the program has it already). A
    // fraction of a percent stays the program's: the slider hands on only what the user sets.
    void showVolume(double volume);

    // Shows or hides the picture of the waves, as the View menu's item does; the window's height
    // follows.
    void setShowWaves(bool show);
    bool showWaves() const { return showWaves_; }

    // Outlets of the main window.
    QPointer<QMainWindow> window;
    QPushButton* playStopButton = nullptr;
    QSlider* volumeSlider = nullptr;
    QComboBox* presetChoice = nullptr;  // the presets; the controller's PresetChooser fills it
    QSpinBox* minutesText = nullptr;
    QDateEdit* dateText = nullptr;
    QTimeEdit* timeText = nullptr;
    QCheckBox* startCheckbox = nullptr;
    QCheckBox* stopCheckbox = nullptr;
    QCheckBox* repeatCheckbox = nullptr;  // "Start at" every day
    QLabel* timeLeftText = nullptr;
    QLabel* statusText = nullptr;  // one line: what is happening with the sound
    QComboBox* fadeChoice = nullptr;
    QComboBox* riseChoice = nullptr;  // the fade-in beside the start
    QWidget* wavesFrame = nullptr;    // holds the picture of the waves
    WavePicture* wavePicture = nullptr;
    QAction* showWavesAction = nullptr;
    QAction* playStopAction = nullptr;
    QAction* exportAction = nullptr;
    QAction* preferencesAction = nullptr;
    QAction* nightProgrammeAction = nullptr;
    QAction* helpAction = nullptr;
    QAction* aboutAction = nullptr;
    QAction* quitAction = nullptr;
    QPointer<QMessageBox> aboutBox;  // while it is open

    // The schedule's controls bound to the schedule, once loaded.
    ScheduleControls* scheduleControls = nullptr;

signals:
    // The status line now reads `line` (without the note on unwritable settings).
    void statusLineChanged(const QString& line);

protected:
    // The user's close: to the tray where the window closes to it, else a Quit, as the command's.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A key no widget of the window took: Escape stops the sound, Space starts or stops it.
    bool windowKey(const QKeyEvent& key);
    // A field that takes typed text has the focus: Space is a character there.
    static bool textFieldFocused();
    // The sound's status, then what the schedule will do.
    void showStatusLine();

    WindowActions actions_;
    Schedule& schedule_;
    RenderTap& tap_;
    QString soundStatus_;
    QString unwritableSettingsFile_;
    bool showWaves_ = true;
    int wavesHeight_ = 0;    // what the window gave up when the picture was last hidden
    bool updating_ = false;  // set while the program itself moves the volume slider
};

// The program's icon and the tray's one-colour variant: the desktop's icon theme's where it has
// them (installed beside the program), else the copies built into the program.
QIcon applicationIcon();
QIcon symbolicIcon();

}  // namespace brinesong
