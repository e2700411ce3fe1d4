// SPDX-License-Identifier: GPL-3.0-or-later
// A stop a number of minutes after it is armed, checked once a minute: the first check at or after
// its time finds it due, never an earlier one, so 0 minutes or fewer fall due at the first check.
// It knows nothing of sound: its owner says what a stop does. A check that comes due while the
// owner says it is blocked (a modal dialog or an open menu runs) is held back and runs once when
// that has gone.
#pragma once

#include <QDateTime>
#include <QObject>
#include <functional>

#include "model/WallClock.h"

class QTimer;

namespace brinesong {

class ScheduledStop : public QObject {
    Q_OBJECT
public:
    static constexpr int kMinuteMs = 60000;

    // `minuteMs`: real milliseconds per minute of `clock` (tests shorten it). `isBlocked` may be
    // empty: never blocked.
    ScheduledStop(Clock clock, std::function<bool()> isBlocked, int minuteMs = kMinuteMs,
                  QObject* parent = nullptr);

    // Arms (or re-arms) the stop `minutes` from now; any number of minutes, negative included.
    void arm(int minutes);
    void disarm();
    // Runs a check now, as the minute timer does once nothing blocks it.
    void check();

    bool armed() const { return armed_; }
    QDateTime armedAt() const { return armedAt_; }
    // When the stop's minutes have passed, and when the check that finds it due comes.
    QDateTime stopTime() const { return stopTime_; }
    QDateTime dueAt() const { return dueAt_; }
    // When a fade-out of `minutes` that ends at the stop begins; a fade longer than the delay takes
    // all of it. Null when not armed or without a fade.
    QDateTime fadeBegins(int minutes) const;

signals:
    // The stop falls due; it is disarmed by then. Once per arming.
    void due();
    // After each check, whatever it found.
    void checked();

private:
    void minutePassed();
    void unblocked();

    Clock clock_;
    std::function<bool()> isBlocked_;
    QTimer* timer_;
    QTimer* heldBackTimer_;
    QDateTime armedAt_;
    QDateTime stopTime_;
    QDateTime dueAt_;
    bool armed_ = false;
    bool heldBack_ = false;
};

}  // namespace brinesong
