// A stand-in for the window's event loop in playback tests: the test's own thread plays the main
// thread, and tasks the engine posts run when it pumps them.
#pragma once

#include <algorithm>
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

    // Runs posted tasks until `done` holds; false if it does not within `limit` (a hang guard,
    // not a timing check).
    template <typename Predicate>
    bool pumpUntil(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        const auto giveUp = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                giveUp - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return false;
            }
            queue_.runOne(std::min(left, std::chrono::milliseconds(50)));
        }
        return true;
    }

    // Runs the tasks posted so far, waiting for none.
    void runPosted() {
        while (queue_.runOne(std::chrono::milliseconds(0))) {
        }
    }

    int started = 0;
    int stopped = 0;

private:
    TaskQueue queue_;
};

}  // namespace brinesong
