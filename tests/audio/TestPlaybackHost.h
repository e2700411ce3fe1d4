// A stand-in for the window's event loop in playback tests: the test's own thread plays the main
// thread, and tasks the engine posts run when it pumps them.
#pragma once

#include <chrono>
#include <functional>

#include "audio/PlaybackEngine.h"
#include "audio/TaskQueue.h"

namespace brinesong {

class TestHost : public PlaybackHost {
public:
    void postToMainThread(std::function<void()> task) override { queue_.post(std::move(task)); }
    void didStart() override { ++started; }
    void didStop() override { ++stopped; }

    // Runs posted tasks until `didStop` has been heard `count` times; false if that takes longer
    // than any playback here could (a hang, not a timing check).
    bool pumpUntilStopped(int count) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (stopped < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                giveUp - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !queue_.runOne(left)) {
                return false;
            }
        }
        return true;
    }

    int started = 0;
    int stopped = 0;

private:
    TaskQueue queue_;
};

}  // namespace brinesong
