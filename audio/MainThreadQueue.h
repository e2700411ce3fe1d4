// SPDX-License-Identifier: GPL-3.0-or-later
// Hands work to the main thread from any thread.
#pragma once

#include <chrono>
#include <functional>

namespace brinesong {

class MainThreadQueue {
public:
    virtual ~MainThreadQueue() = default;
    // Runs `task` on the main thread no sooner than `delay` from now; never waits for it.
    virtual void postToMainThread(std::function<void()> task, std::chrono::milliseconds delay) = 0;
};

}  // namespace brinesong
