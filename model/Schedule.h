// SPDX-License-Identifier: GPL-3.0-or-later
// The schedule of the main window without its widgets: a start at a date and time of day
// (ScheduledStart) and a stop a number of minutes later (ScheduledStop), what each does to the
// sound, the fade-in and fade-out planned with them, and the texts that say what will happen.
// Controls bind to it (window/ScheduleControls) and hold no rule of their own; everything here
// runs on an injected clock, on the main thread.
//
// Each schedule is carried out through the host, as the play/stop button's request is: a start
// is decided at the moment it comes due, dropped if an export runs or the sound plays (a start
// held back until an export's sheet closed would begin at a time nobody chose); with a fade-in
// chosen, the sound rises from silence over those minutes instead of the short fade-in.
//
// The stop counts its minutes from the moment it is armed (ticked, or its minutes changed while
// ticked), whether or not the sound plays, as a sleep timer: at the first minute check at or after
// its time it unticks and, if the sound plays, stops it with its fade-out; if nothing plays, it
// only unticks. It acts once per arming. A fade-out chosen beside it is planned to end when the
// check that stops the sound comes, and handed on at once: a sound started after the arming takes
// it up, and it is heard only if the sound plays.
//
// "Start at" can repeat every day: a start that fires (or is missed) then moves its date to the
// next day and stays ticked. Without it, a start fires once and is unticked, its date moved to the
// next day all the same, so ticking it again waits for that day rather than starting at once.
//
// The values are the user's: what the settings held is kept as it stands until the user changes
// it. A start missed while the computer slept is said (startText()) until the user's next action:
// the sound starting or stopping, or a value of the schedule changed.
#pragma once

#include <QDateTime>
#include <QObject>
#include <functional>
#include <optional>

#include "model/ScheduledStart.h"
#include "model/ScheduledStop.h"
#include "model/WallClock.h"

class QTimer;

namespace brinesong {

// What the schedule needs of the program.
struct ScheduleHost {
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
    // A modal dialog or an open menu runs: a stop check waits until it has gone. May be empty.
    std::function<bool()> isBlocked;
};

class Schedule : public QObject {
    Q_OBJECT
public:
    static constexpr int kMinuteMs = 60000;

    // `minuteMs`: real milliseconds per minute of `clock`; the minute checks run at that interval
    // and waits for a date are scaled alike. Only tests change it, with a clock running as fast.
    Schedule(Clock clock, ScheduleHost host, int minuteMs = kMinuteMs, QObject* parent = nullptr);

    // Launch: the start's fields show the next occurrence of `timeOfDay`.
    void showNextStart(QTime timeOfDay);

    // The values, as the user set them or the settings held them.
    QDate startDate() const { return date_; }
    QTime startTime() const { return time_; }
    bool startTicked() const { return startTicked_; }
    int minutes() const { return minutes_; }
    bool stopTicked() const { return stopTicked_; }
    int fadeMinutes() const { return fadeMinutes_; }
    int riseMinutes() const { return riseMinutes_; }
    bool repeatsDaily() const { return start_.repeatsDaily(); }

    // The user's actions. Each is also the user's next action after a missed start.
    // The start's date or time changed; while the start is ticked it is taken by takeStartEdit.
    void editStart(QDate date, QTime time);
    // The edit is complete. `stillEditing`: a start already past waits for the edit to end.
    void takeStartEdit(bool stillEditing);
    // The fields hold a change the armed start has not taken.
    bool startEditPending() const { return startEditPending_; }
    void setStartTicked(bool ticked);
    void setMinutes(int minutes);
    void setStopTicked(bool ticked);
    // The tray's sleep timer: ticks the stop with `minutes`, as the user would; none unticks it.
    void stopAfter(std::optional<int> minutes);
    // The fade-out beside the stop and the fade-in beside the start, in minutes; a value not among
    // kFadeChoices is off.
    void setFadeMinutes(int minutes);
    void setRiseMinutes(int minutes);
    void setRepeatsDaily(bool repeats);

    // The sound started (true) or its playback ended (false), as the window announces it: the
    // user's next action after a missed start. The stop counts on regardless.
    void playStateChanged(bool playing);
    // The computer woke from sleep: an armed start is decided now from the wall clock.
    void resumed();
    // The sound started, stopped, or waits for the server: what startText() says of the rise
    // follows the host's word.
    void followRise();
    // A stop check now, as the minute timer runs it.
    void checkStop() { stop_.check(); }

    bool willStart() const { return start_.armed(); }
    bool willStop() const { return stopTicked_; }
    QDateTime startsAt() const { return start_.at(); }       // when armed
    QDateTime stopTime() const { return stop_.stopTime(); }  // while the stop is armed
    // When the armed stop's fade begins; null when it has none.
    QDateTime fadeBegins() const { return stop_.fadeBegins(fadeMinutes_); }

    // When the armed start comes, or that the last one was missed, and when the sound rising now
    // reaches full level; else empty. For the window's status line.
    QString startText() const { return startText_; }
    // When the ticked stop falls due, and its fade begins; else empty.
    QString stopText() const { return stopText_; }
    // Both, for the status line.
    QString statusText() const;

signals:
    // A value changed, by the user or the program (a start fired or missed, a stop fallen due).
    void changed();
    // startText() or stopText() changed.
    void textsChanged();
    // The start was armed, or is no longer (fired, dropped, missed or unticked).
    void startArmedChanged(bool armed);
    // After each firing or miss of the start, whatever it did.
    void startFired();
    // After each check of the stop.
    void stopChecked();

private:
    void armStart(bool holdPast);
    void startDue();
    void startMissed(const QDateTime& at);
    void takeFiredStart();
    void forgetMissedStart();
    void updateStop();
    void stopDue();
    void updateSleepFade();
    void updateTexts();
    // Real seconds for `clockMs` of the clock: the schedule's minute may be shortened for tests.
    double realSeconds(qint64 clockMs) const;

    Clock clock_;
    ScheduleHost host_;
    int minuteMs_;
    ScheduledStart start_;
    ScheduledStop stop_;
    QTimer* textTimer_;

    QDate date_;
    QTime time_{8, 0};
    bool startTicked_ = false;
    bool startEditPending_ = false;
    int minutes_ = 45;
    bool stopTicked_ = false;
    int fadeMinutes_ = 0;
    int riseMinutes_ = 0;
    QDateTime missedStart_;  // the start that was missed, while its message stands
    QDateTime riseEnd_;      // when the sound rising now reaches full level; null while none rises
    QString startText_;
    QString stopText_;
};

}  // namespace brinesong
