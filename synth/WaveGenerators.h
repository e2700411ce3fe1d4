// SPDX-License-Identifier: GPL-3.0-or-later
// The three sources of the surf, one set per channel: brown noise (the heavy rumble), pink noise
// (the light hiss) and the wave envelope that makes both swell and ebb.
//
// Each generator is a small value type advanced in place by a free function that takes its draws
// from a `RandomSource`. Nothing here allocates, locks or blocks: these run 264,600 times a second
// during playback.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "RandomSource.h"

namespace brinesong {

// Leaky integrator of uniform steps. `level` stays within -1/16 to +1/16.
struct BrownNoiseState {
    double level = 0.0;
};

// 19-row pink-noise generator (one row refreshed per sample, row n every 2^(n+1) samples).
struct PinkNoiseState {
    static constexpr int kRows = 19;
    int32_t rows[kRows] = {};
    uint32_t counter = 0;    // 19-bit sample counter, wraps from 524,287 to 0
    int32_t runningSum = 0;  // sum of the rows, kept up to date incrementally
};

// Wave envelope phases; the numeric values are part of the state's meaning.
enum WavePhase : int32_t { resting = 0, rising = 1, falling = 2 };

struct WaveEnvelopeState {
    int32_t phase = resting;
    double amplitude = 0.1;  // 0.1 to 1.0
};

struct ChannelWaveState {
    BrownNoiseState brown;
    PinkNoiseState pink;
    WaveEnvelopeState envelope;
};

// Signed 24-bit value taken from bits 7 to 30 of a draw (bit 30 is the sign):
// -8,388,608 to 8,388,607.
inline int32_t pinkValueFromDraw(int32_t draw) {
    return static_cast<int32_t>(static_cast<uint32_t>(draw) << 1) >> 8;
}

// Stands in for the wave envelope when the amplitude generator is off: always 1.0, no draw.
inline double flatEnvelope(double /*ascentRate*/, double /*descentRate*/,
                           int32_t /*waveThreshold*/) {
    return 1.0;
}

namespace wave_constants {
constexpr double kBrownLeak = 0.99875;
constexpr double kBrownStep = 0.00125;
constexpr double kBrownGain = 16.0;
constexpr double kDrawDivisor = 2147483647.0;

// Ten times 2^23: twenty 24-bit terms can reach twice this, which the fold-back absorbs.
constexpr int32_t kPinkLimit = 83886080;
constexpr double kPinkScale = 83886080.0;
}  // namespace wave_constants

// The brown noise's step for a draw `r`: uniform, within +-kBrownStep. It depends on nothing
// else, so the steps of many frames can be worked out side by side ahead of the noise itself
// (`Value` may be a vector of doubles, each lane rounded as a double alone).
template <typename Value>
inline Value brownStep(Value r) {
    return (r / wave_constants::kDrawDivisor * 2.0 - 1.0) * wave_constants::kBrownStep;
}

// The brown noise's level moved on by `step` (as brownStep gives it); the noise is
// kBrownGain times the level.
inline double brownLevelAfter(BrownNoiseState& state, double step) {
    double level = state.level * wave_constants::kBrownLeak + step;
    // The noise would leave +-1 (multiplying by a power of two is exact, so the level's own test
    // is the same).
    if (std::fabs(level) > 1.0 / wave_constants::kBrownGain) [[unlikely]] {
        // Step the other way rather than clip, so the rumble never flattens against a limit.
        level = step * -2.0 + level;
    }
    state.level = level;
    return level;
}

inline double brownNoiseAfter(BrownNoiseState& state, double step) {
    return wave_constants::kBrownGain * brownLevelAfter(state, step);
}

// Each generator takes its draws from `random`: the `RandomSource` itself, or a `DrawBuffer` of
// draws made ahead from it.
template <typename Source>
inline double brownNoise(BrownNoiseState& state, Source& random) {
    return brownNoiseAfter(state, brownStep(static_cast<double>(random.next())));
}

// The pink noise as a whole number, up to +-kPinkLimit; pinkNoise scales it to +-1.
template <typename Source>
inline int32_t pinkNoiseLevel(PinkNoiseState& state, Source& random) {
    int32_t v = pinkValueFromDraw(random.next());
    const uint32_t counter = (state.counter + 1) & 0x7FFFFu;
    state.counter = counter;
    if (counter != 0) {
        const int n = std::countr_zero(counter);
        state.runningSum = state.runningSum - state.rows[n] + v;
        state.rows[n] = v;
        v = pinkValueFromDraw(random.next());
    }
    const int32_t sum = state.runningSum;
    const int32_t total = sum + v;
    // Fold back instead of clipping: use the other sign of the fresh value, or half of it. The
    // first test is the two bounds at once: total lies in [-limit, limit).
    if (static_cast<uint32_t>(total) + uint32_t{wave_constants::kPinkLimit} <
        2 * uint32_t{wave_constants::kPinkLimit}) [[likely]] {
        return total;
    }
    const int32_t alt = sum - v;
    if (total >= wave_constants::kPinkLimit) {
        return alt < wave_constants::kPinkLimit ? alt
                                                : wave_constants::kPinkLimit - (v < 0 ? -v : v) / 2;
    }
    return alt >= -wave_constants::kPinkLimit ? alt
                                              : (v < 0 ? -v : v) / 2 - wave_constants::kPinkLimit;
}

template <typename Source>
inline double pinkNoise(PinkNoiseState& state, Source& random) {
    return pinkNoiseLevel(state, random) / wave_constants::kPinkScale;
}

// One step of the envelope of a channel whose phase is `kPhase` (resting stands for any phase
// but rising and falling). Returns true when the step may have changed the phase: only then is
// the phase written. A loop over frames in one phase can so leave its tests to the compiler and
// look at the phase again only after such a step.
template <int32_t kPhase, typename Source>
inline bool stepWaveEnvelope(WaveEnvelopeState& state, Source& random, double ascentRate,
                             double descentRate, int32_t waveThreshold) {
    double amplitude = state.amplitude;
    // The step uses the phase from before this sample's draw.
    if constexpr (kPhase == rising) {
        amplitude = amplitude + ascentRate * amplitude;
    } else if constexpr (kPhase == falling) {
        amplitude = amplitude - descentRate * amplitude;
    }
    const bool turn = random.next() <= waveThreshold;
    const bool turned = turn || amplitude > 1.0 || amplitude < 0.1;
    if (turned) [[unlikely]] {
        int32_t phase = state.phase;
        if (turn) {
            phase = kPhase == rising ? falling : rising;
        }
        if (amplitude > 1.0) {
            phase = falling;
            amplitude = 1.0;
        } else if (amplitude < 0.1) {
            phase = resting;
            amplitude = 0.1;
        }
        state.phase = phase;
    }
    state.amplitude = amplitude;
    return turned;
}

template <typename Source>
inline double waveEnvelope(WaveEnvelopeState& state, Source& random, double ascentRate,
                           double descentRate, int32_t waveThreshold) {
    switch (state.phase) {
        case rising:
            stepWaveEnvelope<rising>(state, random, ascentRate, descentRate, waveThreshold);
            break;
        case falling:
            stepWaveEnvelope<falling>(state, random, ascentRate, descentRate, waveThreshold);
            break;
        default:
            stepWaveEnvelope<resting>(state, random, ascentRate, descentRate, waveThreshold);
            break;
    }
    return state.amplitude;
}

// How many draws a channel's generators take for `frames` frames from a pink-noise counter at
// `pinkCounter` (as in the channel's state): one for the
// envelope (none when it is flat), two for the pink noise (one when its counter wraps to 0) and
// one for the brown noise, per frame. The counts depend on no drawn value, so the draws of a block
// are known before it is rendered.
inline uint64_t drawsFor(uint32_t pinkCounter, uint32_t frames, bool envelope) {
    constexpr uint32_t kCounterPeriod = 0x80000u;
    const uint32_t untilWrap = kCounterPeriod - (pinkCounter & (kCounterPeriod - 1));
    const uint64_t wraps = frames >= untilWrap ? 1 + (frames - untilWrap) / kCounterPeriod : 0;
    return (envelope ? 4u : 3u) * static_cast<uint64_t>(frames) - wraps;
}

inline uint64_t drawsFor(const ChannelWaveState& state, uint32_t frames, bool envelope) {
    return drawsFor(state.pink.counter, frames, envelope);
}

}  // namespace brinesong
