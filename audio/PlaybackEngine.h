// SPDX-License-Identifier: GPL-3.0-or-later
// The play state machine over an output unit. CONTRACT: the window (Controller) and the command
// line use exactly these members; their implementation lives in PlaybackEngine.cpp.
//
//   playStop()  main thread: when stopped, swap `state` 0 -> 1, startPlay() (a fresh RenderRun:
//               generators, counters, no stop requested, 0.01 s fade; unit started, wait thread
//               detached), then host.didStart(); when playing, only set the run's forceStop.
//   startRising(s)  main thread: when stopped, as playStop(), the sound rising from silence over
//               s seconds (a gentle wake); when playing, nothing.
//   wait thread holds renderLock for the whole playback, polls every 0.1 s until the run's end
//               time has passed, stops the unit, swaps `state` 1 -> 0, releases the lock and
//               posts host.didStop() to the main thread without waiting.
//
// Each playback's state is its own (`Playback`: the RenderRun, its start time, its sleep fade, the
// points a rewrite goes back to). startPlay makes it before the unit starts; the engine keeps it
// until the next start, and the playback's wait thread holds it until it ends. The audio thread
// reaches it only between the unit's start and stop, which the unit promises, so it never meets
// one that has been freed or replaced, and a stream that wakes up after the engine gave up on it
// renders into nothing of a later playback or export.
//
// Times are read from a steady clock (the system's, unless one is given): a wall clock stepped
// back during a stop cannot keep the engine "playing" silence.
//
// A night (synth/Night.h) runs with every start: its steps count from the start's first sound, and
// a playback started again after the server came back goes on where the night then stands, on the
// same wander path. A change-over glides the settings heard to the ones just set, while it plays.
//
// A unit that fails to start leaves nothing running: `state` goes back to 0 at once and the host
// hears didStop() instead of didStart(), so the next click tries again.
//
// The sound server may go away. The wait thread then ends the playback at once (the unit says its
// stream is lost), and also when a stop request is not taken up by any buffer within a while (a
// server that has stopped asking for sound): the program never waits for a buffer that will not
// come. A playback that ended so without anyone asking, or a start made while the unit cannot
// play, leaves the engine "waiting to play": the host keeps showing a playback, and the sound
// starts afresh (with its fade-in) as soon as the unit can play again. A stop request while
// waiting, from the user or the scheduler, only ends the wait.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "audio/OutputUnit.h"
#include "synth/Renderer.h"

namespace brinesong {

// The main-thread side of playback, implemented by the window's controller or the command line.
class PlaybackHost {
public:
    virtual ~PlaybackHost() = default;
    // Runs `task` later on the main thread; never waits for it. Called from any thread.
    virtual void postToMainThread(std::function<void()> task) = 0;
    // The play/stop button's title: "Stop Brinesong" after a start, "Start Brinesong" after a stop.
    virtual void didStart() = 0;
    virtual void didStop() = 0;
    // What status() answers may have changed.
    virtual void statusChanged() {}
};

// What is happening, in one word, for the window's status line and the command line's messages.
enum class PlaybackStatus {
    Stopped,
    Playing,
    WaitingForServer,  // no sound server (yet); playing, or waiting to, when it comes
    NoOutputDevice,    // the server has nothing to play to
    CannotPlay,        // the last start failed for a reason a retry will not mend
};

// Seconds on the system's steady clock, as a double.
double steadySeconds();

class PlaybackEngine {
public:
    // How often the wait thread looks at the clock.
    static constexpr int kWaitPollMicroseconds = 100000;
    // A stop request that no buffer has taken up after this long means the stream has stalled:
    // the playback is ended without waiting for its fade-out. A running stream takes a stop up at
    // once (it renders its queue again) or asks for sound every tenth of a second or so.
    static constexpr double kStallSeconds = 0.6;

    // `clock`: seconds on a clock that never steps back; tests give one of their own.
    PlaybackEngine(Renderer& renderer, OutputUnit& unit, PlaybackHost& host,
                   std::function<double()> clock = steadySeconds);
    // Requests the stop of a running playback and waits until its wait thread has ended, so no
    // thread outlives the engine; then closes the unit if it is still open.
    ~PlaybackEngine();
    PlaybackEngine(const PlaybackEngine&) = delete;
    PlaybackEngine& operator=(const PlaybackEngine&) = delete;

    void openAudioOutput();   // once, main thread; failures are logged, the program goes on
    void closeAudioOutput();  // at termination, once no playback runs
    void playStop();          // main thread
    // Main thread: when stopped, starts a playback as playStop() does, but its sound rises from
    // silence to full level over `seconds` (the Rise's curve) instead of the short fade-in; 0 (or
    // a value that is not a number) starts it as playStop() does. When playing, or waiting to
    // play, does nothing. The rise is planned on the engine's clock from the moment the sound
    // first starts: a start that waits for the server rises once the server is there, and a
    // playback cut off by the server during the rise and started again goes on from where the
    // rise then stands. A stop ends it; the next start has it only if asked again.
    void startRising(double seconds);
    // Main thread: seconds until the sound of the playback running now reaches full level; 0 when
    // nothing plays or it does not rise (any more).
    double riseSecondsLeft() const;
    // Main thread: the rise in frames of the playback running now or last (none when it had none).
    Rise rise() const;
    // Main thread: asks the playback running now, if any, to end with its fade-out, as a stop
    // from the button does (termination).
    void requestStop();
    // Main thread: the volume or a setting has changed; a playback renders what it has queued
    // but not yet played again, so the change is heard at once.
    void soundChanged();

    bool isPlaying() const { return state.load(std::memory_order_acquire) != 0; }
    // True once openAudioOutput() got a working unit, until closeAudioOutput().
    bool isOutputOpen() const { return outputOpen_; }
    // Main thread: a playback is wanted but the unit cannot play now; it starts by itself when
    // the unit can. The host shows it as playing.
    bool isWaitingToPlay() const { return waitingToPlay_; }
    // Main thread: ends a wait to play without telling the host (termination). True if there was
    // one.
    bool cancelWaitToPlay();
    // Main thread.
    PlaybackStatus status() const;
    // Why the last start failed, when status() is CannotPlay.
    const std::string& failureText() const { return failure_; }
    // Why the unit cannot play now, in the server's words (when waiting or without a device).
    std::string outputFailureText() const { return unit_.failureText(); }

    // The sleep fade of a scheduled stop: the sound fades to silence over `seconds`, reaching it
    // `secondsToEnd` from now; the stop itself is still requested as usual. Applies to the
    // playback running now, if any, and to every one started later while its end lies ahead.
    // Main thread. Set again to change it; clearSleepFade() drops it. A playback glides from the
    // gain heard to the new fade's, or back to its volume, as it does for any change.
    void setSleepFade(double secondsToEnd, double seconds);
    void clearSleepFade();
    // Main thread: the fade in frames of the playback running now or last (none when no fade
    // lies ahead).
    SleepFade sleepFade() const;

    // Main thread: the steps of the night every start runs through from then on (none: a plain
    // sound); a playback running now keeps its own.
    void setNight(Night night);
    // Main thread: the next change of the wave settings, to be made just after this call, glides
    // from the settings heard to the new ones over `seconds` (at least a second), or at 0 at once
    // as any change does; steps of the night after it glide on from there. Then soundChanged(),
    // so what is queued takes it too. Nothing when no playback runs.
    void glideSettings(double seconds);
    // Main thread: seconds since the night of the playback running now began (its first sound);
    // 0 when nothing plays.
    double nightSeconds() const;

    // Main thread: the control state of the playback running now, or of the last one until the
    // next starts; none before the first.
    const RenderRun* rendering() const;

    // Where the live render path reports each buffer for the window's picture; set while no
    // playback runs.
    void setRenderTap(RenderTap* tap) { tap_ = tap; }

    // Blocks until every wait thread started so far has finished (its didStop() is posted by
    // then). Termination and tests use it; it does not request a stop.
    void waitForWaitThreads();

    // The functions handed to the unit: `context` is the engine.
    static void outputRenderCallback(void* context, RendererData* request);
    static void outputNoticeCallback(void* context, OutputUnit::Notice notice);
    static uint64_t outputRewindCallback(void* context, uint64_t frame);

    // Render requests of one playback whose starting points are kept for a rewind: at 10 ms or
    // more a request, several seconds, more than any queue the unit keeps.
    static constexpr uint32_t kCheckpoints = 512;

    // What the user set, shared with every other sound.
    Renderer& renderer;
    std::atomic<uint32_t> state{0};  // 0 stopped, 1 playing; changed only by compare-and-swap
    // Held by whoever produces sound: a playback's wait thread, or the export worker.
    std::mutex renderLock;

    // Receives the log lines (exact texts, no newline); writes them to standard error unless
    // replaced. Main thread and wait thread call it.
    std::function<void(const std::string& line)> log;

private:
    // The sleep fade as the main thread sets it and the render path reads it, once per buffer.
    // Its two 64-bit numbers are too wide for one lock-free atomic, so a sequence number is
    // written before and after them: a reader that meets a change half made keeps the fade it
    // read last, and the next buffer takes the new one. Neither side waits. One writer.
    class SleepFadeSlot {
    public:
        void store(const SleepFade& fade);            // main thread
        SleepFade stored() const { return stored_; }  // main thread
        SleepFade read();                             // the render path

    private:
        std::atomic<uint64_t> sequence_{0};
        std::atomic<int64_t> endFrame_{0};
        std::atomic<int64_t> frames_{0};
        SleepFade stored_;    // the writer's own copy
        SleepFade lastRead_;  // the reader's own copy
    };

    // One playback's own state.
    struct Playback {
        explicit Playback(Renderer& renderer) : rendering(renderer, Renderer::kLiveFade) {}
        RenderRun rendering;
        double startTime = 0.0;  // on the engine's clock; set before the unit starts
        Rise rise;               // likewise, and fixed from then on
        Night night;             // likewise
        SleepFadeSlot sleepFade;
        // The change-overs asked for, as LiveRendering::changeOver; main thread writes.
        std::atomic<uint64_t> changeOver{0};
        // The rendering's state at the start of the latest render requests, oldest overwritten
        // first; written and read only on the audio thread.
        RenderCheckpoint checkpoints[kCheckpoints];
        uint64_t checkpointsSaved = 0;
    };

    // The sleep fade in frames of the playback whose frame `frame` is rendered at `now`.
    SleepFade sleepFadeFrom(uint64_t frame, double now) const;
    // The rise in frames of a playback whose first frame is rendered at `now`.
    Rise riseFrom(double now) const;

    // Main thread: when stopped, swaps `state` 0 -> 1 and starts, rising over `riseSeconds`;
    // false when a playback was already running.
    bool start(double riseSeconds);
    bool startPlay();  // false when the unit did not start
    bool stopPlay();   // always true; a failing stop is logged
    void waitThread(std::shared_ptr<Playback> playback);
    bool raiseStopRequest();  // main thread; false when nothing plays
    // Main thread.
    void startOrWait();
    void playbackEnded(bool lost, bool stopRequested);
    void outputChanged();
    void playWhenPossible();

    OutputUnit& unit_;
    PlaybackHost& host_;
    const std::function<double()> clock_;
    bool outputOpen_ = false;
    bool openAttempted_ = false;
    bool waitingToPlay_ = false;  // main thread
    std::string failure_;         // main thread
    // Set from the unit's thread when the started stream is gone; read by the wait thread.
    std::atomic<bool> outputLost_{false};
    // Work posted to the main thread holds this weakly, so it does nothing once the engine is gone.
    std::shared_ptr<PlaybackEngine*> alive_;

    // The playback running now, or the last one; main thread.
    std::shared_ptr<Playback> playback_;
    // The same, for the render path: set before the unit starts, read between its start and stop.
    std::atomic<Playback*> sounding_{nullptr};

    double fadeEndsAt_ = 0.0;  // the plan, on the engine's clock, main thread only; 0: none
    double fadeSeconds_ = 0.0;
    // The rise of the playback wanted now (main thread only): its length, 0 for none, and when it
    // ends on the engine's clock, 0 until its sound first starts.
    double riseSeconds_ = 0.0;
    double riseEndsAt_ = 0.0;
    // The night of every start (main thread only), and where the one wanted now began on the
    // engine's clock and what its wander is drawn from, once its sound first started.
    Night night_;
    bool nightBegun_ = false;
    double nightBeganAt_ = 0.0;
    uint64_t nightSeed_ = 0;
    RenderTap* tap_ = nullptr;

    std::mutex threadsMutex_;
    std::condition_variable threadsDone_;
    int runningWaitThreads_ = 0;
};

}  // namespace brinesong
