// SPDX-License-Identifier: GPL-3.0-or-later
#include "ScheduledStart.h"

#include <QTimer>
#include <algorithm>

namespace brinesong {

ScheduledStart::ScheduledStart(Clock clock, int minuteMs, QObject* parent)
    : QObject(parent),
      clock_(std::move(clock)),
      minuteMs_(std::max(1, minuteMs)),
      timer_(new QTimer(this)) {
    // Coarse timers may fire up to 5% early.
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &ScheduledStart::decide);
}

void ScheduledStart::arm(QDate date, QTime time, bool holdIfPast) {
    const QDateTime now = clock_();
    date_ = date;
    time_ = time;
    at_ = instantShowing(now, date, time);
    // A start armed for a time already past is due now, not late.
    dueFrom_ = std::max(at_, now);
    timer_->stop();
    const bool wasArmed = armed_;
    armed_ = true;
    held_ = holdIfPast && at_ <= now;
    if (!wasArmed) {
        emit armedChanged(true);
    }
    if (!held_) {
        wait();
    }
}

void ScheduledStart::armNext(QTime timeOfDay) {
    arm(nextDateShowing(clock_(), timeOfDay), timeOfDay);
}

void ScheduledStart::disarm() {
    timer_->stop();
    held_ = false;
    if (armed_) {
        armed_ = false;
        emit armedChanged(false);
    }
}

void ScheduledStart::resumed() {
    if (armed_ && !held_) {
        timer_->stop();
        decide();
    }
}

void ScheduledStart::wait() {
    // In steps of at most a minute, each looking at the wall clock again. A date already past
    // fires at the next pass of the event loop.
    const qint64 clockMs = std::clamp<qint64>(clock_().msecsTo(at_), 0, kMinuteMs);
    timer_->start(static_cast<int>(clockMs * minuteMs_ / kMinuteMs));
}

void ScheduledStart::decide() {
    const QDateTime now = clock_();
    if (now < at_) {
        wait();  // a step of the wait, or the wall clock was set back
        return;
    }
    finish(dueFrom_.secsTo(now) >= kLatestStartMinutes * 60LL);
}

void ScheduledStart::finish(bool wasMissed) {
    const QDateTime at = at_;
    const QDateTime now = clock_();
    // The next day its time comes, never this one again (a start fired at its very second would
    // otherwise be due once more).
    QDate next = nextDateShowing(now, time_);
    if (next <= date_) {
        next = date_.addDays(1);
    }
    date_ = next;
    held_ = false;
    timer_->stop();
    if (repeats_) {
        at_ = instantShowing(now, date_, time_);
        dueFrom_ = at_;
        wait();
    } else {
        armed_ = false;
    }
    if (wasMissed) {
        emit missed(at);
    } else {
        emit due(at);
    }
    if (!armed_) {
        emit armedChanged(false);
    }
}

}  // namespace brinesong
