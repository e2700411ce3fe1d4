// SPDX-License-Identifier: GPL-3.0-or-later
#include "ScheduleTexts.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTimeZone>
#include <algorithm>

#include "platform/Localization.h"

namespace brinesong {

QString scheduleDateFormat() {
    QString format = QLocale().dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy"))) {
        format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    }
    return format;
}

QString scheduleTimeFormat(bool withSeconds) {
    static const QRegularExpression seconds(QStringLiteral("[:.]?s{1,2}"));
    QString format = QLocale().timeFormat(QLocale::ShortFormat).remove(seconds).trimmed();
    if (withSeconds) {
        format.replace(QLatin1String("mm"), QLatin1String("mm:ss"));
    }
    return format;
}

QString timeOfDayText(QTime time) {
    return QLocale().toString(time, scheduleTimeFormat(time.second() != 0));
}

QString startsText(const QDateTime& now, const QDateTime& start) {
    const QDateTime local = start.toTimeZone(now.timeZone());
    const QLocale locale;
    if (local.date() == now.date() || local <= now) {
        // Whole minutes, rounded up: "in 0:00" only once it is due.
        const qint64 minutes = std::max<qint64>(0, (now.msecsTo(local) + 59999) / 60000);
        return Texts::tr("Starts in %1:%2")
            .arg(minutes / 60)
            .arg(minutes % 60, 2, 10, QLatin1Char('0'));
    }
    if (local.date() == now.date().addDays(1)) {
        return Texts::tr("Starts tomorrow at %1").arg(timeOfDayText(local.time()));
    }
    return Texts::tr("Starts on %1 at %2")
        .arg(locale.toString(local.date(), scheduleDateFormat()), timeOfDayText(local.time()));
}

QString missedStartText(const QDateTime& missed) {
    return Texts::tr("The start at %1 was missed while the computer slept")
        .arg(timeOfDayText(missed.time()));
}

QString risingText(const QDateTime& now, const QDateTime& fullLevel) {
    // To the nearest minute, as the times of the schedule are set.
    const QDateTime shown = fullLevel.toTimeZone(now.timeZone()).addSecs(30);
    return Texts::tr("Fading in, full level at %1")
        .arg(QLocale().toString(shown.time(), scheduleTimeFormat()));
}

QString stopCountdownText(const QDateTime& now, const QDateTime& due, const QDateTime& fadeBegins) {
    const auto until = [&now](const QDateTime& when) {
        const qint64 seconds = std::max<qint64>(0, (now.msecsTo(when) + 999) / 1000);
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    };
    if (fadeBegins.isNull()) {
        return Texts::tr("Stops in %1").arg(until(due));
    }
    if (now < fadeBegins) {
        return Texts::tr("Fade-out begins in %1, stops in %2").arg(until(fadeBegins), until(due));
    }
    return Texts::tr("Fading out, stops in %1").arg(until(due));
}

}  // namespace brinesong
