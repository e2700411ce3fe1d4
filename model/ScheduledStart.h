// SPDX-License-Identifier: GPL-3.0-or-later
// A start at a date and time of day on the wall clock, and the decision when it comes: whether
// it comes now, waits on, or was missed. It knows nothing of sound or controls: its owner says
// what a start does (the window's schedule plays, a headless player would too).
//
// The start is the first instant at which the clocks of the clock's time zone show the date and
// time (see WallClock.h). A time already past is due at once. Qt's timers count on the monotonic
// clock, which stands still while the computer sleeps and knows nothing of the wall clock being
// set, so the wait looks at the wall clock at least once a minute, and at once when the computer
// wakes (resumed()): a start never comes early, and at most a minute late. Found
// kLatestStartMinutes or more behind its time (the computer slept through it, or the clock was set
// past it), it is not played hours late: it is missed.
//
// A start fires once per arming: fired or missed, it is disarmed and its date moves to the next
// day its time comes, so arming it again waits for that rather than coming at once. Repeating
// daily, it stays armed for that next day instead.
#pragma once

#include <QDateTime>
#include <QObject>

#include "model/WallClock.h"

class QTimer;

namespace brinesong {

class ScheduledStart : public QObject {
    Q_OBJECT
public:
    static constexpr int kMinuteMs = 60000;
    // A start found due this late or later (in the clock's minutes) is missed, not played.
    static constexpr int kLatestStartMinutes = 10;

    // `minuteMs`: real milliseconds per minute of `clock`; only tests shorten it, with a clock
    // running as fast.
    ScheduledStart(Clock clock, int minuteMs = kMinuteMs, QObject* parent = nullptr);

    // Arms (or re-arms) for `date` and `time`. With `holdIfPast`, a time already past waits for
    // arm() again rather than coming at once: a value passed on the way to another.
    void arm(QDate date, QTime time, bool holdIfPast = false);
    // Arms for the next time the clocks show `timeOfDay`: today, or tomorrow once it has passed.
    void armNext(QTime timeOfDay);
    void disarm();
    void setRepeatsDaily(bool repeats) { repeats_ = repeats; }
    bool repeatsDaily() const { return repeats_; }

    // The computer woke from sleep: an armed start is decided now from the wall clock.
    void resumed();

    bool armed() const { return armed_; }
    // Armed for a time already past that waits to be armed again.
    bool held() const { return armed_ && held_; }
    // The date and time armed last (moved on after a firing), and the instant they name.
    QDate date() const { return date_; }
    QTime time() const { return time_; }
    QDateTime at() const { return at_; }

signals:
    // The start comes now; `at` is when it was set for. Its date has moved on by then.
    void due(const QDateTime& at);
    // Found too late: dropped.
    void missed(const QDateTime& at);
    // Armed, or no longer (fired, missed, disarmed). After due(): the owner has started what
    // it starts, so nothing that follows this sees a gap.
    void armedChanged(bool armed);

private:
    void wait();
    void decide();
    void finish(bool wasMissed);

    Clock clock_;
    int minuteMs_;
    QTimer* timer_;
    QDate date_;
    QTime time_;
    QDateTime at_;
    QDateTime dueFrom_;  // when it is first due: its time, or its arming if later
    bool armed_ = false;
    bool held_ = false;
    bool repeats_ = false;
};

}  // namespace brinesong
