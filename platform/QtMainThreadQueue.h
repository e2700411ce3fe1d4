// SPDX-License-Identifier: GPL-3.0-or-later
// Hands work to the Qt main thread: a queued call, then a single-shot timer for the delay.
// Create it on the main thread; work not yet run when it is destroyed is dropped.
#pragma once

#include <QObject>

#include "audio/MainThreadQueue.h"

namespace brinesong {

class QtMainThreadQueue : public MainThreadQueue {
public:
    QtMainThreadQueue() = default;
    QtMainThreadQueue(const QtMainThreadQueue&) = delete;
    QtMainThreadQueue& operator=(const QtMainThreadQueue&) = delete;

    void postToMainThread(std::function<void()> task, std::chrono::milliseconds delay) override;

private:
    // Lives on the main thread; its pending calls and timers go with it.
    QObject receiver_;
};

}  // namespace brinesong
