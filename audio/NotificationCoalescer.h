// SPDX-License-Identifier: GPL-3.0-or-later
// Notifications that arrive on another thread, handled on the main thread once per burst: the
// first one of a burst posts one task, which runs after a short delay and takes everything noted
// until it runs. A device being plugged in sends several notifications; the list is rebuilt once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "audio/MainThreadQueue.h"

namespace brinesong {

class NotificationCoalescer {
public:
    // `handle` runs on the main thread with the bits noted since the last run.
    NotificationCoalescer(MainThreadQueue& mainThread, std::chrono::milliseconds delay,
                          std::function<void(uint32_t bits)> handle)
        : mainThread_(mainThread),
          delay_(delay),
          handle_(std::move(handle)),
          alive_(std::make_shared<NotificationCoalescer*>(this)) {}
    // Posted work that has not run yet does nothing once the coalescer is gone.
    ~NotificationCoalescer() = default;
    NotificationCoalescer(const NotificationCoalescer&) = delete;
    NotificationCoalescer& operator=(const NotificationCoalescer&) = delete;

    // Any thread.
    void note(uint32_t bits) {
        pending_.fetch_or(bits, std::memory_order_acq_rel);
        if (posted_.exchange(true, std::memory_order_acq_rel)) {
            return;  // a task is on its way and will see this too
        }
        const std::weak_ptr<NotificationCoalescer*> alive = alive_;
        mainThread_.postToMainThread(
            [alive] {
                if (auto self = alive.lock()) {
                    (*self)->run();
                }
            },
            delay_);
    }

private:
    void run() {
        // Cleared before taking the pending bits, so a notification arriving from here on posts
        // again.
        posted_.store(false, std::memory_order_release);
        const uint32_t bits = pending_.exchange(0, std::memory_order_acq_rel);
        if (bits != 0) {
            handle_(bits);
        }
    }

    MainThreadQueue& mainThread_;
    const std::chrono::milliseconds delay_;
    const std::function<void(uint32_t)> handle_;
    std::atomic<uint32_t> pending_{0};
    std::atomic<bool> posted_{false};
    std::shared_ptr<NotificationCoalescer*> alive_;
};

}  // namespace brinesong
