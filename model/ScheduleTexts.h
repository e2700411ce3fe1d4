// SPDX-License-Identifier: GPL-3.0-or-later
// What the schedule says, and the formats its date and time show in: the locale's short ones,
// the year in full, and a time of day with its seconds only where it has any.
#pragma once

#include <QDateTime>
#include <QString>

namespace brinesong {

// The locale's short date format with the year in full: two digits would leave the century to
// guess.
QString scheduleDateFormat();
// The locale's short time format, with seconds or without.
QString scheduleTimeFormat(bool withSeconds = false);
// `time` in that format, its seconds shown where they are not 0: a start keeps them.
QString timeOfDayText(QTime time);

// When an armed start comes, from `now`: "Starts in 2:14", "Starts tomorrow at 21:22".
QString startsText(const QDateTime& now, const QDateTime& start);
// The start at `missed` was dropped, found too late.
QString missedStartText(const QDateTime& missed);
// The sound rising now reaches full level at `fullLevel`.
QString risingText(const QDateTime& now, const QDateTime& fullLevel);
// An armed stop counting down to `due`; its fade begins at `fadeBegins` (null: none).
QString stopCountdownText(const QDateTime& now, const QDateTime& due, const QDateTime& fadeBegins);

}  // namespace brinesong
