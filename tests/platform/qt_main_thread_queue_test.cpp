// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/QtMainThreadQueue.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace brinesong {
namespace {

using namespace std::chrono_literals;

class QtMainThreadQueueTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "qt_main_thread_queue_test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }
    // Runs the event loop until `done` holds. The guard only ends a hang, far beyond any wait
    // here; the tests decide by the order in which tasks run.
    static bool spinUntil(const std::function<bool()>& done) {
        QTimer guard;
        guard.setSingleShot(true);
        guard.start(10000);
        while (!done() && guard.isActive()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return done();
    }
    static bool onMainThread() { return QThread::currentThread() == qApp->thread(); }
};

TEST_F(QtMainThreadQueueTest,
       postFromAnotherThread_runsOnTheMainThread_theDelayedOneAfterTheOther) {
    QtMainThreadQueue queue;
    std::vector<std::string> order;  // main thread only
    bool allOnMain = true;
    std::thread other([&] {
        queue.postToMainThread(
            [&] {
                allOnMain = allOnMain && onMainThread();
                order.push_back("delayed");
            },
            20ms);
        queue.postToMainThread(
            [&] {
                allOnMain = allOnMain && onMainThread();
                order.push_back("at once");
            },
            0ms);
    });
    other.join();
    ASSERT_TRUE(spinUntil([&] { return order.size() == 2; }));
    EXPECT_TRUE(allOnMain);
    EXPECT_EQ(order, (std::vector<std::string>{"at once", "delayed"}));
}

TEST_F(QtMainThreadQueueTest, destroyedWhileATaskWaitsForItsDelay_theTaskIsDropped) {
    int delayedRuns = 0;
    bool timerStarted = false;
    auto queue = std::make_unique<QtMainThreadQueue>();
    queue->postToMainThread([&] { ++delayedRuns; }, 20ms);
    // Handed over after the delayed one, so its timer runs once this has.
    queue->postToMainThread([&] { timerStarted = true; }, 0ms);
    ASSERT_TRUE(spinUntil([&] { return timerStarted; }));
    queue.reset();
    // Started later and twice as long: the dropped task, had it been kept, would run before it.
    bool later = false;
    QtMainThreadQueue another;
    another.postToMainThread([&] { later = true; }, 40ms);
    ASSERT_TRUE(spinUntil([&] { return later; }));
    EXPECT_EQ(delayedRuns, 0);
}

}  // namespace
}  // namespace brinesong
