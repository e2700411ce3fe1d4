// SPDX-License-Identifier: GPL-3.0-or-later
// The real program on a virtual X display: it opens its window and, on a first launch, its help
// panel; the preferences shortcut opens the panel; SIGTERM quits through the termination sequence,
// which writes the settings; a killed run leaves the settings file as it was. Screenshots of the
// windows go to the build tree for a person to look at.
//
// On the desktop: without a display it says so in one line; Qt's options work; a second launch
// brings the first to the front; a tray that starts after the program gets its icon, and keeps the
// sound playing when the window is closed; the media player answers playerctl, with the sound on
// the test sink's monitor and the computer kept awake meanwhile, takes a volume over the bus only
// when it is a number of its D-Bus type, and offers the presets as playlists; a German locale gets
// German panels. The test runs under its own dbus-run-session, so the bus is the test's alone.
#include <signal.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "support/MonitorRecorder.h"
#include "support/Program.h"
#include "support/Recording.h"
#include "support/SleepServiceStandIns.h"
#include "support/TrayWatcherStandIn.h"

namespace {

using brinesong::testing::MonitorRecorder;
using brinesong::testing::PortalStandIn;
using brinesong::testing::Program;
using brinesong::testing::TrayWatcherStandIn;

const QString kShots = QStringLiteral(BRINESONG_BUILD_DIR "/screenshots");

using brinesong::testing::RunOptions;
using brinesong::testing::runProgram;

// The test display, and the settings of a run under `configHome`.
RunOptions displayOptions(const QString& configHome = QString()) {
    RunOptions options{{"DISPLAY=" + qEnvironmentVariable("BRINESONG_XVFB_DISPLAY").toStdString(),
                        "QT_QPA_PLATFORM=xcb"}};
    if (!configHome.isEmpty()) {
        options.environment.push_back("XDG_CONFIG_HOME=" + configHome.toStdString());
    }
    return options;
}

// The program bare, its window on the test display, its settings under `configHome`.
std::unique_ptr<brinesong::testing::Program> startWindowProgram(const QString& configHome) {
    return std::make_unique<brinesong::testing::Program>(brinesong::testing::brinesong({}),
                                                         displayOptions(configHome));
}

// Runs xdotool on the test display; false when it failed. Its output, trimmed, goes to `output`.
bool xdotool(const QStringList& arguments, QString* output = nullptr) {
    std::vector<std::string> command{"xdotool"};
    for (const QString& a : arguments) {
        command.push_back(a.toStdString());
    }
    const brinesong::testing::ProgramRun run = runProgram(command, displayOptions());
    if (run.status != 0) {
        return false;
    }
    if (output) {
        *output = QString::fromStdString(run.out).trimmed();
    }
    return true;
}

// The id of the visible window titled exactly `title`, waiting until there is one.
QString waitForWindow(const QString& title) {
    QString found;
    xdotool({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
             QStringLiteral("--name"), QLatin1Char('^') + title + QLatin1Char('$')},
            &found);
    return found.section(QLatin1Char('\n'), 0, 0);
}

// Visible windows titled exactly `title`, as they are now.
QStringList windowsTitled(const QString& title) {
    QString found;
    xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
             QLatin1Char('^') + title + QLatin1Char('$')},
            &found);
    return found.isEmpty() ? QStringList() : found.split(QLatin1Char('\n'));
}

// Width and height of a window, from xdotool.
QSize windowSize(const QString& id) {
    QString geometry;
    xdotool({QStringLiteral("getwindowgeometry"), id}, &geometry);
    const QString size =
        geometry.section(QStringLiteral("Geometry: "), 1).section(QLatin1Char('\n'), 0, 0);
    return QSize(size.section(QLatin1Char('x'), 0, 0).toInt(),
                 size.section(QLatin1Char('x'), 1).toInt());
}

// The program's visible windows, by their class.
QStringList programWindows() {
    QString found;
    xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
             QStringLiteral("--classname"), QStringLiteral("brinesong")},
            &found);
    return found.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The window a tray has docked the program's icon into: small, and of the program's class.
QString trayIconWindow() {
    for (const QString& id : programWindows()) {
        const QSize size = windowSize(id);
        if (size.isValid() && size.width() <= 48 && size.height() <= 48) {
            return id;
        }
    }
    return {};
}

// Whether window `upper` is stacked above window `lower`. No window manager runs on the display,
// so the program's windows are the root's children, which xwininfo lists top first.
bool stackedAbove(const QString& upper, const QString& lower) {
    const QString tree = QString::fromStdString(
        runProgram({"xwininfo", "-root", "-children"}, displayOptions()).out);
    auto position = [&tree](const QString& id) {
        return tree.indexOf(QStringLiteral("0x%1 ").arg(id.toULongLong(), 0, 16));
    };
    return position(upper) >= 0 && position(upper) < position(lower);
}

bool busNameOwned(const QString& name) {
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(name);
}

// Runs playerctl on the test's bus, for the program's player; its output, trimmed.
QString playerctl(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"playerctl", "--player=brinesong"});
    const brinesong::testing::ProgramRun run = runProgram(arguments);
    if (run.status != 0) {
        return QStringLiteral("(failed: %1)").arg(QString::fromStdString(run.err));
    }
    return QString::fromStdString(run.out).trimmed();
}

constexpr size_t kQuarterSecond = 44100 / 4;

// Asks the window to close, as a window manager's close button does.
bool closeWindow(const QString& windowId) {
    return runProgram({BRINESONG_CLOSE_WINDOW, windowId.toStdString()}, displayOptions()).status ==
           0;
}

bool grab(const QString& file, const QString& windowId = QString()) {
    std::vector<std::string> command{BRINESONG_SCREEN_GRAB,
                                     (kShots + QLatin1Char('/') + file).toStdString()};
    if (!windowId.isEmpty()) {
        command.push_back(windowId.toStdString());
    }
    return runProgram(command, displayOptions()).status == 0;
}

}  // namespace

class ProgramTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("BRINESONG_XVFB_DISPLAY")) {
            QSKIP(
                "BRINESONG_XVFB_DISPLAY is not set: run under scripts/test.sh, which starts Xvfb");
        }
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
            QSKIP("xdotool is missing: scripts/install-deps.sh installs it");
        }
        QVERIFY(QDir().mkpath(kShots));
    }

    void noDisplay_saysSoInOneLine_exits1() {
        for (const std::string& display : {std::string("DISPLAY"), std::string("DISPLAY=:999")}) {
            // No display named, then one named that is not there.
            const brinesong::testing::ProgramRun run = runProgram(
                brinesong::testing::brinesong({}),
                {{display, "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR=/nonexistent"}});
            QCOMPARE(run.status, 1);
            const QString errors = QString::fromStdString(run.err);
            QCOMPARE(errors.count(QLatin1Char('\n')), 1);
            QVERIFY2(errors.contains(QStringLiteral("needs a graphical display")) &&
                         errors.contains(QStringLiteral("--export and --play work without")),
                     qPrintable(errors));
        }
    }

    void qtOptions_offscreenPlatformAndStyle_windowRuns() {
        QTemporaryDir configHome;
        Program program(
            brinesong::testing::brinesong({"-platform", "offscreen", "-style", "fusion"}),
            displayOptions(configHome.path()));
        // The window program is up once it owns its name on the bus.
        QTRY_VERIFY_WITH_TIMEOUT(busNameOwned(QStringLiteral("org.kelvane.Brinesong")), 30000);
        program.signal(SIGTERM);
        QCOMPARE(program.wait(), 128 + SIGTERM);
        QVERIFY(QFile::exists(configHome.filePath(QStringLiteral("Kelvane/Brinesong.ini"))));
    }

    void secondLaunch_bringsTheFirstToTheFront_andLeaves() {
        QTemporaryDir configHome;
        const auto first = startWindowProgram(configHome.path());
        const QString main = waitForWindow(QStringLiteral("Brinesong"));
        const QString help = waitForWindow(QStringLiteral("Brinesong Help"));
        QVERIFY(!main.isEmpty() && !help.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(busNameOwned(QStringLiteral("org.kelvane.Brinesong")), 30000);
        QTRY_VERIFY(stackedAbove(help, main));  // the help panel opened last

        const brinesong::testing::ProgramRun second =
            runProgram(brinesong::testing::brinesong({}), displayOptions(configHome.path()));
        QCOMPARE(second.status, 0);
        QTRY_VERIFY(stackedAbove(main, help));
        QCOMPARE(windowsTitled(QStringLiteral("Brinesong Help")).size(), 1);
        QVERIFY(!first->ended());

        first->signal(SIGTERM);
        QCOMPARE(first->wait(), 128 + SIGTERM);
    }

    // A tray that starts after the program gets its icon, and a click on it brings the window
    // to the front. Closing the window while the sound plays leaves it playing in the tray, the
    // player on the bus; the icon brings the window back, and its menu quits.
    void trayStartedAfterTheProgram_iconDocks_closedWhilePlayingKeepsPlaying_menuQuits() {
        if (QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty()) {
            QSKIP("trayer is missing: scripts/install-deps.sh test installs it");
        }
        QTemporaryDir configHome;
        const auto program = startWindowProgram(configHome.path());
        const QString main = waitForWindow(QStringLiteral("Brinesong"));
        const QString help = waitForWindow(QStringLiteral("Brinesong Help"));
        QVERIFY(!main.isEmpty() && !help.isEmpty());
        QVERIFY(trayIconWindow().isEmpty());  // no tray yet, so no icon

        Program tray({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                      "--height", "24"},
                     displayOptions());
        QString icon;
        QTRY_VERIFY_WITH_TIMEOUT(!(icon = trayIconWindow()).isEmpty(), 30000);
        QVERIFY(grab(QStringLiteral("tray.png")));

        const auto clickIcon = [&icon](const QString& button) {
            return xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), icon,
                            QStringLiteral("11"), QStringLiteral("11"), QStringLiteral("click"),
                            button});
        };
        QTRY_VERIFY(stackedAbove(help, main));
        QVERIFY(clickIcon(QStringLiteral("1")));
        QTRY_VERIFY(stackedAbove(main, help));

        QCOMPARE(playerctl({"play"}), QString());
        QTRY_COMPARE_WITH_TIMEOUT(playerctl({"status"}), QStringLiteral("Playing"), 10000);
        QVERIFY(closeWindow(main));
        QTRY_VERIFY(windowsTitled(QStringLiteral("Brinesong")).isEmpty());
        QVERIFY(windowsTitled(QStringLiteral("Brinesong Help")).isEmpty());  // its panels too
        QCOMPARE(playerctl({"status"}), QStringLiteral("Playing"));
        QVERIFY(clickIcon(QStringLiteral("1")));
        QTRY_COMPARE(windowsTitled(QStringLiteral("Brinesong")), QStringList{main});

        // The menu's last item quits through the usual termination, playing or not.
        const int windows = programWindows().size();
        QVERIFY(clickIcon(QStringLiteral("3")));
        QTRY_COMPARE(programWindows().size(), windows + 1);  // the menu is open
        QVERIFY(grab(QStringLiteral("tray-menu.png")));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Up"), QStringLiteral("Return")}));
        QCOMPARE(program->wait(), 0);
        QVERIFY(QFile::exists(configHome.filePath(QStringLiteral("Kelvane/Brinesong.ini"))));
        tray.signal(SIGTERM);
        QVERIFY(tray.wait() >= 0);
    }

    void wayland_dbusTrayComesLater_iconRegistersWithIt() {
        const QString weston = QStandardPaths::findExecutable(QStringLiteral("weston"));
        if (weston.isEmpty()) {
            QSKIP("weston is missing: scripts/install-deps.sh test installs it");
        }
        // A headless Wayland compositor of the test's own.
        QTemporaryDir runtime;
        QVERIFY(QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner |
                                                          QFileDevice::WriteOwner |
                                                          QFileDevice::ExeOwner));
        const std::string runtimeDir = "XDG_RUNTIME_DIR=" + runtime.path().toStdString();
        Program compositor({weston.toStdString(), "--backend=headless-backend.so",
                            "--socket=wayland-brinesong", "--idle-time=0"},
                           {{runtimeDir}});
        QTRY_VERIFY_WITH_TIMEOUT(
            QFile::exists(runtime.filePath(QStringLiteral("wayland-brinesong"))), 30000);

        QTemporaryDir configHome;
        Program program(brinesong::testing::brinesong({}),
                        {{"DISPLAY", "WAYLAND_DISPLAY=wayland-brinesong", "QT_QPA_PLATFORM=wayland",
                          runtimeDir, "XDG_CONFIG_HOME=" + configHome.path().toStdString()}});
        // The window is up, its tray icon waiting: the player's name is taken after both.
        QTRY_VERIFY_WITH_TIMEOUT(busNameOwned(QStringLiteral("org.mpris.MediaPlayer2.brinesong")),
                                 30000);

        // The watcher comes first, with no tray yet: the program asks and waits on. The tray
        // that then registers is heard of only through the watcher's signal.
        TrayWatcherStandIn tray;
        tray.host = false;
        QVERIFY(tray.appear());
        QTRY_VERIFY_WITH_TIMEOUT(tray.hostQueries > 0, 30000);
        QVERIFY(tray.items.isEmpty());
        tray.registerHost();
        QTRY_COMPARE_WITH_TIMEOUT(tray.items.size(), 1, 30000);
        QVERIFY(busNameOwned(tray.items[0]));  // the icon answers there

        program.signal(SIGTERM);
        QCOMPARE(program.wait(), 128 + SIGTERM);
        compositor.signal(SIGTERM);
        QVERIFY(compositor.wait() >= 0);
    }

    void mediaPlayer_playerctlPlaysAndStops_soundOnMonitor_awakeWhilePlaying_volumeKeptANumber() {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) {
            QSKIP("no sound server: run under scripts/test.sh");
        }
        PortalStandIn portal;
        QVERIFY(portal.registered());
        QTemporaryDir configHome;
        const auto program = startWindowProgram(configHome.path());
        QTRY_VERIFY_WITH_TIMEOUT(busNameOwned(QStringLiteral("org.mpris.MediaPlayer2.brinesong")),
                                 30000);
        QCOMPARE(playerctl({"status"}), QStringLiteral("Stopped"));
        QCOMPARE(playerctl({"metadata", "xesam:title"}), QStringLiteral("Ocean surf"));

        // playerctl's own report of every change of the status, line by line.
        QProcess follower;
        follower.start(QStringLiteral("playerctl"),
                       {QStringLiteral("--player=brinesong"), QStringLiteral("--follow"),
                        QStringLiteral("status")});
        auto statusLines = [&follower, seen = QStringList()]() mutable {
            seen += QString::fromLocal8Bit(follower.readAllStandardOutput())
                        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            return seen;
        };
        QTRY_COMPARE(statusLines(), QStringList{QStringLiteral("Stopped")});

        const QTemporaryDir recordings;
        MonitorRecorder monitor("brinesong_test",
                                recordings.filePath(QStringLiteral("mpris.wav")).toStdString());
        QVERIFY(monitor.waitForMoreFrames(kQuarterSecond));  // recording before the sound
        QCOMPARE(playerctl({"play"}), QString());
        QTRY_COMPARE_WITH_TIMEOUT(statusLines().size(), 2, 10000);
        QCOMPARE(statusLines().last(), QStringLiteral("Playing"));
        QTRY_COMPARE(portal.calls.size(), 1);  // kept awake while it plays
        QCOMPARE(portal.calls[0].flags, 4u);
        QVERIFY(portal.closed.isEmpty());
        QCOMPARE(playerctl({"play"}), QString());  // already playing: nothing changes
        // The stream carries the application's id and icon, for the desktop's sound settings.
        const QString streams =
            QString::fromStdString(runProgram({"pactl", "list", "sink-inputs"}).out);
        QVERIFY2(streams.contains(QStringLiteral("application.id = \"org.kelvane.Brinesong\"")) &&
                     streams.contains(
                         QStringLiteral("application.icon_name = \"org.kelvane.Brinesong\"")),
                 qPrintable(streams));
        QVERIFY(monitor.waitForMoreFrames(4 * kQuarterSecond));

        QCOMPARE(playerctl({"stop"}), QString());
        QTRY_COMPARE_WITH_TIMEOUT(statusLines().size(), 3, 10000);
        QCOMPARE(statusLines().last(), QStringLiteral("Stopped"));
        QTRY_COMPARE(portal.closed, QStringList{portal.calls[0].handle});
        QVERIFY(monitor.waitForMoreFrames(kQuarterSecond));
        QCOMPARE(monitor.stop(), 0);
        const std::vector<int16_t> left = monitor.left();
        QVERIFY2(brinesong::testing::soundingSamples(left) > 44100 / 2,
                 "about a second of surf was recorded");
        QVERIFY(left.size() > kQuarterSecond);
        const std::vector<int16_t> tail(left.end() - kQuarterSecond / 2, left.end());
        QCOMPARE(brinesong::testing::soundingSamples(tail), size_t(0));  // silence after the stop

        // The volume over the bus, as dbus-send sets it: a number is taken; one that is not, or
        // is infinite, is ignored rather than muting this session and, saved, every later one.
        // A value of another D-Bus type is refused as such: a boolean is no volume.
        const auto sendToPlayer = [](const std::vector<std::string>& message) {
            std::vector<std::string> command{"dbus-send", "--session", "--print-reply",
                                             "--dest=org.mpris.MediaPlayer2.brinesong",
                                             "/org/mpris/MediaPlayer2"};
            command.insert(command.end(), message.begin(), message.end());
            return runProgram(command);
        };
        const auto setVolume = [&sendToPlayer](const std::string& value) {
            return sendToPlayer({"org.freedesktop.DBus.Properties.Set",
                                 "string:org.mpris.MediaPlayer2.Player", "string:Volume",
                                 "variant:" + value});
        };
        QCOMPARE(setVolume("double:0.37").status, 0);
        QCOMPARE(playerctl({"volume"}).toDouble(), 0.37);
        for (const char* notFinite : {"nan", "-nan", "inf", "-inf"}) {
            QCOMPARE(setVolume(std::string("double:") + notFinite).status, 0);
            QCOMPARE(playerctl({"volume"}).toDouble(), 0.37);
        }
        for (const char* wrongType : {"boolean:true", "string:1", "int32:1"}) {
            const brinesong::testing::ProgramRun refused = setVolume(wrongType);
            QVERIFY(refused.status != 0);
            QVERIFY2(
                refused.err.find("org.freedesktop.DBus.Error.InvalidArgs") != std::string::npos,
                refused.err.c_str());
            QCOMPARE(playerctl({"volume"}).toDouble(), 0.37);
        }

        // The presets as playlists: the third is "Storm"; activated, it becomes the current preset
        // and the title.
        QVERIFY(sendToPlayer({"org.mpris.MediaPlayer2.Playlists.GetPlaylists", "uint32:2",
                              "uint32:1", "string:UserDefined", "boolean:false"})
                    .out.find("\"Storm\"") != std::string::npos);
        QCOMPARE(sendToPlayer({"org.mpris.MediaPlayer2.Playlists.ActivatePlaylist",
                               "objpath:/org/kelvane/Brinesong/Preset/2"})
                     .status,
                 0);
        QCOMPARE(playerctl({"metadata", "xesam:title"}), QStringLiteral("Storm"));

        // Quit over the bus ends the program as the Quit command does.
        const QDBusMessage quit = QDBusMessage::createMethodCall(
            QStringLiteral("org.mpris.MediaPlayer2.brinesong"),
            QStringLiteral("/org/mpris/MediaPlayer2"), QStringLiteral("org.mpris.MediaPlayer2"),
            QStringLiteral("Quit"));
        QCOMPARE(QDBusConnection::sessionBus().call(quit).type(), QDBusMessage::ReplyMessage);
        QCOMPARE(program->wait(), 0);
        follower.kill();
        follower.waitForFinished();
        const QSettings written(configHome.filePath(QStringLiteral("Kelvane/Brinesong.ini")),
                                QSettings::IniFormat);
        QCOMPARE(written.value(QStringLiteral("VolumeKey")).toString(), QStringLiteral("37"));
        QCOMPARE(written.value(QStringLiteral("Kelvane.Brinesong.PresetKey")).toString(),
                 QStringLiteral("Storm"));
        QCOMPARE(written.value(QStringLiteral("LightWaveKey")).toString(), QStringLiteral("100"));
    }

    // The launcher's actions: "Play" and "Stop" over org.freedesktop.Application.ActivateAction,
    // called with gdbus as any desktop would, then as the desktop entry runs them (brinesong
    // --start and --stop): a second launch hands them to the running window, and --start with
    // none running opens one that plays (closing it without a tray quits). The sound is heard on
    // the test sink's monitor; the play state is read over the media player interface. Then
    // --hidden, as the autostart entry launches it.
    void launcherActions_playAndStopOverTheBus_orStartingTheProgram_orHidden() {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) {
            QSKIP("no sound server: run under scripts/test.sh");
        }
        if (QStandardPaths::findExecutable(QStringLiteral("gdbus")).isEmpty()) {
            QSKIP("gdbus is missing: scripts/install-deps.sh test installs it");
        }
        const auto activateAction = [](const std::string& name) {
            return runProgram({"gdbus", "call", "--session", "--dest", "org.kelvane.Brinesong",
                               "--object-path", "/org/kelvane/Brinesong", "--method",
                               "org.freedesktop.Application.ActivateAction", name, "@av []",
                               "@a{sv} {}"});
        };
        QTemporaryDir configHome;
        auto program = startWindowProgram(configHome.path());
        QTRY_VERIFY_WITH_TIMEOUT(busNameOwned(QStringLiteral("org.mpris.MediaPlayer2.brinesong")),
                                 30000);
        QCOMPARE(playerctl({"status"}), QStringLiteral("Stopped"));

        const QTemporaryDir recordings;
        MonitorRecorder monitor("brinesong_test",
                                recordings.filePath(QStringLiteral("actions.wav")).toStdString());
        QVERIFY(monitor.waitForMoreFrames(kQuarterSecond));
        const brinesong::testing::ProgramRun play = activateAction("play");
        QVERIFY2(play.status == 0, play.err.c_str());
        QTRY_COMPARE_WITH_TIMEOUT(playerctl({"status"}), QStringLiteral("Playing"), 10000);
        QVERIFY(monitor.waitForMoreFrames(4 * kQuarterSecond));
        QCOMPARE(monitor.stop(), 0);
        QVERIFY2(brinesong::testing::soundingSamples(monitor.left()) > 44100 / 2,
                 "about a second of surf was recorded");
        QCOMPARE(activateAction("play").status, 0);  // playing already: it goes on
        QCOMPARE(playerctl({"status"}), QStringLiteral("Playing"));
        const brinesong::testing::ProgramRun unknown = activateAction("rewind");
        QVERIFY(unknown.status != 0);
        QVERIFY2(unknown.err.find("no action 'rewind'") != std::string::npos, unknown.err.c_str());

        // As the desktop entry runs them: the second launch asks the first, and leaves.
        const brinesong::testing::ProgramRun stop = runProgram(
            brinesong::testing::brinesong({"--stop"}), displayOptions(configHome.path()));
        QCOMPARE(stop.status, 0);
        QTRY_COMPARE_WITH_TIMEOUT(playerctl({"status"}), QStringLiteral("Stopped"), 10000);
        QCOMPARE(windowsTitled(QStringLiteral("Brinesong")).size(), 1);
        program->signal(SIGTERM);
        QCOMPARE(program->wait(), 128 + SIGTERM);

        program = std::make_unique<Program>(brinesong::testing::brinesong({"--start"}),
                                            displayOptions(configHome.path()));
        QTRY_VERIFY_WITH_TIMEOUT(busNameOwned(QStringLiteral("org.mpris.MediaPlayer2.brinesong")),
                                 30000);
        QTRY_COMPARE_WITH_TIMEOUT(playerctl({"status"}), QStringLiteral("Playing"), 10000);
        // Without a tray, closing the window quits, the sound playing or not.
        QVERIFY(closeWindow(waitForWindow(QStringLiteral("Brinesong"))));
        QCOMPARE(program->wait(), 0);

        // As "Start at login" runs it: the player on the bus, no window.
        program = std::make_unique<Program>(brinesong::testing::brinesong({"--hidden"}),
                                            displayOptions(configHome.path()));
        QTRY_VERIFY_WITH_TIMEOUT(busNameOwned(QStringLiteral("org.mpris.MediaPlayer2.brinesong")),
                                 30000);
        QTest::qWait(500);
        QVERIFY(windowsTitled(QStringLiteral("Brinesong")).isEmpty());
        program->signal(SIGTERM);
        QCOMPARE(program->wait(), 128 + SIGTERM);
    }

    void germanLocale_panelsInGerman() {
        QTemporaryDir configHome;
        brinesong::testing::RunOptions options = displayOptions(configHome.path());
        options.environment.insert(options.environment.end(),
                                   {"LC_ALL", "LC_MESSAGES", "LANGUAGE", "LANG=de_DE.UTF-8"});
        Program program(brinesong::testing::brinesong({}), options);
        const QString main = waitForWindow(QStringLiteral("Brinesong"));
        QVERIFY(!main.isEmpty());
        QVERIFY(!waitForWindow(QStringLiteral("Brinesong-Hilfe")).isEmpty());
        QVERIFY(xdotool({QStringLiteral("windowfocus"), main}));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+comma")}));
        const QString panel = waitForWindow(QStringLiteral("Einstellungen"));
        QVERIFY(!panel.isEmpty());
        QVERIFY(grab(QStringLiteral("preferences-panel-de.png"), panel));
        program.signal(SIGTERM);
        QCOMPARE(program.wait(), 128 + SIGTERM);
    }

    void firstLaunch_windowHelpPanelAndQuitBySignal_settingsWritten() {
        QTemporaryDir configHome;
        const auto program = startWindowProgram(configHome.path());
        QVERIFY(program->started());

        const QString main = waitForWindow(QStringLiteral("Brinesong"));
        QVERIFY(!main.isEmpty());
        const QString help = waitForWindow(QStringLiteral("Brinesong Help"));
        QVERIFY2(!help.isEmpty(), "a first launch shows the help panel");
        QVERIFY(grab(QStringLiteral("main-window.png"), main));
        QVERIFY(grab(QStringLiteral("help-panel.png"), help));

        // The preferences shortcut, typed into the main window.
        // No window manager runs on the display: focus the window by hand, then type.
        QVERIFY(xdotool({QStringLiteral("windowfocus"), main}));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+comma")}));
        const QString panel = waitForWindow(QStringLiteral("Preferences"));
        QVERIFY(!panel.isEmpty());
        QVERIFY(grab(QStringLiteral("preferences-panel.png"), panel));
        QVERIFY(grab(QStringLiteral("screen.png")));

        program->signal(SIGTERM);
        QCOMPARE(program->wait(), 128 + SIGTERM);
        const QString file = configHome.filePath(QStringLiteral("Kelvane/Brinesong.ini"));
        QVERIFY2(QFile::exists(file), qPrintable(file));
        QSettings written(file, QSettings::IniFormat);
        QCOMPARE(written.value(QStringLiteral("VolumeKey")).toString(), QStringLiteral("50"));
        QCOMPARE(written.value(QStringLiteral("MinutesKey")).toString(), QStringLiteral("45"));
        QVERIFY(written.contains(QStringLiteral("BrinesongWindow")));
    }

    void quitShortcut_storedSettings_writesThemBack() {
        QTemporaryDir configHome;
        const QString file = configHome.filePath(QStringLiteral("Kelvane/Brinesong.ini"));
        QVERIFY(QDir().mkpath(configHome.filePath(QStringLiteral("Kelvane"))));
        {
            QSettings seed(file, QSettings::IniFormat);
            seed.setValue(QStringLiteral("VolumeKey"), 64);
        }
        const auto program = startWindowProgram(configHome.path());
        QVERIFY(program->started());
        const QString main = waitForWindow(QStringLiteral("Brinesong"));
        QVERIFY(!main.isEmpty());
        QVERIFY(xdotool({QStringLiteral("windowfocus"), main}));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+q")}));
        QCOMPARE(program->wait(), 0);
        QSettings written(file, QSettings::IniFormat);
        QCOMPARE(written.value(QStringLiteral("VolumeKey")).toString(), QStringLiteral("64"));
        QVERIFY(written.contains(QStringLiteral("kWaveIntervalKey")));
    }

    void killedRun_settingsFileLeftAsItWas() {
        QTemporaryDir configHome;
        QVERIFY(QDir().mkpath(configHome.filePath(QStringLiteral("Kelvane"))));
        const QString file = configHome.filePath(QStringLiteral("Kelvane/Brinesong.ini"));
        {
            QSettings seed(file, QSettings::IniFormat);
            seed.setValue(QStringLiteral("VolumeKey"), 70);
            seed.setValue(QStringLiteral("LightWaveKey"), 12);
        }
        QFile before(file);
        QVERIFY(before.open(QIODevice::ReadOnly));
        const QByteArray bytes = before.readAll();
        before.close();

        const auto program = startWindowProgram(configHome.path());
        QVERIFY(program->started());
        QVERIFY(!waitForWindow(QStringLiteral("Brinesong")).isEmpty());
        program->signal(SIGKILL);
        QCOMPARE(program->wait(), 128 + SIGKILL);

        QFile after(file);
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), bytes);
        // Nothing half-written beside it either.
        QCOMPARE(QDir(configHome.filePath(QStringLiteral("Kelvane"))).entryList(QDir::Files),
                 QStringList{QStringLiteral("Brinesong.ini")});
    }
};

QTEST_GUILESS_MAIN(ProgramTest)
#include "program_test.moc"
