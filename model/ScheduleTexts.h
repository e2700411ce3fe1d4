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

// How long is left, in whole units rounded up, never read as a clock: "58 s", "45 min",
// "1 h 15 min", "2 d 3 h".
QString durationText(qint64 seconds);
// When `when` comes, seen from `now`, and how long until then: "at 21:45 (in 45 min)",
// "tomorrow at 07:00 (in 9 h 30 min)", "on 20/03/2026 at 21:22 (in 6 d 1 h)". Every countdown of
// the schedule says it so. `withSeconds`: the seconds of `when` show where they are not 0.
QString whenText(const QDateTime& now, const QDateTime& when, bool withSeconds = false);

// When an armed start comes.
QString startsText(const QDateTime& now, const QDateTime& start);
// The start at `missed` was dropped, found too late.
QString missedStartText(const QDateTime& missed);
// The sound rising now reaches full level at `fullLevel`.
QString risingText(const QDateTime& now, const QDateTime& fullLevel);
// An armed stop falling due at `due`; its fade begins at `fadeBegins` (null: none).
QString stopCountdownText(const QDateTime& now, const QDateTime& due, const QDateTime& fadeBegins);

}  // namespace brinesong
