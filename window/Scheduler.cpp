// SPDX-License-Identifier: GPL-3.0-or-later
#include "Scheduler.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLocale>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTimeEdit>
#include <QTimeZone>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "platform/Localization.h"
#include "platform/ResumeWatcher.h"
#include "platform/SleepInhibitor.h"

namespace brinesong {

namespace {
// How often a held-back timer looks whether the dialog or menu has gone.
constexpr int kHeldBackPollMs = 100;

bool modalOrMenuRunning() {
    return QApplication::activeModalWidget() != nullptr ||
           QApplication::activePopupWidget() != nullptr;
}

// The instant at which the clocks of `reference`'s time zone show `date` and `time`. A time of
// day that a daylight-saving change skips there names the first instant after the gap: the
// moment the clocks jump past it.
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

// The locale's short date format with the year in full: a field showing two digits would leave
// its century to guess.
QString dateFormat() {
    QString format = QLocale().dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy"))) {
        format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    }
    return format;
}

// The locale's short time format without seconds: the start is set to the minute.
QString timeFormat() {
    static const QRegularExpression seconds(QStringLiteral("[:.]?s{1,2}"));
    return QLocale().timeFormat(QLocale::ShortFormat).remove(seconds).trimmed();
}
}  // namespace

Clock systemClock() {
    return [] { return QDateTime::currentDateTime(); };
}

Scheduler::Scheduler(Clock clock, SchedulerHost host, int minuteMs, QObject* parent)
    : QObject(parent),
      clock_(std::move(clock)),
      host_(std::move(host)),
      minuteMs_(std::max(1, minuteMs)),
      startTimer_(new QTimer(this)),
      stopTimer_(new QTimer(this)),
      heldBackTimer_(new QTimer(this)),
      timeLeftTimer_(new QTimer(this)),
      settleTimer_(new QTimer(this)) {
    // Coarse timers may fire up to 5% early, which would make a minute check miss its stop by a
    // whole minute.
    startTimer_->setTimerType(Qt::PreciseTimer);
    startTimer_->setSingleShot(true);
    stopTimer_->setTimerType(Qt::PreciseTimer);
    stopTimer_->setInterval(minuteMs_);
    heldBackTimer_->setInterval(kHeldBackPollMs);
    timeLeftTimer_->setInterval(std::max(1, minuteMs_ / 60));
    connect(startTimer_, &QTimer::timeout, this, &Scheduler::decideStart);
    connect(stopTimer_, &QTimer::timeout, this,
            [this] { whenUnblocked(stopHeldBack_, &Scheduler::stopTimerFired); });
    connect(heldBackTimer_, &QTimer::timeout, this, [this] {
        if (modalOrMenuRunning()) {
            return;
        }
        heldBackTimer_->stop();
        if (stopHeldBack_) {
            stopHeldBack_ = false;
            stopTimerFired();
        }
    });
    connect(timeLeftTimer_, &QTimer::timeout, this, &Scheduler::updateTimeLeft);
    settleTimer_->setSingleShot(true);
    settleTimer_->setInterval(kSettleMs);
    connect(settleTimer_, &QTimer::timeout, this, [this] { takeStartEdit(startFieldFocused()); });
}

Scheduler::~Scheduler() = default;

void Scheduler::attach(QDateEdit* dateText, QTimeEdit* timeText, QSpinBox* minutesText,
                       QCheckBox* startCheckbox, QCheckBox* stopCheckbox, QLabel* timeLeftText,
                       QComboBox* fadeChoice, QComboBox* riseChoice) {
    dateText_ = dateText;
    timeText_ = timeText;
    minutesText_ = minutesText;
    startCheckbox_ = startCheckbox;
    stopCheckbox_ = stopCheckbox;
    timeLeftText_ = timeLeftText;
    fadeChoice_ = fadeChoice;
    riseChoice_ = riseChoice;
    // Typed text reaches the value only when entered; steps and the wheel at once.
    if (dateText_) {
        dateText_->setDisplayFormat(dateFormat());
        dateText_->setKeyboardTracking(false);
        connect(dateText_, &QDateEdit::dateChanged, this, &Scheduler::dateChanged);
        connect(dateText_, &QDateEdit::editingFinished, this,
                [this] { startEditFinished(dateText_); });
    }
    if (timeText_) {
        timeText_->setDisplayFormat(timeFormat());
        timeText_->setKeyboardTracking(false);
        connect(timeText_, &QTimeEdit::timeChanged, this, &Scheduler::timeChanged);
        connect(timeText_, &QTimeEdit::editingFinished, this,
                [this] { startEditFinished(timeText_); });
    }
    if (minutesText_) {
        connect(minutesText_, &QSpinBox::valueChanged, this, &Scheduler::minutesChanged);
    }
    // `clicked` comes only from the user: the program turning a checkbox off sends no action.
    if (startCheckbox_) {
        connect(startCheckbox_, &QCheckBox::clicked, this, &Scheduler::startCheckboxChanged);
    }
    if (stopCheckbox_) {
        connect(stopCheckbox_, &QCheckBox::clicked, this, &Scheduler::stopCheckboxChanged);
    }
    // The fade-out and the fade-in offer the same lengths.
    const auto offerFades = [](QComboBox* choice, const QString& off, const QString& over) {
        choice->clear();
        for (const int minutes : kFadeChoices) {
            choice->addItem(minutes == 0 ? off : over.arg(minutes), minutes);
        }
    };
    if (fadeChoice_) {
        offerFades(fadeChoice_, Texts::tr("No fade-out"), Texts::tr("Fade out over %1 min"));
        connect(fadeChoice_, &QComboBox::currentIndexChanged, this, &Scheduler::fadeChoiceChanged);
    }
    if (riseChoice_) {
        offerFades(riseChoice_, Texts::tr("No fade-in"), Texts::tr("Fade in over %1 min"));
        // Read when the start comes; a choice is also the user's next action after a miss.
        connect(riseChoice_, &QComboBox::activated, this, &Scheduler::forgetMissedStart);
    }
}

void Scheduler::showNextStart(const QTime& savedTime) {
    // The field shows no seconds, so it holds none: a start at a second nobody can see would
    // come up to a minute after the time shown.
    const QTime timeOfDay(savedTime.hour(), savedTime.minute());
    const QDateTime now = clock_();
    QDate date = now.date();
    // A time in today's daylight-saving gap is still today's until the clocks have passed it.
    if (now > instantShowing(now, date, timeOfDay)) {
        date = date.addDays(1);
    }
    if (dateText_) {
        dateText_->setDate(date);
    }
    if (timeText_) {
        timeText_->setTime(timeOfDay);
    }
}

QTime Scheduler::startTimeOfDay() const {
    if (!timeText_) {
        return {};
    }
    // Text typed but not yet entered counts: it is what the field shows.
    timeText_->interpretText();
    return timeText_->time();
}

void Scheduler::setMinutes(int minutes) {
    if (minutesText_) {
        minutesText_->setValue(minutes);
    }
}

int Scheduler::minutes() const {
    return minutesText_ ? minutesText_->value() : 0;
}

void Scheduler::stopAfter(std::optional<int> minutes) {
    if (!stopCheckbox_) {
        return;
    }
    if (minutes) {
        setMinutes(*minutes);
    }
    stopCheckbox_->setChecked(minutes.has_value());
    stopCheckboxChanged();
}

void Scheduler::setFadeMinutes(int minutes) {
    if (fadeChoice_) {
        fadeChoice_->setCurrentIndex(std::max(0, fadeChoice_->findData(minutes)));
    }
}

int Scheduler::fadeMinutes() const {
    return fadeChoice_ ? fadeChoice_->currentData().toInt() : 0;
}

void Scheduler::setRiseMinutes(int minutes) {
    if (riseChoice_) {
        riseChoice_->setCurrentIndex(std::max(0, riseChoice_->findData(minutes)));
    }
}

int Scheduler::riseMinutes() const {
    return riseChoice_ ? riseChoice_->currentData().toInt() : 0;
}

// Any of these is the user's next action after a missed start: its message has been read.
void Scheduler::dateChanged() {
    forgetMissedStart();
    startEdited();
}
void Scheduler::timeChanged() {
    forgetMissedStart();
    startEdited();
}
void Scheduler::startCheckboxChanged() {
    forgetMissedStart();
    updateStartTimer();
}
void Scheduler::minutesChanged() {
    forgetMissedStart();
    updateStopTimer();
}
void Scheduler::stopCheckboxChanged() {
    forgetMissedStart();
    updateStopTimer();
}
void Scheduler::fadeChoiceChanged() {
    forgetMissedStart();
    // The stop keeps its time; only its fade is planned anew.
    updateSleepFade();
    updateTimeLeft();
}

void Scheduler::playStateChanged(bool playing) {
    forgetMissedStart();
    if (!willStop_ || playing == stopCounting_) {
        return;
    }
    if (playing) {
        startStopCount();
        return;
    }
    // The playback ended before the stop came: the stop counts again from the next start.
    stopTimer_->stop();
    stopHeldBack_ = false;
    stopCounting_ = false;
    stopTime_ = {};
    updateSleepFade();
    updateTimeLeft();
}

void Scheduler::updateStartTimer() {
    armStart(false);
}

void Scheduler::startEdited() {
    // Unticked, a change arms nothing.
    if (startCheckbox_ && startCheckbox_->isChecked()) {
        startEditPending_ = true;
        settleTimer_->start();
    }
}

void Scheduler::startEditFinished(QWidget* field) {
    if (!startEditPending_) {
        return;
    }
    // Return leaves the focus where it is: the value is meant. Focus moving on to the other field
    // of the start is still the same edit.
    takeStartEdit(!field->hasFocus() && startFieldFocused());
}

void Scheduler::takeStartEdit(bool stillEditing) {
    if (startEditPending_) {
        armStart(stillEditing);
    }
}

bool Scheduler::startFieldFocused() const {
    return (dateText_ && dateText_->hasFocus()) || (timeText_ && timeText_->hasFocus());
}

void Scheduler::armStart(bool holdPast) {
    settleTimer_->stop();
    startEditPending_ = false;
    if (!startCheckbox_ || !startCheckbox_->isChecked()) {
        if (willStart_) {
            startTimer_->stop();
            willStart_ = false;
            updateTimeLeft();
            emit startArmedChanged(false);
        }
        return;
    }
    const QDateTime now = clock_();
    const QDate date = dateText_ ? dateText_->date() : now.date();
    const QTime time = timeText_ ? timeText_->time() : QTime(0, 0);
    startDate_ = instantShowing(now, date, time);
    // A start armed for a time already past is due now, not late.
    startDueFrom_ = std::max(startDate_, now);
    startTimer_->stop();
    const bool wasArmed = willStart_;
    willStart_ = true;
    updateTimeLeft();
    if (!wasArmed) {
        emit startArmedChanged(true);
    }
    if (holdPast && startDate_ <= now) {
        // A value passed on the way to another: taken once the edit ends.
        startEditPending_ = true;
        return;
    }
    armStartWait();
}

void Scheduler::armStartWait() {
    // In steps of at most a minute, each looking at the wall clock again: the timer's own clock
    // stands still while the computer sleeps and does not follow the wall clock when it is set,
    // so a wake nobody announced, or a clock set forward, costs a minute at most. A date already
    // past fires at the next pass of the event loop.
    const qint64 clockMs = std::clamp<qint64>(clock_().msecsTo(startDate_), 0, kMinuteMs);
    startTimer_->start(static_cast<int>(clockMs * minuteMs_ / kMinuteMs));
}

void Scheduler::decideStart() {
    const QDateTime now = clock_();
    if (now < startDate_) {
        armStartWait();  // a step of the wait, or the wall clock was set back
        return;
    }
    // Found this late, the computer slept through the start or the clock was set past it: the
    // sound would come at a time nobody chose.
    if (startDueFrom_.secsTo(now) >= kLatestStartMinutes * 60LL) {
        startMissed();
        return;
    }
    startTimerFired();
}

void Scheduler::resumed() {
    if (willStart_ && !startEditPending_) {
        startTimer_->stop();
        decideStart();
    }
    updateTimeLeft();
}

void Scheduler::whenUnblocked(bool& pending, void (Scheduler::*fire)()) {
    if (!modalOrMenuRunning()) {
        (this->*fire)();
        return;
    }
    pending = true;
    if (!heldBackTimer_->isActive()) {
        heldBackTimer_->start();
    }
}

void Scheduler::disarmStart() {
    willStart_ = false;
    startTimer_->stop();
    settleTimer_->stop();
    startEditPending_ = false;
    if (startCheckbox_) {
        startCheckbox_->setChecked(false);
    }
}

void Scheduler::startTimerFired() {
    disarmStart();
    updateTimeLeft();
    // A start due during an export or while the sound plays is dropped, not postponed.
    if (!host_.isSaving() && !host_.isPlaying()) {
        const int rise = riseMinutes();
        if (rise > 0 && host_.startRising) {
            // In real seconds: the scheduler's minute may be shortened for tests.
            host_.startRising(rise * 60.0 * minuteMs_ / kMinuteMs);
        } else {
            host_.playStop();
        }
    }
    followRise();
    // Once the sound has started: it keeps the computer awake from here, without a gap.
    emit startArmedChanged(false);
    emit startFired();
}

void Scheduler::startMissed() {
    const QDateTime missed = startDate_;
    disarmStart();
    // Ticked again, the start comes at the next such time, not at once for a date now past.
    if (timeText_) {
        showNextStart(timeText_->time());
    }
    missedStart_ = missed;  // after the fields: moving them is no action of the user's
    updateTimeLeft();
    emit startArmedChanged(false);
    emit startFired();
}

void Scheduler::forgetMissedStart() {
    if (missedStart_.isValid()) {
        missedStart_ = {};
        updateStartText();
    }
}

void Scheduler::updateStopTimer() {
    stopTimer_->stop();
    stopHeldBack_ = false;
    stopCounting_ = false;
    stopTime_ = {};
    willStop_ = stopCheckbox_ && stopCheckbox_->isChecked();
    if (willStop_ && host_.isPlaying()) {
        startStopCount();
        return;
    }
    updateSleepFade();
    updateTimeLeft();
}

void Scheduler::startStopCount() {
    const int delay = minutes();
    const QDateTime now = clock_();
    stopTime_ = now.addSecs(static_cast<qint64>(delay) * 60);
    // Checks come every minute from now; the first at or after the stop time carries it out.
    stopDue_ = now.addSecs(static_cast<qint64>(std::max(1, delay)) * 60);
    armedAt_ = now;
    stopHeldBack_ = false;
    stopCounting_ = true;
    stopTimer_->start();
    updateSleepFade();
    updateTimeLeft();
}

QDateTime Scheduler::fadeBegins() const {
    const int fade = fadeMinutes();
    if (!stopCounting() || fade <= 0) {
        return {};
    }
    // A fade longer than the delay takes the whole delay.
    return std::max(armedAt_, stopDue_.addSecs(-static_cast<qint64>(fade) * 60));
}

void Scheduler::updateSleepFade() {
    if (!host_.setSleepFade) {
        return;
    }
    const QDateTime begins = fadeBegins();
    if (begins.isNull()) {
        host_.setSleepFade(0.0, 0.0);
        return;
    }
    // In real seconds: the scheduler's minute may be shortened for tests.
    const double scale = static_cast<double>(minuteMs_) / kMinuteMs / 1000.0;
    const QDateTime now = clock_();
    host_.setSleepFade(now.msecsTo(stopDue_) * scale, begins.msecsTo(stopDue_) * scale);
}

void Scheduler::stopTimerFired() {
    if (!stopCounting()) {
        return;
    }
    if (clock_() < stopTime_) {
        emit stopChecked();
        return;
    }
    willStop_ = false;
    stopCounting_ = false;
    stopTimer_->stop();
    if (stopCheckbox_) {
        stopCheckbox_->setChecked(false);
    }
    if (host_.isPlaying()) {
        host_.playStop();
    }
    updateTimeLeft();
    emit stopChecked();
}

void Scheduler::followRise() {
    const double left = host_.riseSecondsLeft ? host_.riseSecondsLeft() : 0.0;
    if (!(left > 0.0)) {
        riseEnd_ = {};
    } else if (riseEnd_.isNull()) {
        // Taken once per rise: read again at every tick, the time shown could flicker between
        // two minutes as the two clocks are read a moment apart.
        riseEnd_ =
            clock_().addMSecs(std::llround(std::min(left, 1e9) * 1000.0 * kMinuteMs / minuteMs_));
    }
    updateTimeLeft();
}

void Scheduler::updateTimeLeft() {
    if (riseEnd_.isValid() && !(host_.riseSecondsLeft && host_.riseSecondsLeft() > 0.0)) {
        riseEnd_ = {};  // full level reached
    }
    if (!willStop_ && !willStart_ && riseEnd_.isNull()) {
        timeLeftTimer_->stop();
    } else if (!timeLeftTimer_->isActive()) {
        timeLeftTimer_->start();
    }
    updateStartText();
    if (!timeLeftText_) {
        return;
    }
    if (!willStop_) {
        timeLeftText_->clear();
        return;
    }
    const int fadeMinutes = this->fadeMinutes();
    if (!stopCounting_) {
        // Nothing plays: the count has not begun.
        timeLeftText_->setText(
            fadeMinutes > 0
                ? Texts::tr("Stops %1 min after the sound starts, fading out over the last %2 min")
                      .arg(minutes())
                      .arg(std::min(fadeMinutes, std::max(1, minutes())))
                : Texts::tr("Stops %1 min after the sound starts").arg(minutes()));
        return;
    }
    const QDateTime now = clock_();
    const auto until = [&now](const QDateTime& when) {
        const qint64 seconds = std::max<qint64>(0, (now.msecsTo(when) + 999) / 1000);
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    };
    const QDateTime fade = fadeBegins();
    if (fade.isNull()) {
        timeLeftText_->setText(Texts::tr("Stops in %1").arg(until(stopDue_)));
    } else if (now < fade) {
        timeLeftText_->setText(
            Texts::tr("Fade-out begins in %1, stops in %2").arg(until(fade), until(stopDue_)));
    } else {
        timeLeftText_->setText(Texts::tr("Fading out, stops in %1").arg(until(stopDue_)));
    }
}

QString Scheduler::startText() const {
    return startText_;
}

void Scheduler::updateStartText() {
    QString text;
    if (willStart_) {
        const QDateTime now = clock_();
        const QDateTime start = startDate_.toTimeZone(now.timeZone());
        const QLocale locale;
        if (start.date() == now.date() || start <= now) {
            // Whole minutes, rounded up: "in 0:00" only once it is due.
            const qint64 minutes = std::max<qint64>(0, (now.msecsTo(start) + 59999) / 60000);
            text = Texts::tr("Starts in %1:%2")
                       .arg(minutes / 60)
                       .arg(minutes % 60, 2, 10, QLatin1Char('0'));
        } else if (start.date() == now.date().addDays(1)) {
            text =
                Texts::tr("Starts tomorrow at %1").arg(locale.toString(start.time(), timeFormat()));
        } else {
            text = Texts::tr("Starts on %1 at %2")
                       .arg(locale.toString(start.date(), dateFormat()),
                            locale.toString(start.time(), timeFormat()));
        }
    } else if (missedStart_.isValid()) {
        text = Texts::tr("The start at %1 was missed while the computer slept")
                   .arg(QLocale().toString(missedStart_.time(), timeFormat()));
    }
    if (riseEnd_.isValid()) {
        // To the nearest minute, as the times of the schedule are set.
        const QDateTime shown = riseEnd_.toTimeZone(clock_().timeZone()).addSecs(30);
        const QString rising = Texts::tr("Fading in, full level at %1")
                                   .arg(QLocale().toString(shown.time(), timeFormat()));
        text = text.isEmpty() ? rising : QStringLiteral("%1 · %2").arg(rising, text);
    }
    if (text != startText_) {
        startText_ = text;
        emit startTextChanged();
    }
}

void joinSleepServices(Scheduler& scheduler, SleepInhibitor& inhibitor, ResumeWatcher& resume) {
    QObject::connect(&scheduler, &Scheduler::startArmedChanged, &inhibitor,
                     &SleepInhibitor::setStartArmed);
    QObject::connect(&resume, &ResumeWatcher::resumed, &scheduler, &Scheduler::resumed);
    inhibitor.setStartArmed(scheduler.willStart());
}

}  // namespace brinesong
