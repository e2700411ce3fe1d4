// SPDX-License-Identifier: GPL-3.0-or-later
// The start/stop scheduler of the main window: start the sound at a date and time, stop it a number
// of minutes after it starts. Each schedule is armed by its checkbox and carried out on the main
// thread by sending the same play/stop request as the button, so a scheduled start fades in and a
// scheduled stop fades out like a click.
//
// The stop counts its minutes while the sound plays: armed during a playback, from the moment it
// is armed (a sleep timer); armed while nothing plays, from the next start, whoever starts it
// (so "Start at" and "Stop after" ticked together play for the minutes given). A playback that
// ends before the stop comes leaves the stop ticked, to count again from the next start. Once
// counting, the stop is checked once a minute and carried out at the first check at or after its
// time, never earlier. A stop check that comes due while a modal dialog runs or a
// menu is open is held back and runs once when the dialog or menu has gone. The start is decided
// at the moment it comes due, dialog or not: dropped if an export runs or the sound plays, since
// a start held back until an export's sheet closes would begin at a time nobody chose.
//
// The stop can fade the sound out over its last minutes (off, or one of kFadeChoices): the fade is
// planned to end when the check that stops the sound comes, and is handed to the host whenever the
// stop begins or ends counting, is re-armed, or the choice changes. The time-left text counts down
// while the stop counts, and says what the stop will do while it waits for a start. The stop
// itself is carried out exactly as without a fade.
//
// The start can fade the sound in gently from silence (off, or one of kFadeChoices): a wake. The
// host starts the sound rising over those minutes; a start by hand elsewhere keeps its short
// fade-in. While the sound rises, startText() says when it reaches full level ("Fading in, full
// level at 07:10"), after the host's word on how long the rise still has to go: it knows when the
// sound first started and whether it still plays.
//
// While the start is armed, startText() says when it comes ("Starts in 2:14", "Starts tomorrow at
// 21:22"), for the window's status line. Dates and times show in the locale's short formats,
// without seconds and with the year in full.
//
// The start is the first instant at which the clocks of the clock's time zone show the date and
// time of day; a time that a daylight-saving change skips comes when the clocks jump past it.
// While the start is armed, a date or time the user is still entering arms nothing: typed text
// is taken when entered (Return, or the field left), arrow steps and the wheel once they have
// settled for kSettleMs. A time already past is taken only once the user leaves the fields or
// presses Return, so a value passed on the way never starts the sound.
//
// The start is a time on the wall clock, but Qt's timers count on the monotonic clock, which
// stands still while the computer sleeps and knows nothing of the wall clock being set. So the
// start's timer looks at the wall clock at least once a minute, and at once when the computer
// wakes (resumed()): it never comes early, and comes at most a minute late. While the start is
// armed the computer is asked not to sleep (startArmedChanged; see joinSleepServices). A start
// that finds its time already kLatestStartMinutes or more behind it (the computer slept through
// it, or the clock was set past it) is not played hours late: it is dropped, its box unticked,
// the fields moved to the next occurrence of its time, and startText() says it was missed until
// the next action: the sound starting or stopping, or the user touching a control of the
// schedule.
//
// Time comes from an injectable clock (its time zone is the one the start is read in), and the
// length of the scheduler's minute is a parameter, so tests run whole schedules on a fast
// simulated clock.
#pragma once

#include <QDateTime>
#include <QObject>
#include <functional>
#include <optional>

#include "model/Settings.h"

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
class SleepInhibitor;

// The wall clock the scheduler reads.
using Clock = std::function<QDateTime()>;
Clock systemClock();

// What the scheduler needs of the rest of the window.
struct SchedulerHost {
    std::function<void()> playStop;   // start when stopped, stop request when playing
    std::function<bool()> isPlaying;  // the play state is not stopped
    std::function<bool()> isSaving;   // an export is in progress
    // The sleep fade: it ends `secondsToEnd` from now and lasts `seconds` (real seconds); 0
    // seconds: no fade. May be empty.
    std::function<void(double secondsToEnd, double seconds)> setSleepFade;
    // Starts the sound rising from silence over `seconds` (real seconds), when stopped. May be
    // empty: the start is then playStop's.
    std::function<void(double seconds)> startRising;
    // Real seconds until the sound playing now reaches full level; 0 when it does not rise. May
    // be empty.
    std::function<double()> riseSecondsLeft;
};

class Scheduler : public QObject {
    Q_OBJECT
public:
    static constexpr int kMinuteMs = 60000;
    // How long arrow steps or the wheel must rest before the start takes their value.
    static constexpr int kSettleMs = 1000;
    // A start found due this late or later (in the clock's minutes) is dropped, not played.
    static constexpr int kLatestStartMinutes = 10;

    // `minuteMs`: real milliseconds per minute of `clock`; the minute checks run at that interval
    // and waits for a date are scaled alike. Only tests change it, with a clock running as fast.
    Scheduler(Clock clock, SchedulerHost host, int minuteMs = kMinuteMs, QObject* parent = nullptr);
    ~Scheduler() override;

    // The main window's controls; any may be missing, and then what it would do is skipped.
    void attach(QDateEdit* dateText, QTimeEdit* timeText, QSpinBox* minutesText,
                QCheckBox* startCheckbox, QCheckBox* stopCheckbox, QLabel* timeLeftText,
                QComboBox* fadeChoice = nullptr, QComboBox* riseChoice = nullptr);

    // The next occurrence of `savedTime`, to the minute, from now: today, or tomorrow when it has
    // passed today. Shown in the date and time fields at launch.
    void showNextStart(const QTime& savedTime);
    QTime startTimeOfDay() const;
    // The minutes field holds whole minutes in its range (0 to 1440); a value outside is held to
    // it.
    void setMinutes(int minutes);
    int minutes() const;
    // The tray's sleep timer: ticks the stop with `minutes` in the field, as the user would (so it
    // counts from now while the sound plays, else from the next start, with the fade-out chosen
    // beside it); none unticks it.
    void stopAfter(std::optional<int> minutes);
    // The fade-out beside the stop, in minutes (0: off); a value not among kFadeChoices is off.
    void setFadeMinutes(int minutes);
    int fadeMinutes() const;
    // The fade-in beside the start, in minutes (0: off, the short fade-in); a value not among
    // kFadeChoices is off.
    void setRiseMinutes(int minutes);
    int riseMinutes() const;

    // The sound started (true) or its playback ended (false), as the window announces it: an
    // armed stop begins counting, or goes back to waiting for the next start.
    void playStateChanged(bool playing);

    // When the armed start comes, in a few words, or that the last one was missed; and when the
    // sound rising now reaches full level. Else empty.
    QString startText() const;
    // The sound started, stopped, or waits for the server: what startText() says of the rise
    // follows the host's word.
    void followRise();

    // The computer woke from sleep: an armed start is decided now from the wall clock.
    void resumed();

    // Actions of the controls.
    void dateChanged();
    void timeChanged();
    void startCheckboxChanged();
    void minutesChanged();
    void stopCheckboxChanged();
    void fadeChoiceChanged();

    void updateStartTimer();
    void updateStopTimer();
    void startTimerFired();
    void stopTimerFired();

    bool willStart() const { return willStart_; }
    bool willStop() const { return willStop_; }
    // The armed stop counts down; armed and not counting, it waits for the sound to start.
    bool stopCounting() const { return willStop_ && stopCounting_; }
    QDateTime startDate() const { return startDate_; }  // when armed
    QDateTime stopTime() const { return stopTime_; }    // while the stop counts
    // When the armed stop's fade begins; null when it has none.
    QDateTime fadeBegins() const;

signals:
    // After each firing, whatever it did (tests and the time-left text follow it).
    void startFired();
    void stopChecked();
    // startText() has changed.
    void startTextChanged();
    // The start was armed, or is no longer (fired, dropped, missed or unticked).
    void startArmedChanged(bool armed);

private:
    // Runs `fire` now, or once the modal dialog or open menu has gone.
    void whenUnblocked(bool& pending, void (Scheduler::*fire)());
    // A change of the date or time while the start is armed, taken when it is complete.
    void startEdited();
    void startEditFinished(QWidget* field);
    void takeStartEdit(bool stillEditing);
    // Arms from the fields; with `holdPast`, a start already due waits for the edit to end.
    void armStart(bool holdPast);
    bool startFieldFocused() const;
    void armStartWait();
    // Fires, misses or waits on, after the wall clock.
    void decideStart();
    void startMissed();
    // The start, fired or missed, is no longer armed: its timers stop and its box is unticked.
    void disarmStart();
    void forgetMissedStart();
    // Starts the stop's count from now.
    void startStopCount();
    void updateTimeLeft();
    void updateStartText();
    void updateSleepFade();

    Clock clock_;
    SchedulerHost host_;
    int minuteMs_;

    QDateEdit* dateText_ = nullptr;
    QTimeEdit* timeText_ = nullptr;
    QSpinBox* minutesText_ = nullptr;
    QCheckBox* startCheckbox_ = nullptr;
    QCheckBox* stopCheckbox_ = nullptr;
    QLabel* timeLeftText_ = nullptr;
    QComboBox* fadeChoice_ = nullptr;
    QComboBox* riseChoice_ = nullptr;

    QTimer* startTimer_;
    QTimer* stopTimer_;
    QTimer* heldBackTimer_;
    QTimer* timeLeftTimer_;
    QTimer* settleTimer_;
    QDateTime startDate_;
    QDateTime startDueFrom_;  // when the armed start is first due: its time, or its arming if later
    QDateTime missedStart_;   // the start that was missed, while its message stands
    QDateTime stopTime_;
    QDateTime stopDue_;  // when the check that finds the stop due comes
    QDateTime armedAt_;  // when the stop was armed: no fade begins before
    QDateTime riseEnd_;  // when the sound rising now reaches full level; null while none rises
    bool willStart_ = false;
    bool willStop_ = false;
    bool stopCounting_ = false;
    bool stopHeldBack_ = false;
    bool startEditPending_ = false;  // the fields hold a change the start has not taken
    QString startText_;
};

// The desktop's side of an armed start: `inhibitor` keeps the computer awake while it waits, and
// a wake from sleep that `resume` hears of decides it at once.
void joinSleepServices(Scheduler& scheduler, SleepInhibitor& inhibitor, ResumeWatcher& resume);

}  // namespace brinesong
