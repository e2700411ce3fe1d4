// The real program on a virtual X display: it opens its window and, on a first launch, its help
// panel; the preferences shortcut opens the panel; SIGTERM quits through the termination sequence,
// which writes the settings; a killed run leaves the settings file as it was. Screenshots of the
// windows go to the build tree for a person to look at.
#include <signal.h>

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "support/Program.h"

namespace {

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
