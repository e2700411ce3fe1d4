// Work handed from any thread to the one thread that pumps this queue. The command line's main
// thread pumps one while it waits for a playback to end; tests pump one in place of the window's
// event loop.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace brinesong {

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

}  // namespace brinesong
