// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's schedule controls bound to the schedule (model/Schedule): the start's date and
// time fields, its box, its fade-in and whether it repeats every day, the stop's box, minutes and
// fade-out, and the line that says what the stop will do. The controls show what the schedule holds
// and hand it what the user changes; a value the program shows is never handed back. They hold no
// rule of their own, only when an edit is complete: while the start is ticked, typed text is taken
// when entered (Return, or the field left), arrow steps and the wheel once they have rested for
// kSettleMs; leaving the date for the time, or the time for the date, is still the same edit.
#pragma once

#include <QObject>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QSpinBox;
class QTimeEdit;
class QTimer;
class QWidget;

namespace brinesong {

class ResumeWatcher;
class Schedule;
class SleepInhibitor;

class ScheduleControls : public QObject {
    Q_OBJECT
public:
    // How long arrow steps or the wheel must rest before the start takes their value.
    static constexpr int kSettleMs = 1000;

    // Any control may be missing, and then what it would do is skipped.
    ScheduleControls(Schedule& schedule, QDateEdit* dateText, QTimeEdit* timeText,
                     QSpinBox* minutesText, QCheckBox* startCheckbox, QCheckBox* stopCheckbox,
                     QLabel* timeLeftText, QComboBox* fadeChoice = nullptr,
                     QComboBox* riseChoice = nullptr, QCheckBox* repeatCheckbox = nullptr,
                     QObject* parent = nullptr);

    // Text typed into the date or time field and not yet entered is what the field shows: the
    // schedule takes it (the quit saves it).
    void takeTypedText();

private:
    // Shows the schedule's values in the controls that differ from them.
    void show();
    void showTexts();
    // The user changed the date or the time.
    void startEdited();
    void startEditFinished(QWidget* field);
    bool startFieldFocused() const;

    Schedule& schedule_;
    QDateEdit* dateText_;
    QTimeEdit* timeText_;
    QSpinBox* minutesText_;
    QCheckBox* startCheckbox_;
    QCheckBox* stopCheckbox_;
    QLabel* timeLeftText_;
    QComboBox* fadeChoice_;
    QComboBox* riseChoice_;
    QCheckBox* repeatCheckbox_;
    QTimer* settleTimer_;
    bool updating_ = false;  // set while the controls show the schedule's values
};

// Whether a modal dialog runs or a menu is open: the schedule's stop check waits for it.
bool modalOrMenuRunning();

// The desktop's side of an armed start: `inhibitor` keeps the computer awake while it waits, and
// a wake from sleep that `resume` hears of decides it at once.
void joinSleepServices(Schedule& schedule, SleepInhibitor& inhibitor, ResumeWatcher& resume);

}  // namespace brinesong
