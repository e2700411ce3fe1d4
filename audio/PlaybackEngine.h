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
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "audio/OutputUnit.h"
#include "synth/Renderer.h"

namespace brinesong {

// The main-thread side of playback, implemented by the window's controller or the command line.
class PlaybackHost {
public:
    virtual ~PlaybackHost() = default;
    // Runs `task` later on the main thread; never waits for it.
    virtual void postToMainThread(std::function<void()> task) = 0;
    // The play/stop button's title: "Stop Brinesong" after a start, "Start Brinesong" after a stop.
    virtual void didStart() = 0;
    virtual void didStop() = 0;
};

class PlaybackEngine {
public:
    // How often the wait thread looks at the clock.
    static constexpr int kWaitPollMicroseconds = 100000;

    PlaybackEngine(Renderer& renderer, OutputUnit& unit, PlaybackHost& host);
    // Requests the stop of a running playback and waits until its wait thread has ended, so no
    // thread outlives the engine.
    ~PlaybackEngine();
    PlaybackEngine(const PlaybackEngine&) = delete;
    PlaybackEngine& operator=(const PlaybackEngine&) = delete;

    void openAudioOutput();   // once, main thread; failures are logged, the program goes on
    void closeAudioOutput();  // at termination, once no playback runs
    void playStop();          // main thread

    bool isPlaying() const { return state.load(std::memory_order_acquire) != 0; }
    // True once openAudioOutput() got a working unit, until closeAudioOutput().
    bool isOutputOpen() const { return outputOpen_; }

    // Blocks until every wait thread started so far has finished (its didStop() is posted by
    // then). Termination and tests use it; it does not request a stop.
    void waitForWaitThreads();

    // The render function handed to the unit: `context` is the engine.
    static void outputRenderCallback(void* context, RendererData* request);

    Renderer& renderer;
    std::atomic<uint32_t> state{0};    // 0 stopped, 1 playing; changed only by compare-and-swap
    std::atomic<double> startTime{0};  // wall-clock seconds at the start of the playback
    // Held by whoever produces sound: a playback's wait thread, or the export worker.
    std::mutex renderLock;

    // Receives the log lines (exact texts, no newline); writes them to standard error unless
    // replaced. Main thread and wait thread call it.
    std::function<void(const std::string& line)> log;

private:
    bool startPlay();  // false when the unit did not start
    bool stopPlay();   // always true; a failing stop is logged
    void waitThread();

    OutputUnit& unit_;
    PlaybackHost& host_;
    bool outputOpen_ = false;
    bool openAttempted_ = false;

    std::mutex threadsMutex_;
    std::condition_variable threadsDone_;
    int runningWaitThreads_ = 0;
};

// Seconds on the wall clock, as a double.
double wallClockSeconds();

}  // namespace brinesong
