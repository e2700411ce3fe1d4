// SPDX-License-Identifier: GPL-3.0-or-later
// The render tap between two threads, as the audio thread and the window use it: a writer that
// never waits, a reader that reads in bursts and sometimes falls far behind. Run under
// ThreadSanitizer by the test script (label `threaded`).
#include "synth/RenderTap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
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

// Whether `r` is whole record number `number`, every field of it.
::testing::AssertionResult isRecord(const TapRecord& r, uint32_t number) {
    const TapRecord expected = recordNumber(number);
    bool same =
        r.sound == expected.sound && r.frame == expected.frame && r.frames == expected.frames;
    for (int c = 0; c < 2; ++c) {
        same = same && r.envelope[c] == expected.envelope[c] && r.level[c] == expected.level[c];
    }
    if (same) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "a torn record " << number;
}

// The reader falls behind by what the writer has done, not by how the threads were scheduled:
// alone, a reader one ring and a bit behind gets exactly the newest ring; on two threads, it
// waits now and then until the writer has gone a whole ring past it, so records are lost in
// every run, and whatever it gets is whole and in order.
TEST(RenderTapTest, readerBehindTheWriter_getsWholeRecordsInOrderAndCountsTheRestLost) {
    {
        RenderTap tap;
        constexpr uint32_t kOver = 10;
        for (uint32_t n = 0; n < RenderTap::kCapacity + kOver; ++n) {
            tap.publish(recordNumber(n));
        }
        std::vector<TapRecord> all(RenderTap::kCapacity + kOver);
        ASSERT_EQ(tap.read(all.data(), all.size()), RenderTap::kCapacity);
        EXPECT_EQ(tap.lost(), kOver);
        EXPECT_TRUE(isRecord(all.front(), kOver));
        EXPECT_TRUE(isRecord(all[RenderTap::kCapacity - 1], RenderTap::kCapacity + kOver - 1));
        EXPECT_EQ(tap.read(all.data(), all.size()), 0u);
    }

    RenderTap tap;
    constexpr uint32_t kRecords = 200000;
    std::atomic<uint32_t> published{0};
    std::thread writer([&] {
        for (uint32_t n = 0; n < kRecords; ++n) {
            tap.publish(recordNumber(n));
            published.store(n + 1, std::memory_order_release);
            if (n % 5000 == 0) {
                std::this_thread::yield();
            }
        }
    });

    std::vector<TapRecord> batch(64);
    uint64_t got = 0;
    int64_t last = -1;
    for (int round = 0;; ++round) {
        // Now and then the reader looks away, as a hidden window does, until the writer has
        // lapped it (or is done).
        if (round % 50 == 0) {
            const uint32_t from = published.load(std::memory_order_acquire);
            while (published.load(std::memory_order_acquire) <
                   std::min(from + RenderTap::kCapacity + 1, kRecords)) {
                std::this_thread::yield();
            }
        }
        const bool finished = published.load(std::memory_order_acquire) == kRecords;
        const size_t n = tap.read(batch.data(), batch.size());
        for (size_t i = 0; i < n; ++i) {
            const uint32_t number = batch[i].frame / 441;
            ASSERT_GT(int64_t(number), last);
            last = number;
            ASSERT_TRUE(isRecord(batch[i], number));
        }
        got += n;
        if (finished && n < batch.size()) {
            break;  // one more read after the writer was done, and nothing left
        }
    }
    writer.join();
    EXPECT_EQ(last, int64_t(kRecords) - 1);  // the newest always arrives
    EXPECT_EQ(got + tap.lost(), kRecords);
    EXPECT_GT(tap.lost(), 0u);
}

}  // namespace
}  // namespace brinesong
