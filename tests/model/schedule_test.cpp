// SPDX-License-Identifier: GPL-3.0-or-later
#include <QTimeZone>
#include <QTimer>
#include <QtTest>
#include <limits>
#include <memory>

#include "model/Schedule.h"
#include "support/Timers.h"

using namespace brinesong;

namespace {

// One schedule minute lasts this many real milliseconds: the interval of the minute checks.
constexpr int kMinuteMs = 10;

// A wall clock that stands still and moves only when the test moves it, so every decision the
// schedule takes depends on the time the test set, never on how fast the machine runs. It counts
// how often it was read: a read is the schedule looking at the time.
struct TestClock {
    QDateTime time;
    mutable int reads = 0;
    QDateTime now() const {
        ++reads;
        return time;
    }
};

// A schedule, and a record of its play/stop requests with the simulated time of each. The play
// state changes as the window announces it: after the request, from the event loop.
struct Fixture {
    explicit Fixture(QDateTime start = QDateTime(QDate(2026, 3, 14), QTime(21, 0, 0))) {
        clock = std::make_shared<TestClock>();
        clock->time = start;
        schedule = std::make_unique<Schedule>(
            [c = clock] { return c->now(); },
            ScheduleHost{[this] {
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
                         [this] { return playing ? riseLeft : 0.0; }, [this] { return blocked; }},
            kMinuteMs);
    }
    // The sound starts or ends, whoever asked.
    void setPlaying(bool now) {
        playing = now;
        QMetaObject::invokeMethod(
            schedule.get(), [s = schedule.get(), now] { s->playStateChanged(now); },
            Qt::QueuedConnection);
    }
    // The user sets the start's date and time, and the edit is complete.
    void setStart(const QDateTime& when) {
        schedule->editStart(when.date(), when.time());
        schedule->takeStartEdit(false);
    }
    void tickStart() { schedule->setStartTicked(!schedule->startTicked()); }
    void tickStop() { schedule->setStopTicked(!schedule->stopTicked()); }
    void advance(int seconds) { clock->time = clock->time.addSecs(seconds); }
    // Lets the schedule look at the clock a few more times.
    bool clockReadAgain() {
        const int before = clock->reads;
        return QTest::qWaitFor([&] { return clock->reads >= before + 3; }, 20000);
    }

    std::shared_ptr<TestClock> clock;
    std::unique_ptr<Schedule> schedule;
    // The rising starts asked for, in real seconds, and the real seconds the host says the sound
    // playing now still has to rise.
    QList<double> rises;
    double riseLeft = 0.0;
    // The sleep fades handed on: real seconds to its end, and its length.
    QList<std::pair<double, double>> fades;
    QList<QDateTime> requests;
    bool playing = false;
    bool saving = false;
    bool blocked = false;  // a modal dialog or a menu, as the window would say
};

}  // namespace

class ScheduleTest : public QObject {
    Q_OBJECT
private slots:
    void showNextStart_aroundTheSavedTime_movesOnlyAStrictlyLaterNowToTomorrow() {
        const QDate today(2026, 3, 14);
        const QTime eight(8, 0, 0);
        for (const auto& [now, expected] :
             {std::pair{QTime(7, 59, 59), today}, std::pair{QTime(8, 0, 0), today},
              std::pair{QTime(8, 0, 1), today.addDays(1)}}) {
            Fixture f(QDateTime(today, now));
            f.schedule->showNextStart(eight);
            QCOMPARE(f.schedule->startDate(), expected);
            QCOMPARE(f.schedule->startTime(), eight);
        }
    }

    void startChecked_dateAlreadyPast_startsAtOnceAndUnticks() {
        Fixture f;
        f.setStart(f.clock->time.addDays(-1));
        f.tickStart();
        QVERIFY(f.schedule->willStart());
        QTRY_COMPARE(f.requests.size(), 1);
        QVERIFY(!f.schedule->startTicked());
        QVERIFY(!f.schedule->willStart());
    }

    // A start saved with seconds keeps them and comes at them.
    void startChecked_timeAhead_startsAtItsSecondNotBefore() {
        Fixture f;
        const QDateTime at = f.clock->time.addSecs(150);
        f.schedule->showNextStart(at.time());
        QCOMPARE(f.schedule->startTime(), QTime(21, 2, 30));
        f.tickStart();
        QVERIFY(f.clockReadAgain());
        f.clock->time = at.addSecs(-1);
        QVERIFY(f.clockReadAgain());
        QVERIFY(f.requests.isEmpty());
        QVERIFY(f.schedule->startTicked());
        f.clock->time = at;
        QTRY_COMPARE(f.requests.size(), 1);
        QCOMPARE(f.requests[0], at);
        QVERIFY(f.playing);
        QVERIFY(!f.schedule->startTicked());
    }

    // What the status line says of an armed start: its time, its day when not today, and how
    // long until then in units no one reads as a clock (1 min 15 s is "2 min", never "0:02").
    void startText_saysWhenItComes() {
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        const QDate today(2026, 3, 14);
        Fixture f(QDateTime(today, QTime(11, 36)));
        f.schedule->showNextStart(QTime(21, 22));
        QSignalSpy changed(f.schedule.get(), &Schedule::textsChanged);
        QCOMPARE(f.schedule->startText(), QString());
        f.tickStart();
        QCOMPARE(f.schedule->startText(), QStringLiteral("Starts at 21:22 (in 9 h 46 min)"));
        QCOMPARE(changed.size(), 1);
        f.clock->time = QDateTime(today, QTime(19, 7, 1));  // 2:14:59 to go
        QTRY_COMPARE(f.schedule->startText(), QStringLiteral("Starts at 21:22 (in 2 h 15 min)"));
        f.clock->time = QDateTime(today, QTime(19, 8));
        QTRY_COMPARE(f.schedule->startText(), QStringLiteral("Starts at 21:22 (in 2 h 14 min)"));
        f.clock->time = QDateTime(today, QTime(21, 20, 45));
        QTRY_COMPARE(f.schedule->startText(), QStringLiteral("Starts at 21:22 (in 2 min)"));

        f.tickStart();
        QCOMPARE(f.schedule->startText(), QString());
        f.clock->time = QDateTime(today, QTime(21, 30));
        f.schedule->showNextStart(QTime(21, 22));
        f.tickStart();
        QCOMPARE(f.schedule->startText(),
                 QStringLiteral("Starts tomorrow at 21:22 (in 23 h 52 min)"));
        f.setStart(QDateTime(today.addDays(6), QTime(21, 22)));
        QTRY_COMPARE(f.schedule->startText(),
                     QStringLiteral("Starts on 20/03/2026 at 21:22 (in 6 d)"));
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
        f.tickStart();
        f.clock->time = f.clock->time.addSecs(-2 * 60 * 60);
        QVERIFY(f.clockReadAgain());
        f.clock->time = at.addSecs(-1);
        QVERIFY(f.clockReadAgain());
        f.clock->time = at.addSecs(-3 * 60 * 60);
        QVERIFY(f.clockReadAgain());
        QVERIFY(f.requests.isEmpty());
        QVERIFY(f.schedule->startTicked());
        // The timer's step ends within a minute: set forward, the clock is seen within one.
        f.clock->time = at.addSecs(5 * 60);
        QVERIFY(testing::timersDueWithin(2 * kMinuteMs));
        QCOMPARE(f.requests, QList<QDateTime>{at.addSecs(5 * 60)});
        QVERIFY(!f.schedule->startTicked());

        f.setPlaying(false);
        const QDateTime next = f.clock->time.addDays(1);
        f.setStart(next);
        f.tickStart();
        QVERIFY(f.schedule->willStart());
        f.clock->time = next.addSecs(ScheduledStart::kLatestStartMinutes * 60);
        QTRY_VERIFY(!f.schedule->willStart());
        QVERIFY(!f.schedule->startTicked());
        QCOMPARE(f.requests.size(), 1);
    }

    void startDue_whilePlayingOrExporting_isDroppedAndUnticks() {
        for (bool exporting : {false, true}) {
            Fixture f;
            f.playing = !exporting;
            f.saving = exporting;
            QSignalSpy fired(f.schedule.get(), &Schedule::startFired);
            f.setStart(f.clock->time.addSecs(-1));
            f.tickStart();
            QVERIFY(fired.wait());
            QVERIFY(f.requests.isEmpty());
            QVERIFY(!f.schedule->startTicked());
        }
    }

    void startUnticked_beforeTime_cancelsAndRetickRearms() {
        Fixture f;
        const QDateTime at = f.clock->time.addSecs(60);
        f.setStart(at);
        f.tickStart();
        f.tickStart();
        QVERIFY(!f.schedule->willStart());
        f.clock->time = at.addSecs(120);
        // A start timer left running (due 10 ms after the tick) would look at the clock and start.
        const int reads = f.clock->reads;
        QVERIFY(testing::timersDueWithin(2 * kMinuteMs));
        QCOMPARE(f.clock->reads, reads);
        QVERIFY(f.requests.isEmpty());

        f.tickStart();  // the date now lies in the past: due at once
        QTRY_COMPARE(f.requests.size(), 1);
    }

    void dateOrTimeChanged_whileUnticked_armsNothing() {
        Fixture f;
        // Arming reads the clock: the schedule never looks at it.
        const int reads = f.clock->reads;
        f.setStart(f.clock->time.addDays(-2));
        f.setStart(QDateTime(f.schedule->startDate(), QTime(1, 2, 3)));
        QVERIFY(!f.schedule->willStart());
        QVERIFY(testing::timersDueWithin(2 * kMinuteMs));  // a past start would have fired at once
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
            f.schedule->showNextStart(QTime(2, 30));
            QCOMPARE(f.schedule->startDate(), expected);
            QCOMPARE(f.schedule->startTime(), QTime(2, 30));
        }

        Fixture f(QDateTime(day, QTime(1, 59), berlin));
        f.setStart(QDateTime(day, QTime(2, 30)));
        f.tickStart();
        QCOMPARE(f.schedule->startsAt(), jump);
        QVERIFY(f.clockReadAgain());
        QVERIFY(f.requests.isEmpty());
        f.clock->time = jump.addSecs(-1);
        QVERIFY(f.clockReadAgain());
        QVERIFY(f.requests.isEmpty());
        f.clock->time = jump;
        QTRY_COMPARE(f.requests.size(), 1);
        QCOMPARE(f.requests[0], jump);
    }

    void dateChanged_whileTicked_rearmsFromTheFields() {
        Fixture f;
        f.setStart(f.clock->time.addDays(2));
        f.tickStart();
        QVERIFY(f.schedule->willStart());
        f.setStart(f.clock->time.addDays(-2));  // now in the past
        QTRY_COMPARE(f.requests.size(), 1);
    }

    // Repeating, a start that fires moves to the next day and stays armed, and so does one
    // missed while the computer slept, said beside the next. Without it, a fired start is unticked
    // with its date moved on all the same: ticked again the next evening, it waits for the morning.
    void repeatingStart_staysArmedForTheNextDay_aOneOffMovesItsDateToo() {
        Fixture f;
        const QDateTime seven(f.clock->time.date().addDays(1), QTime(7, 0));
        f.schedule->setRepeatsDaily(true);
        f.setStart(seven);
        f.tickStart();
        QSignalSpy armed(f.schedule.get(), &Schedule::startArmedChanged);
        f.clock->time = seven;
        QTRY_COMPARE(f.requests, QList<QDateTime>{seven});
        QVERIFY(f.schedule->startTicked());
        QCOMPARE(f.schedule->startsAt(), seven.addDays(1));
        QCOMPARE(f.schedule->startDate(), seven.date().addDays(1));
        f.setPlaying(false);
        f.clock->time = seven.addDays(1).addSecs(150 * 60);
        QTRY_COMPARE(f.schedule->startsAt(), seven.addDays(2));
        QVERIFY(f.schedule->startTicked());
        QVERIFY(
            f.schedule->startText().startsWith(QStringLiteral("The start at 07:00 was missed")));
        QCOMPARE(f.requests.size(), 1);
        QVERIFY(armed.isEmpty());  // the computer was kept awake throughout

        f.schedule->setRepeatsDaily(false);
        f.clock->time = seven.addDays(2);
        QTRY_COMPARE(f.requests.size(), 2);
        QVERIFY(!f.schedule->startTicked());
        QCOMPARE(f.schedule->startDate(), seven.date().addDays(3));
        f.setPlaying(false);
        f.advance(14 * 60 * 60);
        f.tickStart();
        QVERIFY(testing::timersDueWithin(3 * kMinuteMs));
        QCOMPARE(f.requests.size(), 2);
        QVERIFY(f.schedule->willStart());
    }

    // Each minute check sees the clock as the test set it: the first check at or after the stop
    // time carries the stop out, none before.
    void stopChecked_twoMinutes_stopsAtTheFirstCheckAtItsTime() {
        Fixture f;
        f.playing = true;
        f.schedule->setMinutes(2);
        QSignalSpy checks(f.schedule.get(), &Schedule::stopChecked);
        f.tickStop();
        const QDateTime stopTime = f.schedule->stopTime();
        QCOMPARE(stopTime, f.clock->time.addSecs(120));
        for (int minute = 0; minute < 2; ++minute) {
            QVERIFY(checks.wait());
            QVERIFY(f.requests.isEmpty());
            QVERIFY(f.schedule->stopTicked());
            f.advance(60);
        }
        QVERIFY(checks.wait());
        QCOMPARE(f.requests, QList<QDateTime>{stopTime});
        QVERIFY(!f.playing);
        QVERIFY(!f.schedule->stopTicked());
        QVERIFY(!f.schedule->willStop());
    }

    // Any whole number of minutes: 0 or fewer fall due at the first check, and the largest is a
    // time ahead, not one wrapped into the past.
    void stopChecked_zeroOrNegative_stopsAtTheFirstCheck_largeOnesLieAhead() {
        for (const int minutes : {0, -5, std::numeric_limits<int>::min()}) {
            Fixture f;
            f.playing = true;
            f.schedule->setMinutes(minutes);
            QSignalSpy checks(f.schedule.get(), &Schedule::stopChecked);
            f.tickStop();
            QVERIFY(f.requests.isEmpty());  // not at arming: at the first check
            QVERIFY(checks.wait());
            QCOMPARE(f.requests.size(), 1);
            QCOMPARE(checks.size(), 1);
        }
        Fixture f;
        for (const int minutes : {2000, std::numeric_limits<int>::max()}) {
            f.schedule->setMinutes(minutes);
            f.schedule->setStopTicked(true);
            QCOMPARE(f.schedule->stopTime(), f.clock->time.addSecs(minutes * 60LL));
        }
    }

    // Ticked together at 21:00 for a start at 08:00 and a stop after 45 minutes: the stop counts
    // from its tick, falls due at 21:45 with nothing playing and only unticks, dropping the fade
    // planned with it; the morning's sound then plays on.
    void startAndStopTickedInTheEvening_theStopFallsDueFirstAndOnlyUnticks() {
        Fixture f;
        f.schedule->setMinutes(45);
        f.schedule->setFadeMinutes(10);
        f.tickStop();
        QCOMPARE(f.fades.last(), (std::pair{45 * kMinuteMs / 1000.0, 10 * kMinuteMs / 1000.0}));
        const QDateTime morning(f.clock->time.date().addDays(1), QTime(8, 0));
        f.setStart(morning);
        f.tickStart();
        QCOMPARE(f.schedule->stopTime(), f.clock->time.addSecs(45 * 60));
        f.advance(45 * 60);
        QTRY_VERIFY(!f.schedule->stopTicked());
        QVERIFY(f.requests.isEmpty());
        QCOMPARE(f.fades.last(), (std::pair{0.0, 0.0}));
        f.clock->time = morning;
        QTRY_COMPARE(f.requests, QList<QDateTime>{morning});
        QVERIFY(testing::timersDueWithin(3 * kMinuteMs));
        QCOMPARE(f.requests.size(), 1);
    }

    // Ticked during a playback that is stopped by hand and started again, the stop keeps its
    // time and acts once: the playback running then stops, and a later one plays on.
    void stopTicked_playbackRestarted_keepsItsTimeAndFiresOnce() {
        Fixture f;
        f.playing = true;
        f.schedule->setMinutes(10);
        f.tickStop();
        const QDateTime due = f.clock->time.addSecs(10 * 60);
        f.advance(3 * 60);
        f.setPlaying(false);
        f.advance(60);
        f.setPlaying(true);
        QVERIFY(testing::timersDueWithin(2 * kMinuteMs));
        QCOMPARE(f.schedule->stopTime(), due);
        f.clock->time = due;
        QTRY_COMPARE(f.requests, QList<QDateTime>{due});
        QVERIFY(!f.schedule->stopTicked());
        f.setPlaying(true);
        f.advance(20 * 60);
        QVERIFY(testing::timersDueWithin(3 * kMinuteMs));
        QCOMPARE(f.requests.size(), 1);
    }

    void minutesEdited_whileArmed_restartsTheDelayFromTheEdit() {
        Fixture f;
        f.playing = true;
        f.schedule->setMinutes(2);
        QSignalSpy checks(f.schedule.get(), &Schedule::stopChecked);
        f.tickStop();
        f.advance(60);
        QVERIFY(checks.wait());
        QVERIFY(f.requests.isEmpty());
        f.schedule->setMinutes(3);
        const QDateTime restarted = f.schedule->stopTime();
        QCOMPARE(restarted, f.clock->time.addSecs(180));
        f.advance(120);  // the old stop time has passed; the new one has not
        QVERIFY(checks.wait());
        QVERIFY(f.requests.isEmpty());
        f.advance(60);
        QVERIFY(checks.wait());
        QCOMPARE(f.requests, QList<QDateTime>{restarted});
    }

    void stopDue_whileBlocked_firesOnceWhenUnblocked() {
        Fixture f;
        f.playing = true;
        f.schedule->setMinutes(0);
        f.blocked = true;
        QSignalSpy checks(f.schedule.get(), &Schedule::stopChecked);
        f.tickStop();
        f.advance(5 * 60);
        // Checks come due while the dialog is up and are held back.
        QVERIFY(testing::timersDueWithin(2 * kMinuteMs));
        QVERIFY(checks.isEmpty());
        QVERIFY(f.requests.isEmpty());
        QVERIFY(f.schedule->stopTicked());

        f.blocked = false;
        QVERIFY(checks.wait());
        QCOMPARE(f.requests.size(), 1);
        QVERIFY(!f.schedule->stopTicked());
        QVERIFY(!f.schedule->willStop());
        QVERIFY(testing::timersDueWithin(2 * kMinuteMs));
        QCOMPARE(f.requests.size(), 1);
    }

    void stopText_armedStop_countsDownToTheCheckThatStops() {
        Fixture f;
        f.playing = true;
        f.schedule->setMinutes(45);
        f.tickStop();
        QCOMPARE(f.schedule->stopText(), QStringLiteral("Stops at 21:45 (in 45 min)"));
        f.advance(44 * 60 + 30);
        QTRY_COMPARE(f.schedule->stopText(), QStringLiteral("Stops at 21:45 (in 30 s)"));
        f.tickStop();
        QCOMPARE(f.schedule->stopText(), QString());
    }

    void fadeOut_armedStop_endsAtTheStopAndTheCountdownSaysWhenItBegins() {
        Fixture f;
        // Real seconds per schedule minute in this test.
        constexpr double kMinute = kMinuteMs / 1000.0;
        const auto lastFade = [&f](double toEnd, double seconds) {
            return std::abs(f.fades.last().first - toEnd) < 1e-9 &&
                   std::abs(f.fades.last().second - seconds) < 1e-9;
        };
        f.playing = true;
        f.schedule->setMinutes(45);
        f.schedule->setFadeMinutes(10);
        f.fades.clear();
        f.tickStop();
        QCOMPARE(f.fades.size(), 1);
        QVERIFY(lastFade(45 * kMinute, 10 * kMinute));
        QCOMPARE(
            f.schedule->stopText(),
            QStringLiteral("Fade-out begins at 21:35 (in 35 min), stops at 21:45 (in 45 min)"));
        f.advance(36 * 60);
        QTRY_COMPARE(f.schedule->stopText(),
                     QStringLiteral("Fading out, stops at 21:45 (in 9 min)"));

        // The stop is carried out as ever, and the fade is left to its end.
        f.advance(9 * 60);
        QTRY_COMPARE(f.requests.size(), 1);
        QCOMPARE(f.fades.size(), 1);

        // A fade longer than the delay takes all of it; choosing none or disarming drops it.
        // Ticked while nothing plays, the fade is planned at once, for a sound started later.
        QVERIFY(!f.playing);
        f.schedule->setMinutes(5);
        f.tickStop();
        QVERIFY(lastFade(5 * kMinute, 5 * kMinute));
        QCOMPARE(f.schedule->stopText(), QStringLiteral("Fading out, stops at 21:50 (in 5 min)"));
        f.schedule->setFadeMinutes(0);
        QVERIFY(lastFade(0.0, 0.0));
        QCOMPARE(f.schedule->stopText(), QStringLiteral("Stops at 21:50 (in 5 min)"));
        f.schedule->setFadeMinutes(1);
        QVERIFY(lastFade(5 * kMinute, 1 * kMinute));
        f.tickStop();
        QVERIFY(lastFade(0.0, 0.0));
        // A value that is not among the choices is off.
        f.schedule->setFadeMinutes(7);
        QCOMPARE(f.schedule->fadeMinutes(), 0);
    }

    // A start with a fade-in asks for a rising start instead of the short fade-in, and the status
    // line says when the sound reaches full level until it has.
    void fadeIn_armedStart_startsRisingAndSaysWhenFullLevelComes() {
        Fixture f;
        f.schedule->setRiseMinutes(10);
        const QDateTime at = f.clock->time.addSecs(120);
        f.setStart(at);
        f.tickStart();
        f.riseLeft = 10 * kMinuteMs / 1000.0;  // the host's word once the sound plays
        f.clock->time = at;
        QTRY_COMPARE(f.rises.size(), 1);
        QVERIFY(f.requests.isEmpty());
        QCOMPARE(f.rises[0], 10 * kMinuteMs / 1000.0);
        QTRY_COMPARE(f.schedule->startText(), QStringLiteral("Fading in, full level at 21:12"));
        f.riseLeft = 0.0;
        f.advance(10 * 60);
        QTRY_COMPARE(f.schedule->startText(), QString());

        // Off, the start is the short fade-in of the button; a value not among the choices is off.
        f.setPlaying(false);
        f.schedule->setRiseMinutes(7);
        QCOMPARE(f.schedule->riseMinutes(), 0);
        f.setStart(f.clock->time.addSecs(60));
        f.tickStart();
        f.advance(60);
        QTRY_COMPARE(f.requests.size(), 1);
        QCOMPARE(f.rises.size(), 1);
    }
};

QTEST_GUILESS_MAIN(ScheduleTest)
#include "schedule_test.moc"
