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

std::optional<QTime> parseTimeOfDay(std::string_view text) {
    if (text.size() != 5 && text.size() != 8) {
        return std::nullopt;
    }
    // Two digits at `at`, below `limit`; -1 for anything else.
    const auto field = [text](size_t at, int limit) {
        const char tens = text[at];
        const char ones = text[at + 1];
        if (tens < '0' || tens > '9' || ones < '0' || ones > '9') {
            return -1;
        }
        const int value = (tens - '0') * 10 + (ones - '0');
        return value < limit ? value : -1;
    };
    const int hour = field(0, 24);
    const int minute = field(3, 60);
    const int second = text.size() == 8 ? field(6, 60) : 0;
    if (hour < 0 || minute < 0 || second < 0 || text[2] != ':' ||
        (text.size() == 8 && text[5] != ':')) {
        return std::nullopt;
    }
    return QTime(hour, minute, second);
}

}  // namespace brinesong
