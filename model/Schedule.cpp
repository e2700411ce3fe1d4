// SPDX-License-Identifier: GPL-3.0-or-later
#include "Schedule.h"

#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "model/ScheduleTexts.h"
#include "model/Settings.h"

namespace brinesong {

namespace {
int fadeChoice(int minutes) {
    return std::find(std::begin(kFadeChoices), std::end(kFadeChoices), minutes) ==
                   std::end(kFadeChoices)
               ? 0
               : minutes;
}
}  // namespace

Schedule::Schedule(Clock clock, ScheduleHost host, int minuteMs, QObject* parent)
    : QObject(parent),
      clock_(std::move(clock)),
      host_(std::move(host)),
      minuteMs_(std::max(1, minuteMs)),
      start_(clock_, minuteMs_),
      stop_(clock_, host_.isBlocked, minuteMs_),
      textTimer_(new QTimer(this)) {
    date_ = clock_().date();
    textTimer_->setInterval(std::max(1, minuteMs_ / 60));
    connect(textTimer_, &QTimer::timeout, this, &Schedule::updateTexts);
    connect(&start_, &ScheduledStart::due, this, &Schedule::startDue);
    connect(&start_, &ScheduledStart::missed, this, &Schedule::startMissed);
    connect(&start_, &ScheduledStart::armedChanged, this, &Schedule::startArmedChanged);
    connect(&stop_, &ScheduledStop::due, this, &Schedule::stopDue);
    connect(&stop_, &ScheduledStop::checked, this, &Schedule::stopChecked);
}

void Schedule::showNextStart(QTime timeOfDay) {
    time_ = timeOfDay;
    date_ = nextDateShowing(clock_(), time_);
    emit changed();
}

void Schedule::editStart(QDate date, QTime time) {
    forgetMissedStart();
    if (date == date_ && time == time_) {
        return;
    }
    date_ = date;
    time_ = time;
    // Unticked, a change arms nothing.
    startEditPending_ = startTicked_;
    emit changed();
}

void Schedule::takeStartEdit(bool stillEditing) {
    if (startEditPending_) {
        armStart(stillEditing);
    }
}

void Schedule::setStartTicked(bool ticked) {
    forgetMissedStart();
    startTicked_ = ticked;
    armStart(false);
    emit changed();
}

void Schedule::armStart(bool holdPast) {
    startEditPending_ = false;
    if (!startTicked_) {
        start_.disarm();
    } else {
        start_.arm(date_, time_, holdPast);
        // A value passed on the way to another: taken once the edit ends.
        startEditPending_ = start_.held();
    }
    updateTexts();
}

void Schedule::startDue() {
    takeFiredStart();
    // A start due during an export or while the sound plays is dropped, not postponed.
    if (!host_.isSaving() && !host_.isPlaying()) {
        if (riseMinutes_ > 0 && host_.startRising) {
            host_.startRising(realSeconds(riseMinutes_ * 60000LL));
        } else {
            host_.playStop();
        }
    }
    followRise();
    emit startFired();
}

void Schedule::startMissed(const QDateTime& at) {
    missedStart_ = at;
    takeFiredStart();
    updateTexts();
    emit startFired();
}

void Schedule::takeFiredStart() {
    // Repeating, the start stays armed for the next day; either way its date has moved on.
    startTicked_ = start_.armed();
    startEditPending_ = false;
    date_ = start_.date();
    time_ = start_.time();
    emit changed();
}

void Schedule::forgetMissedStart() {
    if (missedStart_.isValid()) {
        missedStart_ = {};
        updateTexts();
    }
}

void Schedule::resumed() {
    if (!startEditPending_) {
        start_.resumed();
    }
    updateTexts();
}

void Schedule::setMinutes(int minutes) {
    forgetMissedStart();
    if (minutes == minutes_) {
        return;
    }
    minutes_ = minutes;
    emit changed();
    if (stopTicked_) {
        updateStop();
    }
}

void Schedule::setStopTicked(bool ticked) {
    forgetMissedStart();
    stopTicked_ = ticked;
    emit changed();
    updateStop();
}

void Schedule::stopAfter(std::optional<int> minutes) {
    if (minutes) {
        minutes_ = *minutes;
    }
    setStopTicked(minutes.has_value());
}

void Schedule::setFadeMinutes(int minutes) {
    forgetMissedStart();
    const int fade = fadeChoice(minutes);
    if (fade == fadeMinutes_) {
        return;
    }
    fadeMinutes_ = fade;
    emit changed();
    // The stop keeps its time; only its fade is planned anew.
    updateSleepFade();
    updateTexts();
}

void Schedule::setRiseMinutes(int minutes) {
    forgetMissedStart();
    const int rise = fadeChoice(minutes);
    if (rise != riseMinutes_) {
        riseMinutes_ = rise;
        emit changed();
    }
}

void Schedule::setRepeatsDaily(bool repeats) {
    forgetMissedStart();
    if (repeats != start_.repeatsDaily()) {
        start_.setRepeatsDaily(repeats);
        emit changed();
    }
}

void Schedule::playStateChanged(bool) {
    forgetMissedStart();
}

void Schedule::updateStop() {
    stop_.disarm();
    if (stopTicked_) {
        stop_.arm(minutes_);
    }
    updateSleepFade();
    updateTexts();
}

void Schedule::stopDue() {
    stopTicked_ = false;
    emit changed();
    if (host_.isPlaying()) {
        host_.playStop();  // its fade, if any, runs to its end with it
    } else {
        updateSleepFade();  // nothing to fade: no later sound may start faded
    }
    updateTexts();
}

void Schedule::updateSleepFade() {
    if (!host_.setSleepFade) {
        return;
    }
    const QDateTime begins = fadeBegins();
    if (begins.isNull()) {
        host_.setSleepFade(0.0, 0.0);
        return;
    }
    const QDateTime due = stop_.dueAt();
    host_.setSleepFade(realSeconds(clock_().msecsTo(due)), realSeconds(begins.msecsTo(due)));
}

double Schedule::realSeconds(qint64 clockMs) const {
    return static_cast<double>(clockMs) / 1000.0 * minuteMs_ / kMinuteMs;
}

void Schedule::followRise() {
    const double left = host_.riseSecondsLeft ? host_.riseSecondsLeft() : 0.0;
    if (!(left > 0.0)) {
        riseEnd_ = {};
    } else if (riseEnd_.isNull()) {
        // Taken once per rise: read again at every tick, the time shown could flicker between
        // two minutes as the two clocks are read a moment apart.
        riseEnd_ =
            clock_().addMSecs(std::llround(std::min(left, 1e9) * 1000.0 * kMinuteMs / minuteMs_));
    }
    updateTexts();
}

void Schedule::updateTexts() {
    if (riseEnd_.isValid() && !(host_.riseSecondsLeft && host_.riseSecondsLeft() > 0.0)) {
        riseEnd_ = {};  // full level reached
    }
    if (!stop_.armed() && !start_.armed() && riseEnd_.isNull()) {
        textTimer_->stop();
    } else if (!textTimer_->isActive()) {
        textTimer_->start();
    }
    const QDateTime now = clock_();
    // A start missed while repeating is said beside the next one.
    QStringList start;
    if (riseEnd_.isValid()) {
        start << risingText(now, riseEnd_);
    }
    if (missedStart_.isValid()) {
        start << missedStartText(missedStart_);
    }
    if (start_.armed()) {
        start << startsText(now, start_.at());
    }
    const QString stop =
        stop_.armed() ? stopCountdownText(now, stop_.dueAt(), fadeBegins()) : QString();
    const QString startText = start.join(QStringLiteral(" · "));
    if (startText != startText_ || stop != stopText_) {
        startText_ = startText;
        stopText_ = stop;
        emit textsChanged();
    }
}

QString Schedule::statusText() const {
    if (startText_.isEmpty() || stopText_.isEmpty()) {
        return startText_ + stopText_;
    }
    return QStringLiteral("%1 · %2").arg(startText_, stopText_);
}

}  // namespace brinesong
