// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/QtMainThreadQueue.h"

#include <QMetaObject>
#include <QTimer>

namespace brinesong {

void QtMainThreadQueue::postToMainThread(std::function<void()> task,
                                         std::chrono::milliseconds delay) {
    // A timer can only be started on the thread it belongs to, so the queued call starts it.
    QMetaObject::invokeMethod(
        &receiver_,
        [this, task = std::move(task), delay]() mutable {
            if (delay.count() > 0) {
                QTimer::singleShot(delay, &receiver_, std::move(task));
            } else {
                task();
            }
        },
        Qt::QueuedConnection);
}

}  // namespace brinesong
