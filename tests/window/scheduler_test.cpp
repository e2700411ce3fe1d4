// SPDX-License-Identifier: GPL-3.0-or-later
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QLabel>
#include <QSpinBox>
#include <QTimeEdit>
#include <QTimeZone>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "platform/ResumeWatcher.h"
#include "platform/SleepInhibitor.h"
#include "support/SleepServiceStandIns.h"
#include "window/Scheduler.h"

using namespace brinesong;
using brinesong::testing::LogindStandIn;
using brinesong::testing::PrivateSystemBus;

namespace {

// One scheduler minute lasts this many real milliseconds: the interval of the minute checks.
constexpr int kMinuteMs = 10;

// A wall clock that stands still and moves only when the test moves it, so every decision the
// scheduler takes depends on the time the test set, never on how fast the machine runs. It
// counts how often it was read: a read is the scheduler looking at the time.
struct TestClock {
    QDateTime time;
    mutable int reads = 0;
    QDateTime now() const {
        ++reads;
        return time;
    }
};

// The main window's schedule controls, a scheduler on them, and a record of its play/stop
// requests with the simulated time of each. The play state changes as the window announces it:
// after the request, from the event loop.
struct Fixture {
    explicit Fixture(QDateTime start = QDateTime(QDate(2026, 3, 14), QTime(21, 0, 0)),
                     int minuteMs = kMinuteMs) {
        clock = std::make_shared<TestClock>();
        clock->time = start;
        scheduler = std::make_unique<Scheduler>(
            [c = clock] { return c->now(); },
            SchedulerHost{[this] {
                              requests.append(clock->time);
                              setPlaying(!playing);
                          },
                          [this] { return playing; }, [this] { return saving; },
                          [this](double toEnd, double seconds) {
                              fades.append({toEnd, seconds});
                          },
                          [this](double seconds) {
                              rises.append(seconds);
                              setPlaying(true);
                          },
                          [this] { return playing ? riseLeft : 0.0; }},
            minuteMs);
        minutes.setRange(0, 1440);  // as the main window has it
        scheduler->attach(&date, &time, &minutes, &startBox, &stopBox, &timeLeft, &fade, &rise);
    }
    // The sound starts or ends, whoever asked.
    void setPlaying(bool now) {
        playing = now;
        QMetaObject::invokeMethod(
            scheduler.get(), [s = scheduler.get(), now] { s->playStateChanged(now); },
            Qt::QueuedConnection);
    }
    void setStart(const QDateTime& when) {
        date.setDate(when.date());
        time.setTime(when.time());
    }
    void setMinutes(int value) { minutes.setValue(value); }
    void advance(int seconds) { clock->time = clock->time.addSecs(seconds); }
    // Lets the scheduler look at the clock a few more times.
    bool clockReadAgain() {
        const int before = clock->reads;
        return QTest::qWaitFor([&] { return clock->reads >= before + 3; }, 20000);
    }
    // Runs the event loop until every timer started so far that falls due within `ms` has fired:
    // a precise timer of the test's own, started now, fires after them, since the event loop
    // fires due timers in the order they fall due (the scheduler's start and stop timers are
    // precise too). "Nothing happened" is then decided by that order, not by a guess at how long
    // a wait is long enough.
    bool timersDueWithin(int ms) {
        QTimer marker;
        marker.setTimerType(Qt::PreciseTimer);
        marker.setSingleShot(true);
        QSignalSpy fired(&marker, &QTimer::timeout);
        marker.start(ms);
        return fired.wait(20000);
    }

    std::shared_ptr<TestClock> clock;
    QDateEdit date;
    QTimeEdit time;
    QSpinBox minutes;
    QCheckBox startBox;
    QCheckBox stopBox;
    QLabel timeLeft;
    QComboBox fade;
    QComboBox rise;
    std::unique_ptr<Scheduler> scheduler;
    // The rising starts asked for, in real seconds, and the real seconds the host says the sound
    // playing now still has to rise.
    QList<double> rises;
    double riseLeft = 0.0;
    // The sleep fades handed on: real seconds to its end, and its length.
    QList<std::pair<double, double>> fades;
    QList<QDateTime> requests;
    bool playing = false;
    bool saving = false;
};

// The scheduler joined to the desktop's sleep services as the program joins it, with logind's
// stand-in on the private system bus (no portal answers, so the inhibitor is logind's).
struct SleepServices {
    explicit SleepServices(Scheduler& scheduler) {
        joinSleepServices(scheduler, inhibitor, resume);
    }
    // The computer sleeps and wakes; true once the scheduler has heard of the wake.
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

class SchedulerTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        systemBus_ = std::make_unique<PrivateSystemBus>();
        QVERIFY(systemBus_->started());
    }

    void showNextStart_aroundTheSavedTime_movesOnlyAStrictlyLaterNowToTomorrow() {
        const QDate today(2026, 3, 14);
        const QTime eight(8, 0, 0);
        for (const auto& [now, expected] :
             {std::pair{QTime(7, 59, 59), today}, std::pair{QTime(8, 0, 0), today},
              std::pair{QTime(8, 0, 1), today.addDays(1)}}) {
            Fixture f(QDateTime(today, now));
            f.scheduler->showNextStart(eight);
            QCOMPARE(f.date.date(), expected);
            QCOMPARE(f.time.time(), eight);
        }
    }

    void startChecked_dateAlreadyPast_startsAtOnceAndUnticks() {
        Fixture f;
        f.setStart(f.clock->time.addDays(-1));
        f.startBox.click();
        QVERIFY(f.scheduler->willStart());
        QTRY_COMPARE(f.requests.size(), 1);
        QVERIFY(!f.startBox.isChecked());
        QVERIFY(!f.scheduler->willStart());
    }

    void startChecked_timeAhead_startsAtItNotBefore() {
        Fixture f;
        const QDateTime at = f.clock->time.addSecs(120);
        f.setStart(at);
        f.startBox.click();
        QVERIFY(f.clockReadAgain());
        f.clock->time = at.addSecs(-1);
        QVERIFY(f.clockReadAgain());
        QVERIFY(f.requests.isEmpty());
        QVERIFY(f.startBox.isChecked());
        f.clock->time = at;
        QTRY_COMPARE(f.requests.size(), 1);
        QCOMPARE(f.requests[0], at);
        QVERIFY(f.playing);
        QVERIFY(!f.startBox.isChecked());
    }

    // What the status line says of an armed start, and the fields in the locale's short formats
    // without seconds: a start later today counts down in hours and minutes, one tomorrow or
    // later names its day and time.
    void startText_saysWhenItComes_fieldsInTheLocalesShortFormats() {
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        const QDate today(2026, 3, 14);
        Fixture f(QDateTime(today, QTime(11, 36)));
        f.scheduler->showNextStart(QTime(21, 22, 30));  // saved with seconds
        QCOMPARE(f.time.time(), QTime(21, 22));
        QCOMPARE(f.time.text(), QStringLiteral("21:22"));
        QCOMPARE(f.date.text(), QStringLiteral("14/03/2026"));
        QSignalSpy changed(f.scheduler.get(), &Scheduler::startTextChanged);
        QCOMPARE(f.scheduler->startText(), QString());
        f.startBox.click();
        QCOMPARE(f.scheduler->startText(), QStringLiteral("Starts in 9:46"));
        QCOMPARE(changed.size(), 1);
        f.clock->time = QDateTime(today, QTime(19, 7, 1));  // 2:14:59 to go
        QTRY_COMPARE(f.scheduler->startText(), QStringLiteral("Starts in 2:15"));
        f.clock->time = QDateTime(today, QTime(19, 8));
        QTRY_COMPARE(f.scheduler->startText(), QStringLiteral("Starts in 2:14"));

        f.startBox.click();
        QCOMPARE(f.scheduler->startText(), QString());
        f.clock->time = QDateTime(today, QTime(21, 30));
        f.scheduler->showNextStart(QTime(21, 22));
        f.startBox.click();
        QCOMPARE(f.scheduler->startText(), QStringLiteral("Starts tomorrow at 21:22"));
        f.date.setDate(today.addDays(6));
        QTRY_COMPARE(f.scheduler->startText(), QStringLiteral("Starts on 20/03/2026 at 21:22"));
        QLocale::setDefault(before);
    }

    // Armed at 23:00 for 07:00, with the computer kept awake meanwhile; a closed lid suspends it
    // all the same, and it wakes before the start (which then still waits), just after it (the
    // start comes at once) or long after it (the start is dropped and said to be missed, until
    // the next action). The scheduler's minute is a real one here: within the test only the wake
    // can make it look at the clock. The hold on the computer ends when the start fires, is
    // dropped or is unticked.
    void resumeFromSleep_beforeJustAfterLongAfter_waitsStartsOrReportsTheMiss() {
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        const QDate day(2026, 3, 14);
        const QDateTime seven(day.addDays(1), QTime(7, 0));
        for (const QTime wake : {QTime(6, 30), QTime(7, 4), QTime(9, 30)}) {
            Fixture f(QDateTime(day, QTime(23, 0)), Scheduler::kMinuteMs);
            SleepServices desktop(*f.scheduler);
            QVERIFY(desktop.logind.registered());
            QVERIFY(desktop.resume.isListening());
            // Whether the sound had begun when the start let go of the computer.
            QList<bool> playingWhenLetGo;
            QObject::connect(f.scheduler.get(), &Scheduler::startArmedChanged,
                             [&f, &playingWhenLetGo](bool armed) {
                                 if (!armed) {
                                     playingWhenLetGo.append(f.playing);
                                 }
                             });
            f.setStart(seven);
            f.startBox.click();
            QTRY_VERIFY(desktop.held());
            f.clock->time = QDateTime(seven.date(), wake);
            QVERIFY(desktop.sleepAndWake());
            if (wake < seven.time()) {
                QVERIFY(f.requests.isEmpty());
                QVERIFY(f.startBox.isChecked());
                QCOMPARE(f.scheduler->startText(), QStringLiteral("Starts in 0:30"));
                QVERIFY(desktop.held());
                f.startBox.click();
                QTRY_VERIFY(desktop.logind.released(0));
            } else if (wake < seven.time().addSecs(Scheduler::kLatestStartMinutes * 60)) {
                QCOMPARE(f.requests, QList<QDateTime>{f.clock->time});
                QVERIFY(!f.startBox.isChecked());
                QCOMPARE(f.scheduler->startText(), QString());
                QTRY_VERIFY(desktop.logind.released(0));
                QCOMPARE(playingWhenLetGo, QList<bool>{true});  // no gap for the computer to sleep
            } else {
                QVERIFY(f.requests.isEmpty());
                QVERIFY(!f.startBox.isChecked());
                QTRY_VERIFY(desktop.logind.released(0));
                const QString missed =
                    QStringLiteral("The start at 07:00 was missed while the computer slept");
                QCOMPARE(f.scheduler->startText(), missed);
                // Ticked again, it waits for the next 07:00 rather than starting now.
                QCOMPARE(f.date.date(), seven.date().addDays(1));
                f.startBox.click();
                QCOMPARE(f.scheduler->startText(), QStringLiteral("Starts tomorrow at 07:00"));
                QVERIFY(f.requests.isEmpty());
                QTRY_COMPARE(desktop.logind.calls.size(), 2);
            }
        }
        QLocale::setDefault(before);
    }

    // The wall clock set back and forward while the start waits, by the user or by time
    // synchronisation: the start comes when the clock shows its time, never before; a clock set
    // past it starts it if it is less than the latest start's minutes late, else drops it. Armed
    // a day ahead, so the start's timer must look at the clock in steps, not wait for the day.
    void wallClockSteppedBackAndForward_startsAtItsTimeNeverEarly() {
        Fixture f;
        const QDateTime at = f.clock->time.addDays(1);
        f.setStart(at);
        f.startBox.click();
        f.clock->time = f.clock->time.addSecs(-2 * 60 * 60);
        QVERIFY(f.clockReadAgain());
        f.clock->time = at.addSecs(-1);
        QVERIFY(f.clockReadAgain());
        f.clock->time = at.addSecs(-3 * 60 * 60);
        QVERIFY(f.clockReadAgain());
        QVERIFY(f.requests.isEmpty());
        QVERIFY(f.startBox.isChecked());
        // The timer's step ends within a minute: set forward, the clock is seen within one.
        f.clock->time = at.addSecs(5 * 60);
        QVERIFY(f.timersDueWithin(2 * kMinuteMs));
        QCOMPARE(f.requests, QList<QDateTime>{at.addSecs(5 * 60)});
        QVERIFY(!f.startBox.isChecked());

        f.setPlaying(false);
        const QDateTime next = f.clock->time.addDays(1);
        f.setStart(next);
        f.startBox.click();
        QVERIFY(f.scheduler->willStart());
        f.clock->time = next.addSecs(Scheduler::kLatestStartMinutes * 60);
        QTRY_VERIFY(!f.scheduler->willStart());
        QVERIFY(!f.startBox.isChecked());
        QCOMPARE(f.requests.size(), 1);
    }

    void startDue_whilePlayingOrExporting_isDroppedAndUnticks() {
        for (bool exporting : {false, true}) {
            Fixture f;
            f.playing = !exporting;
            f.saving = exporting;
            QSignalSpy fired(f.scheduler.get(), &Scheduler::startFired);
            f.setStart(f.clock->time.addSecs(-1));
            f.startBox.click();
            QVERIFY(fired.wait());
            QVERIFY(f.requests.isEmpty());
            QVERIFY(!f.startBox.isChecked());
        }
    }

    void startUnticked_beforeTime_cancelsAndRetickRearms() {
        Fixture f;
        const QDateTime at = f.clock->time.addSecs(60);
        f.setStart(at);
        f.startBox.click();
        f.startBox.click();
        QVERIFY(!f.scheduler->willStart());
        f.clock->time = at.addSecs(120);
        // A start timer left running (due 10 ms after the tick) would look at the clock and start.
        const int reads = f.clock->reads;
        QVERIFY(f.timersDueWithin(2 * kMinuteMs));
        QCOMPARE(f.clock->reads, reads);
        QVERIFY(f.requests.isEmpty());

        f.startBox.click();  // the date now lies in the past: due at once
        QTRY_COMPARE(f.requests.size(), 1);
    }

    void dateOrTimeChanged_whileUnticked_armsNothing() {
        Fixture f;
        // Arming reads the clock: the scheduler never looks at it.
        const int reads = f.clock->reads;
        f.setStart(f.clock->time.addDays(-2));
        f.time.setTime(QTime(1, 2, 3));
        QVERIFY(!f.scheduler->willStart());
        QVERIFY(f.timersDueWithin(2 * kMinuteMs));  // a past start would have fired at once
        QCOMPARE(f.clock->reads, reads);
        QVERIFY(f.requests.isEmpty());
    }

    // Europe/Berlin's clocks go from 02:00 to 03:00 on 29 March 2026: a start at 02:30 comes at
    // the jump, not at once, and a saved 02:30 is still that day's until the jump has passed.
    void startInDaylightSavingGap_comesWhenTheClocksJumpPastIt() {
        const QTimeZone berlin("Europe/Berlin");
        QVERIFY(berlin.isValid());
        const QDate day(2026, 3, 29);
        const QDateTime jump(day, QTime(3, 0), berlin);
        QCOMPARE(jump.toUTC(), QDateTime(day, QTime(1, 0), Qt::UTC));
        for (const auto& [now, expected] :
             {std::pair{QTime(1, 0), day}, std::pair{QTime(3, 0), day},
              std::pair{QTime(3, 0, 1), day.addDays(1)}}) {
            Fixture f(QDateTime(day, now, berlin));
            f.scheduler->showNextStart(QTime(2, 30));
            QCOMPARE(f.date.date(), expected);
            QCOMPARE(f.time.time(), QTime(2, 30));
        }

        Fixture f(QDateTime(day, QTime(1, 59), berlin));
        f.date.setDate(day);
        f.time.setTime(QTime(2, 30));
        f.startBox.click();
        QCOMPARE(f.scheduler->startDate(), jump);
        QVERIFY(f.clockReadAgain());
        QVERIFY(f.requests.isEmpty());
        f.clock->time = jump.addSecs(-1);
        QVERIFY(f.clockReadAgain());
        QVERIFY(f.requests.isEmpty());
        f.clock->time = jump;
        QTRY_COMPARE(f.requests.size(), 1);
        QCOMPARE(f.requests[0], jump);
    }

    // Armed for 09:00 at 07:30 through the real time field: the hour typed as "07" is no start
    // at 07:00, the time is taken when entered; an arrow step is taken once it rests, and a time
    // passed on the way by steps waits for Return.
    void startEditedWhileArmed_takesTheEnteredTimeNotEachKeystrokeOrStep() {
        const QDate today(2026, 3, 14);
        Fixture f(QDateTime(today, QTime(7, 30)));
        f.setStart(QDateTime(today, QTime(9, 0)));
        f.startBox.click();
        f.time.show();
        f.time.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f.time));
        f.time.setFocus();
        QVERIFY(f.time.hasFocus());

        f.time.setSelectedSection(QDateTimeEdit::HourSection);
        QTest::keyClicks(&f.time, QStringLiteral("07"));
        QVERIFY(f.timersDueWithin(2 * Scheduler::kSettleMs));  // past a wrong start's moment
        QVERIFY(f.requests.isEmpty());
        QVERIFY(f.startBox.isChecked());
        QCOMPARE(f.scheduler->startDate(), QDateTime(today, QTime(9, 0)));
        f.time.setSelectedSection(QDateTimeEdit::MinuteSection);
        QTest::keyClicks(&f.time, QStringLiteral("45"));
        QTest::keyClick(&f.time, Qt::Key_Return);
        QCOMPARE(f.scheduler->startDate(), QDateTime(today, QTime(7, 45)));
        QVERIFY(f.clockReadAgain());
        QVERIFY(f.requests.isEmpty());

        f.time.setSelectedSection(QDateTimeEdit::HourSection);
        QTest::keyClick(&f.time, Qt::Key_Up);
        QTRY_COMPARE(f.scheduler->startDate(), QDateTime(today, QTime(8, 45)));
        QTest::keyClick(&f.time, Qt::Key_Down);
        QTest::keyClick(&f.time, Qt::Key_Down);
        QTRY_COMPARE(f.scheduler->startDate(), QDateTime(today, QTime(6, 45)));
        QVERIFY(f.timersDueWithin(2 * Scheduler::kSettleMs));
        QVERIFY(f.requests.isEmpty());
        QVERIFY(f.startBox.isChecked());
        QTest::keyClick(&f.time, Qt::Key_Return);  // meant: the time has passed, so start now
        QTRY_COMPARE(f.requests.size(), 1);
        QVERIFY(!f.startBox.isChecked());
    }

    void dateChanged_whileTicked_rearmsFromTheFields() {
        Fixture f;
        f.setStart(f.clock->time.addDays(2));
        f.startBox.click();
        QVERIFY(f.scheduler->willStart());
        f.date.setDate(f.date.date().addDays(-4));  // now in the past
        QTRY_COMPARE(f.requests.size(), 1);
    }

    // Each minute check sees the clock as the test set it: the first check at or after the stop
    // time carries the stop out, none before.
    void stopChecked_twoMinutes_stopsAtTheFirstCheckAtItsTime() {
        Fixture f;
        f.playing = true;
        f.setMinutes(2);
        QSignalSpy checks(f.scheduler.get(), &Scheduler::stopChecked);
        f.stopBox.click();
        const QDateTime stopTime = f.scheduler->stopTime();
        QCOMPARE(stopTime, f.clock->time.addSecs(120));
        for (int minute = 0; minute < 2; ++minute) {
            QVERIFY(checks.wait());
            QVERIFY(f.requests.isEmpty());
            QVERIFY(f.stopBox.isChecked());
            f.advance(60);
        }
        QVERIFY(checks.wait());
        QCOMPARE(f.requests, QList<QDateTime>{stopTime});
        QVERIFY(!f.playing);
        QVERIFY(!f.stopBox.isChecked());
        QVERIFY(!f.scheduler->willStop());
    }

    void stopChecked_zero_stopsAtTheFirstCheck() {
        Fixture f;
        f.playing = true;
        f.setMinutes(0);
        QSignalSpy checks(f.scheduler.get(), &Scheduler::stopChecked);
        f.stopBox.click();
        QVERIFY(f.requests.isEmpty());  // not at arming: at the first check
        QVERIFY(checks.wait());
        QCOMPARE(f.requests.size(), 1);
        QCOMPARE(checks.size(), 1);
    }

    // Ticked together in the evening, "Start at" and "Stop after" play for the minutes given:
    // the stop waits for the start and counts from it. A playback ended by hand before its stop
    // leaves the stop waiting for the next start.
    void stopArmedWhileStopped_countsFromTheStart_andAgainAfterAnEarlyEnd() {
        Fixture f;
        f.setMinutes(45);
        f.stopBox.click();
        QVERIFY(f.scheduler->willStop());
        QVERIFY(!f.scheduler->stopCounting());
        QCOMPARE(f.timeLeft.text(), QStringLiteral("Stops 45 min after the sound starts"));
        const QDateTime at = f.clock->time.addSecs(80 * 60);
        f.setStart(at);
        f.startBox.click();
        f.advance(60 * 60);  // 45 minutes from the arming have passed: no stop without a sound
        QVERIFY(f.clockReadAgain());
        QVERIFY(f.requests.isEmpty());
        QVERIFY(f.stopBox.isChecked());

        f.clock->time = at;
        QTRY_VERIFY(f.scheduler->stopCounting());
        QCOMPARE(f.requests, QList<QDateTime>{at});
        QCOMPARE(f.scheduler->stopTime(), at.addSecs(45 * 60));
        QCOMPARE(f.timeLeft.text(), QStringLiteral("Stops in 0:45:00"));
        f.advance(45 * 60);
        QTRY_COMPARE(f.requests.size(), 2);
        QCOMPARE(f.requests[1], at.addSecs(45 * 60));
        QVERIFY(!f.playing);
        QVERIFY(!f.stopBox.isChecked());

        f.setMinutes(10);
        f.stopBox.click();
        f.setPlaying(true);
        QTRY_VERIFY(f.scheduler->stopCounting());
        f.advance(5 * 60);
        f.setPlaying(false);
        QTRY_VERIFY(!f.scheduler->stopCounting());
        QVERIFY(f.stopBox.isChecked());
        QCOMPARE(f.timeLeft.text(), QStringLiteral("Stops 10 min after the sound starts"));
        f.advance(60 * 60);
        QTest::qWait(10 * kMinuteMs);  // time for a wrong stop (cannot fail a passing run)
        QCOMPARE(f.requests.size(), 2);
        f.setPlaying(true);
        QTRY_COMPARE(f.scheduler->stopTime(), f.clock->time.addSecs(10 * 60));
    }

    void minutesEdited_whileArmed_restartsTheDelayFromTheEdit() {
        Fixture f;
        f.playing = true;
        f.setMinutes(2);
        QSignalSpy checks(f.scheduler.get(), &Scheduler::stopChecked);
        f.stopBox.click();
        f.advance(60);
        QVERIFY(checks.wait());
        QVERIFY(f.requests.isEmpty());
        f.minutes.selectAll();
        QTest::keyClicks(&f.minutes, QStringLiteral("3"));
        const QDateTime restarted = f.scheduler->stopTime();
        QCOMPARE(restarted, f.clock->time.addSecs(180));
        f.advance(120);  // the old stop time has passed; the new one has not
        QVERIFY(checks.wait());
        QVERIFY(f.requests.isEmpty());
        f.advance(60);
        QVERIFY(checks.wait());
        QCOMPARE(f.requests, QList<QDateTime>{restarted});
    }

    void stopDue_duringModalDialog_firesOnceWhenItCloses() {
        Fixture f;
        f.playing = true;
        f.setMinutes(0);
        QDialog dialog;
        dialog.setModal(true);
        dialog.open();
        QVERIFY(QApplication::activeModalWidget() == &dialog);
        QSignalSpy checks(f.scheduler.get(), &Scheduler::stopChecked);
        f.stopBox.click();
        f.advance(5 * 60);
        // Checks come due while the dialog is up and are held back.
        QVERIFY(f.timersDueWithin(2 * kMinuteMs));
        QVERIFY(checks.isEmpty());
        QVERIFY(f.requests.isEmpty());
        QVERIFY(f.stopBox.isChecked());

        dialog.close();
        QVERIFY(checks.wait());
        QCOMPARE(f.requests.size(), 1);
        QVERIFY(!f.stopBox.isChecked());
        QVERIFY(!f.scheduler->willStop());
        QVERIFY(f.timersDueWithin(2 * kMinuteMs));
        QCOMPARE(f.requests.size(), 1);
    }

    void timeLeft_armedStop_countsDownToTheCheckThatStops() {
        Fixture f;
        f.playing = true;
        f.setMinutes(45);
        f.stopBox.click();
        QCOMPARE(f.timeLeft.text(), QStringLiteral("Stops in 0:45:00"));
        f.advance(44 * 60 + 30);
        QTRY_COMPARE(f.timeLeft.text(), QStringLiteral("Stops in 0:00:30"));
        f.stopBox.click();
        QCOMPARE(f.timeLeft.text(), QString());
    }

    void fadeOut_armedStop_endsAtTheStopAndTheCountdownSaysWhenItBegins() {
        Fixture f;
        // Real seconds per scheduler minute in this test.
        constexpr double kMinute = kMinuteMs / 1000.0;
        const auto lastFade = [&f](double toEnd, double seconds) {
            return std::abs(f.fades.last().first - toEnd) < 1e-9 &&
                   std::abs(f.fades.last().second - seconds) < 1e-9;
        };
        f.playing = true;
        f.setMinutes(45);
        f.scheduler->setFadeMinutes(10);
        QCOMPARE(f.fade.currentText(), QStringLiteral("Fade out over 10 min"));
        f.fades.clear();
        f.stopBox.click();
        QCOMPARE(f.fades.size(), 1);
        QVERIFY(lastFade(45 * kMinute, 10 * kMinute));
        QCOMPARE(f.timeLeft.text(), QStringLiteral("Fade-out begins in 0:35:00, stops in 0:45:00"));
        f.advance(36 * 60);
        QTRY_COMPARE(f.timeLeft.text(), QStringLiteral("Fading out, stops in 0:09:00"));

        // The stop is carried out as ever, and the fade is left to its end.
        f.advance(9 * 60);
        QTRY_COMPARE(f.requests.size(), 1);
        QCOMPARE(f.fades.size(), 1);

        // A fade longer than the delay takes all of it; choosing none or disarming drops it.
        // Armed while nothing plays, the stop has no fade until the sound starts.
        f.setMinutes(5);
        f.stopBox.click();
        QVERIFY(lastFade(0.0, 0.0));
        QCOMPARE(
            f.timeLeft.text(),
            QStringLiteral("Stops 5 min after the sound starts, fading out over the last 5 min"));
        f.setPlaying(true);
        QTRY_VERIFY(f.scheduler->stopCounting());
        QVERIFY(lastFade(5 * kMinute, 5 * kMinute));
        QCOMPARE(f.timeLeft.text(), QStringLiteral("Fading out, stops in 0:05:00"));
        f.fade.setCurrentIndex(0);
        QVERIFY(lastFade(0.0, 0.0));
        QCOMPARE(f.timeLeft.text(), QStringLiteral("Stops in 0:05:00"));
        f.scheduler->setFadeMinutes(1);
        QVERIFY(lastFade(5 * kMinute, 1 * kMinute));
        f.stopBox.click();
        QVERIFY(lastFade(0.0, 0.0));
        // A value that is not among the choices is off.
        f.scheduler->setFadeMinutes(7);
        QCOMPARE(f.scheduler->fadeMinutes(), 0);
    }

    // A start with a fade-in asks for a rising start instead of the short fade-in, and the status
    // line says when the sound reaches full level until it has.
    void fadeIn_armedStart_startsRisingAndSaysWhenFullLevelComes() {
        Fixture f;
        f.scheduler->setRiseMinutes(10);
        QCOMPARE(f.rise.currentText(), QStringLiteral("Fade in over 10 min"));
        const QDateTime at = f.clock->time.addSecs(120);
        f.setStart(at);
        f.startBox.click();
        f.riseLeft = 10 * kMinuteMs / 1000.0;  // the host's word once the sound plays
        f.clock->time = at;
        QTRY_COMPARE(f.rises.size(), 1);
        QVERIFY(f.requests.isEmpty());
        QCOMPARE(f.rises[0], 10 * kMinuteMs / 1000.0);
        QTRY_COMPARE(f.scheduler->startText(), QStringLiteral("Fading in, full level at 21:12"));
        f.riseLeft = 0.0;
        f.advance(10 * 60);
        QTRY_COMPARE(f.scheduler->startText(), QString());

        // Off, the start is the short fade-in of the button; a value not among the choices is off.
        f.setPlaying(false);
        f.scheduler->setRiseMinutes(7);
        QCOMPARE(f.scheduler->riseMinutes(), 0);
        f.setStart(f.clock->time.addSecs(60));
        f.startBox.click();
        f.advance(60);
        QTRY_COMPARE(f.requests.size(), 1);
        QCOMPARE(f.rises.size(), 1);
    }

private:
    std::unique_ptr<PrivateSystemBus> systemBus_;
};

QTEST_MAIN(SchedulerTest)
#include "scheduler_test.moc"
