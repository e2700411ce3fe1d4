// SPDX-License-Identifier: GPL-3.0-or-later
#include "Renderer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "synth/RenderPasses.h"

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
    // Most spans lie wholly on one side: a night renders many short ones.
    if (lo < hi && !holds(lo)) {
        return lo;
    }
    if (lo < hi && holds(hi - 1)) {
        return hi;
    }
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

WaveParameters parametersOf(const NightPoint& point) {
    WaveParameters p = deriveWaveParameters(point.ascent, point.descent, point.waveInterval,
                                            point.lightWave, point.heavyWave, true);
    if (point.boost != 1.0) {
        p.lightWeight *= point.boost;
        p.heavyWeight *= point.boost;
    }
    return p;
}

namespace {

// A night with no steps: what a change-over or the wander runs over alone.
const Night kNoSteps;

// The levels a request's settings set.
GlideLevels levelsOf(const RenderSettings& settings) {
    return GlideLevels{settings.volume, settings.wave.lightWeight, settings.wave.heavyWeight,
                       settings.amplitudeGenerator ? 1.0 : 0.0};
}

// A glide's levels frame by frame, with the square roots of its ends taken once.
class GlideCurve {
public:
    explicit GlideCurve(const Glide& glide)
        : glide_(glide),
          from_{std::sqrt(glide.from.volume), std::sqrt(glide.from.lightWeight),
                std::sqrt(glide.from.heavyWeight), glide.from.envelopeShare},
          to_{std::sqrt(glide.to.volume), std::sqrt(glide.to.lightWeight),
              std::sqrt(glide.to.heavyWeight), glide.to.envelopeShare} {}

    GlideLevels at(uint64_t f) const {
        if (f >= glide_.endFrame) {
            return glide_.to;
        }
        if (!glide_.glidesAt(f)) {
            return glide_.from;
        }
        const double left = leftAt(f);
        const auto level = [left](double from, double to) {
            const double root = to + (from - to) * left;
            return root * root;
        };
        return GlideLevels{level(from_.volume, to_.volume),
                           level(from_.lightWeight, to_.lightWeight),
                           level(from_.heavyWeight, to_.heavyWeight),
                           to_.envelopeShare + (from_.envelopeShare - to_.envelopeShare) * left};
    }

    double sleepGainAt(uint64_t f) const {
        const double to = glide_.sleepFade.gainAt(f);
        if (f >= glide_.endFrame || (sleepFrom_ == 1.0 && to == 1.0)) {
            return to;
        }
        if (!glide_.glidesAt(f)) {
            return glide_.sleepFrom;
        }
        const double root = std::sqrt(to) + (sleepFrom_ - std::sqrt(to)) * leftAt(f);
        return root * root;
    }

private:
    // The fraction of the way still to go at frame f of the glide.
    double leftAt(uint64_t f) const {
        return static_cast<double>(glide_.endFrame - f) / Glide::kFrames;
    }

    const Glide& glide_;
    GlideLevels from_, to_;  // square roots, but the envelope's share
    double sleepFrom_ = std::sqrt(glide_.sleepFrom);
};

}  // namespace

double Glide::envelopeAt(double e, double share) {
    if (share == 1.0) {
        return e;
    }
    const double root = (1.0 - share) + share * std::sqrt(e);
    return root * root;
}

void Glide::toward(const GlideLevels& target, const SleepFade& fade, uint64_t frame,
                   double wanderDepth, uint32_t changeOversTaken) {
    if (!set) {
        from = to = target;
        sleepFade = fade;
        wander = wanderDepth;
        changeOvers = changeOversTaken;
        set = true;
        return;
    }
    if (target == to && fade == sleepFade && wanderDepth == wander &&
        changeOversTaken == changeOvers) {
        return;
    }
    from = heard;
    sleepFrom = heardSleep;
    to = target;
    sleepFade = fade;
    wander = wanderDepth;
    changeOvers = changeOversTaken;
    endFrame = frame + kFrames - 1;
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
      random_(start.random),
      wanderSeed_(random_.fingerprint()) {
    resetWaveFunctions();
}

void RenderRun::setNight(const Night* night, int64_t origin) {
    night_ = night;
    nightOrigin_ = origin;
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
    checkpoint.glide = glide_;
    checkpoint.night = nightState_;
}

void RenderRun::restoreCheckpoint(const RenderCheckpoint& checkpoint) {
    frameCount.store(checkpoint.frameCount, std::memory_order_relaxed);
    runLength.store(checkpoint.runLength, std::memory_order_relaxed);
    forceStopFinished.store(checkpoint.forceStopFinished, std::memory_order_relaxed);
    waveStates_[0] = checkpoint.channels[0];
    waveStates_[1] = checkpoint.channels[1];
    random_ = checkpoint.random;
    glide_ = checkpoint.glide;
    nightState_ = checkpoint.night;
}

void RenderRun::renderWave(RendererData* request) {
    renderWave(request, LiveRendering{});
}

void RenderRun::renderWave(RendererData* request, const LiveRendering& live) {
    const RenderSpan span = beginRequest(request);
    AudioBufferList* buffers = request->ioData;
    if (!live.glide) {
        render16(static_cast<int16_t*>(buffers->mBuffers[0].mData), span.start, span.end,
                 &span.level, 0, live.sleepFade, live.rise);
        render16(static_cast<int16_t*>(buffers->mBuffers[1].mData), span.start, span.end,
                 &span.level, 1, live.sleepFade, live.rise);
    } else if (span.end > span.start) {
        // Both channels glide alike: one reading of the settings for the two.
        takeUpChangeOver(live.changeOver, span.start);
        RenderSettings settings = currentSettings();
        settings.sleepFade = live.sleepFade;
        settings.rise = live.rise;
        if (settings.wander > 0.0) {
            settings.wanderPaths = wanderAt(nightFrame(span.start), wanderSeed_);  // for both
        }
        glide_.toward(levelsOf(settings), settings.sleepFade, span.start, settings.wander,
                      nightState_.changeOversTaken);
        settings.glide = glide_;
        for (int c = 0; c < 2; ++c) {
            lastEnvelope_[c] = renderChannel(static_cast<int16_t*>(buffers->mBuffers[c].mData),
                                             span, c, random_, settings);
        }
        noteHeard(span.end - 1, settings);
    }
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
    if (night_ != nullptr || nightState_.changeOver.set) {
        record.gliding = (night_ != nullptr ? *night_ : kNoSteps)
                             .glidesAt(nightFrame(endFrame - 1), nightState_.changeOver);
    }
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
    // Each setting read once: the parameters and the night's point agree.
    const bool boost = prefs.boostSoundLevel();
    settings.amplitudeGenerator = prefs.amplitudeGenerator();
    settings.base =
        NightPoint::of(prefs.lightWave(), prefs.heavyWave(), prefs.ascent(), prefs.descent(),
                       prefs.waveInterval(), boost, settings.amplitudeGenerator);
    const NightPoint& base = settings.base;
    settings.wave = deriveWaveParameters(base.ascent, base.descent, base.waveInterval,
                                         base.lightWave, base.heavyWave, boost);
    settings.fade = fadeInOut.load(std::memory_order_relaxed);
    settings.volume = renderer_.volume.load(std::memory_order_relaxed);
    settings.wander = prefs.wander();
    settings.changeOver = nightState_.changeOver;
    return settings;
}

void RenderRun::takeUpChangeOver(uint64_t changeOver, uint64_t frame) {
    const auto count = static_cast<uint32_t>(changeOver >> 32);
    if (count == nightState_.changeOversTaken) {
        return;
    }
    nightState_.changeOversTaken = count;
    if (!glide_.set) {
        return;  // nothing heard yet to glide from: the sound begins at the settings
    }
    nightState_.changeOver = SettingsGlide{
        nightFrame(frame), static_cast<int64_t>(changeOver & 0xFFFFFFFFu), nightState_.heard, true};
}

void RenderRun::noteHeard(uint64_t last, const RenderSettings& settings) {
    Glide glide = glide_;
    if (nightShapes(RenderSpan{last, last + 1, {}}, settings)) {
        Wander wander = settings.wanderPaths;
        const Segment segment = segmentAt(nightFrame(last), settings, wander);
        glide.to = GlideLevels{settings.volume, segment.wave.lightWeight, segment.wave.heavyWeight,
                               segment.share};
        nightState_.heard = segment.point;
    } else {
        nightState_.heard = settings.base;
    }
    const GlideCurve curve(glide);
    glide_.heard = curve.at(last);
    glide_.heardSleep = curve.sleepGainAt(last);
}

bool RenderRun::nightShapes(const RenderSpan& span, const RenderSettings& settings) const {
    if (settings.wander > 0.0 || (night_ != nullptr && !night_->empty())) {
        return true;
    }
    const SettingsGlide& changeOver = settings.changeOver;
    return changeOver.set && nightFrame(span.start) < changeOver.startFrame + changeOver.frames;
}

RenderRun::Segment RenderRun::segmentAt(int64_t frame, const RenderSettings& settings,
                                        Wander& wander) const {
    const int64_t first = frame - frame % Night::kSegmentFrames;
    Segment segment;
    segment.point =
        (night_ != nullptr ? *night_ : kNoSteps).pointAt(first, settings.base, settings.changeOver);
    if (settings.wander > 0.0 && wander.stretch != first / Night::kWanderFrames) {
        wander = wanderAt(first, wanderSeed_);
    }
    const NightPoint heard = wandered(segment.point, wander, settings.wander);
    segment.wave = parametersOf(heard);
    segment.share = heard.envelopeShare;
    return segment;
}

uint64_t RenderRun::channelDraws(const RenderSpan& span, const RenderSettings& settings,
                                 uint32_t pinkCounter) const {
    if (span.end <= span.start) {
        return 0;
    }
    if (!nightShapes(span, settings)) {
        return drawsFor(pinkCounter, static_cast<uint32_t>(span.end - span.start),
                        settings.amplitudeGenerator);
    }
    uint64_t draws = 0;
    Wander wander = settings.wanderPaths;
    for (uint64_t f = span.start; f < span.end;) {
        const int64_t frame = nightFrame(f);
        const uint64_t end = std::min<uint64_t>(
            span.end,
            f + static_cast<uint64_t>(Night::kSegmentFrames - frame % Night::kSegmentFrames));
        const auto frames = static_cast<uint32_t>(end - f);
        const bool envelope = segmentAt(frame, settings, wander).share > 0.0;
        draws += drawsFor(pinkCounter, frames, envelope);
        pinkCounter = (pinkCounter + frames) & 0x7FFFFu;
        f = end;
    }
    return draws;
}

void RenderRun::render16(int16_t* out, uint64_t startFrame, uint64_t endFrame,
                         const LevelData* levelData, int32_t index) {
    render16(out, startFrame, endFrame, levelData, index, SleepFade{});
}

void RenderRun::render16(int16_t* out, uint64_t startFrame, uint64_t endFrame,
                         const LevelData* levelData, int32_t index, const SleepFade& sleepFade,
                         const Rise& rise) {
    if (endFrame <= startFrame) {
        return;
    }
    const RenderSpan span{startFrame, endFrame, *levelData};
    RenderSettings settings = currentSettings();
    settings.sleepFade = sleepFade;
    settings.rise = rise;
    // The same path as an export's channels: draws made ahead a stretch at a time.
    lastEnvelope_[index == 0 ? 0 : 1] = renderChannel(out, span, index, random_, settings);
}

double RenderRun::renderChannel(int16_t* out, const RenderSpan& span, int32_t index,
                                RandomSource& random, const RenderSettings& settings) {
    ChannelWaveState& channel = waveStates_[index == 0 ? 0 : 1];
    if (nightShapes(span, settings)) {
        return renderNightChannel(out, span, channel, random, settings);
    }
    // Draws are made ahead a stretch at a time, which is much quicker than one by one: how many a
    // stretch takes is known before it renders (`drawsFor`).
    constexpr uint32_t kStretch = 2048;
    uint32_t draws[RandomSource::kHistory + 4 * kStretch];
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

double RenderRun::renderNightChannel(int16_t* out, const RenderSpan& span,
                                     ChannelWaveState& channel, RandomSource& random,
                                     const RenderSettings& settings) {
    // Segment by segment, each at its own settings, and segments alike in one piece (the night
    // moves its settings only while a glide runs); the draws for a stretch of up to kPieces
    // segments made ahead at once, as the plain sound's are.
    constexpr int kPieces = 8;
    constexpr auto kSegment = static_cast<uint64_t>(Night::kSegmentFrames);
    uint32_t draws[RandomSource::kHistory + 4 * kPieces * kSegment];
    Segment pieces[kPieces];
    uint64_t ends[kPieces];
    Wander wander = settings.wanderPaths;
    RenderSettings at = settings;
    double envelope = 1.0;
    const auto alike = [](const Segment& a, const Segment& b) {
        return a.share == b.share && a.wave.lightWeight == b.wave.lightWeight &&
               a.wave.heavyWeight == b.wave.heavyWeight && a.wave.ascentRate == b.wave.ascentRate &&
               a.wave.descentRate == b.wave.descentRate &&
               a.wave.waveThreshold == b.wave.waveThreshold;
    };
    for (uint64_t start = span.start; start < span.end;) {
        int count = 0;
        uint64_t draw = 0;
        uint32_t counter = channel.pink.counter;
        for (uint64_t f = start; f < span.end && f - start < (kPieces - 1) * kSegment;) {
            const int64_t frame = nightFrame(f);
            const uint64_t end = std::min<uint64_t>(
                span.end, f + kSegment - static_cast<uint64_t>(frame % Night::kSegmentFrames));
            const Segment segment = segmentAt(frame, settings, wander);
            if (count > 0 && alike(segment, pieces[count - 1])) {
                ends[count - 1] = end;
            } else if (count < kPieces) {
                pieces[count] = segment;
                ends[count++] = end;
            } else {
                break;
            }
            const auto frames = static_cast<uint32_t>(end - f);
            draw += drawsFor(counter, frames, segment.share > 0.0);
            counter = (counter + frames) & 0x7FFFFu;
            f = end;
        }
        random.fill(draws, draw);
        DrawBuffer source{draws + RandomSource::kHistory};
        for (int i = 0; i < count; ++i) {
            const RenderSpan piece{start, ends[i], span.level};
            const Segment& segment = pieces[i];
            at.wave = segment.wave;
            at.envelopeShare = segment.share;
            at.amplitudeGenerator = segment.share > 0.0;
            // A glide under way goes to the levels of the segment.
            at.glide.to = GlideLevels{settings.volume, segment.wave.lightWeight,
                                      segment.wave.heavyWeight, segment.share};
            envelope = at.amplitudeGenerator ? renderFrames<true>(out, piece, at, channel, source)
                                             : renderFrames<false>(out, piece, at, channel, source);
            out += ends[i] - start;
            start = ends[i];
        }
    }
    return envelope;
}

template <bool kUseEnvelope>
double RenderRun::renderFrames(int16_t* out, const RenderSpan& span, const RenderSettings& settings,
                               ChannelWaveState& channel, DrawBuffer& source) {
    uint64_t startFrame = span.start;
    const uint64_t endFrame = span.end;
    double e = 1.0;

    // A glide under way takes the frames up to its end one by one, each with its own levels.
    const Rise& rise = settings.rise;
    const Glide& glide = settings.glide;
    if (glide.glidesAt(startFrame)) {
        const uint64_t glideEnd = std::min(endFrame, glide.endFrame);
        const GlideCurve curve(glide);
        const auto glided = [&](uint64_t f, double pink, double brown, double envelope) {
            const GlideLevels levels = curve.at(f);
            const GainShape gain{settings.fade, span.level.endTime, span.level.framesPerSecond,
                                 levels.volume};
            const double mix = weighted(pink, brown, levels.lightWeight, levels.heavyWeight) *
                               Glide::envelopeAt(envelope, levels.envelopeShare);
            return gain.at(f) * curve.sleepGainAt(f) * rise.gainAt(f) * mix;
        };
        framesGliding<kUseEnvelope>(startFrame, glideEnd, out, channel, source, settings.wave, e,
                                    glided);
        startFrame = glideEnd;
    }

    const GainShape gain{settings.fade, span.level.endTime, span.level.framesPerSecond,
                         settings.volume};
    const SleepFade& sleepFade = settings.sleepFade;

    // A night's cross-fade of the wave envelope under way: its share blends each frame as a glide
    // does.
    if (kUseEnvelope && settings.envelopeShare != 1.0) {
        const double share = settings.envelopeShare;
        const double lightWeight = settings.wave.lightWeight;
        const double heavyWeight = settings.wave.heavyWeight;
        const auto blended = [&](uint64_t f, double pink, double brown, double envelope) {
            const double mix = weighted(pink, brown, lightWeight, heavyWeight) *
                               Glide::envelopeAt(envelope, share);
            return gain.at(f) * sleepFade.gainAt(f) * rise.gainAt(f) * mix;
        };
        framesGliding<kUseEnvelope>(startFrame, endFrame, out, channel, source, settings.wave, e,
                                    blended);
        return e;
    }

    // Frames between the fade-in and the fade-out take the volume as it stands; the gain formula
    // runs only inside the fades. The boundaries come from the same per-frame tests, so every
    // frame gets exactly the gain the formula would give it. The rise, where there is one, begins
    // the steady stretch later, and the sleep fade ends it sooner.
    uint64_t steadyBegin =
        firstFailing(startFrame, endFrame, [&](uint64_t f) { return gain.fadingIn(f); });
    if (rise.active() && rise.endFrame > static_cast<int64_t>(steadyBegin)) {
        steadyBegin = std::min(endFrame, static_cast<uint64_t>(rise.endFrame));
    }
    uint64_t steadyEnd =
        firstFailing(steadyBegin, endFrame, [&](uint64_t f) { return gain.beforeFadeOut(f); });
    if (sleepFade.active() && sleepFade.beginFrame() < static_cast<int64_t>(steadyEnd)) {
        steadyEnd = static_cast<uint64_t>(
            std::max<int64_t>(sleepFade.beginFrame(), static_cast<int64_t>(steadyBegin)));
    }

    // Each of the three parts has a loop of its own, so the steady one tests nothing for its gain.
    // It goes in passes where it can.
    const WaveParameters& wave = settings.wave;
    const auto shaped = [&](uint64_t f) {
        return gain.at(f) * sleepFade.gainAt(f) * rise.gainAt(f);
    };
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
