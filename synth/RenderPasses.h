// SPDX-License-Identifier: GPL-3.0-or-later
// The render kernels: the generators run frame after frame, each frame at a gain it is given, and
// the steady stretch between the fades in three passes of two-lane vector code that give exactly
// the samples the frame-by-frame path gives. What gain applies where, and when a sound ends, is
// Renderer.cpp's, the one file that includes this: the kernels keep internal linkage in that one
// translation unit, so they inline into its loops as they were tuned to.
//
// Real-time code (the audio thread, or an export's threads): nothing here allocates, takes a lock
// or calls the system; every array lives on the stack.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "synth/Renderer.h"
#include "synth/WaveGenerators.h"

namespace brinesong {
namespace {

inline int16_t toSample(double s) {
    if (s < -1.0) {
        return -32767;
    }
    if (s > 1.0) {
        return 32767;
    }
    return static_cast<int16_t>(static_cast<int32_t>(s * 32767.0));
}

// The two noises weighted into one, before the envelope and the gain; a vector of doubles is
// mixed lane by lane alike. The one place the formula is written, for the frame-by-frame path
// and the passes both.
template <typename Value>
inline Value weighted(Value pink, Value brown, double lightWeight, double heavyWeight) {
    return lightWeight * pink + brown * heavyWeight;
}

// Runs the generators for frames from `f` on, up to `to`, while the envelope stays in phase
// kPhase (resting stands for any other; a flat envelope has none), and returns the frame after
// the last one run: the one after a frame at which the envelope may have turned, or `to`. For
// each frame, after the envelope's step, `sink(f, e, state, draws)` takes the envelope's value
// `e` and runs the noises. `envelope` gets the envelope's value for the last frame. The
// generators and the draws run on local copies, which the compiler may keep in registers:
// nothing the loop writes through a pointer can touch them. They go back at the end.
template <bool kUseEnvelope, int32_t kPhase, typename Frame, typename Sink>
[[gnu::always_inline]] inline Frame framesInPhase(Frame f, Frame to, ChannelWaveState& channel,
                                                  DrawBuffer& draws, const WaveParameters& wave,
                                                  double& envelope, Sink& sink) {
    ChannelWaveState state = channel;
    DrawBuffer source = draws;
    const WaveParameters w = wave;
    double e = envelope;
    for (; f < to; ++f) {
        if constexpr (kUseEnvelope) {
            const bool turned = stepWaveEnvelope<kPhase>(state.envelope, source, w.ascentRate,
                                                         w.descentRate, w.waveThreshold);
            e = state.envelope.amplitude;
            if (turned) [[unlikely]] {
                sink(f, e, state, source);
                ++f;
                break;
            }
        } else {
            e = flatEnvelope(w.ascentRate, w.descentRate, w.waveThreshold);
        }
        sink(f, e, state, source);
    }
    channel = state;
    draws = source;
    envelope = e;
    return f;
}

// framesInPhase for frames [from, to), whatever the phases. `Frame` is a frame number of the
// sound, or an index within a pass.
template <bool kUseEnvelope, typename Frame, typename Sink>
[[gnu::always_inline]] inline void framesThrough(Frame from, Frame to, ChannelWaveState& channel,
                                                 DrawBuffer& draws, const WaveParameters& wave,
                                                 double& envelope, Sink& sink) {
    while (from < to) {
        switch (kUseEnvelope ? channel.envelope.phase : resting) {
            case rising:
                from = framesInPhase<kUseEnvelope, rising>(from, to, channel, draws, wave, envelope,
                                                           sink);
                break;
            case falling:
                from = framesInPhase<kUseEnvelope, falling>(from, to, channel, draws, wave,
                                                            envelope, sink);
                break;
            default:
                from = framesInPhase<kUseEnvelope, resting>(from, to, channel, draws, wave,
                                                            envelope, sink);
                break;
        }
    }
}

// Renders frames [from, to) one by one, each at the gain `gainOf(f)`.
template <bool kUseEnvelope, typename GainOf>
void framesOneByOne(uint64_t from, uint64_t to, int16_t*& out, ChannelWaveState& channel,
                    DrawBuffer& draws, const WaveParameters& wave, double& envelope,
                    GainOf gainOf) {
    int16_t* o = out;
    const double lightWeight = wave.lightWeight;
    const double heavyWeight = wave.heavyWeight;
    auto sound = [&](uint64_t f, double e, ChannelWaveState& state, DrawBuffer& source) {
        const double p = pinkNoise(state.pink, source);
        const double b = brownNoise(state.brown, source);
        const double mix = weighted(p, b, lightWeight, heavyWeight) * e;
        *o++ = toSample(gainOf(f) * mix);
    };
    framesThrough<kUseEnvelope>(from, to, channel, draws, wave, envelope, sound);
    out = o;
}

// Renders frames [from, to) one by one, each as `shaped(f, pink, brown, envelope)` gives it before
// the conversion to a sample: the frames of a glide, whose weights and gain change from frame to
// frame. Where the envelope does not run, `envelope` is the value it stopped at, which a glide from
// the amplitude generator on to off still fades out.
template <bool kUseEnvelope, typename Shaped>
void framesGliding(uint64_t from, uint64_t to, int16_t*& out, ChannelWaveState& channel,
                   DrawBuffer& draws, const WaveParameters& wave, double& envelope, Shaped shaped) {
    int16_t* o = out;
    auto sound = [&](uint64_t f, double e, ChannelWaveState& state, DrawBuffer& source) {
        const double envelopeValue = kUseEnvelope ? e : state.envelope.amplitude;
        const double p = pinkNoise(state.pink, source);
        const double b = brownNoise(state.brown, source);
        *o++ = toSample(shaped(f, p, b, envelopeValue));
    };
    framesThrough<kUseEnvelope>(from, to, channel, draws, wave, envelope, sound);
    out = o;
}

// Lanes of numbers for the passes below. Each lane of an operation on them is rounded exactly as
// the same operation on one value.
using Doubles = double __attribute__((vector_size(16)));
using Ints = int32_t __attribute__((vector_size(8)));
using Ints4 = int32_t __attribute__((vector_size(16)));
using Words = uint32_t __attribute__((vector_size(16)));
using Shorts4 = int16_t __attribute__((vector_size(8)));
using Samples = int16_t __attribute__((vector_size(4)));

// The two low lanes of `v` as doubles. The compiler turns the generic conversion of two lanes
// into two conversions of one value each; where the processor converts two at once, it is asked
// to directly.
inline Doubles lowLanesToDoubles(Ints4 v) {
#if defined(__SSE2__)
    return _mm_cvtepi32_pd(reinterpret_cast<__m128i>(v));
#else
    return __builtin_convertvector(__builtin_shufflevector(v, v, 0, 1), Doubles);
#endif
}

// The two integers at `p` as doubles.
inline Doubles twoToDoubles(const int32_t* p) {
#if defined(__SSE2__)
    return _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
#else
    Ints v;
    std::memcpy(&v, p, sizeof v);
    return __builtin_convertvector(v, Doubles);
#endif
}

// toSample's limits, two at a time: s held within +-1, a value that is not a number left as it is.
inline Doubles heldWithinOne(Doubles s) {
#if defined(__SSE2__)
    // The instructions give their second operand where either is not a number.
    return _mm_max_pd(_mm_set1_pd(-1.0), _mm_min_pd(_mm_set1_pd(1.0), s));
#else
    return s > 1.0 ? Doubles{1.0, 1.0} : s < -1.0 ? Doubles{-1.0, -1.0} : s;
#endif
}

// Two samples from two values: toSample's truncation, and its 16-bit wrap of what falls outside
// (for a value that is not a number).
inline Samples toSamples(Doubles scaled) {
    const Ints values = __builtin_convertvector(scaled, Ints);
#if defined(__SSE2__)
    // The low halves, which the 16-bit wrap keeps, in one shuffle, where the generic conversion
    // takes five instructions (these processors store the low half first).
    const Shorts4 halves = reinterpret_cast<Shorts4>(values);
    return __builtin_shufflevector(halves, halves, 0, 2);
#else
    return __builtin_convertvector(values, Samples);
#endif
}

// Frames taken a pass at a time by framesInPasses: their working arrays stay in the first-level
// cache.
constexpr uint32_t kPassFrames = 256;

// Renders the `to - from` frames next at the gain `volume`, an even number of them whose pink-noise
// counter does not wrap (so each takes kDraws draws, the brown noise's last), in three passes:
// the brown noise's steps for all of them, two frames at a time; the generators, which must go
// frame after frame, keeping their values; and the mix of those values into samples, two frames
// at a time. The divisions and most of the multiplications so run two at once, and the frame
// loop of the middle pass is short enough for the processor to overlap many frames. The
// samples are exactly those framesOneByOne gives.
template <bool kUseEnvelope>
void framesInPasses(uint32_t from, uint32_t to, int16_t*& out, ChannelWaveState& channel,
                    DrawBuffer& draws, const WaveParameters& wave, double& envelope,
                    double volume) {
    constexpr uint32_t kDraws = kUseEnvelope ? 4 : 3;
    alignas(16) double steps[kPassFrames];
    alignas(16) double envelopes[kPassFrames];
    alignas(16) double browns[kPassFrames];
    alignas(16) int32_t pinks[kPassFrames];
    const auto load = [](const auto* p, auto vector) {
        std::memcpy(&vector, p, sizeof vector);
        return vector;
    };
    auto chains = [&](uint32_t i, double e, ChannelWaveState& state, DrawBuffer& source) {
        if constexpr (kUseEnvelope) {
            envelopes[i] = e;
        }
        pinks[i] = pinkNoiseLevel(state.pink, source);
        source.next();  // the brown noise's draw, whose step is worked out already
        browns[i] = brownLevelAfter(state.brown, steps[i]);
    };
    while (from < to) {
        const uint32_t n = std::min(to - from, kPassFrames);
        // A frame's draws end with the brown noise's: the last of four words read from
        // kDraws - 4 words before the frame's first draw (the word before the first is the
        // previous frame's last, or one of those made before the stretch).
        const uint32_t* first = draws.next_ + kDraws - 4;
        for (uint32_t i = 0; i < n; i += 2) {
            const Words a = load(first + kDraws * i, Words{});
            const Words b = load(first + kDraws * (i + 1), Words{});
            const Words raw = __builtin_shufflevector(a, b, 3, 7, 3, 7) >> 1;
            const Doubles step = brownStep(lowLanesToDoubles(reinterpret_cast<Ints4>(raw)));
            std::memcpy(steps + i, &step, sizeof step);
        }
        framesThrough<kUseEnvelope, uint32_t>(0, n, channel, draws, wave, envelope, chains);
        const double lightWeight = wave.lightWeight;
        const double heavyWeight = wave.heavyWeight;
        for (uint32_t i = 0; i < n; i += 2) {
            const Doubles p = twoToDoubles(pinks + i) / wave_constants::kPinkScale;
            const Doubles b = wave_constants::kBrownGain * load(browns + i, Doubles{});
            Doubles mix = weighted(p, b, lightWeight, heavyWeight);
            if constexpr (kUseEnvelope) {
                mix *= load(envelopes + i, Doubles{});  // a flat envelope's 1 changes nothing
            }
            // toSample, two at a time.
            const Samples samples = toSamples(heldWithinOne(volume * mix) * 32767.0);
            std::memcpy(out + i, &samples, sizeof samples);
        }
        out += n;
        from += n;
    }
}

}  // namespace
}  // namespace brinesong
