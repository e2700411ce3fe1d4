// SPDX-License-Identifier: GPL-3.0-or-later
// The output-device pop-up in the running window against the private sound server: a second null
// sink loaded and unloaded before and after the panel is loaded, the sound moved by choosing in
// the pop-up (recorded from both sinks' monitors), and the choice saved at quit and applied at the
// next launch, also when its device comes only after the launch.
#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "app/Controller.h"
#include "audio/OutputDeviceSelection.h"
#include "model/Settings.h"
#include "platform/Localization.h"
#include "platform/PulseConnection.h"
#include "platform/PulseHardware.h"
#include "platform/PulseOutputUnit.h"
#include "platform/QtMainThreadQueue.h"
#include "platform/SettingsStore.h"
#include "support/MonitorRecorder.h"
#include "support/ServerTools.h"
#include "window/HelpPanel.h"

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
        devices = std::make_unique<OutputDeviceSelection>(hardware, queue);
        controller.setOutputDevices(devices.get(), &unit);
        launched = controller.awakeFromNib();
        connection.start();
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

    PulseConnection connection;
    PulseOutputUnit unit{connection};
    SettingsStore store;
    PulseHardware hardware{connection};
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

    void hotPlug_beforeThePanel_shownTheFirstTime_thenFollowed() {
        Launched app(storePath);
        QVERIFY(app.launched);
        QTRY_COMPARE(QString::fromStdString(app.devices->outputDeviceName()), kTestSinkName);

        // Loaded before the panel was ever shown, and the panel shows it the first time.
        LoadedSink early("brinesong_early", "Early Sink", "Brinesong Tests");
        QVERIFY(early.loaded());
        const QStringList withEarly{kTestSinkName, QStringLiteral("Brinesong Tests : Early Sink")};
        QTRY_COMPARE(static_cast<int>(app.devices->outputSources().size()), 2);
        app.controller.showPreferences();
        QCOMPARE(app.items(), withEarly);
        QCOMPARE(app.popUp()->currentText(), kTestSinkName);

        LoadedSink second("brinesong_second", "Second Sink", "Kelvane Labs");
        QVERIFY(second.loaded());
        QTRY_COMPARE(app.items(), withEarly + QStringList{kSecondName});
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
            QTRY_VERIFY(app.unit.availability() == OutputUnit::Availability::Ready);
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
            // The sound is rendered up to a second ahead of the sink: the parts are timed by
            // the frames the sinks have played.
            app.controller.playStop();
            QVERIFY(app.controller.isPlaying());
            QVERIFY(onFirst.waitForMoreFrames(kPartFrames));
            app.choose(kSecondName);
            QCOMPARE(app.streamSink(), second.index);  // moved before the action returned
            QVERIFY(onSecond.waitForMoreFrames(kPartFrames));
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
            QTRY_COMPARE(app.streamSink(), testSink);
        }
        SettingsStore saved(storePath);
        QCOMPARE(saved.stringForKey(keys::kOutputSourceName), kTestSinkName);
    }

    // Chosen while stopped and played at once, the first sound is on the chosen sink. PipeWire
    // relinks a moved stream a moment after it confirms the move: the choice goes back and forth.
    void choiceWhileStopped_thenPlayAtOnce_noSoundOnTheOtherSink() {
        LoadedSink second("brinesong_second", "Second Sink", "Kelvane Labs");
        QVERIFY(second.loaded());
        Launched app(storePath);
        QTRY_VERIFY(app.unit.availability() == OutputUnit::Availability::Ready);
        app.controller.showPreferences();
        for (int round = 1; round <= 8; ++round) {
            const QString name = folder->path() + QStringLiteral("/%1-%2.wav").arg(round);
            MonitorRecorder onFirst("brinesong_test", name.arg("first").toStdString());
            MonitorRecorder onSecond("brinesong_second", name.arg("second").toStdString());
            QVERIFY(onFirst.waitForMoreFrames(kQuarterSecond));
            QVERIFY(onSecond.waitForMoreFrames(kQuarterSecond));
            const bool toSecond = round % 2 == 1;
            app.choose(toSecond ? kSecondName : kTestSinkName);
            app.controller.playStop();
            QVERIFY((toSecond ? onSecond : onFirst).waitForMoreFrames(kQuarterSecond));
            app.controller.playStop();
            QTRY_VERIFY(!app.controller.isPlaying());
            QVERIFY(onFirst.waitForMoreFrames(kQuarterSecond));
            QVERIFY(onSecond.waitForMoreFrames(kQuarterSecond));
            onFirst.stop();
            onSecond.stop();
            const size_t first = testing::soundingSamples(onFirst.left());
            const size_t other = testing::soundingSamples(onSecond.left());
            QCOMPARE(toSecond ? first : other, size_t{0});
            QVERIFY((toSecond ? other : first) > kQuarterSecond / 2);
        }
    }

    void savedName_appliedAtLaunch_anAbsentOneIsKeptAndTakenWhenItsDeviceComes() {
        LoadedSink second("brinesong_second", "Second Sink", "Kelvane Labs");
        QVERIFY(second.loaded());
        {
            SettingsStore seed(storePath);
            seed.setString(kSecondName, keys::kOutputSourceName);
            QVERIFY(seed.synchronize());
        }
        {
            Launched app(storePath);
            QTRY_VERIFY(app.unit.availability() == OutputUnit::Availability::Ready);
            QCOMPARE(app.streamSink(), second.index);
            app.controller.showPreferences();
            QCOMPARE(app.popUp()->currentText(), kSecondName);
            // Restoring the defaults is about the waves: the device stays where it is.
            app.controller.preferencesPanel().resetToDefaultButton->click();
            QCOMPARE(app.popUp()->currentText(), kSecondName);
            QCOMPARE(app.streamSink(), second.index);
        }
        QCOMPARE(SettingsStore(storePath).stringForKey(keys::kOutputSourceName), kSecondName);

        // Launched without the saved device: the default plays meanwhile; the device that comes
        // later is taken, and the saved name never lost.
        second.unload();
        {
            Launched app(storePath);
            QTRY_VERIFY(app.unit.availability() == OutputUnit::Availability::Ready);
            QCOMPARE(app.streamSink(), testing::sinkIndex("brinesong_test"));
            QCOMPARE(QString::fromStdString(app.devices->outputDeviceName()), kSecondName);
            LoadedSink back("brinesong_second", "Second Sink", "Kelvane Labs");
            QVERIFY(back.loaded());
            QTRY_COMPARE(app.streamSink(), back.index);
            QCOMPARE(QString::fromStdString(app.devices->selectedName()), kSecondName);
        }
        QCOMPARE(SettingsStore(storePath).stringForKey(keys::kOutputSourceName), kSecondName);
    }

private:
    std::unique_ptr<QTemporaryDir> folder;
    QString storePath;
};

QTEST_MAIN(OutputDevicesTest)
#include "output_devices_test.moc"
