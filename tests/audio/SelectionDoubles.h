// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for the main thread's queue, for the device-list tests.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "audio/MainThreadQueue.h"

namespace brinesong::testing {

// Tasks posted "to the main thread" wait here until the test runs them.
class ManualQueue : public MainThreadQueue {
public:
    void postToMainThread(std::function<void()> task, std::chrono::milliseconds delay) override {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        delays.push_back(delay);
    }
    size_t size() {
        std::lock_guard lock(mutex_);
        return tasks_.size();
    }
    void runAll() {
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard lock(mutex_);
                if (tasks_.empty()) {
                    return;
                }
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
    }
    std::vector<std::chrono::milliseconds> delays;

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
};

}  // namespace brinesong::testing
