// The play state machine over an output unit. CONTRACT: the window (Controller) and the command
// line use exactly these members; their implementation lives in PlaybackEngine.cpp.
//
//   playStop()  main thread: when stopped, swap `state` 0 -> 1, clear the stop flags, startPlay()
//               (fresh generators and counters, 0.01 s fade, unit started, wait thread detached),
//               then host.didStart(); when playing, only set renderer.forceStop.
//   wait thread holds renderLock for the whole playback, polls every 0.1 s until the renderer's
//               end time has passed, stops the unit, swaps `state` 1 -> 0, releases the lock and
//               posts host.didStop() to the main thread without waiting.
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

class PlaybackEngine {
public:
    // How often the wait thread looks at the clock.
    static constexpr int kWaitPollMicroseconds = 100000;
    // A stop request that no buffer has taken up after this long means the stream has stalled:
    // the playback is ended without waiting for its fade-out. A running stream takes a stop up at
    // once (it renders its queue again) or asks for sound every tenth of a second or so.
    static constexpr double kStallSeconds = 0.6;

    PlaybackEngine(Renderer& renderer, OutputUnit& unit, PlaybackHost& host);
    // Requests the stop of a running playback and waits until its wait thread has ended, so no
    // thread outlives the engine; then closes the unit if it is still open.
    ~PlaybackEngine();
    PlaybackEngine(const PlaybackEngine&) = delete;
    PlaybackEngine& operator=(const PlaybackEngine&) = delete;

    void openAudioOutput();   // once, main thread; failures are logged, the program goes on
    void closeAudioOutput();  // at termination, once no playback runs
    void playStop();          // main thread
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
    // at `endsAt` on the wall clock (seconds, as wallClockSeconds() counts them); the stop itself
    // is still requested as usual. Applies to the playback running now, if any, and to every one
    // started later while `endsAt` lies ahead. Main thread. Set again to change it;
    // clearSleepFade() drops it, and a playback fading out then returns to its volume at its next
    // buffer.
    void setSleepFade(double endsAt, double seconds);
    void clearSleepFade();
    // The fade in frames as the render path reads it now (none when no fade lies ahead).
    SleepFade sleepFade() const { return sleepFade_.load(std::memory_order_relaxed); }

    // Where the live render path reports each buffer for the window's picture; set while no
    // playback runs.
    void setRenderTap(RenderTap* tap) { tap_ = tap; }

    // Blocks until every wait thread started so far has finished (its didStop() is posted by
    // then). Termination and tests use it; it does not request a stop.
    void waitForWaitThreads();

    // The functions handed to the unit: `context` is the engine.
    static void outputRenderCallback(void* context, RendererData* request);
    static void outputNoticeCallback(void* context, OutputUnit::Notice notice);
    static uint32_t outputRewindCallback(void* context, uint32_t frame);

    // Render requests of one playback whose starting points are kept for a rewind: at 10 ms or
    // more a request, several seconds, more than any queue the unit keeps.
    static constexpr uint32_t kCheckpoints = 512;

    Renderer& renderer;
    std::atomic<uint32_t> state{0};    // 0 stopped, 1 playing; changed only by compare-and-swap
    std::atomic<double> startTime{0};  // wall-clock seconds at the start of the playback
    // Held by whoever produces sound: a playback's wait thread, or the export worker.
    std::mutex renderLock;

    // Receives the log lines (exact texts, no newline); writes them to standard error unless
    // replaced. Main thread and wait thread call it.
    std::function<void(const std::string& line)> log;

private:
    // The sleep fade in frames of the playback whose frame `frame` is rendered at wall time `now`.
    SleepFade sleepFadeFrom(uint32_t frame, double now) const;

    bool startPlay();  // false when the unit did not start
    bool stopPlay();   // always true; a failing stop is logged
    void waitThread();
    // Main thread.
    void startOrWait();
    void playbackEnded(bool lost);
    void outputChanged();
    void playWhenPossible();

    OutputUnit& unit_;
    PlaybackHost& host_;
    bool outputOpen_ = false;
    bool openAttempted_ = false;
    bool waitingToPlay_ = false;  // main thread
    std::string failure_;         // main thread
    // Set from the unit's thread when the started stream is gone; read by the wait thread.
    std::atomic<bool> outputLost_{false};
    // Work posted to the main thread holds this weakly, so it does nothing once the engine is gone.
    std::shared_ptr<PlaybackEngine*> alive_;

    // The renderer's state at the start of the latest render requests, oldest overwritten first;
    // allocated once, written and read only on the audio thread (reset by startPlay before the
    // unit starts).
    std::unique_ptr<RenderCheckpoint[]> checkpoints_;
    uint64_t checkpointsSaved_ = 0;

    // Read by the render callback once per buffer; written by the main thread.
    std::atomic<SleepFade> sleepFade_{};
    static_assert(std::atomic<SleepFade>::is_always_lock_free);
    double fadeEndsAt_ = 0.0;  // the plan, main thread only; 0: none
    double fadeSeconds_ = 0.0;
    RenderTap* tap_ = nullptr;

    std::mutex threadsMutex_;
    std::condition_variable threadsDone_;
    int runningWaitThreads_ = 0;
};

// Seconds on the wall clock, as a double.
double wallClockSeconds();

}  // namespace brinesong
