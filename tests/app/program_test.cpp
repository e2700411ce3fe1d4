// The real program on a virtual X display: it opens its window and, on a first launch, its help
// panel; the preferences shortcut opens the panel; SIGTERM quits through the termination sequence,
// which writes the settings; a killed run leaves the settings file as it was. Screenshots of the
// windows go to the build tree for a person to look at.
//
// On the desktop: without a display it says so in one line; Qt's options work; a second launch
// brings the first to the front; a tray that starts after the program gets its icon; the media
// player answers playerctl, with the sound on the test sink's monitor and the computer kept awake
// meanwhile; a German locale gets German panels. The test runs under its own dbus-run-session, so
// the bus is the test's alone.
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

#include "MonitorRecorder.h"
#include "SleepServiceStandIns.h"
#include "TrayWatcherStandIn.h"

namespace {

using brinesong::testing::MonitorRecorder;
using brinesong::testing::PortalStandIn;
using brinesong::testing::TrayWatcherStandIn;

const QString kShots = QStringLiteral(BRINESONG_BUILD_DIR "/screenshots");

QProcessEnvironment displayEnvironment(const QString& configHome) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), qEnvironmentVariable("BRINESONG_XVFB_DISPLAY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    return environment;
}

// Starts the program bare, its window on the test display, its settings under `configHome`.
bool startWindowProgram(QProcess& program, const QString& configHome) {
    program.setProcessEnvironment(displayEnvironment(configHome));
    program.start(QStringLiteral(BRINESONG_BINARY), QStringList());
    return program.waitForStarted();
}

// Runs xdotool on the test display; false when it failed. Its output, trimmed, goes to `output`.
bool xdotool(const QStringList& arguments, QString* output = nullptr) {
    QProcess tool;
    tool.setProcessEnvironment(displayEnvironment(QDir::tempPath()));
    tool.start(QStringLiteral("xdotool"), arguments);
    if (!tool.waitForFinished(30000) || tool.exitCode() != 0) {
        return false;
    }
    if (output) {
        *output = QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
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
    QProcess tool;
    tool.setProcessEnvironment(displayEnvironment(QDir::tempPath()));
    tool.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-children")});
    if (!tool.waitForFinished(30000)) {
        return false;
    }
    const QString tree = QString::fromLocal8Bit(tool.readAllStandardOutput());
    auto position = [&tree](const QString& id) {
        return tree.indexOf(QStringLiteral("0x%1 ").arg(id.toULongLong(), 0, 16));
    };
    return position(upper) >= 0 && position(upper) < position(lower);
}

bool busNameOwned(const QString& name) {
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(name);
}

// Runs playerctl on the test's bus, for the program's player; its output, trimmed.
QString playerctl(const QStringList& arguments) {
    QProcess tool;
    tool.start(QStringLiteral("playerctl"),
               QStringList{QStringLiteral("--player=brinesong")} + arguments);
    if (!tool.waitForFinished(30000) || tool.exitCode() != 0) {
        return QStringLiteral("(failed: %1)")
            .arg(QString::fromLocal8Bit(tool.readAllStandardError()));
    }
    return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
}

bool grab(const QString& file, const QString& windowId = QString()) {
    QProcess tool;
    tool.setProcessEnvironment(displayEnvironment(QDir::tempPath()));
    QStringList arguments{kShots + QLatin1Char('/') + file};
    if (!windowId.isEmpty()) {
        arguments << windowId;
    }
    tool.start(QStringLiteral(BRINESONG_SCREEN_GRAB), arguments);
    return tool.waitForFinished(30000) && tool.exitCode() == 0;
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
        for (const QString& display : {QString(), QStringLiteral(":999")}) {
            QProcess program;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
            environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
            environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QDir::tempPath());
            if (display.isEmpty()) {
                environment.remove(QStringLiteral("DISPLAY"));
            } else {
                environment.insert(QStringLiteral("DISPLAY"), display);  // named, not there
            }
            program.setProcessEnvironment(environment);
            program.start(QStringLiteral(BRINESONG_BINARY), QStringList());
            QVERIFY(program.waitForFinished(30000));
            QCOMPARE(program.exitStatus(), QProcess::NormalExit);
            QCOMPARE(program.exitCode(), 1);
            const QString errors = QString::fromLocal8Bit(program.readAllStandardError());
            QCOMPARE(errors.count(QLatin1Char('\n')), 1);
            QVERIFY2(errors.contains(QStringLiteral("needs a graphical display")) &&
                         errors.contains(QStringLiteral("--export and --play work without")),
                     qPrintable(errors));
        }
    }

    void qtOptions_offscreenPlatformAndStyle_windowRuns() {
        QTemporaryDir configHome;
        QProcess program;
        program.setProcessEnvironment(displayEnvironment(configHome.path()));
        program.start(QStringLiteral(BRINESONG_BINARY),
                      {QStringLiteral("-platform"), QStringLiteral("offscreen"),
                       QStringLiteral("-style"), QStringLiteral("fusion")});
        QVERIFY(program.waitForStarted());
        // The window program is up once it owns its name on the bus.
        QTRY_VERIFY_WITH_TIMEOUT(busNameOwned(QStringLiteral("org.kelvane.Brinesong")), 30000);
        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitCode(), 128 + SIGTERM);
        QVERIFY(QFile::exists(configHome.filePath(QStringLiteral("Kelvane/Brinesong.ini"))));
    }

    void secondLaunch_bringsTheFirstToTheFront_andLeaves() {
        QTemporaryDir configHome;
        QProcess first;
        QVERIFY(startWindowProgram(first, configHome.path()));
        const QString main = waitForWindow(QStringLiteral("Brinesong"));
        const QString help = waitForWindow(QStringLiteral("Brinesong Help"));
        QVERIFY(!main.isEmpty() && !help.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(busNameOwned(QStringLiteral("org.kelvane.Brinesong")), 30000);
        QTRY_VERIFY(stackedAbove(help, main));  // the help panel opened last

        QProcess second;
        QVERIFY(startWindowProgram(second, configHome.path()));
        QVERIFY(second.waitForFinished(30000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QTRY_VERIFY(stackedAbove(main, help));
        QCOMPARE(windowsTitled(QStringLiteral("Brinesong Help")).size(), 1);
        QCOMPARE(first.state(), QProcess::Running);

        ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
        QVERIFY(first.waitForFinished(30000));
    }

    void trayStartedAfterTheProgram_iconDocks_clickShowsWindow_menuQuits() {
        if (QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty()) {
            QSKIP("trayer is missing: scripts/install-deps.sh test installs it");
        }
        QTemporaryDir configHome;
        QProcess program;
        QVERIFY(startWindowProgram(program, configHome.path()));
        const QString main = waitForWindow(QStringLiteral("Brinesong"));
        const QString help = waitForWindow(QStringLiteral("Brinesong Help"));
        QVERIFY(!main.isEmpty() && !help.isEmpty());
        QVERIFY(trayIconWindow().isEmpty());  // no tray yet, so no icon

        QProcess tray;
        tray.setProcessEnvironment(displayEnvironment(QDir::tempPath()));
        tray.start(QStringLiteral("trayer"),
                   {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                    QStringLiteral("right"), QStringLiteral("--widthtype"),
                    QStringLiteral("request"), QStringLiteral("--height"), QStringLiteral("24")});
        QVERIFY(tray.waitForStarted());
        QString icon;
        QTRY_VERIFY_WITH_TIMEOUT(!(icon = trayIconWindow()).isEmpty(), 30000);
        QVERIFY(grab(QStringLiteral("tray.png")));

        QTRY_VERIFY(stackedAbove(help, main));
        QVERIFY(xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), icon,
                         QStringLiteral("11"), QStringLiteral("11"), QStringLiteral("click"),
                         QStringLiteral("1")}));
        QTRY_VERIFY(stackedAbove(main, help));

        // The menu's last item quits through the usual termination.
        const int windows = programWindows().size();
        QVERIFY(xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), icon,
                         QStringLiteral("11"), QStringLiteral("11"), QStringLiteral("click"),
                         QStringLiteral("3")}));
        QTRY_COMPARE(programWindows().size(), windows + 1);  // the menu is open
        QVERIFY(grab(QStringLiteral("tray-menu.png")));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Up"), QStringLiteral("Return")}));
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(QFile::exists(configHome.filePath(QStringLiteral("Kelvane/Brinesong.ini"))));
        tray.terminate();
        QVERIFY(tray.waitForFinished(30000));
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
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        QProcess compositor;
        compositor.setProcessEnvironment(environment);
        compositor.start(weston, {QStringLiteral("--backend=headless-backend.so"),
                                  QStringLiteral("--socket=wayland-brinesong"),
                                  QStringLiteral("--idle-time=0")});
        QVERIFY(compositor.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(
            QFile::exists(runtime.filePath(QStringLiteral("wayland-brinesong"))), 30000);

        QTemporaryDir configHome;
        environment.remove(QStringLiteral("DISPLAY"));
        environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-brinesong"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome.path());
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(BRINESONG_BINARY), QStringList());
        QVERIFY(program.waitForStarted());
        // The window is up, its tray icon waiting: the player's name is taken after both.
        QTRY_VERIFY_WITH_TIMEOUT(busNameOwned(QStringLiteral("org.mpris.MediaPlayer2.brinesong")),
                                 30000);

        TrayWatcherStandIn tray;
        QVERIFY(tray.appear());
        QTRY_COMPARE_WITH_TIMEOUT(tray.items.size(), 1, 30000);
        QVERIFY(busNameOwned(tray.items[0]));  // the icon answers there

        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitCode(), 128 + SIGTERM);
        compositor.terminate();
        QVERIFY(compositor.waitForFinished(30000));
    }

    void mediaPlayer_playerctlPlaysAndStops_soundOnMonitor_awakeWhilePlaying() {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) {
            QSKIP("no sound server: run under scripts/test.sh");
        }
        PortalStandIn portal;
        QVERIFY(portal.registered());
        QTemporaryDir configHome;
        QProcess program;
        QVERIFY(startWindowProgram(program, configHome.path()));
        QTRY_VERIFY_WITH_TIMEOUT(busNameOwned(QStringLiteral("org.mpris.MediaPlayer2.brinesong")),
                                 30000);
        QCOMPARE(playerctl({QStringLiteral("status")}), QStringLiteral("Stopped"));
        QCOMPARE(playerctl({QStringLiteral("metadata"), QStringLiteral("xesam:title")}),
                 QStringLiteral("Ocean surf"));

        QProcess follower;  // prints the status at every change
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
        QTest::qWait(300);
        QCOMPARE(playerctl({QStringLiteral("play")}), QString());
        QTRY_COMPARE_WITH_TIMEOUT(statusLines().size(), 2, 10000);
        QCOMPARE(statusLines().last(), QStringLiteral("Playing"));
        QTRY_COMPARE(portal.calls.size(), 1);
        QCOMPARE(portal.calls[0].flags, 4u);
        QVERIFY(portal.closed.isEmpty());
        QCOMPARE(playerctl({QStringLiteral("play")}), QString());  // already playing: nothing
        QTest::qWait(1000);

        QCOMPARE(playerctl({QStringLiteral("stop")}), QString());
        QTRY_COMPARE_WITH_TIMEOUT(statusLines().size(), 3, 10000);
        QCOMPARE(statusLines().last(), QStringLiteral("Stopped"));
        QTRY_COMPARE(portal.closed, QStringList{portal.calls[0].handle});
        QTest::qWait(300);
        monitor.stop();
        const std::vector<int16_t> left = monitor.left();
        QVERIFY2(brinesong::testing::soundingSamples(left) > 44100 / 2,
                 "about a second of surf was recorded");
        QVERIFY(left.size() > 4410);
        const std::vector<int16_t> tail(left.end() - 4410, left.end());
        QCOMPARE(brinesong::testing::soundingSamples(tail), size_t(0));  // silence after the stop

        // Quit over the bus ends the program as the Quit command does.
        const QDBusMessage quit = QDBusMessage::createMethodCall(
            QStringLiteral("org.mpris.MediaPlayer2.brinesong"),
            QStringLiteral("/org/mpris/MediaPlayer2"), QStringLiteral("org.mpris.MediaPlayer2"),
            QStringLiteral("Quit"));
        QCOMPARE(QDBusConnection::sessionBus().call(quit).type(), QDBusMessage::ReplyMessage);
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitCode(), 0);
        follower.kill();
        follower.waitForFinished();
    }

    void germanLocale_panelsInGerman() {
        QTemporaryDir configHome;
        QProcess program;
        QProcessEnvironment environment = displayEnvironment(configHome.path());
        for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"}) {
            environment.remove(QString::fromLatin1(variable));
        }
        environment.insert(QStringLiteral("LANG"), QStringLiteral("de_DE.UTF-8"));
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(BRINESONG_BINARY), QStringList());
        QVERIFY(program.waitForStarted());
        const QString main = waitForWindow(QStringLiteral("Brinesong"));
        QVERIFY(!main.isEmpty());
        QVERIFY(!waitForWindow(QStringLiteral("Brinesong-Hilfe")).isEmpty());
        QVERIFY(xdotool({QStringLiteral("windowfocus"), main}));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+comma")}));
        const QString panel = waitForWindow(QStringLiteral("Einstellungen"));
        QVERIFY(!panel.isEmpty());
        QVERIFY(grab(QStringLiteral("main-window-de.png"), main));
        QVERIFY(grab(QStringLiteral("preferences-panel-de.png"), panel));
        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(30000));
    }

    void firstLaunch_windowHelpPanelAndQuitBySignal_settingsWritten() {
        QTemporaryDir configHome;
        QProcess program;
        QVERIFY(startWindowProgram(program, configHome.path()));

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

        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 128 + SIGTERM);
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
        QProcess program;
        QVERIFY(startWindowProgram(program, configHome.path()));
        const QString main = waitForWindow(QStringLiteral("Brinesong"));
        QVERIFY(!main.isEmpty());
        QVERIFY(xdotool({QStringLiteral("windowfocus"), main}));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+q")}));
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitCode(), 0);
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

        QProcess program;
        QVERIFY(startWindowProgram(program, configHome.path()));
        QVERIFY(!waitForWindow(QStringLiteral("Brinesong")).isEmpty());
        program.kill();
        QVERIFY(program.waitForFinished(30000));

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
