// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "Controller.h"
#include "audio/OutputDeviceSelection.h"
#include "cli/CommandLine.h"
#include "model/ProgramTexts.h"
#include "platform/Localization.h"
#include "platform/MprisPlayer.h"
#include "platform/PulseConnection.h"
#include "platform/PulseHardware.h"
#include "platform/PulseOutputUnit.h"
#include "platform/QtMainThreadQueue.h"
#include "platform/ResumeWatcher.h"
#include "platform/SettingsStore.h"
#include "platform/SingleInstance.h"
#include "platform/SleepInhibitor.h"
#include "platform/TerminationSignals.h"
#include "platform/WindowPlatform.h"
#include "window/ScheduleControls.h"

namespace {

void nameApplication() {
    QCoreApplication::setOrganizationName(QStringLiteral("Kelvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Brinesong"));
    QCoreApplication::setApplicationVersion(brinesong::programVersion());
}

// The media player on the bus and the sleep inhibitor follow the controller's play state; the
// inhibitor also holds while a scheduled start waits, and a wake from sleep decides the start.
void joinTheDesktop(brinesong::Controller& controller) {
    using namespace brinesong;
    PresetChooser& presets = controller.presets();
    auto* player = new MprisPlayer(
        MediaPlayerActions{
            [&controller] { return controller.isPlaying(); },
            [&controller] {
                if (!controller.isPlaying()) {
                    controller.playStop();
                }
            },
            [&controller] {
                if (controller.isPlaying()) {
                    controller.playStop();
                }
            },
            [&controller] { controller.showWindow(); }, [] { QCoreApplication::quit(); },
            [&controller] { return controller.volume(); },
            [&controller](double volume) { controller.setVolume(volume); },
            [&presets] { return presets.currentTitle(); },
            [&presets] {
                std::vector<MediaPlaylist> playlists;
                for (const PresetChooser::Item& item : presets.items()) {
                    playlists.push_back({item.name, item.title});
                }
                return playlists;
            },
            [&presets] { return presets.currentName(); },
            [&controller](const QString& name) { return controller.activatePreset(name); }},
        &controller);
    // A headless player may hold the name already: this one then takes an instance's name.
    player->registerOnBus();
    QObject::connect(&controller, &Controller::playStateChanged, player,
                     &MprisPlayer::playStateChanged);
    QObject::connect(&controller, &Controller::volumeChanged, player, &MprisPlayer::volumeChanged);
    QObject::connect(&presets, &PresetChooser::presetsShown, player, &MprisPlayer::presetsChanged);

    auto* inhibitor = new SleepInhibitor(&controller);
    inhibitor->setEnabled(controller.keepAwake());
    QObject::connect(&controller, &Controller::playStateChanged, inhibitor,
                     &SleepInhibitor::setPlaying);
    QObject::connect(&controller, &Controller::keepAwakeChanged, inhibitor,
                     &SleepInhibitor::setEnabled);
    joinSleepServices(controller.schedule(), *inhibitor, *new ResumeWatcher(&controller));
    // After the termination sequence, which ends the sound but no longer reports it.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, inhibitor,
                     &SleepInhibitor::releaseAtQuit);
}

// The launcher's actions, by their names on the bus: carried out by the running window, asked
// by a later launch or by the desktop (which starts the program for them when none runs).
void doWindowAction(brinesong::Controller& controller, const QString& name) {
    using namespace brinesong;
    const bool play = name == QLatin1String(kPlayAction);
    if (play != controller.isPlaying()) {
        controller.playStop();
    }
}

int runWindow(int argc, char* argv[], brinesong::CommandLine::WindowAction action, bool hidden) {
    using namespace brinesong;
    if (!displayNamed(argc, argv)) {
        std::fprintf(stderr, "%s\n", noDisplayMessage());
        return kExitFailure;
    }
    std::unique_ptr<PlatformStartGuard> startGuard = std::make_unique<PlatformStartGuard>();
    QApplication app(argc, argv);  // takes Qt's own options out of argv
    startGuard.reset();
    // Before anything announces the program (its name on the bus), so a signal sent as soon as
    // it can be seen ends it through the ordinary quit, with the settings written.
    quitOnTerminationSignals(app);
    nameApplication();
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kApplicationId));
    QApplication::setWindowIcon(applicationIcon());
    installTranslations(app);

    const QString actionName = action == CommandLine::WindowAction::Start  ? kPlayAction
                               : action == CommandLine::WindowAction::Stop ? kStopAction
                                                                           : "";
    SingleInstance instance;
    if (instance.claim(actionName) == SingleInstance::Claim::Activated) {
        return kExitOk;  // the running window came to the front, or did the action, instead
    }
    // These live until the process ends: a playback's wait thread may still post to the
    // controller while the process exits. The output and the device list share one connection
    // to the sound server; nothing of it runs once it is closed below.
    auto* connection = new PulseConnection;
    auto* unit = new PulseOutputUnit(*connection);
    auto* store = new SettingsStore;
    auto* controller = new Controller(*unit, *store);
    auto* hardware = new PulseHardware(*connection);
    auto* deviceQueue = new QtMainThreadQueue;
    auto* devices = new OutputDeviceSelection(*hardware, *deviceQueue);
    controller->setOutputDevices(devices, unit);
    controller->setStartHidden(hidden);
    if (!controller->awakeFromNib()) {
        return kExitFailure;
    }
    QObject::connect(&instance, &SingleInstance::activationRequested, controller,
                     &Controller::showWindow);
    QObject::connect(&instance, &SingleInstance::actionRequested, controller,
                     [controller](const QString& name) { doWindowAction(*controller, name); });
    joinTheDesktop(*controller);
    // The window is up; connecting goes on beside it, on the connection's own thread, whatever
    // the server does.
    if (!connection->start()) {
        std::fprintf(stderr, "brinesong: the sound system's client library cannot be used\n");
    }
    QTimer::singleShot(0, controller, &Controller::applicationDidFinishLaunching);
    if (!actionName.isEmpty()) {
        // A start made before the server answers waits for it.
        QTimer::singleShot(0, controller,
                           [controller, actionName] { doWindowAction(*controller, actionName); });
    }
    const int status = app.exec();
    // The termination sequence has run (aboutToQuit): the output is closed, the settings written.
    connection->close();
    return status;
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace brinesong;
    // As bytes: a file name is passed on exactly as given, whatever the locale's encoding.
    const ParseOutcome parsed = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok) {
        std::fprintf(stderr, "brinesong: %s\n", parsed.error.toLocal8Bit().constData());
        return kExitBadUsage;
    }
    switch (parsed.command.mode) {
        case CommandLine::Mode::Window:
            return runWindow(argc, argv, parsed.command.windowAction, parsed.command.hidden);
        case CommandLine::Mode::Help:
            std::fputs(usageText().toLocal8Bit().constData(), stdout);
            return kExitOk;
        case CommandLine::Mode::Version:
            std::fputs(versionText().toLocal8Bit().constData(), stdout);
            return kExitOk;
        case CommandLine::Mode::ListDevices:
            return runListDevicesCommand();
        case CommandLine::Mode::Export:
        case CommandLine::Mode::Play:
        case CommandLine::Mode::Serve:
        case CommandLine::Mode::ListPresets:
            break;
    }
    QCoreApplication app(argc, argv);
    nameApplication();
    installTranslations(app);
    if (parsed.command.mode == CommandLine::Mode::ListPresets) {
        return runListPresetsCommand();
    }
    if (parsed.command.mode == CommandLine::Mode::Play ||
        parsed.command.mode == CommandLine::Mode::Serve) {
        return runPlayCommand(parsed.command);
    }
    return runExportCommand(parsed.command);
}
