// The play state machine over an output unit. CONTRACT: the window (Controller) and the command
// line use exactly these members; their implementation lives in PlaybackEngine.cpp.
//
//   playStop()  main thread: when stopped, swap `state` 0 -> 1, clear the stop flags, startPlay()
//               (fresh generators and counters, 0.01 s fade, unit started, wait thread detached),
//               then host.didStart(); when playing, only set renderer.forceStop.
//   wait thread holds renderLock for the whole playback, polls every 0.1 s until the renderer's
//               end time has passed, swaps `state` 1 -> 0, stops the unit, releases the lock and
//               posts host.didStop() to the main thread without waiting.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

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
    PlaybackEngine(Renderer& renderer, OutputUnit& unit, PlaybackHost& host);
    ~PlaybackEngine();

    void openAudioOutput();   // once, main thread; failures are logged, the program goes on
    void closeAudioOutput();  // at termination, once no playback runs
    void playStop();          // main thread

    bool isPlaying() const { return state.load(std::memory_order_acquire) != 0; }

    Renderer& renderer;
    std::atomic<uint32_t> state{0};    // 0 stopped, 1 playing; changed only by compare-and-swap
    std::atomic<double> startTime{0};  // wall-clock seconds at the start of the playback
    // Held by whoever produces sound: a playback's wait thread, or the export worker.
    std::mutex renderLock;
};

}  // namespace brinesong
