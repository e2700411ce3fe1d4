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

QString durationText(qint64 seconds) {
    if (seconds < 60) {
        return Texts::tr("%1 s").arg(std::max<qint64>(0, seconds));
    }
    const qint64 minutes = (seconds + 59) / 60;
    if (minutes < 60) {
        return Texts::tr("%1 min").arg(minutes);
    }
    if (minutes < 24 * 60) {
        return minutes % 60 == 0 ? Texts::tr("%1 h").arg(minutes / 60)
                                 : Texts::tr("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
    }
    const qint64 hours = (minutes + 59) / 60;
    return hours % 24 == 0 ? Texts::tr("%1 d").arg(hours / 24)
                           : Texts::tr("%1 d %2 h").arg(hours / 24).arg(hours % 24);
}

QString whenText(const QDateTime& now, const QDateTime& when, bool withSeconds) {
    const QDateTime local = when.toTimeZone(now.timeZone());
    const QTime time =
        withSeconds ? local.time() : QTime(local.time().hour(), local.time().minute());
    QString moment;
    if (local.date() == now.date() || local <= now) {
        moment = Texts::tr("at %1").arg(timeOfDayText(time));
    } else if (local.date() == now.date().addDays(1)) {
        moment = Texts::tr("tomorrow at %1").arg(timeOfDayText(time));
    } else {
        moment =
            Texts::tr("on %1 at %2")
                .arg(QLocale().toString(local.date(), scheduleDateFormat()), timeOfDayText(time));
    }
    // Whole seconds rounded up: "in 0 s" only once it is due.
    const qint64 left = std::max<qint64>(0, (now.msecsTo(local) + 999) / 1000);
    return Texts::tr("%1 (in %2)").arg(moment, durationText(left));
}

QString startsText(const QDateTime& now, const QDateTime& start) {
    return Texts::tr("Starts %1").arg(whenText(now, start, true));
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
    if (fadeBegins.isNull()) {
        return Texts::tr("Stops %1").arg(whenText(now, due));
    }
    if (now < fadeBegins) {
        return Texts::tr("Fade-out begins %1, stops %2")
            .arg(whenText(now, fadeBegins), whenText(now, due));
    }
    return Texts::tr("Fading out, stops %1").arg(whenText(now, due));
}

}  // namespace brinesong
