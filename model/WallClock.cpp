// SPDX-License-Identifier: GPL-3.0-or-later
#include "WallClock.h"

#include <QTimeZone>

namespace brinesong {

Clock systemClock() {
    return [] { return QDateTime::currentDateTime(); };
}

QDateTime instantShowing(const QDateTime& reference, QDate date, QTime time) {
    const QTimeZone zone = reference.timeZone();
    const QDateTime composed(date, time, zone);
    if (composed.isValid() && composed.date() == date && composed.time() == time) {
        return composed;
    }
    // The clocks' reading as if it were UTC, to hold against each transition's gap.
    const QDateTime shown(date, time, Qt::UTC);
    for (QTimeZone::OffsetData change = zone.nextTransition(shown.addDays(-2));
         change.atUtc.isValid() && change.atUtc < shown.addDays(2);
         change = zone.nextTransition(change.atUtc)) {
        const int before = zone.offsetFromUtc(change.atUtc.addSecs(-1));
        if (shown >= change.atUtc.addSecs(before) &&
            shown < change.atUtc.addSecs(change.offsetFromUtc)) {
            return change.atUtc.toTimeZone(zone);
        }
    }
    // A zone that tells no transitions: read with the offset in force the day before.
    return shown.addSecs(-zone.offsetFromUtc(shown.addDays(-1))).toTimeZone(zone);
}

QDate nextDateShowing(const QDateTime& now, QTime timeOfDay) {
    const QDate today = now.date();
    return now > instantShowing(now, today, timeOfDay) ? today.addDays(1) : today;
}

}  // namespace brinesong
