// SPDX-License-Identifier: GPL-3.0-or-later
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QSpinBox>
#include <QTimeEdit>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "model/Schedule.h"
#include "platform/ResumeWatcher.h"
#include "platform/SleepInhibitor.h"
#include "support/SleepServiceStandIns.h"
#include "support/Timers.h"
#include "window/ScheduleControls.h"

using namespace brinesong;
using brinesong::testing::LogindStandIn;
using brinesong::testing::PrivateSystemBus;

namespace {

// The main window's schedule controls bound to a schedule on a clock that moves only when the
// test moves it, with a record of the play/stop requests made at each simulated time.
struct Fixture {
    explicit Fixture(QDateTime start) : now(std::move(start)) {
        schedule = std::make_unique<Schedule>([this] { return now; },
                                              ScheduleHost{[this] {
                                                               requests.append(now);
                                                               playing = !playing;
                                                           },
                                                           [this] { return playing; },
                                                           [] { return false; },
                                                           {},
                                                           {},
                                                           {},
                                                           {}});
        controls = std::make_unique<ScheduleControls>(*schedule, &date, &time, &minutes, &startBox,
                                                      &stopBox, &timeLeft, &fade, &rise);
    }
    void setStart(const QDateTime& when) {
        date.setDate(when.date());
        time.setTime(when.time());
    }

    QDateTime now;
    QDateEdit date;
    QTimeEdit time;
    QSpinBox minutes;
    QCheckBox startBox;
    QCheckBox stopBox;
    QLabel timeLeft;
    QComboBox fade;
    QComboBox rise;
    std::unique_ptr<Schedule> schedule;
    std::unique_ptr<ScheduleControls> controls;
    QList<QDateTime> requests;
    bool playing = false;
};

// The schedule joined to the desktop's sleep services as the program joins it, with logind's
// stand-in on the private system bus (no portal answers, so the inhibitor is logind's).
struct SleepServices {
    explicit SleepServices(Schedule& schedule) { joinSleepServices(schedule, inhibitor, resume); }
    // The computer sleeps and wakes; true once the schedule has heard of the wake.
    bool sleepAndWake() {
        QSignalSpy woke(&resume, &ResumeWatcher::resumed);
        logind.prepareForSleep(true);
        logind.prepareForSleep(false);
        return woke.wait() && woke.size() == 1;
    }
    // The inhibitor taken for the armed start and still held. (Let go, the lock's last copy may
    // close a pass of the event loop later: Qt's D-Bus reply that carried it goes then.)
    bool held() const { return logind.calls.size() == 1 && !logind.released(0); }

    LogindStandIn logind;  // first: on the bus before anything asks for it
    SleepInhibitor inhibitor;
    ResumeWatcher resume;
};

}  // namespace

class ScheduleControlsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        systemBus_ = std::make_unique<PrivateSystemBus>();
        QVERIFY(systemBus_->started());
        previousLocale_ = QLocale();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    }
    void cleanupTestCase() { QLocale::setDefault(previousLocale_); }

    // Armed at 23:00 for 07:00, with the computer kept awake meanwhile; a closed lid suspends it
    // all the same, and it wakes before the start (which then still waits), just after it (the
    // start comes at once) or long after it (the start is dropped and said to be missed, until
    // the next action). The schedule's minute is a real one here: within the test only the wake
    // can make it look at the clock. The hold on the computer ends when the start fires, is
    // dropped or is unticked.
    void resumeFromSleep_beforeJustAfterLongAfter_waitsStartsOrReportsTheMiss() {
        const QDate day(2026, 3, 14);
        const QDateTime seven(day.addDays(1), QTime(7, 0));
        for (const QTime wake : {QTime(6, 30), QTime(7, 4), QTime(9, 30)}) {
            Fixture f(QDateTime(day, QTime(23, 0)));
            SleepServices desktop(*f.schedule);
            QVERIFY(desktop.logind.registered());
            QVERIFY(desktop.resume.isListening());
            // Whether the sound had begun when the start let go of the computer.
            QList<bool> playingWhenLetGo;
            QObject::connect(f.schedule.get(), &Schedule::startArmedChanged,
                             [&f, &playingWhenLetGo](bool armed) {
                                 if (!armed) {
                                     playingWhenLetGo.append(f.playing);
                                 }
                             });
            f.setStart(seven);
            f.startBox.click();
            QTRY_VERIFY(desktop.held());
            f.now = QDateTime(seven.date(), wake);
            QVERIFY(desktop.sleepAndWake());
            if (wake < seven.time()) {
                QVERIFY(f.requests.isEmpty());
                QVERIFY(f.startBox.isChecked());
                QCOMPARE(f.schedule->startText(), QStringLiteral("Starts at 07:00 (in 30 min)"));
                QVERIFY(desktop.held());
                f.startBox.click();
                QTRY_VERIFY(desktop.logind.released(0));
            } else if (wake < seven.time().addSecs(ScheduledStart::kLatestStartMinutes * 60)) {
                QCOMPARE(f.requests, QList<QDateTime>{f.now});
                QVERIFY(!f.startBox.isChecked());
                QCOMPARE(f.schedule->startText(), QString());
                QTRY_VERIFY(desktop.logind.released(0));
                QCOMPARE(playingWhenLetGo, QList<bool>{true});  // no gap for the computer to sleep
            } else {
                QVERIFY(f.requests.isEmpty());
                QVERIFY(!f.startBox.isChecked());
                QTRY_VERIFY(desktop.logind.released(0));
                const QString missed =
                    QStringLiteral("The start at 07:00 was missed while the computer slept");
                QCOMPARE(f.schedule->startText(), missed);
                // Ticked again, it waits for the next 07:00 rather than starting now.
                QCOMPARE(f.date.date(), seven.date().addDays(1));
                f.startBox.click();
                QCOMPARE(f.schedule->startText(),
                         QStringLiteral("Starts tomorrow at 07:00 (in 21 h 30 min)"));
                QVERIFY(f.requests.isEmpty());
                QTRY_COMPARE(desktop.logind.calls.size(), 2);
            }
        }
    }

    // Armed for 09:00 at 07:30 through the real time field, shown in the locale's short format
    // (with seconds where the time has them), the stop's minutes as they were stored: the hour
    // typed as "07" is no start at 07:00, the time is taken when entered; an arrow step is taken
    // once it rests, and a time passed on the way by steps waits for Return.
    void startEditedWhileArmed_takesTheEnteredTimeNotEachKeystrokeOrStep() {
        const QDate today(2026, 3, 14);
        Fixture f(QDateTime(today, QTime(7, 30)));
        f.schedule->showNextStart(QTime(9, 0));
        QCOMPARE(f.time.text(), QStringLiteral("09:00"));
        QCOMPARE(f.date.text(), QStringLiteral("14/03/2026"));
        f.schedule->showNextStart(QTime(9, 0, 30));
        QCOMPARE(f.time.text(), QStringLiteral("09:00:30"));
        f.schedule->setMinutes(-5);
        QCOMPARE(f.minutes.value(), -5);
        f.setStart(QDateTime(today, QTime(9, 0)));
        f.startBox.click();
        f.time.show();
        f.time.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f.time));
        f.time.setFocus();
        QVERIFY(f.time.hasFocus());

        f.time.setSelectedSection(QDateTimeEdit::HourSection);
        QTest::keyClicks(&f.time, QStringLiteral("07"));
        QVERIFY(testing::timersDueWithin(
            2 * ScheduleControls::kSettleMs));  // past a wrong start's moment
        QVERIFY(f.requests.isEmpty());
        QVERIFY(f.startBox.isChecked());
        QCOMPARE(f.schedule->startsAt(), QDateTime(today, QTime(9, 0)));
        f.time.setSelectedSection(QDateTimeEdit::MinuteSection);
        QTest::keyClicks(&f.time, QStringLiteral("45"));
        QTest::keyClick(&f.time, Qt::Key_Return);
        QCOMPARE(f.schedule->startsAt(), QDateTime(today, QTime(7, 45)));
        QVERIFY(f.requests.isEmpty());

        f.time.setSelectedSection(QDateTimeEdit::HourSection);
        QTest::keyClick(&f.time, Qt::Key_Up);
        QTRY_COMPARE(f.schedule->startsAt(), QDateTime(today, QTime(8, 45)));
        QTest::keyClick(&f.time, Qt::Key_Down);
        QTest::keyClick(&f.time, Qt::Key_Down);
        QTRY_COMPARE(f.schedule->startsAt(), QDateTime(today, QTime(6, 45)));
        QVERIFY(testing::timersDueWithin(2 * ScheduleControls::kSettleMs));
        QVERIFY(f.requests.isEmpty());
        QVERIFY(f.startBox.isChecked());
        QTest::keyClick(&f.time, Qt::Key_Return);  // meant: the time has passed, so start now
        QTRY_COMPARE(f.requests.size(), 1);
        QVERIFY(!f.startBox.isChecked());
    }

private:
    std::unique_ptr<PrivateSystemBus> systemBus_;
    QLocale previousLocale_;
};

QTEST_MAIN(ScheduleControlsTest)
#include "schedule_controls_test.moc"
