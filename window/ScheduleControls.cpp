// SPDX-License-Identifier: GPL-3.0-or-later
#include "ScheduleControls.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QSpinBox>
#include <QTimeEdit>
#include <QTimer>
#include <algorithm>
#include <limits>

#include "model/Schedule.h"
#include "model/ScheduleTexts.h"
#include "model/Settings.h"
#include "platform/Localization.h"
#include "platform/ResumeWatcher.h"
#include "platform/SleepInhibitor.h"

namespace brinesong {

namespace {
// The fade-out and the fade-in offer the same lengths.
void offerFades(QComboBox* choice, const QString& off, const QString& over) {
    choice->clear();
    for (const int minutes : kFadeChoices) {
        choice->addItem(minutes == 0 ? off : over.arg(minutes), minutes);
    }
}

void showFade(QComboBox* choice, int minutes) {
    if (choice && choice->currentData().toInt() != minutes) {
        choice->setCurrentIndex(std::max(0, choice->findData(minutes)));
    }
}
}  // namespace

ScheduleControls::ScheduleControls(Schedule& schedule, QDateEdit* dateText, QTimeEdit* timeText,
                                   QSpinBox* minutesText, QCheckBox* startCheckbox,
                                   QCheckBox* stopCheckbox, QLabel* timeLeftText,
                                   QComboBox* fadeChoice, QComboBox* riseChoice,
                                   QCheckBox* repeatCheckbox, QObject* parent)
    : QObject(parent),
      schedule_(schedule),
      dateText_(dateText),
      timeText_(timeText),
      minutesText_(minutesText),
      startCheckbox_(startCheckbox),
      stopCheckbox_(stopCheckbox),
      timeLeftText_(timeLeftText),
      fadeChoice_(fadeChoice),
      riseChoice_(riseChoice),
      repeatCheckbox_(repeatCheckbox),
      settleTimer_(new QTimer(this)) {
    settleTimer_->setSingleShot(true);
    settleTimer_->setInterval(kSettleMs);
    connect(settleTimer_, &QTimer::timeout, this,
            [this] { schedule_.takeStartEdit(startFieldFocused()); });
    // Typed text reaches the value only when entered; steps and the wheel at once.
    if (dateText_) {
        dateText_->setDisplayFormat(scheduleDateFormat());
        dateText_->setKeyboardTracking(false);
        connect(dateText_, &QDateEdit::dateChanged, this, &ScheduleControls::startEdited);
        connect(dateText_, &QDateEdit::editingFinished, this,
                [this] { startEditFinished(dateText_); });
    }
    if (timeText_) {
        timeText_->setDisplayFormat(scheduleTimeFormat());
        timeText_->setKeyboardTracking(false);
        connect(timeText_, &QTimeEdit::timeChanged, this, &ScheduleControls::startEdited);
        connect(timeText_, &QTimeEdit::editingFinished, this,
                [this] { startEditFinished(timeText_); });
    }
    if (minutesText_) {
        // Any whole number the schedule takes: 0 or fewer fall due at the first check.
        minutesText_->setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
        connect(minutesText_, &QSpinBox::valueChanged, this, [this](int minutes) {
            if (!updating_) {
                schedule_.setMinutes(minutes);
            }
        });
    }
    // `clicked` comes only from the user: the program ticking or unticking a box sends none.
    if (startCheckbox_) {
        connect(startCheckbox_, &QCheckBox::clicked, &schedule_, &Schedule::setStartTicked);
    }
    if (stopCheckbox_) {
        connect(stopCheckbox_, &QCheckBox::clicked, &schedule_, &Schedule::setStopTicked);
    }
    if (repeatCheckbox_) {
        connect(repeatCheckbox_, &QCheckBox::clicked, &schedule_, &Schedule::setRepeatsDaily);
    }
    if (fadeChoice_) {
        offerFades(fadeChoice_, Texts::tr("No fade-out"), Texts::tr("Fade out over %1 min"));
        connect(fadeChoice_, &QComboBox::currentIndexChanged, this, [this] {
            if (!updating_) {
                schedule_.setFadeMinutes(fadeChoice_->currentData().toInt());
            }
        });
    }
    if (riseChoice_) {
        offerFades(riseChoice_, Texts::tr("No fade-in"), Texts::tr("Fade in over %1 min"));
        connect(riseChoice_, &QComboBox::currentIndexChanged, this, [this] {
            if (!updating_) {
                schedule_.setRiseMinutes(riseChoice_->currentData().toInt());
            }
        });
    }
    connect(&schedule_, &Schedule::changed, this, &ScheduleControls::show);
    connect(&schedule_, &Schedule::textsChanged, this, &ScheduleControls::showTexts);
    show();
    showTexts();
}

void ScheduleControls::show() {
    updating_ = true;
    if (dateText_ && dateText_->date() != schedule_.startDate()) {
        dateText_->setDate(schedule_.startDate());
    }
    if (timeText_ && timeText_->time() != schedule_.startTime()) {
        // Its seconds show where it has any: a start saved with seconds comes at them.
        timeText_->setDisplayFormat(scheduleTimeFormat(schedule_.startTime().second() != 0));
        timeText_->setTime(schedule_.startTime());
    }
    if (minutesText_ && minutesText_->value() != schedule_.minutes()) {
        minutesText_->setValue(schedule_.minutes());
    }
    if (startCheckbox_) {
        startCheckbox_->setChecked(schedule_.startTicked());
    }
    if (stopCheckbox_) {
        stopCheckbox_->setChecked(schedule_.stopTicked());
    }
    if (repeatCheckbox_) {
        repeatCheckbox_->setChecked(schedule_.repeatsDaily());
    }
    showFade(fadeChoice_, schedule_.fadeMinutes());
    showFade(riseChoice_, schedule_.riseMinutes());
    if (!schedule_.startEditPending()) {
        settleTimer_->stop();
    }
    updating_ = false;
}

void ScheduleControls::showTexts() {
    if (timeLeftText_) {
        timeLeftText_->setText(schedule_.stopText());
    }
}

void ScheduleControls::takeTypedText() {
    if (dateText_) {
        dateText_->interpretText();
    }
    if (timeText_) {
        timeText_->interpretText();
    }
}

void ScheduleControls::startEdited() {
    if (updating_) {
        return;
    }
    schedule_.editStart(dateText_ ? dateText_->date() : schedule_.startDate(),
                        timeText_ ? timeText_->time() : schedule_.startTime());
    if (schedule_.startEditPending()) {
        settleTimer_->start();
    }
}

void ScheduleControls::startEditFinished(QWidget* field) {
    if (!schedule_.startEditPending()) {
        return;
    }
    settleTimer_->stop();
    // Return leaves the focus where it is: the value is meant. Focus moving on to the other field
    // of the start is still the same edit.
    schedule_.takeStartEdit(!field->hasFocus() && startFieldFocused());
}

bool ScheduleControls::startFieldFocused() const {
    return (dateText_ && dateText_->hasFocus()) || (timeText_ && timeText_->hasFocus());
}

bool modalOrMenuRunning() {
    return QApplication::activeModalWidget() != nullptr ||
           QApplication::activePopupWidget() != nullptr;
}

void joinSleepServices(Schedule& schedule, SleepInhibitor& inhibitor, ResumeWatcher& resume) {
    QObject::connect(&schedule, &Schedule::startArmedChanged, &inhibitor,
                     &SleepInhibitor::setStartArmed);
    QObject::connect(&resume, &ResumeWatcher::resumed, &schedule, &Schedule::resumed);
    inhibitor.setStartArmed(schedule.willStart());
}

}  // namespace brinesong
