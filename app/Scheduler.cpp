#include "Scheduler.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QSpinBox>
#include <QTimeEdit>
#include <QTimeZone>
#include <QTimer>
#include <algorithm>

#include "platform/Localization.h"

namespace brinesong {

namespace {
// The longest single wait of the start timer; a later date is reached in steps, each re-reading
// the clock, so a wait of days neither overflows the timer nor drifts from the wall clock.
constexpr qint64 kLongestWaitMs = 60LL * 60 * 1000;
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
    connect(startTimer_, &QTimer::timeout, this, &Scheduler::onStartTimeout);
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
                       QComboBox* fadeChoice) {
    dateText_ = dateText;
    timeText_ = timeText;
    minutesText_ = minutesText;
    startCheckbox_ = startCheckbox;
    stopCheckbox_ = stopCheckbox;
    timeLeftText_ = timeLeftText;
    fadeChoice_ = fadeChoice;
    // Typed text reaches the value only when entered; steps and the wheel at once.
    if (dateText_) {
        dateText_->setKeyboardTracking(false);
        connect(dateText_, &QDateEdit::dateChanged, this, &Scheduler::dateChanged);
        connect(dateText_, &QDateEdit::editingFinished, this,
                [this] { startEditFinished(dateText_); });
    }
    if (timeText_) {
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
    if (fadeChoice_) {
        fadeChoice_->clear();
        for (const int minutes : kFadeChoices) {
            fadeChoice_->addItem(minutes == 0 ? Texts::tr("No fade-out")
                                              : Texts::tr("Fade out over %1 min").arg(minutes),
                                 minutes);
        }
        connect(fadeChoice_, &QComboBox::currentIndexChanged, this, &Scheduler::fadeChoiceChanged);
    }
}

void Scheduler::showNextStart(const QTime& timeOfDay) {
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

void Scheduler::setFadeMinutes(int minutes) {
    if (fadeChoice_) {
        fadeChoice_->setCurrentIndex(std::max(0, fadeChoice_->findData(minutes)));
    }
}

int Scheduler::fadeMinutes() const {
    return fadeChoice_ ? fadeChoice_->currentData().toInt() : 0;
}

void Scheduler::dateChanged() {
    startEdited();
}
void Scheduler::timeChanged() {
    startEdited();
}
void Scheduler::startCheckboxChanged() {
    updateStartTimer();
}
void Scheduler::minutesChanged() {
    updateStopTimer();
}
void Scheduler::stopCheckboxChanged() {
    updateStopTimer();
}
void Scheduler::fadeChoiceChanged() {
    // The stop keeps its time; only its fade is planned anew.
    updateSleepFade();
    updateTimeLeft();
}

int Scheduler::realMs(qint64 clockMs) const {
    const qint64 scaled = clockMs * minuteMs_ / kMinuteMs;
    return static_cast<int>(std::clamp<qint64>(scaled, 0, kLongestWaitMs));
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
        }
        return;
    }
    const QDateTime now = clock_();
    const QDate date = dateText_ ? dateText_->date() : now.date();
    const QTime time = timeText_ ? timeText_->time() : QTime(0, 0);
    startDate_ = instantShowing(now, date, time);
    startTimer_->stop();
    willStart_ = true;
    if (holdPast && startDate_ <= now) {
        // A value passed on the way to another: taken once the edit ends.
        startEditPending_ = true;
        return;
    }
    armStartWait();
}

void Scheduler::armStartWait() {
    // A date already past fires at the next pass of the event loop.
    startTimer_->start(realMs(clock_().msecsTo(startDate_)));
}

void Scheduler::onStartTimeout() {
    if (clock_() < startDate_) {
        armStartWait();  // a step of a long wait, or the wall clock was set back
        return;
    }
    startTimerFired();
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

void Scheduler::startTimerFired() {
    willStart_ = false;
    startTimer_->stop();
    settleTimer_->stop();
    startEditPending_ = false;
    if (startCheckbox_) {
        startCheckbox_->setChecked(false);
    }
    // A start due during an export or while the sound plays is dropped, not postponed.
    if (!host_.isSaving() && !host_.isPlaying()) {
        host_.playStop();
    }
    emit startFired();
}

void Scheduler::updateStopTimer() {
    if (!stopCheckbox_ || !stopCheckbox_->isChecked()) {
        if (willStop_) {
            stopTimer_->stop();
            stopHeldBack_ = false;
            willStop_ = false;
        }
        updateSleepFade();
        updateTimeLeft();
        return;
    }
    const int delay = minutes();
    const QDateTime now = clock_();
    stopTime_ = now.addSecs(static_cast<qint64>(delay) * 60);
    // Checks come every minute from now; the first at or after the stop time carries it out.
    stopDue_ = now.addSecs(static_cast<qint64>(std::max(1, delay)) * 60);
    armedAt_ = now;
    stopHeldBack_ = false;
    stopTimer_->start();
    willStop_ = true;
    updateSleepFade();
    updateTimeLeft();
}

QDateTime Scheduler::fadeBegins() const {
    const int fade = fadeMinutes();
    if (!willStop_ || fade <= 0) {
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
    if (!willStop_) {
        return;
    }
    if (clock_() < stopTime_) {
        emit stopChecked();
        return;
    }
    willStop_ = false;
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

void Scheduler::updateTimeLeft() {
    if (!willStop_) {
        timeLeftTimer_->stop();
        if (timeLeftText_) {
            timeLeftText_->clear();
        }
        return;
    }
    if (!timeLeftTimer_->isActive()) {
        timeLeftTimer_->start();
    }
    if (!timeLeftText_) {
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

}  // namespace brinesong
