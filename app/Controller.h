// SPDX-License-Identifier: GPL-3.0-or-later
// The program's life: launch and termination, the settings read at launch and written at
// termination, the playback engine and its host, the export flow, and the owner of every part of
// the window: its view (MainWindowView), the schedule, the tray menu, the preferences and help
// panels.
//
// Every start or stop, from the button, the menu, the tray, Escape or Space, the media keys or the
// schedule, goes through `playStop`; the play state is the controller's own, and what follows it
// (the button, the menus, the tray, the media player on the bus, the sleep inhibitor) hears of
// every change through `playStateChanged`. Settings are read once at launch and written once at
// termination, as one `Settings` value; the night programme is written at once when it changes.
//
// Every start runs the night programme as it then stands. While it runs the window follows it:
// the status line and the tray say what comes next, and as each step begins its preset becomes
// the current one, so the panel shows where the sea is going and a slider moved then is heard
// from there (a change-over at once: the steps before it no longer hold the sound).
#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

#include "audio/PlaybackEngine.h"
#include "model/PlaybackStatusText.h"
#include "model/Schedule.h"
#include "model/Settings.h"
#include "synth/RenderTap.h"
#include "synth/Renderer.h"
#include "window/ExportFlow.h"
#include "window/MainWindowView.h"
#include "window/NightPanel.h"
#include "window/PreferencesPanel.h"
#include "window/PresetChooser.h"
#include "window/TrayMenu.h"

namespace brinesong {

class OutputDeviceSelection;
class OutputRouting;
class OutputUnit;
class SettingsStore;

class Controller : public QObject, private PlaybackHost {
    Q_OBJECT
public:
    // `store` is read at launch and written at termination; `clock` and `minuteMs` drive the
    // schedule (tests run it fast).
    Controller(OutputUnit& unit, SettingsStore& store, Clock clock = systemClock(),
               int minuteMs = Schedule::kMinuteMs, QObject* parent = nullptr);
    ~Controller() override;

    // The output-device list and the stream it routes; set before awakeFromNib. Without them the
    // stored device name is kept as it was and the panel's pop-up stays empty.
    void setOutputDevices(OutputDeviceSelection* selection, OutputRouting* routing);

    // Set before awakeFromNib: the program starts in the tray, its window not shown (and no help
    // panel on a first launch), as "Start at login" starts it.
    void setStartHidden(bool hidden) { startHidden_ = hidden; }
    // The launch sequence. False when the program cannot run (its window could not be loaded, or
    // the Qt it runs with is older than the one it was built with); the caller then exits.
    bool awakeFromNib();
    // Shows the help panel on a first launch.
    void applicationDidFinishLaunching();
    // Ends any sound being produced, closes the output, writes the settings (a failure is
    // logged with its reason). Runs once; later calls do nothing.
    void applicationWillTerminate();
    // The user's Quit, from the window, its menu or the tray: the settings are written first, and
    // when they cannot be, the user is told why and may stay. True when the program quits.
    bool quit();

    // Brings the main window to the front, out of the tray or from under other windows.
    void showWindow() { view_.showWindow(); }

    // Actions.
    void playStop();
    // The scheduled start: when stopped and no export runs, starts the sound rising from silence
    // over `seconds` (real seconds), where playStop() fades it in over 10 ms.
    void startRising(double seconds);
    void cancel();
    // Changes the sea to the preset `name` (as PresetBook::find takes it) and makes it the current
    // one, as the media player's playlists ask. False when there is no such preset.
    bool activatePreset(const QString& name);
    void showPreferences();
    void showNightProgramme();
    void saveAs();

    // Sound plays, or is wanted and waits for the server or a device: the play/stop command
    // offers a stop either way.
    bool isPlaying() const { return engine_.isPlaying() || engine_.isWaitingToPlay(); }
    bool isSaving() const { return exportFlow_.saving(); }
    bool isOutputOpen() const { return engine_.isOutputOpen(); }
    bool firstLaunch() const { return settings_.firstLaunch; }

    // What the sound shares (the volume) and the playback engine, to look at; only the controller
    // and the threads it starts change them.
    const Renderer& renderer() const { return renderer_; }
    const PlaybackEngine& playbackEngine() const { return engine_; }

    // The main window, and the parts of it that have classes of their own.
    MainWindowView& view() { return view_; }
    Schedule& schedule() { return schedule_; }
    ExportFlow& exportFlow() { return exportFlow_; }
    TrayMenu& trayMenu() { return trayMenu_; }
    PreferencesPanel& preferencesPanel() { return preferencesPanel_; }
    const PreferencesPanel& preferencesPanel() const { return preferencesPanel_; }
    PresetChooser& presets() { return presetChooser_; }
    NightPanel& nightPanel() { return nightPanel_; }

    // The playback gain, 0.0 to 1.0, as exact as it was set or stored (the slider shows it to the
    // nearest percent). Setting it moves the slider, as a user would; a value beyond the range is
    // held to it, and one that is not finite is ignored.
    double volume() const { return renderer_.volume.load(); }
    void setVolume(double volume) { view_.setVolume(volume); }

    // The preference "Keep the computer awake while playing or waiting to start".
    bool keepAwake() const { return settings_.keepAwake; }
    // Closing the window now keeps the sound playing in the tray: "Keep playing when the window
    // is closed" is ticked, the sound plays and the tray icon is in a tray.
    bool closesToTray() const;

signals:
    // The sound started (true) or its playback ended (false). The button, the menus, the media
    // player on the bus and the sleep inhibitor follow it; the tray's menu reads the state each
    // time it opens.
    void playStateChanged(bool playing);
    void keepAwakeChanged(bool keepAwake);
    void volumeChanged();

private:
    // The volume slider moved: the sound takes the new gain at once.
    void takeVolume(double volume);

    // PlaybackHost: the engine's word to the main thread.
    void postToMainThread(std::function<void()> task) override;
    void didStart() override;
    void didStop() override;
    // The window's status line and the tray icon's tooltip say what is happening.
    void statusChanged() override;

    void loadSettings();
    // Brings the settings up to date and writes them; returns why they could not be written.
    QString saveSettings();
    // Before a start: the engine gets the night programme as it stands.
    void prepareNight();
    // While a night runs: makes each step's preset current as it begins, and says what comes next.
    void followNight();
    // The status line: the sound's status, then what the night does next.
    void showStatus();
    // The tray's submenus.
    std::vector<TrayChoice> presetChoices();
    std::vector<TrayChoice> sleepTimerChoices();

    Renderer renderer_;
    RenderTap renderTap_;
    PlaybackEngine engine_;
    Schedule schedule_;
    ExportFlow exportFlow_;
    TrayMenu trayMenu_;
    PreferencesPanel preferencesPanel_;

    SettingsStore& store_;
    Clock clock_;
    // As read at launch; brought up to date and written at termination. The stored output device
    // stays as it was when there is no device list.
    Settings settings_;
    // Works on the presets and the current one's name in settings_.
    PresetChooser presetChooser_;
    NightPanel nightPanel_;
    NightPlan nightPlan_;   // of the sound running now, or about to start
    int nightStep_ = -1;    // the step of nightPlan_ last followed
    QDateTime nightBegan_;  // on the schedule's clock: the first sound of nightPlan_'s night
    QString nightText_;
    QString soundStatus_;         // the status line's account of the sound, without the night
    QTimer nightTimer_;           // while a night runs
    bool nightSounding_ = false;  // the sound played at the engine's last word
    bool terminated_ = false;
    bool savedAtQuit_ = false;  // the user's Quit wrote the settings
    bool startHidden_ = false;
    PlaybackStatusLog statusLog_;
    bool shownPlaying_ = false;  // the play state last announced
    OutputDeviceSelection* outputDevices_ = nullptr;
    OutputRouting* outputRouting_ = nullptr;
    // Last: the window goes first, before the parts it shows.
    MainWindowView view_;
};

}  // namespace brinesong
