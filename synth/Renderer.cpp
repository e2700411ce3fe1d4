#include "Renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace brinesong {

namespace {

// 1/44100 as a fixed constant: the envelope's rates do not follow the sample rate.
constexpr double kRateUnit = 2.2675736961451248e-05;

// Frame number of the end of the sound, truncated toward zero and held to the frame range.
uint64_t endFrameOf(int32_t sampleRate, double runLength) {
    const double frames = std::trunc(static_cast<double>(sampleRate) * runLength);
    if (!(frames > 0.0)) {
        return 0;
    }
    if (frames >= static_cast<double>(std::numeric_limits<int64_t>::max())) {
        return std::numeric_limits<int64_t>::max();
    }
    return static_cast<uint64_t>(frames);
}

// A frame number as a double: exact below 2^53 frames (6,000 years), and one instruction where the
// unsigned conversion takes several.
inline double frameAsDouble(uint64_t f) {
    return static_cast<double>(static_cast<int64_t>(f));
}

// The gain of frame f: fade-in from silence over `fade` seconds, then the volume, then a fade-out
// that reaches silence at `endTime` (0 = no end).
struct GainShape {
    double fade;
    double endTime;
    int32_t framesPerSecond;
    double volume;

    double seconds(uint64_t f) const { return frameAsDouble(f) / framesPerSecond; }

    double at(uint64_t f) const {
        const double t = seconds(f);
        if (fade > t) {
            return t / fade * volume;
        }
        if (endTime == 0.0 || t <= endTime - fade) {
            return volume;
        }
        if (t > endTime) {
            return 0.0;
        }
        return (endTime - t) / fade * volume;
    }

    bool fadingIn(uint64_t f) const { return fade > seconds(f); }
    bool beforeFadeOut(uint64_t f) const { return endTime == 0.0 || seconds(f) <= endTime - fade; }
};

// First frame in [lo, hi) for which `holds` is false, for a predicate that is true up to some
// frame and false after it; hi when it holds throughout.
template <typename Predicate>
uint64_t firstFailing(uint64_t lo, uint64_t hi, Predicate holds) {
    while (lo < hi) {
        const uint64_t mid = lo + (hi - lo) / 2;
        if (holds(mid)) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

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

WaveParameters deriveWaveParameters(double ascent, double descent, double waveInterval,
                                    double lightWave, double heavyWave, bool boostSoundLevel) {
    WaveParameters p;
    p.ascentRate = kRateUnit / (6.0 - (ascent / 100.0 * 4.0 + 1.0));
    p.descentRate = kRateUnit / (4.0 - (descent / 100.0 * 2 + 1.0));
    p.waveThreshold = static_cast<int32_t>(waveInterval / 100.0 * -12000.0 + 14115.0);
    p.lightWeight = lightWave / 100.0;
    p.heavyWeight = heavyWave / 100.0;
    if (!boostSoundLevel) {
        p.lightWeight *= 0.5;
        p.heavyWeight *= 0.5;
    }
    return p;
}

bool Renderer::setVolume(double value) {
    if (std::isnan(value)) {
        return false;
    }
    volume.store(std::clamp(value, 0.0, 1.0), std::memory_order_relaxed);
    return true;
}

Renderer::SoundStart Renderer::beginSound() {
    std::lock_guard guard(randomMutex_);
    return SoundStart{++sounds_, random_};
}

void Renderer::returnRandomSource(const RandomSource& source) {
    std::lock_guard guard(randomMutex_);
    random_ = source;
}

RenderRun::RenderRun(Renderer& renderer, double fadeInOutSeconds, double runLengthSeconds)
    : RenderRun(renderer, renderer.beginSound(), fadeInOutSeconds, runLengthSeconds) {}

RenderRun::RenderRun(Renderer& renderer, Renderer::SoundStart start, double fadeInOutSeconds,
                     double runLengthSeconds)
    : runLength(runLengthSeconds),
      fadeInOut(fadeInOutSeconds),
      renderer_(renderer),
      sound_(start.sound),
      random_(start.random) {
    resetWaveFunctions();
}

void RenderRun::resetWaveFunctions() {
    waveStates_[0] = ChannelWaveState{};
    waveStates_[1] = ChannelWaveState{};
}

void RenderRun::saveCheckpoint(RenderCheckpoint& checkpoint) const {
    checkpoint.frameCount = frameCount.load(std::memory_order_relaxed);
    checkpoint.runLength = runLength.load(std::memory_order_relaxed);
    checkpoint.forceStopFinished = forceStopFinished.load(std::memory_order_relaxed);
    checkpoint.channels[0] = waveStates_[0];
    checkpoint.channels[1] = waveStates_[1];
    checkpoint.random = random_;
}

void RenderRun::restoreCheckpoint(const RenderCheckpoint& checkpoint) {
    frameCount.store(checkpoint.frameCount, std::memory_order_relaxed);
    runLength.store(checkpoint.runLength, std::memory_order_relaxed);
    forceStopFinished.store(checkpoint.forceStopFinished, std::memory_order_relaxed);
    waveStates_[0] = checkpoint.channels[0];
    waveStates_[1] = checkpoint.channels[1];
    random_ = checkpoint.random;
}

void RenderRun::renderWave(RendererData* request) {
    renderWave(request, LiveRendering{});
}

void RenderRun::renderWave(RendererData* request, const LiveRendering& live) {
    const RenderSpan span = beginRequest(request);
    AudioBufferList* buffers = request->ioData;
    render16(static_cast<int16_t*>(buffers->mBuffers[0].mData), span.start, span.end, &span.level,
             0, live.sleepFade);
    render16(static_cast<int16_t*>(buffers->mBuffers[1].mData), span.start, span.end, &span.level,
             1, live.sleepFade);
    if (live.tap != nullptr && span.end > span.start) {
        publishToTap(*live.tap, *request, span.start, span.end);
    }
}

void RenderRun::publishToTap(RenderTap& tap, const RendererData& request, uint64_t startFrame,
                             uint64_t endFrame) {
    TapRecord record;
    record.sound = sound_;
    record.frame = startFrame;
    record.frames = static_cast<uint32_t>(endFrame - startFrame);
    for (int c = 0; c < 2; ++c) {
        const auto* samples = static_cast<const int16_t*>(request.ioData->mBuffers[c].mData);
        double sum = 0.0;
        for (uint32_t i = 0; i < record.frames; ++i) {
            const double s = samples[i];
            sum += s * s;
        }
        record.level[c] = static_cast<float>(std::sqrt(sum / record.frames) / 32767.0);
        record.envelope[c] = static_cast<float>(lastEnvelope_[c]);
    }
    tap.publish(record);
}

RenderSpan RenderRun::beginRequest(RendererData* request) {
    const int32_t rate = sampleRate.load(std::memory_order_relaxed);

    // Stop hand-over: end the sound one fade length after the frames already handed out, unless an
    // earlier end is already set.
    if (forceStop.load(std::memory_order_relaxed) &&
        !forceStopFinished.load(std::memory_order_relaxed)) {
        forceStopFinished.store(true, std::memory_order_relaxed);
        const double candidate = frameAsDouble(frameCount.load(std::memory_order_relaxed)) / rate +
                                 fadeInOut.load(std::memory_order_relaxed);
        const double current = runLength.load(std::memory_order_relaxed);
        if (current == 0.0 || current > candidate) {
            runLength.store(candidate, std::memory_order_relaxed);
        }
    }

    const double endTime = runLength.load(std::memory_order_relaxed);
    RenderSpan span{0, 0, LevelData{endTime, rate}};

    uint64_t start = frameCount.load(std::memory_order_relaxed);
    uint64_t end = start + request->inNumberFrames;
    frameCount.store(end, std::memory_order_relaxed);

    if (endTime != 0.0) {
        const uint64_t last = endFrameOf(rate, endTime);
        if (end > last) {
            AudioBufferList* buffers = request->ioData;
            // Less than the request's frames: it ends inside the request.
            const auto bytes = static_cast<uint32_t>(start <= last ? (last - start) * 2 : 0);
            buffers->mBuffers[0].mDataByteSize = bytes;
            buffers->mBuffers[1].mDataByteSize = bytes;
            if (start >= last) {
                start = last;
            }
            end = last;
        }
    }
    span.start = start;
    span.end = end;
    return span;
}

RenderSettings RenderRun::currentSettings() const {
    const Preferences& prefs = renderer_.sharedPreferences;
    RenderSettings settings;
    settings.amplitudeGenerator = prefs.amplitudeGenerator();
    settings.wave =
        deriveWaveParameters(prefs.ascent(), prefs.descent(), prefs.waveInterval(),
                             prefs.lightWave(), prefs.heavyWave(), prefs.boostSoundLevel());
    settings.fade = fadeInOut.load(std::memory_order_relaxed);
    settings.volume = renderer_.volume.load(std::memory_order_relaxed);
    return settings;
}

void RenderRun::render16(int16_t* out, uint64_t startFrame, uint64_t endFrame,
                         const LevelData* levelData, int32_t index) {
    render16(out, startFrame, endFrame, levelData, index, SleepFade{});
}

void RenderRun::render16(int16_t* out, uint64_t startFrame, uint64_t endFrame,
                         const LevelData* levelData, int32_t index, const SleepFade& sleepFade) {
    if (endFrame <= startFrame) {
        return;
    }
    const RenderSpan span{startFrame, endFrame, *levelData};
    RenderSettings settings = currentSettings();
    settings.sleepFade = sleepFade;
    // The same path as an export's channels: draws made ahead a stretch at a time.
    lastEnvelope_[index == 0 ? 0 : 1] = renderChannel(out, span, index, random_, settings);
}

double RenderRun::renderChannel(int16_t* out, const RenderSpan& span, int32_t index,
                                RandomSource& random, const RenderSettings& settings) {
    // Draws are made ahead a stretch at a time, which is much quicker than one by one: how many a
    // stretch takes is known before it renders (`drawsFor`).
    constexpr uint32_t kStretch = 2048;
    uint32_t draws[RandomSource::kHistory + 4 * kStretch];
    ChannelWaveState& channel = waveStates_[index == 0 ? 0 : 1];
    double envelope = 1.0;
    for (uint64_t start = span.start; start < span.end; start += kStretch) {
        const auto frames = static_cast<uint32_t>(std::min<uint64_t>(span.end - start, kStretch));
        random.fill(draws, drawsFor(channel, frames, settings.amplitudeGenerator));
        DrawBuffer source{draws + RandomSource::kHistory};
        const RenderSpan stretch{start, start + frames, span.level};
        if (settings.amplitudeGenerator) {
            envelope = renderFrames<true>(out, stretch, settings, channel, source);
        } else {
            envelope = renderFrames<false>(out, stretch, settings, channel, source);
        }
        out += frames;
    }
    return envelope;
}

template <bool kUseEnvelope>
double RenderRun::renderFrames(int16_t* out, const RenderSpan& span, const RenderSettings& settings,
                               ChannelWaveState& channel, DrawBuffer& source) {
    const uint64_t startFrame = span.start;
    const uint64_t endFrame = span.end;

    const GainShape gain{settings.fade, span.level.endTime, span.level.framesPerSecond,
                         settings.volume};

    // Frames between the fade-in and the fade-out take the volume as it stands; the gain formula
    // runs only inside the fades. The boundaries come from the same per-frame tests, so every
    // frame gets exactly the gain the formula would give it. The sleep fade, where there is one,
    // ends the steady stretch too.
    const SleepFade& sleepFade = settings.sleepFade;
    const uint64_t steadyBegin =
        firstFailing(startFrame, endFrame, [&](uint64_t f) { return gain.fadingIn(f); });
    uint64_t steadyEnd =
        firstFailing(steadyBegin, endFrame, [&](uint64_t f) { return gain.beforeFadeOut(f); });
    if (sleepFade.active() && sleepFade.beginFrame() < static_cast<int64_t>(steadyEnd)) {
        steadyEnd = static_cast<uint64_t>(
            std::max<int64_t>(sleepFade.beginFrame(), static_cast<int64_t>(steadyBegin)));
    }

    // Each of the three parts has a loop of its own, so the steady one tests nothing for its gain.
    // It goes in passes where it can.
    double e = 1.0;
    const WaveParameters& wave = settings.wave;
    const auto shaped = [&](uint64_t f) { return gain.at(f) * sleepFade.gainAt(f); };
    framesOneByOne<kUseEnvelope>(startFrame, steadyBegin, out, channel, source, wave, e, shaped);
    const double volume = gain.volume;
    const auto steady = [volume](uint64_t) { return volume; };
    for (uint64_t f = steadyBegin; f < steadyEnd;) {
        // Frames before the one whose pink counter wraps to 0 (that one takes a draw less).
        const uint32_t regular = 0x7FFFFu - channel.pink.counter;
        const uint32_t passes =
            static_cast<uint32_t>(std::min<uint64_t>(steadyEnd - f, regular)) & ~1u;
        if (passes == 0) {
            framesOneByOne<kUseEnvelope>(f, f + 1, out, channel, source, wave, e, steady);
            ++f;
            continue;
        }
        framesInPasses<kUseEnvelope>(0, passes, out, channel, source, wave, e, volume);
        f += passes;
    }
    framesOneByOne<kUseEnvelope>(steadyEnd, endFrame, out, channel, source, wave, e, shaped);
    return e;
}

}  // namespace brinesong
