// SPDX-License-Identifier: GPL-3.0-or-later
// The wall clock the schedule reads, and the arithmetic of times of day on it. A time of day is
// read in the clock's own time zone: a start is the first instant at which the clocks there show
// its date and time, and a time that a daylight-saving change skips comes when they jump past it.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <functional>
#include <optional>
#include <string_view>

namespace brinesong {

// The wall clock, with its time zone. Tests inject one that moves only when they move it.
using Clock = std::function<QDateTime()>;
Clock systemClock();

// The instant at which the clocks of `reference`'s time zone show `date` and `time`. A time of
// day that a daylight-saving change skips there names the first instant after the gap.
QDateTime instantShowing(const QDateTime& reference, QDate date, QTime time);

// The date of the next occurrence of `timeOfDay` from `now`: today, unless `now` is strictly
// later than today's, then tomorrow. A time in today's gap is today's until the clocks pass it.
QDate nextDateShowing(const QDateTime& now, QTime timeOfDay);

// A time of day as the command line takes it: "HH:MM" or "HH:MM:SS" on the 24-hour clock, two
// digits each, and nothing else: no sign, space, fraction, leap second or 24:00. None for any
// other bytes. A pure function of its input, so it can be fuzzed.
std::optional<QTime> parseTimeOfDay(std::string_view text);

}  // namespace brinesong
