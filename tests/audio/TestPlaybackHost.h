// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for the window's event loop in playback tests: the test's own thread plays the main
// thread, and tasks the engine posts run when it pumps them.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "audio/PlaybackEngine.h"

namespace brinesong {

// Tasks posted from any thread, run by the one thread that pumps the queue.
class TaskQueue {
public:
    // Never waits for the task to run.
    void post(std::function<void()> task) {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        posted_.notify_all();
    }

    // Runs the oldest task, waiting up to `timeout` for one to arrive; false when none came.
    bool runOne(std::chrono::milliseconds timeout) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            if (!posted_.wait_for(lock, timeout, [this] { return !tasks_.empty(); })) {
                return false;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> tasks_;
};

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
