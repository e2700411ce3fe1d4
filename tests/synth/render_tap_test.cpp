// The render tap between two threads, as the audio thread and the window use it: a writer that
// never waits, a reader that reads in bursts and sometimes falls far behind. Run under
// ThreadSanitizer by the test script (label `threaded`).
#include "synth/RenderTap.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace brinesong {
namespace {

// Every field is a function of the record's number, so a torn record shows.
TapRecord recordNumber(uint32_t n) {
    TapRecord r;
    r.sound = n / 1000;
    r.frame = n * 441;
    r.frames = 441 + n % 7;
    for (int c = 0; c < 2; ++c) {
        r.envelope[c] = float(n % 1000) / 1000.0f + c;
        r.level[c] = float(n) * 0.5f + c;
    }
    return r;
}

TEST(RenderTapTest, readerBehindTheWriter_getsWholeRecordsInOrderAndCountsTheRestLost) {
    RenderTap tap;
    constexpr uint32_t kRecords = 200000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (uint32_t n = 0; n < kRecords; ++n) {
            tap.publish(recordNumber(n));
            if (n % 5000 == 0) {
                std::this_thread::yield();
            }
        }
        done = true;
    });

    std::vector<TapRecord> batch(64);
    uint64_t got = 0;
    int64_t last = -1;
    int rounds = 0;
    for (bool finished = false; !finished;) {
        finished = done.load();  // one more read after the writer is done
        const size_t n = tap.read(batch.data(), batch.size());
        for (size_t i = 0; i < n; ++i) {
            const TapRecord& r = batch[i];
            const uint32_t number = r.frame / 441;
            const TapRecord expected = recordNumber(number);
            ASSERT_GT(int64_t(number), last);
            last = number;
            ASSERT_EQ(r.sound, expected.sound);
            ASSERT_EQ(r.frames, expected.frames);
            for (int c = 0; c < 2; ++c) {
                ASSERT_EQ(r.envelope[c], expected.envelope[c]);
                ASSERT_EQ(r.level[c], expected.level[c]);
            }
        }
        got += n;
        // Now and then the reader looks away, as a hidden window does.
        if (++rounds % 50 == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        finished = finished && n < batch.size();
    }
    writer.join();
    EXPECT_EQ(last, int64_t(kRecords) - 1);  // the newest always arrives
    EXPECT_EQ(got + tap.lost(), kRecords);
    EXPECT_GE(got, RenderTap::kCapacity / 2);
}

}  // namespace
}  // namespace brinesong
