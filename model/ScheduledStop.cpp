// SPDX-License-Identifier: GPL-3.0-or-later
#include "ScheduledStop.h"

#include <QTimer>
#include <algorithm>

namespace brinesong {

namespace {
// How often a held-back check looks whether the dialog or menu has gone.
constexpr int kHeldBackPollMs = 100;
}  // namespace

ScheduledStop::ScheduledStop(Clock clock, std::function<bool()> isBlocked, int minuteMs,
                             QObject* parent)
    : QObject(parent),
      clock_(std::move(clock)),
      isBlocked_(std::move(isBlocked)),
      timer_(new QTimer(this)),
      heldBackTimer_(new QTimer(this)) {
    // Coarse timers may fire up to 5% early, which would make a check miss its stop by a minute.
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(std::max(1, minuteMs));
    heldBackTimer_->setInterval(kHeldBackPollMs);
    connect(timer_, &QTimer::timeout, this, &ScheduledStop::minutePassed);
    connect(heldBackTimer_, &QTimer::timeout, this, &ScheduledStop::unblocked);
}

void ScheduledStop::arm(int minutes) {
    const QDateTime now = clock_();
    armedAt_ = now;
    // In 64 bits: any 32-bit number of minutes is a time QDateTime holds.
    stopTime_ = now.addSecs(static_cast<qint64>(minutes) * 60);
    // Checks come every minute from now; the first at or after the stop time carries it out.
    dueAt_ = now.addSecs(static_cast<qint64>(std::max(1, minutes)) * 60);
    armed_ = true;
    heldBack_ = false;
    heldBackTimer_->stop();
    timer_->start();
}

void ScheduledStop::disarm() {
    armed_ = false;
    heldBack_ = false;
    timer_->stop();
    heldBackTimer_->stop();
    stopTime_ = {};
    dueAt_ = {};
}

void ScheduledStop::minutePassed() {
    if (isBlocked_ && isBlocked_()) {
        heldBack_ = true;
        if (!heldBackTimer_->isActive()) {
            heldBackTimer_->start();
        }
        return;
    }
    check();
}

void ScheduledStop::unblocked() {
    if (isBlocked_ && isBlocked_()) {
        return;
    }
    heldBackTimer_->stop();
    if (heldBack_) {
        heldBack_ = false;
        check();
    }
}

void ScheduledStop::check() {
    if (!armed_) {
        return;
    }
    if (clock_() < stopTime_) {
        emit checked();
        return;
    }
    armed_ = false;
    timer_->stop();
    emit due();
    emit checked();
}

QDateTime ScheduledStop::fadeBegins(int minutes) const {
    if (!armed_ || minutes <= 0) {
        return {};
    }
    return std::max(armedAt_, dueAt_.addSecs(-static_cast<qint64>(minutes) * 60));
}

}  // namespace brinesong
