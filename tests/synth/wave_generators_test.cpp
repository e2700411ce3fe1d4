// SPDX-License-Identifier: GPL-3.0-or-later
#include "synth/WaveGenerators.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "synth/Renderer.h"

namespace brinesong {
namespace {

constexpr int32_t kPinkLimit = 83886080;
constexpr int32_t kNever = -1;  // no draw is at or below this: no random events
constexpr int32_t kAlways = RandomSource::kMax;

TEST(WaveGeneratorsTest, pinkValueFromDraw_takesBits7To30WithBit30AsSign) {
    EXPECT_EQ(pinkValueFromDraw(0), 0);
    EXPECT_EQ(pinkValueFromDraw(2147483647), -1);
    EXPECT_EQ(pinkValueFromDraw(1 << 30), -8388608);
    EXPECT_EQ(pinkValueFromDraw((1 << 30) - 1), 8388607);
    EXPECT_EQ(pinkValueFromDraw(127), 0);  // bits below 7 are dropped
    EXPECT_EQ(pinkValueFromDraw(128), 1);
}

TEST(WaveGeneratorsTest, brownNoise_firstOutputIsSixteenSteps) {
    for (uint32_t seed = 1; seed <= 50; ++seed) {
        RandomSource random(seed);
        RandomSource copy = random;
        BrownNoiseState state;
        const double out = brownNoise(state, random);
        const double w = (copy.next() / 2147483647.0 * 2 - 1) * 0.00125;
        EXPECT_DOUBLE_EQ(out, 16 * w);
        EXPECT_LE(std::abs(out), 0.02);
    }
}

TEST(WaveGeneratorsTest, brownNoise_atTheLimit_stepsTheOtherWayInsteadOfClipping) {
    int checked = 0;
    for (uint32_t seed = 1; checked < 20 && seed < 1000; ++seed) {
        RandomSource random(seed);
        RandomSource copy = random;
        const double w = (copy.next() / 2147483647.0 * 2 - 1) * 0.00125;
        const double start = w > 0 ? 0.0625 : -0.0625;
        const double plain = start * 0.99875 + w;
        if (std::abs(plain * 16) <= 1.0) {
            continue;  // this draw would not cross the limit
        }
        BrownNoiseState state{start};
        const double out = brownNoise(state, random);
        EXPECT_DOUBLE_EQ(state.level, plain - 2 * w);
        EXPECT_DOUBLE_EQ(out, 16 * state.level);
        EXPECT_LE(std::abs(out), 1.0);
        ++checked;
    }
    EXPECT_EQ(checked, 20);
}

TEST(WaveGeneratorsTest, brownNoise_longRun_staysWithinBounds) {
    RandomSource random(5);
    BrownNoiseState state;
    for (int i = 0; i < 3'000'000; ++i) {
        const double out = brownNoise(state, random);
        ASSERT_LE(std::abs(out), 1.0);
        ASSERT_LE(std::abs(state.level), 1.0 / 16);
    }
}

TEST(WaveGeneratorsTest, pinkNoise_firstCall_setsRowZeroAndAddsTheSecondDraw) {
    RandomSource random(11);
    RandomSource copy = random;
    PinkNoiseState state;
    const double out = pinkNoise(state, random);
    const int32_t v1 = pinkValueFromDraw(copy.next());
    const int32_t v2 = pinkValueFromDraw(copy.next());
    EXPECT_EQ(state.counter, 1u);
    EXPECT_EQ(state.rows[0], v1);
    EXPECT_EQ(state.runningSum, v1);
    EXPECT_EQ(out, (v1 + v2) / 83886080.0);
    EXPECT_EQ(random.next(), copy.next());  // exactly two draws taken
}

TEST(WaveGeneratorsTest, pinkNoise_rowsRefreshAtTheirRates_andWrapDrawsOnce) {
    RandomSource random(3);
    PinkNoiseState state;
    // Row n changes on counters whose lowest set bit is n.
    for (uint32_t i = 1; i <= 64; ++i) {
        PinkNoiseState before = state;
        pinkNoise(state, random);
        const int n = std::countr_zero(i);
        for (int row = 0; row < PinkNoiseState::kRows; ++row) {
            if (row != n) {
                ASSERT_EQ(state.rows[row], before.rows[row]) << "call " << i << " row " << row;
            }
        }
        int64_t sum = 0;
        for (const int32_t row : state.rows)
            sum += row;
        ASSERT_EQ(sum, state.runningSum);
    }

    state.counter = 0x7FFFF;
    const PinkNoiseState before = state;
    RandomSource copy = random;
    const double out = pinkNoise(state, random);
    EXPECT_EQ(state.counter, 0u);
    EXPECT_EQ(state.runningSum, before.runningSum);
    for (int row = 0; row < PinkNoiseState::kRows; ++row) {
        EXPECT_EQ(state.rows[row], before.rows[row]);
    }
    const int32_t v = pinkValueFromDraw(copy.next());
    EXPECT_EQ(random.next(), copy.next());  // a single draw at the wrap
    const int32_t total = before.runningSum + v;
    if (total >= -kPinkLimit && total < kPinkLimit) {
        EXPECT_EQ(out, total / 83886080.0);
    }
}

// Sums beyond the limit fold back: the fresh value is taken with the other sign, or where that
// still lies outside, half its magnitude is taken from the limit.
TEST(WaveGeneratorsTest, pinkNoise_beyondTheLimit_foldsBack) {
    for (uint32_t seed = 1; seed <= 200; ++seed) {
        for (const int32_t runningSum : {2 * kPinkLimit - 1, -2 * kPinkLimit + 1, kPinkLimit - 5}) {
            RandomSource random(seed);
            RandomSource copy = random;
            PinkNoiseState state;
            state.counter = 0x7FFFF;  // wraps: no row changes, one draw
            state.runningSum = runningSum;
            const double out = pinkNoise(state, random);
            const int32_t v = pinkValueFromDraw(copy.next());
            const int32_t half = (v < 0 ? -v : v) / 2;
            int32_t expected;
            if (runningSum == 2 * kPinkLimit - 1) {
                expected = kPinkLimit - half;
            } else if (runningSum == -2 * kPinkLimit + 1) {
                expected = half - kPinkLimit;
            } else {
                expected = runningSum + v >= kPinkLimit ? runningSum - v : runningSum + v;
            }
            ASSERT_EQ(out, expected / 83886080.0) << "seed " << seed << " sum " << runningSum;
            ASSERT_LE(std::abs(out), 1.0);
        }
    }
}

TEST(WaveGeneratorsTest, pinkNoise_longRun_staysWithinBounds) {
    RandomSource random(8);
    PinkNoiseState state;
    for (int i = 0; i < 1'200'000; ++i) {  // more than two full counter cycles
        ASSERT_LE(std::abs(pinkNoise(state, random)), 1.0);
    }
}

TEST(WaveGeneratorsTest, waveEnvelope_changesPhaseAfterTheStep) {
    RandomSource random(1);
    WaveEnvelopeState state;
    const double rate = 0.01;
    // At rest nothing happens until a draw at or below the threshold.
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(waveEnvelope(state, random, rate, rate, kNever), 0.1);
    }
    EXPECT_EQ(state.phase, resting);
    // The sample of the event still returns 0.1; the rise begins on the next one.
    EXPECT_EQ(waveEnvelope(state, random, rate, rate, kAlways), 0.1);
    EXPECT_EQ(state.phase, rising);
    EXPECT_EQ(waveEnvelope(state, random, rate, rate, kNever), 0.1 + rate * 0.1);
    // An event while rising turns it into a fall, again from the next sample.
    const double top = waveEnvelope(state, random, rate, rate, kAlways);
    EXPECT_EQ(state.phase, falling);
    EXPECT_GT(top, 0.1 + rate * 0.1);
    const double slow = 0.0001;
    EXPECT_EQ(waveEnvelope(state, random, rate, slow, kNever), top - slow * top);
    // And an event while falling turns it back into a rise.
    waveEnvelope(state, random, rate, slow, kAlways);
    EXPECT_EQ(state.phase, rising);
}

TEST(WaveGeneratorsTest, waveEnvelope_limits_overruleTheDrawnPhase) {
    RandomSource random(2);
    WaveEnvelopeState up{rising, 0.9999};
    EXPECT_EQ(waveEnvelope(up, random, 0.01, 0.01, kNever), 1.0);
    EXPECT_EQ(up.phase, falling);
    EXPECT_EQ(waveEnvelope(up, random, 0.01, 0.01, kNever), 1.0 - 0.01);

    WaveEnvelopeState down{falling, 0.10001};
    EXPECT_EQ(waveEnvelope(down, random, 0.5, 0.5, kAlways), 0.1);  // event to rising overruled
    EXPECT_EQ(down.phase, resting);

    WaveEnvelopeState over{rising, 0.9999};
    EXPECT_EQ(waveEnvelope(over, random, 0.5, 0.5, kAlways), 1.0);  // event to falling, and over
    EXPECT_EQ(over.phase, falling);
}

int samplesToCross(int32_t phase, double ascentRate, double descentRate) {
    RandomSource random(1);
    WaveEnvelopeState state{phase, phase == rising ? 0.1 : 1.0};
    int count = 0;
    while (state.phase == phase) {
        waveEnvelope(state, random, ascentRate, descentRate, kNever);
        ++count;
    }
    return count;
}

TEST(WaveGeneratorsTest, waveEnvelope_riseAndFallLengthsFollowTheSettings) {
    const auto at = [](double ascent, double descent) {
        return deriveWaveParameters(ascent, descent, 50, 75, 100, false);
    };
    // 2.3 s, 6.9 s and 11.5 s to rise at ascent 100, 50 and 0; 4.6 s to fall at descent 50.
    EXPECT_NEAR(samplesToCross(rising, at(100, 50).ascentRate, 0), 101546, 2);
    EXPECT_NEAR(samplesToCross(rising, at(50, 50).ascentRate, 0), 304634, 2);
    EXPECT_NEAR(samplesToCross(rising, at(0, 50).ascentRate, 0), 507722, 2);
    EXPECT_NEAR(samplesToCross(falling, 0, at(50, 50).descentRate), 203087, 2);
}

TEST(WaveGeneratorsTest, waveEnvelope_meanRestFollowsTheThreshold) {
    // At wave interval 50 (threshold 8,115) a wave starts on average every 2^31 / 8116 samples.
    const int32_t threshold = deriveWaveParameters(50, 50, 50, 75, 100, false).waveThreshold;
    RandomSource random(77);
    int64_t samples = 0;
    int waves = 0;
    while (waves < 400) {
        WaveEnvelopeState state;
        while (state.phase == resting) {
            waveEnvelope(state, random, 0, 0, threshold);
            ++samples;
        }
        ++waves;
    }
    const double mean = static_cast<double>(samples) / waves;
    EXPECT_NEAR(mean, 2147483648.0 / (threshold + 1), 0.15 * 264600);  // within 15 %
}

}  // namespace
}  // namespace brinesong
