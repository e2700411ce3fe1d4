// The application's controller: launch and termination, the main window with its play/stop
// button, volume slider, menus and schedule fields, and the owner of the renderer, the playback
// engine and the parts of the window that have classes of their own (scheduler, export flow, tray
// menu, preferences and help panels).
//
// Every start or stop, from the button, the menu, the tray, Escape or the scheduler, goes through
// `playStop`. Settings are read once at launch and written once at termination.
#pragma once

#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <memory>

#include "ExportFlow.h"
#include "PreferencesPanel.h"
#include "Scheduler.h"
#include "TrayMenu.h"
#include "audio/PlaybackEngine.h"
#include "synth/Renderer.h"

class QAction;
class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTimeEdit;

namespace brinesong {

class OutputDeviceSelection;
class OutputRouting;
class OutputUnit;
class SettingsStore;

class Controller : public QObject, public PlaybackHost {
    Q_OBJECT
public:
    // `store` is read at launch and written at termination; `clock` and `minuteMs` drive the
    // scheduler (tests run it fast).
    Controller(OutputUnit& unit, SettingsStore& store, Clock clock = systemClock(),
               int minuteMs = Scheduler::kMinuteMs, QObject* parent = nullptr);
    ~Controller() override;

    // The output-device list and the stream it routes; set before awakeFromNib. Without them the
    // stored device name is kept as it was and the panel's pop-up stays empty.
    void setOutputDevices(OutputDeviceSelection* selection, OutputRouting* routing);

    // The launch sequence. False when the program cannot run (its window could not be loaded, or
    // the Qt it runs with is older than the one it was built with); the caller then exits.
    bool awakeFromNib();
    // Shows the help panel on a first launch.
    void applicationDidFinishLaunching();
    // Ends any sound being produced, closes the output, writes the settings. Runs once; later
    // calls do nothing.
    void applicationWillTerminate();

    // Enables `item` (and titles the play/stop command) for the state of this moment.
    bool validateMenuItem(QAction* item);
    void validateMenus();

    // Brings the main window to the front, out of the tray or from under other windows.
    void showWindow();

    // Actions.
    void playStop();
    void cancel();
    void volumeSliderChanged();
    void showHelp();
    void showPreferences();
    void saveAs();

    // PlaybackHost.
    void postToMainThread(std::function<void()> task) override;
    void didStart() override;
    void didStop() override;

    bool isPlaying() const { return engine.isPlaying(); }
    bool isSaving() const { return exportFlow.saving(); }
    bool firstLaunch() const { return firstLaunch_; }

    Renderer renderer;
    PlaybackEngine engine;
    Scheduler scheduler;
    ExportFlow exportFlow;
    TrayMenu trayMenu;
    PreferencesPanel preferencesPanel;

    // Outlets of the main window.
    QPointer<QMainWindow> window;
    QPushButton* playStopButton = nullptr;
    QSlider* volumeSlider = nullptr;
    QLineEdit* minutesText = nullptr;
    QDateEdit* dateText = nullptr;
    QTimeEdit* timeText = nullptr;
    QCheckBox* startCheckbox = nullptr;
    QCheckBox* stopCheckbox = nullptr;
    QLabel* timeLeftText = nullptr;
    QAction* playStopAction = nullptr;
    QAction* exportAction = nullptr;
    QAction* preferencesAction = nullptr;
    QAction* helpAction = nullptr;
    QAction* quitAction = nullptr;

    // The playback gain, 0.0 to 1.0. Setting it moves the slider, as a user would.
    double volume() const { return renderer.volume.load(); }
    void setVolume(double volume);

    // The preference "Keep the computer awake while playing".
    bool keepAwake() const { return keepAwake_; }

signals:
    // The sound started (true) or its playback ended (false), after the button was retitled. The
    // tray, the media player on the bus and the sleep inhibitor follow it.
    void playStateChanged(bool playing);
    void keepAwakeChanged(bool keepAwake);
    void volumeChanged();

private:
    bool loadMainWindow();
    void connectActions();
    void loadSettings();
    void saveSettings();

    SettingsStore& store_;
    bool firstLaunch_ = false;
    bool terminated_ = false;
    bool updating_ = false;  // set while the program itself moves the volume slider
    bool keepAwake_ = true;
    // The stored output device, kept as it was when there is no device list.
    QString outputDeviceName_;
    OutputDeviceSelection* outputDevices_ = nullptr;
    OutputRouting* outputRouting_ = nullptr;
};

// The program's icon and the tray's one-colour variant: the desktop's icon theme's where it has
// them (installed beside the program), else the copies built into the program.
QIcon applicationIcon();
QIcon symbolicIcon();

}  // namespace brinesong
