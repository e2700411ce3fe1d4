#include <QCheckBox>
#include <QDateEdit>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTimeEdit>
#include <QtTest>
#include <memory>

#include "app/Scheduler.h"

using namespace brinesong;

namespace {

// One scheduler minute lasts this many real milliseconds; the simulated clock runs as fast.
constexpr int kMinuteMs = 40;

// A wall clock that starts at a chosen time and runs kMinuteMs real milliseconds per minute, or
// stands still when frozen and moves only when told.
struct TestClock {
    QDateTime start;
    QElapsedTimer elapsed;
    bool frozen = false;
    qint64 offsetMs = 0;

    QDateTime now() const {
        const qint64 simulated =
            frozen ? 0 : elapsed.elapsed() * (Scheduler::kMinuteMs / kMinuteMs);
        return start.addMSecs(simulated + offsetMs);
    }
};

// The main window's schedule controls, a scheduler on them, and a record of its play/stop
// requests with the simulated time of each.
struct Fixture {
    explicit Fixture(QDateTime start = QDateTime(QDate(2026, 3, 14), QTime(21, 0, 0)),
                     bool frozen = false) {
        clock = std::make_shared<TestClock>();
        clock->start = start;
        clock->frozen = frozen;
        clock->elapsed.start();
        scheduler = std::make_unique<Scheduler>(
            [c = clock] { return c->now(); },
            SchedulerHost{[this] {
                              requests.append(clock->now());
                              playing = !playing;
                          },
                          [this] { return playing; }, [this] { return saving; }},
            kMinuteMs);
        scheduler->attach(&date, &time, &minutes, &startBox, &stopBox, &timeLeft);
        time.setDisplayFormat(QStringLiteral("HH:mm:ss"));
    }
    void setStart(const QDateTime& when) {
        date.setDate(when.date());
        time.setTime(when.time());
    }
    void setMinutes(int value) { minutes.setText(QString::number(value)); }

    std::shared_ptr<TestClock> clock;
    QDateEdit date;
    QTimeEdit time;
    QLineEdit minutes;
    QCheckBox startBox;
    QCheckBox stopBox;
    QLabel timeLeft;
    std::unique_ptr<Scheduler> scheduler;
    QList<QDateTime> requests;
    bool playing = false;
    bool saving = false;
};

}  // namespace

class SchedulerTest : public QObject {
    Q_OBJECT
private slots:
    void showNextStart_aroundTheSavedTime_movesOnlyAStrictlyLaterNowToTomorrow() {
        const QDate today(2026, 3, 14);
        const QTime eight(8, 0, 0);
        for (const auto& [now, expected] :
             {std::pair{QTime(7, 59, 59), today}, std::pair{QTime(8, 0, 0), today},
              std::pair{QTime(8, 0, 1), today.addDays(1)}}) {
            Fixture f(QDateTime(today, now), true);
            f.scheduler->showNextStart(eight);
            QCOMPARE(f.date.date(), expected);
            QCOMPARE(f.time.time(), eight);
        }
    }

    void startChecked_dateAlreadyPast_startsAtOnceAndUnticks() {
        Fixture f;
        f.setStart(f.clock->now().addDays(-1));
        f.startBox.click();
        QVERIFY(f.scheduler->willStart());
        QTRY_COMPARE(f.requests.size(), 1);
        QVERIFY(!f.startBox.isChecked());
        QVERIFY(!f.scheduler->willStart());
    }

    void startChecked_timeAhead_startsNotBeforeIt() {
        Fixture f;
        const QDateTime at = f.clock->now().addSecs(120);
        f.setStart(at);
        f.startBox.click();
        QTRY_COMPARE(f.requests.size(), 1);
        QVERIFY(f.requests[0] >= at);
        QVERIFY(f.playing);
        QVERIFY(!f.startBox.isChecked());
    }

    void startDue_whilePlayingOrExporting_isDroppedAndUnticks() {
        for (bool exporting : {false, true}) {
            Fixture f;
            f.playing = !exporting;
            f.saving = exporting;
            QSignalSpy fired(f.scheduler.get(), &Scheduler::startFired);
            f.setStart(f.clock->now().addSecs(-1));
            f.startBox.click();
            QVERIFY(fired.wait());
            QVERIFY(f.requests.isEmpty());
            QVERIFY(!f.startBox.isChecked());
        }
    }

    void startUnticked_beforeTime_cancelsAndRetickRearms() {
        Fixture f;
        const QDateTime at = f.clock->now().addSecs(60);
        f.setStart(at);
        f.startBox.click();
        f.startBox.click();
        QVERIFY(!f.scheduler->willStart());
        QTRY_VERIFY(f.clock->now() > at.addSecs(120));
        QTest::qWait(2 * kMinuteMs);
        QVERIFY(f.requests.isEmpty());

        f.startBox.click();  // the date now lies in the past: due at once
        QTRY_COMPARE(f.requests.size(), 1);
    }

    void dateOrTimeChanged_whileUnticked_armsNothing() {
        Fixture f;
        f.setStart(f.clock->now().addDays(-2));
        f.time.setTime(QTime(1, 2, 3));
        QVERIFY(!f.scheduler->willStart());
        QTest::qWait(3 * kMinuteMs);
        QVERIFY(f.requests.isEmpty());
    }

    void dateChanged_whileTicked_rearmsFromTheFields() {
        Fixture f;
        f.setStart(f.clock->now().addDays(2));
        f.startBox.click();
        QVERIFY(f.scheduler->willStart());
        f.date.setDate(f.date.date().addDays(-4));  // now in the past
        QTRY_COMPARE(f.requests.size(), 1);
    }

    void stopChecked_twoMinutes_stopsAtTheSecondCheck() {
        Fixture f;
        f.playing = true;
        f.setMinutes(2);
        QSignalSpy checks(f.scheduler.get(), &Scheduler::stopChecked);
        f.stopBox.click();
        const QDateTime stopTime = f.scheduler->stopTime();
        QTRY_COMPARE(f.requests.size(), 1);
        QCOMPARE(checks.size(), 2);
        QVERIFY(f.requests[0] >= stopTime);
        QVERIFY(!f.playing);
        QVERIFY(!f.stopBox.isChecked());
        QVERIFY(!f.scheduler->willStop());
    }

    void stopChecked_zeroNegativeOrNoNumber_stopsAtTheFirstCheck() {
        for (const QString& text :
             {QStringLiteral("0"), QStringLiteral("-5"), QStringLiteral("x")}) {
            Fixture f;
            f.playing = true;
            f.minutes.setText(text);
            QSignalSpy checks(f.scheduler.get(), &Scheduler::stopChecked);
            f.stopBox.click();
            QTRY_COMPARE(f.requests.size(), 1);
            QCOMPARE(checks.size(), 1);
        }
    }

    void stopDue_whileStopped_onlyUnticks() {
        Fixture f;
        f.setMinutes(1);
        QSignalSpy checks(f.scheduler.get(), &Scheduler::stopChecked);
        f.stopBox.click();
        QTRY_VERIFY(!f.stopBox.isChecked());
        QVERIFY(f.requests.isEmpty());
    }

    void minutesEdited_whileArmed_restartsTheDelayFromTheEdit() {
        Fixture f;
        f.playing = true;
        f.setMinutes(2);
        QSignalSpy checks(f.scheduler.get(), &Scheduler::stopChecked);
        f.stopBox.click();
        QVERIFY(checks.wait());
        QVERIFY(f.requests.isEmpty());
        f.minutes.selectAll();
        QTest::keyClicks(&f.minutes, QStringLiteral("3"));
        const QDateTime restarted = f.scheduler->stopTime();
        QTRY_COMPARE(f.requests.size(), 1);
        QVERIFY(f.requests[0] >= restarted);
    }

    void timersDue_duringModalDialog_fireOnceWhenItCloses() {
        Fixture f;
        f.playing = true;
        f.setMinutes(0);
        QDialog dialog;
        dialog.setModal(true);
        dialog.open();
        QVERIFY(QApplication::activeModalWidget() == &dialog);
        f.stopBox.click();
        // Several minute checks come due while the dialog is up.
        QTRY_VERIFY(f.clock->now() > QDateTime(f.clock->start).addSecs(5 * 60));
        QVERIFY(f.requests.isEmpty());
        QVERIFY(f.stopBox.isChecked());

        dialog.close();
        QTRY_COMPARE(f.requests.size(), 1);
        QTest::qWait(5 * kMinuteMs);
        QCOMPARE(f.requests.size(), 1);
        QVERIFY(!f.stopBox.isChecked());
    }

    void timeLeft_armedStop_countsDownToTheCheckThatStops() {
        Fixture f(QDateTime(QDate(2026, 3, 14), QTime(21, 0, 0)), true);
        f.setMinutes(45);
        f.stopBox.click();
        QCOMPARE(f.timeLeft.text(), QStringLiteral("Stops in 0:45:00"));
        f.clock->offsetMs = (44 * 60 + 30) * 1000;
        QTRY_COMPARE(f.timeLeft.text(), QStringLiteral("Stops in 0:00:30"));
        f.stopBox.click();
        QCOMPARE(f.timeLeft.text(), QString());
    }

    void leadingInteger_textFieldReading() {
        QCOMPARE(Scheduler::leadingInteger(QStringLiteral(" 12 min")), 12);
        QCOMPARE(Scheduler::leadingInteger(QStringLiteral("-3")), -3);
        QCOMPARE(Scheduler::leadingInteger(QStringLiteral("+7")), 7);
        QCOMPARE(Scheduler::leadingInteger(QStringLiteral("abc")), 0);
        QCOMPARE(Scheduler::leadingInteger(QString()), 0);
        QCOMPARE(Scheduler::leadingInteger(QStringLiteral("99999999999999")), INT_MAX);
    }
};

QTEST_MAIN(SchedulerTest)
#include "scheduler_test.moc"
