// SPDX-License-Identifier: GPL-3.0-or-later
#include "synth/RandomSource.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace brinesong {
namespace {

// The C library's generator is the reference: an export made with a seed must give the same sound
// on every machine, and users may compare against random() itself.
TEST(RandomSourceTest, seed_matchesCLibraryRandomForAMillionDraws) {
    const uint32_t seeds[] = {0u, 1u, 7u, 123456789u, 2147483647u, 2147483648u, 4294967295u};
    for (const uint32_t seed : seeds) {
        srandom(seed);
        RandomSource source(seed);
        for (int i = 0; i < 1'000'000; ++i) {
            const long expected = random();
            const int32_t actual = source.next();
            if (expected != actual) {
                FAIL() << "seed " << seed << " differs at draw " << i << ": " << actual
                       << " instead of " << expected;
            }
        }
    }
}

TEST(RandomSourceTest, reseed_restartsTheSequence) {
    RandomSource source(99);
    const int32_t first = source.next();
    for (int i = 0; i < 1000; ++i) {
        source.next();
    }
    source.seed(99);
    EXPECT_EQ(source.next(), first);
}

// The jump that lets the right channel render on a thread of its own: short and long ways, and ways
// that land inside a table's worth of words, all agree with walking.
TEST(RandomSourceTest, discard_landsWhereTheSameNumberOfDrawsWould) {
    for (const uint64_t count :
         {0ull, 1ull, 30ull, 31ull, 4095ull, 4096ull, 4127ull, 491'519ull, 3'000'000ull}) {
        RandomSource walked(2024);
        RandomSource jumped(2024);
        walked.next();
        jumped.next();
        for (uint64_t i = 0; i < count; ++i) {
            walked.next();
        }
        jumped.discard(count);
        for (int i = 0; i < 100; ++i) {
            ASSERT_EQ(jumped.next(), walked.next()) << "after " << count << ", draw " << i;
        }
    }
}

// Draws made ahead for the export's render loop are the draws one by one, and the source goes on
// from after them.
TEST(RandomSourceTest, fill_givesTheNextDrawsAndMovesOn) {
    RandomSource walked(77);
    RandomSource filled(77);
    std::vector<uint32_t> buffer(RandomSource::kHistory + 8192);
    for (const size_t count : {0u, 1u, 2u, 3u, 31u, 100u, 8191u, 8192u}) {
        filled.fill(buffer.data(), count);
        DrawBuffer draws{buffer.data() + RandomSource::kHistory};
        for (size_t i = 0; i < count; ++i) {
            ASSERT_EQ(draws.next(), walked.next()) << "count " << count << ", draw " << i;
        }
        ASSERT_EQ(filled.next(), walked.next()) << "after " << count;
    }
}

TEST(RandomSourceTest, unseeded_isSeedOne) {
    RandomSource unseeded;
    RandomSource one(1);
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(unseeded.next(), one.next());
    }
}

}  // namespace
}  // namespace brinesong
