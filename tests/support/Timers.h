// SPDX-License-Identifier: GPL-3.0-or-later
// Deciding "nothing happened" by the order of timers, not by a guess at how long is enough.
#pragma once

#include <QSignalSpy>
#include <QTimer>

namespace brinesong::testing {

// Runs the event loop until every timer started so far that falls due within `ms` has fired: a
// precise timer of the test's own, started now, fires after them, since the event loop fires due
// timers in the order they fall due (the schedule's timers are precise too).
inline bool timersDueWithin(int ms) {
    QTimer marker;
    marker.setTimerType(Qt::PreciseTimer);
    marker.setSingleShot(true);
    QSignalSpy fired(&marker, &QTimer::timeout);
    marker.start(ms);
    return fired.wait(20000);
}

}  // namespace brinesong::testing
