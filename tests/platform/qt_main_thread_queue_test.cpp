// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/QtMainThreadQueue.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>

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
    // Runs the event loop for at most `ms`, or until quit.
    static void spin(int ms) {
        QTimer limit;  // gone with this call, so it cannot end a later test's loop
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, qApp, &QCoreApplication::quit);
        limit.start(ms);
        QCoreApplication::exec();
    }
};

TEST_F(QtMainThreadQueueTest, postFromAnotherThread_runsOnTheMainThreadAfterTheDelay) {
    QtMainThreadQueue queue;
    std::atomic<bool> ranOnMain{false};
    std::atomic<qint64> ranAfterMs{-1};
    QElapsedTimer clock;
    clock.start();
    std::thread other([&] {
        queue.postToMainThread(
            [&] {
                ranOnMain = QThread::currentThread() == qApp->thread();
                ranAfterMs = clock.elapsed();
                QCoreApplication::quit();
            },
            40ms);
    });
    other.join();
    spin(2000);
    EXPECT_TRUE(ranOnMain);
    EXPECT_GE(ranAfterMs.load(), 40);
}

TEST_F(QtMainThreadQueueTest, destroyedBeforeItRuns_theTaskIsDropped) {
    int runs = 0, quits = 0;
    const auto quit = [&] { ++quits, QCoreApplication::quit(); };
    auto queue = std::make_unique<QtMainThreadQueue>();
    queue->postToMainThread([&] { ++runs; }, 20ms);
    queue->postToMainThread(quit, 0ms);  // runs once the delayed one has its timer
    spin(10000);                         // the limit only ends a hang
    queue.reset();
    QtMainThreadQueue later;  // started later and longer: a kept task would run before it
    later.postToMainThread(quit, 40ms);
    spin(10000);
    EXPECT_EQ(quits, 2);
    EXPECT_EQ(runs, 0);
}

}  // namespace
}  // namespace brinesong
