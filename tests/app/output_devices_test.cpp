// The output-device pop-up in the running window against the private sound server: a second null
// sink loaded and unloaded before and after the panel is loaded, the sound moved by choosing in
// the pop-up (recorded from both sinks' monitors), and the choice saved at quit and applied at the
// next launch.
#include <QComboBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "app/Controller.h"
#include "app/HelpPanel.h"
#include "app/Settings.h"
#include "audio/OutputDeviceSelection.h"
#include "platform/Localization.h"
#include "platform/PulseHardware.h"
#include "platform/PulseOutputUnit.h"
#include "platform/QtMainThreadQueue.h"
#include "platform/SettingsStore.h"
#include "support/MonitorRecorder.h"
#include "support/ServerTools.h"

using namespace brinesong;
using brinesong::testing::LoadedSink;
using brinesong::testing::MonitorRecorder;

namespace {

const QString kTestSinkName = QStringLiteral("Brinesong Tests : Brinesong Test Sink");
const QString kSecondName = QStringLiteral("Kelvane Labs : Second Sink");
constexpr size_t kQuarterSecond = 44100 / 4;
constexpr uint32_t kPartFrames = 44100 * 8 / 10;

// The window program as main() puts it together, with its settings in the test's own file.
struct Launched {
    explicit Launched(const QString& storePath) : store(storePath), controller(unit, store) {
        hardware.connect();
        devices = std::make_unique<OutputDeviceSelection>(hardware, queue);
        controller.setOutputDevices(devices.get(), &unit);
        launched = controller.awakeFromNib();
    }
    ~Launched() { controller.applicationWillTerminate(); }

    QStringList items() const {
        QStringList titles;
        for (int i = 0; i < popUp()->count(); ++i) {
            titles << popUp()->itemText(i);
        }
        return titles;
    }
    QComboBox* popUp() const { return controller.preferencesPanel().mAudioOutputPopUpButton; }
    // What the user does: pick an item in the open pop-up.
    void choose(const QString& title) {
        const int index = popUp()->findText(title);
        QVERIFY(index >= 0);
        popUp()->setCurrentIndex(index);
        emit popUp()->activated(index);
    }
    // Where the program's stream plays, as the server's own tool reports it.
    uint32_t streamSink() const {
        for (const auto& [input, sink] : testing::sinkInputs()) {
            if (input == unit.streamIndex()) {
                return sink;
            }
        }
        return UINT32_MAX;
    }

    PulseOutputUnit unit;
    SettingsStore store;
    PulseHardware hardware;
    QtMainThreadQueue queue;
    std::unique_ptr<OutputDeviceSelection> devices;
    Controller controller;  // last: it lets go of the pop-up before the device list goes
    bool launched = false;
};

}  // namespace

class OutputDevicesTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { installTranslations(*QCoreApplication::instance()); }

    void init() {
        if (!testing::haveServer()) {
            QSKIP(
                "PULSE_SERVER is not set: these tests need the private sound server that "
                "scripts/test.sh starts");
        }
        Preferences::sharedInstance().setDeafaultValue();
        folder = std::make_unique<QTemporaryDir>();
        storePath = folder->filePath(QStringLiteral("Brinesong.ini"));
    }

    void hotPlug_beforeThePanel_notShownUntilTheNextChange_thenFollowed() {
        Launched app(storePath);
        QVERIFY(app.launched);
        QCOMPARE(QString::fromStdString(app.devices->outputDeviceName()), kTestSinkName);

        LoadedSink early("brinesong_early", "Early Sink", "Brinesong Tests");
        QVERIFY(early.loaded());
        QTest::qWait(300);  // its notifications come and change nothing yet
        app.controller.showPreferences();
        QCOMPARE(app.items(), QStringList{kTestSinkName});
        QCOMPARE(app.popUp()->currentText(), kTestSinkName);

        // From now on every change is followed, and the list catches up with the early one too.
        LoadedSink second("brinesong_second", "Second Sink", "Kelvane Labs");
        QVERIFY(second.loaded());
        QTRY_COMPARE(app.items(),
                     (QStringList{kTestSinkName, QStringLiteral("Brinesong Tests : Early Sink"),
                                  kSecondName}));
        QCOMPARE(app.popUp()->currentText(), kTestSinkName);
        QVERIFY(app.popUp()->isEnabled());

        early.unload();
        QTRY_COMPARE(app.items(), (QStringList{kTestSinkName, kSecondName}));
        QCOMPARE(app.popUp()->currentText(), kTestSinkName);
    }

    void choiceWhilePlaying_movesTheSoundAtOnce_unplugFollowed_savedAtQuit() {
        LoadedSink second("brinesong_second", "Second Sink", "Kelvane Labs");
        QVERIFY(second.loaded());
        const uint32_t testSink = testing::sinkIndex("brinesong_test");
        {
            Launched app(storePath);
            QVERIFY(app.launched);
            QCOMPARE(app.streamSink(), testSink);
            app.controller.showPreferences();
            QCOMPARE(app.items(), (QStringList{kTestSinkName, kSecondName}));

            const QString dir = folder->path();
            MonitorRecorder onFirst("brinesong_test", (dir + "/first.wav").toStdString());
            MonitorRecorder onSecond("brinesong_second", (dir + "/second.wav").toStdString());
            // Both record before the sound begins; the parts last 0.8 s of rendered sound each.
            QVERIFY(onFirst.waitForMoreFrames(kQuarterSecond));
            QVERIFY(onSecond.waitForMoreFrames(kQuarterSecond));
            QSignalSpy states(&app.controller, &Controller::playStateChanged);
            app.controller.playStop();
            QVERIFY(app.controller.isPlaying());
            QTRY_VERIFY_WITH_TIMEOUT(app.controller.renderer().frameCount.load() >= kPartFrames,
                                     30000);
            app.choose(kSecondName);
            QCOMPARE(app.streamSink(), second.index);  // moved before the action returned
            const uint32_t moved = app.controller.renderer().frameCount.load();
            QTRY_VERIFY_WITH_TIMEOUT(
                app.controller.renderer().frameCount.load() >= moved + kPartFrames, 30000);
            app.controller.playStop();
            QTRY_COMPARE(states.count(), 2);  // started, then stopped
            // Until the end has passed both sinks.
            QVERIFY(onFirst.waitForMoreFrames(kQuarterSecond));
            QVERIFY(onSecond.waitForMoreFrames(kQuarterSecond));
            onFirst.stop();
            onSecond.stop();

            // Each sink got the part of the sound played while it was chosen: about 0.8 s each.
            const size_t firstPart = testing::soundingSamples(onFirst.left());
            const size_t secondPart = testing::soundingSamples(onSecond.left());
            qInfo("sounding samples: %zu on the first sink, %zu on the second", firstPart,
                  secondPart);
            QVERIFY2(firstPart > 22050 && firstPart < 66150,
                     qPrintable(QString::number(firstPart)));
            QVERIFY2(secondPart > 22050 && secondPart < 66150,
                     qPrintable(QString::number(secondPart)));
            QCOMPARE(QString::fromStdString(app.devices->outputDeviceName()), kSecondName);

            // The chosen sink goes away: the server moves the stream home and the pop-up follows.
            second.unload();
            QTRY_COMPARE(app.items(), QStringList{kTestSinkName});
            QCOMPARE(app.popUp()->currentText(), kTestSinkName);
            QCOMPARE(QString::fromStdString(app.devices->outputDeviceName()), kTestSinkName);
            QCOMPARE(app.streamSink(), testSink);
        }
        SettingsStore saved(storePath);
        QCOMPARE(saved.stringForKey(keys::kOutputSourceName), kTestSinkName);
    }

    void savedName_appliedAtLaunch_unknownFallsBackToTheDefaultAndIsReplaced() {
        LoadedSink second("brinesong_second", "Second Sink", "Kelvane Labs");
        QVERIFY(second.loaded());
        {
            SettingsStore seed(storePath);
            seed.setString(kSecondName, keys::kOutputSourceName);
            QVERIFY(seed.synchronize());
        }
        {
            Launched app(storePath);
            QCOMPARE(app.streamSink(), second.index);
            app.controller.showPreferences();
            QCOMPARE(app.popUp()->currentText(), kSecondName);
        }
        QCOMPARE(SettingsStore(storePath).stringForKey(keys::kOutputSourceName), kSecondName);

        {
            SettingsStore seed(storePath);
            seed.setString(QStringLiteral("Gone : Away"), keys::kOutputSourceName);
            QVERIFY(seed.synchronize());
        }
        {
            Launched app(storePath);
            QCOMPARE(app.streamSink(), testing::sinkIndex("brinesong_test"));
        }
        QCOMPARE(SettingsStore(storePath).stringForKey(keys::kOutputSourceName), kTestSinkName);
    }

private:
    std::unique_ptr<QTemporaryDir> folder;
    QString storePath;
};

QTEST_MAIN(OutputDevicesTest)
#include "output_devices_test.moc"
