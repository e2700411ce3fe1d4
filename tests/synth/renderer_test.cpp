// SPDX-License-Identifier: GPL-3.0-or-later
#include "synth/Renderer.h"

#include "synth/ParallelRenderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace brinesong {
namespace {

// The renderer's behaviour written out frame by frame in the plainest form: the gain formula for
// every frame, no shortcuts. The renderer skips the formula between the fades; this holds it to
// exactly the same samples.
class ReferenceRenderer {
public:
    ReferenceRenderer(const Preferences& prefs, uint32_t seed) : prefs_(prefs), random_(seed) {}

    double runLength = 0, fadeInOut = 0.01, volume = 0.5;
    uint64_t frameCount = 0;
    // A night: each frame at the settings of its segment, the envelope's share blended in.
    const Night* night = nullptr;
    double wander = 0;
    uint64_t seed = 0;
    int64_t origin = 0;
    bool forceStop = false, forceStopFinished = false;
    // What the envelopes went through: the phases they were in, and whether one held at the top;
    // under a night, the shares they had (1: none, 2: some, 4: all of the sound).
    unsigned phasesSeen = 0, sharesSeen = 0;
    bool reachedTop = false;

    // Returns the number of frames written to each channel.
    uint32_t render(uint32_t frames, int16_t* left, int16_t* right) {
        if (forceStop && !forceStopFinished) {
            forceStopFinished = true;
            const double candidate = frameCount / 44100.0 + fadeInOut;
            if (runLength == 0 || runLength > candidate)
                runLength = candidate;
        }
        uint64_t start = frameCount, end = start + frames;
        frameCount = end;
        uint32_t written = frames;
        if (runLength != 0) {
            const auto last = static_cast<uint64_t>(44100 * runLength);
            if (end > last) {
                written = start <= last ? uint32_t(last - start) : 0;
                if (start >= last)
                    start = last;
                end = last;
            }
        }
        channel(0, start, end, left);
        channel(1, start, end, right);
        return written;
    }

private:
    void channel(int index, uint64_t start, uint64_t end, int16_t* out) {
        ChannelWaveState& st = states_[index];
        for (uint64_t f = start; f < end; ++f) {
            WaveParameters p = deriveWaveParameters(prefs_.ascent(), prefs_.descent(),
                                                    prefs_.waveInterval(), prefs_.lightWave(),
                                                    prefs_.heavyWave(), prefs_.boostSoundLevel());
            double share = prefs_.amplitudeGenerator() ? 1.0 : 0.0;
            if (night != nullptr) {
                const int64_t n = int64_t(f) + origin, first = n - n % Night::kSegmentFrames;
                const NightPoint at = wandered(night->pointAt(first, NightPoint::of(prefs_), {}),
                                               first, wander, seed);
                p = parametersOf(at);
                share = at.envelopeShare;
                sharesSeen |= share == 0 ? 1u : share == 1 ? 4u : 2u;
            }
            const double e = share > 0 ? waveEnvelope(st.envelope, random_, p.ascentRate,
                                                      p.descentRate, p.waveThreshold)
                                       : 1.0;
            phasesSeen |= 1u << st.envelope.phase;
            reachedTop = reachedTop || e == 1.0;
            const double pink = pinkNoise(st.pink, random_);
            const double brown = brownNoise(st.brown, random_);
            const double mix = (p.lightWeight * pink + brown * p.heavyWeight) *
                               (share == 1 ? e : Glide::envelopeAt(e, share));
            const double t = double(f) / 44100.0, F = fadeInOut;
            double g;
            if (F > t) {
                g = t / F * volume;
            } else if (runLength == 0 || t <= runLength - F) {
                g = volume;
            } else if (t > runLength) {
                g = 0;
            } else {
                g = (runLength - t) / F * volume;
            }
            const double s = g * mix;
            *out++ = s < -1 ? -32767 : s > 1 ? 32767 : static_cast<int16_t>(s * 32767);
        }
    }

    const Preferences& prefs_;
    RandomSource random_;
    ChannelWaveState states_[2];
};

// A renderer, one sound of it and its request buffers.
struct Rig {
    explicit Rig(const Preferences& prefs, uint32_t seed)
        : random(seed), renderer(prefs, random), run(renderer, Renderer::kLiveFade) {}

    uint32_t render(uint32_t frames, const LiveRendering* live = nullptr) {
        return renderWith(run, frames, live);
    }
    uint32_t renderWith(RenderRun& sound, uint32_t frames, const LiveRendering* live = nullptr) {
        left.assign(frames, 12345);
        right.assign(frames, 12345);
        list.mNumberBuffers = 2;
        list.mBuffers[0] = {1, frames * 2, left.data()};
        list.mBuffers[1] = {1, frames * 2, right.data()};
        RendererData request{nullptr, nullptr, 0, frames, &list};
        if (live != nullptr) {
            sound.renderWave(&request, *live);
        } else {
            sound.renderWave(&request);
        }
        EXPECT_EQ(list.mBuffers[0].mDataByteSize, list.mBuffers[1].mDataByteSize);
        return list.mBuffers[0].mDataByteSize / 2;
    }

    RandomSource random;
    Renderer renderer;
    RenderRun run;
    AudioBufferList list{};
    std::vector<int16_t> left, right;
};

void expectSameAsReference(Rig& rig, ReferenceRenderer& ref, uint32_t frames) {
    std::vector<int16_t> l(frames, 12345), r(frames, 12345);
    const uint32_t expectedFrames = ref.render(frames, l.data(), r.data());
    const uint64_t frameCountBefore = rig.run.frameCount;
    ASSERT_EQ(rig.render(frames), expectedFrames);
    ASSERT_EQ(rig.run.frameCount, frameCountBefore + frames);
    for (uint32_t i = 0; i < frames; ++i) {
        ASSERT_EQ(rig.left[i], l[i]) << "left frame " << frameCountBefore + i;
        ASSERT_EQ(rig.right[i], r[i]) << "right frame " << frameCountBefore + i;
    }
}

TEST(RendererTest, liveFadeIn_anyBufferSizes_matchesTheFrameByFrameFormula) {
    Preferences prefs;
    Rig rig(prefs, 42);
    ReferenceRenderer ref(prefs, 42);
    for (const uint32_t frames : {1u, 7u, 300u, 441u, 512u, 4096u, 44100u}) {
        expectSameAsReference(rig, ref, frames);
    }
}

TEST(RendererTest, firstFrame_isSilent_andGainReachesVolumeAfterTheFade) {
    Preferences prefs;
    prefs.setBoostSoundLevel(true);
    Rig rig(prefs, 9);
    rig.renderer.volume = 1.0;
    rig.render(2000);
    EXPECT_EQ(rig.left[0], 0);
    EXPECT_EQ(rig.right[0], 0);
    // During the 441-frame fade the magnitude is bounded by the rising gain (the mix is at most 2).
    for (uint32_t f = 1; f < 441; ++f) {
        ASSERT_LE(std::abs(rig.left[f]), 2 * 32767.0 * f / 441 + 1) << f;
    }
}

TEST(RendererTest, exportFades_withEndInsideARequest_matchTheFormulaAndShortenBuffers) {
    Preferences prefs;
    Rig rig(prefs, 7);
    ReferenceRenderer ref(prefs, 7);
    rig.run.fadeInOut = ref.fadeInOut = 2.0;
    rig.run.runLength = ref.runLength = 5.0;  // ends at frame 220,500
    rig.renderer.volume = ref.volume = 0.8;
    for (int i = 0; i < 4; ++i) {
        expectSameAsReference(rig, ref, 50000);
    }
    EXPECT_EQ(rig.render(50000), 20500u);  // the request straddling the end
    EXPECT_EQ(rig.run.frameCount, 250000u);
    EXPECT_EQ(rig.render(4096), 0u);  // nothing after the end, the count still advances
    EXPECT_EQ(rig.run.frameCount, 254096u);
    EXPECT_EQ(rig.left[0], 12345);  // and the buffer is left untouched
}

TEST(RendererTest, stopRequest_endsTheSoundOneFadeAfterTheRenderedFrames) {
    Preferences prefs;
    Rig rig(prefs, 3);
    ReferenceRenderer ref(prefs, 3);
    for (int i = 0; i < 10; ++i) {
        expectSameAsReference(rig, ref, 44100);
    }
    ASSERT_EQ(rig.run.frameCount, 441000u);
    rig.run.forceStop = ref.forceStop = true;
    expectSameAsReference(rig, ref, 1024);  // fades out over 441 frames and stops at 441,441
    EXPECT_DOUBLE_EQ(rig.run.runLength, 10.01);
    EXPECT_TRUE(rig.run.forceStopFinished);
    EXPECT_EQ(rig.list.mBuffers[0].mDataByteSize, 441u * 2);
    int audible = 0;  // fading, not cut: most of the fade is still heard
    for (int f = 0; f < 300; ++f)
        audible += rig.left[f] != 0;
    EXPECT_GT(audible, 250);
    EXPECT_EQ(rig.render(1024), 0u);
}

TEST(RendererTest, stopRequest_keepsAnEarlierEnd_andASecondRequestChangesNothing) {
    Preferences prefs;
    Rig rig(prefs, 4);
    rig.run.runLength = 0.5;
    rig.render(44100);  // the stop's candidate end, 1.01 s, comes after the set one
    rig.run.forceStop = true;
    rig.render(512);
    EXPECT_EQ(rig.run.runLength, 0.5);
    EXPECT_TRUE(rig.run.forceStopFinished);

    Rig open(prefs, 4);
    open.render(1000);
    open.run.forceStop = true;
    open.render(100);
    const double end = open.run.runLength;
    EXPECT_DOUBLE_EQ(end, 1000 / 44100.0 + 0.01);
    open.render(100);
    EXPECT_EQ(open.run.runLength, end);
}

TEST(RendererTest, stopBeforeTheFirstBuffer_rendersTheFadeOnly) {
    Preferences prefs;
    Rig rig(prefs, 5);
    rig.run.forceStop = true;
    EXPECT_EQ(rig.render(4096), 441u);
    EXPECT_DOUBLE_EQ(rig.run.runLength, 0.01);
}

// A night that goes on past 2^32 frames (27 hours) goes on as it was. Started just before the frame
// where a 32-bit count wrapped to 0, the sound runs through it as the formula gives it (at the
// volume: no second fade-in from silence); going back to a point saved before it renders the same
// again; and a stop after it still fades out and ends.
TEST(RendererTest, pastTwoToThe32Frames_noSecondFadeIn_rewindRendersTheSame_stopFades) {
    Preferences prefs;
    Rig rig(prefs, 19);
    ReferenceRenderer ref(prefs, 19);
    constexpr uint64_t kOldWrap = uint64_t{1} << 32;
    rig.run.frameCount = ref.frameCount = kOldWrap - 3000;
    RenderCheckpoint before;
    rig.run.saveCheckpoint(before);
    expectSameAsReference(rig, ref, 4410);
    const std::vector<int16_t> left = rig.left, right = rig.right;
    EXPECT_TRUE(left[3000] != 0 || right[3000] != 0);  // a fade-in would begin at 0

    rig.run.restoreCheckpoint(before);
    EXPECT_EQ(rig.render(4410), 4410u);
    EXPECT_EQ(rig.left, left);
    EXPECT_EQ(rig.right, right);
    EXPECT_EQ(rig.run.frameCount, kOldWrap + 1410);

    rig.run.forceStop = ref.forceStop = true;
    expectSameAsReference(rig, ref, 1024);
    const uint32_t sounded = rig.list.mBuffers[0].mDataByteSize / 2;
    EXPECT_NEAR(sounded, 441.0, 1.0);
    double head = 0, tail = 0;
    for (uint32_t f = 0; f < 40; ++f) {
        head = std::max(head, std::abs(double(rig.left[f])));
        tail = std::max(tail, std::abs(double(rig.left[sounded - 1 - f])));
    }
    EXPECT_LT(tail, head * 0.2);
    EXPECT_EQ(rig.render(1024), 0u);
}

TEST(RendererTest, settingsCombinations_matchTheFrameByFrameFormula) {
    struct Case {
        double light, heavy;
        bool boost, envelope;
        double volume;
    };
    for (const Case c : {Case{0, 100, false, false, 1.0}, Case{100, 100, true, true, 1.0},
                         Case{33.3, 12.5, true, false, 0.3}, Case{75, 100, false, true, 0.0}}) {
        Preferences prefs;
        prefs.setLightWave(c.light);
        prefs.setHeavyWave(c.heavy);
        prefs.setBoostSoundLevel(c.boost);
        prefs.setAmplitudeGenerator(c.envelope);
        prefs.setAscent(100);
        prefs.setWaveInterval(0);
        Rig rig(prefs, 21);
        ReferenceRenderer ref(prefs, 21);
        rig.renderer.volume = ref.volume = c.volume;
        expectSameAsReference(rig, ref, 100000);
    }
}

// Long enough for the pink counter's wrap (a frame with a draw fewer) and for envelopes that
// rise to the top, fall and rest: what the renderer works out in passes over many frames at once
// comes out frame for frame as the formula gives it.
TEST(RendererTest, longRun_acrossTheWrapAndEveryEnvelopeTurn_matchesTheFrameByFrameFormula) {
    for (const bool envelope : {true, false}) {
        Preferences prefs;
        prefs.setAmplitudeGenerator(envelope);
        prefs.setAscent(100);
        prefs.setDescent(100);
        prefs.setWaveInterval(0);
        Rig rig(prefs, 5);
        ReferenceRenderer ref(prefs, 5);
        // Odd sizes first; the request across the wrap begins at an even frame, so the frames up
        // to the wrap come in whole pairs.
        for (const uint32_t frames : {100001u, 100001u, 100000u, 100000u, 100000u, 100000u}) {
            expectSameAsReference(rig, ref, frames);
        }
        EXPECT_GT(ref.frameCount, 524288u);
        if (envelope) {
            EXPECT_EQ(ref.phasesSeen, 0b111u);
            EXPECT_TRUE(ref.reachedTop);
        }
    }
}

TEST(RendererTest, boostedFullMix_clipsSymmetricallyAndNeverReachesMinus32768) {
    Preferences prefs;
    prefs.setLightWave(100);
    prefs.setHeavyWave(100);
    prefs.setBoostSoundLevel(true);
    prefs.setAmplitudeGenerator(false);
    Rig rig(prefs, 13);
    rig.renderer.volume = 1.0;
    int clippedHigh = 0, clippedLow = 0;
    for (int block = 0; block < 40; ++block) {
        rig.render(44100);
        for (const int16_t s : rig.left) {
            ASSERT_GE(s, -32767);
            clippedHigh += s == 32767;
            clippedLow += s == -32767;
        }
    }
    EXPECT_GT(clippedHigh, 0);
    EXPECT_GT(clippedLow, 0);
}

TEST(RendererTest, amplitudeGeneratorOff_drawsThreeTimesPerFrameInsteadOfFour) {
    for (const bool envelope : {true, false}) {
        Preferences prefs;
        prefs.setAmplitudeGenerator(envelope);
        Rig rig(prefs, 17);
        RandomSource expected(17);
        rig.render(1000);  // two channels, no counter wrap
        for (int i = 0; i < (envelope ? 4 : 3) * 2000; ++i) {
            expected.next();
        }
        EXPECT_EQ(rig.run.randomSource().next(), expected.next()) << "envelope " << envelope;
    }
}

// Renders `total` frames in buffers of the sizes given (in turn) and returns the left channel.
std::vector<int16_t> renderLeft(const Preferences& prefs, uint32_t total,
                                const std::vector<uint32_t>& sizes, const LiveRendering* live) {
    Rig rig(prefs, 31);
    std::vector<int16_t> out;
    for (size_t i = 0; out.size() < total; ++i) {
        const uint32_t written = rig.render(sizes[i % sizes.size()], live);
        out.insert(out.end(), rig.left.begin(), rig.left.begin() + written);
    }
    out.resize(total);
    return out;
}

TEST(RendererTest, sleepFadeAndRise_scaleEachFrameByASquare_inAnyBufferSizes) {
    Preferences prefs;
    prefs.setBoostSoundLevel(true);
    const uint32_t total = 40000;
    // The buffer sizes decide which draws each channel gets, so each is compared with the sound
    // of the same sizes without the fade: the gain must depend on the frame alone.
    for (const std::vector<uint32_t>& sizes : {std::vector<uint32_t>{441}, {1, 700, 4096, 33}}) {
        const std::vector<int16_t> plain = renderLeft(prefs, total, sizes, nullptr);
        // A fade inside the sound, and one the sound starts in the middle of.
        for (const SleepFade fade : {SleepFade{30000, 20000}, SleepFade{8000, 20000}}) {
            const LiveRendering live{fade, nullptr};
            const std::vector<int16_t> faded = renderLeft(prefs, total, sizes, &live);
            const int64_t begin = static_cast<int64_t>(fade.endFrame) - fade.frames;
            for (uint32_t f = 0; f < total; ++f) {
                if (f < begin) {
                    ASSERT_EQ(faded[f], plain[f]) << f;
                } else if (f >= fade.endFrame) {
                    ASSERT_EQ(faded[f], 0) << f;
                } else {
                    const double left = double(fade.endFrame - f) / fade.frames;
                    // Both samples are truncated toward zero from the same mix: they differ by
                    // the gain and less than one step.
                    ASSERT_LT(std::abs(faded[f] - left * left * plain[f]), 1.0) << f;
                }
            }
        }
        // The rise mirrors it: silent up to its first frame, the square of what is done, then
        // the sound untouched. One begins inside the sound, one the sound starts halfway up; the
        // short fade-in of the start lies under both.
        for (const Rise rise : {Rise{25000, 20000}, Rise{6000, 12000}}) {
            LiveRendering live;
            live.rise = rise;
            const std::vector<int16_t> risen = renderLeft(prefs, total, sizes, &live);
            const int64_t begin = rise.endFrame - rise.frames;
            for (uint32_t f = 0; f < total; ++f) {
                if (f >= rise.endFrame) {
                    ASSERT_EQ(risen[f], plain[f]) << f;
                } else if (f <= begin) {
                    ASSERT_EQ(risen[f], 0) << f;
                } else {
                    const double done = double(f - begin) / rise.frames;
                    ASSERT_LT(std::abs(risen[f] - done * done * plain[f]), 1.0) << f;
                }
            }
        }
    }
}

// Renders requests of 441 frames until frame `to`, adding the left channel to `out`: live
// playback's path, with its glide, `fade` and the change-overs asked for, when `glide`.
void renderLeftUntil(Rig& rig, std::vector<int16_t>& out, uint64_t to, bool glide,
                     SleepFade fade = {}, uint64_t changeOver = 0) {
    const LiveRendering live{fade, nullptr, true, {}, changeOver};
    while (rig.run.frameCount < to) {
        rig.render(441, glide ? &live : nullptr);
        out.insert(out.end(), rig.left.begin(), rig.left.end());
    }
}

// Live playback's glide. The gain of each frame is read off against the same sound at full volume
// (the draws do not depend on the volume). A change made while a glide is under way, and rendered
// again from a point saved inside it (as the queue is rendered again from just ahead of what is
// heard), glides on from the gain of the frame before, without a step; with the settings as they
// were, that point gives again the frames it gave. From the glide's end on, the sound is exactly
// the formula's at the new settings. A weight glides likewise, and so does a sleep fade dropped
// halfway, back to the volume.
TEST(RendererTest, liveChange_glidesFromTheLevelHeard_andRenderingAgainInsideItGivesTheSame) {
    Preferences prefs;
    prefs.setAmplitudeGenerator(false);
    constexpr uint64_t kChange = 10 * 441, kInside = 12 * 441, kLater = 20 * 441, kEnd = 30 * 441;
    Rig full(prefs, 3), rig(prefs, 3), steady(prefs, 3);
    full.renderer.volume = rig.renderer.volume = 1.0;
    steady.renderer.volume = 0.6;
    std::vector<int16_t> atFull, glided, again, atSteady;
    renderLeftUntil(full, atFull, kEnd, false);
    renderLeftUntil(steady, atSteady, kEnd, false);

    renderLeftUntil(rig, glided, kChange, true);
    rig.renderer.volume = 0.1;
    renderLeftUntil(rig, glided, kInside, true);
    RenderCheckpoint inside;
    rig.run.saveCheckpoint(inside);
    renderLeftUntil(rig, glided, kLater, true);
    rig.renderer.volume = 0.6;  // at the end of the queue first
    renderLeftUntil(rig, glided, kEnd, true);

    rig.run.restoreCheckpoint(inside);
    rig.renderer.volume = 0.1;
    again.assign(glided.begin(), glided.begin() + kInside);
    renderLeftUntil(rig, again, kLater, true);
    EXPECT_TRUE(std::equal(again.begin(), again.end(), glided.begin()));

    // Rendered again from the point inside the glide down.
    rig.run.restoreCheckpoint(inside);
    glided.resize(kInside);
    rig.renderer.volume = 0.6;
    renderLeftUntil(rig, glided, kEnd, true);
    double gain = 1.0;
    uint64_t previous = 441;
    for (uint64_t f = 441; f < kInside + Glide::kFrames; ++f) {
        if (std::abs(atFull[f]) < 4000) {
            continue;  // too quiet to read the gain off within the samples' rounding
        }
        const double now = double(glided[f]) / atFull[f];
        // A glide moves the gain by less than 1e-3 a frame; the rounding adds up to 5e-4.
        ASSERT_LE(std::abs(now - gain), 1e-3 * double(f - previous) + 5e-4) << f;
        gain = now;
        previous = f;
    }
    EXPECT_NEAR(gain, 0.6, 1e-3);
    const uint64_t end = kInside + Glide::kFrames - 1;
    EXPECT_TRUE(std::equal(glided.begin() + end, glided.end(), atSteady.begin() + end));

    // A sleep fade halfway down (its gain about a quarter), dropped.
    Rig fading(prefs, 3);
    fading.renderer.volume = 1.0;
    std::vector<int16_t> faded;
    renderLeftUntil(fading, faded, kInside, true, SleepFade{2 * kInside, 2 * kInside - 441});
    renderLeftUntil(fading, faded, kEnd, true);
    gain = 1.0;
    previous = 441;
    for (uint64_t f = 441; f < kEnd; ++f) {
        if (std::abs(atFull[f]) >= 4000) {
            const double now = double(faded[f]) / atFull[f];
            ASSERT_LE(std::abs(now - gain), 1e-3 * double(f - previous) + 5e-4) << f;
            gain = now;
            previous = f;
        }
    }
    EXPECT_EQ(gain, 1.0);

    // The light wave from 75 to 0: the glide ends in the sound without the pink noise.
    Rig light(prefs, 3), jump(prefs, 3);
    std::vector<int16_t> lightGlided, lightJump;
    renderLeftUntil(light, lightGlided, kChange, true);
    renderLeftUntil(jump, lightJump, kChange, false);
    prefs.setLightWave(0);
    renderLeftUntil(light, lightGlided, kEnd, true);
    renderLeftUntil(jump, lightJump, kEnd, false);
    const uint64_t lightEnd = kChange + Glide::kFrames - 1;
    EXPECT_TRUE(std::equal(lightGlided.begin(), lightGlided.begin() + kChange, lightJump.begin()));
    EXPECT_FALSE(std::equal(lightGlided.begin() + kChange, lightGlided.begin() + lightEnd,
                            lightJump.begin() + kChange));
    EXPECT_TRUE(std::equal(lightGlided.begin() + lightEnd, lightGlided.end(),
                           lightJump.begin() + lightEnd));
}

// A change-over: the settings heard glide to the ones just set, here a level that doubles (the
// heavy wave alone, the boost switched on), from the first frame of the request that takes it up,
// eased in and out with no step; from the end of the segment its glide ends in, the sound is
// exactly the new settings'. Rendered again from a point saved inside it, it gives the same.
TEST(RendererTest, liveChangeOver_glidesTheSettingsHeard_andRenderingAgainInsideItGivesTheSame) {
    Preferences prefs, boosted;
    for (Preferences* p : {&prefs, &boosted}) {
        p->setLightWave(0);
        p->setAmplitudeGenerator(false);
    }
    boosted.setBoostSoundLevel(true);
    constexpr uint64_t kChange = 10 * 441, kInside = 60 * 441, kEnd = 150 * 441;
    constexpr uint64_t kGlideEnd = kChange + 44100 + Night::kSegmentFrames;
    Rig rig(prefs, 3), before(prefs, 3), after(boosted, 3);
    std::vector<int16_t> glided, plain, doubled, again;
    renderLeftUntil(before, plain, kEnd, false);
    renderLeftUntil(after, doubled, kEnd, false);

    renderLeftUntil(rig, glided, kChange, true);
    prefs.setBoostSoundLevel(true);
    const uint64_t changeOver = (uint64_t{1} << 32) | 44100u;
    renderLeftUntil(rig, glided, kInside, true, {}, changeOver);
    RenderCheckpoint inside;
    rig.run.saveCheckpoint(inside);
    renderLeftUntil(rig, glided, kEnd, true, {}, changeOver);
    rig.run.restoreCheckpoint(inside);
    again.assign(glided.begin(), glided.begin() + kInside);
    renderLeftUntil(rig, again, kEnd, true, {}, changeOver);
    EXPECT_EQ(again, glided);

    EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + kChange, glided.begin()));
    EXPECT_TRUE(std::equal(doubled.begin() + kGlideEnd, doubled.end(), glided.begin() + kGlideEnd));
    double gain = 1.0;
    uint64_t previous = kChange;
    for (uint64_t f = kChange; f < kEnd; ++f) {
        if (std::abs(plain[f]) >= 4000) {
            const double now = double(glided[f]) / plain[f];
            // At most 1.5/44100 of the way a frame, taken a segment at a time; the samples'
            // truncation moves the ratio by up to 3 of the plain sample.
            const double rounding = 3.0 / std::abs(plain[f]);
            ASSERT_GE(now, gain - rounding) << f;
            ASSERT_LE(now - gain,
                      1.5 / 44100 * double(f - previous + Night::kSegmentFrames) + rounding)
                << f;
            gain = now;
            previous = f;
        }
    }
    EXPECT_NEAR(gain, 2.0, 1e-3);
}

// What a night's settings do between the frames the tests below hold the renderer to: a step
// begun inside the glide before it goes on from where that glide stands, without a jump, and ends
// exactly at its preset; a change-over goes on from the settings heard to the ones set. The wander
// begins at the settings, keeps within its depth and 0 to 100, and takes over ten minutes for a
// full swing.
TEST(RendererTest, nightSettings_glideOnFromWhereTheyStand_andWanderSlowlyWithinTheDepth) {
    const NightPoint a = NightPoint::of(50, 35, 70, 70, 5, false, true);
    const NightPoint b = NightPoint::of(100, 100, 100, 85, 0, true, true);
    const NightPoint c = NightPoint::of(40, 100, 0, 0, 100, false, false);
    const Night night({{51000, 100000, c}, {1000, 100000, b}});
    const auto at = [&](int64_t n, const SettingsGlide& changeOver = {}) {
        return night.pointAt(n, a, changeOver);
    };
    EXPECT_EQ(at(1000), a);
    EXPECT_EQ(at(51000), glideBetween(a, b, 0.5));
    EXPECT_EQ(at(151000), c);
    for (int64_t n = 1000; n < 151000; ++n) {
        ASSERT_LT(std::abs(at(n + 1).heavyWave - at(n).heavyWave), 1e-3) << n;
        ASSERT_LT(std::abs(at(n + 1).envelopeShare - at(n).envelopeShare), 2e-5) << n;
    }
    const SettingsGlide changeOver{80000, 44100, at(79999), true};
    EXPECT_EQ(at(80000, changeOver), at(79999));
    EXPECT_EQ(at(124100, changeOver), a);

    for (int setting = 0; setting < 5; ++setting) {
        EXPECT_EQ(wanderPath(setting, 0, 9), 0.0);
        double lowest = 0, highest = 0;
        const int64_t minute = 60 * 44100;
        for (int64_t n = 0; n < 600 * minute; n += minute) {
            const double w = wanderPath(setting, n, 9);
            ASSERT_LE(std::abs(w), 1.0);
            ASSERT_LE(std::abs(wanderPath(setting, n + minute, 9) - w), 0.25)
                << setting << " " << n;
            lowest = std::min(lowest, w);
            highest = std::max(highest, w);
            const NightPoint moved = wandered(b, n, 50, 9);
            ASSERT_TRUE(moved.lightWave <= 100 && moved.waveInterval >= 0 && moved.boost == 1.0);
        }
        EXPECT_GT(highest - lowest, 0.5) << setting;
        EXPECT_NE(wanderPath(setting, 300 * minute, 9), wanderPath(setting, 300 * minute, 10));
    }
}

// A night's steps and wander are, frame for frame, the formula at the settings of each frame's
// segment, rendered in requests of any size: a glide between presets, a step begun inside it that
// cross-fades the amplitude generator off, another that brings it back, and the wander at the
// second hour of a night.
TEST(RendererTest, nightOfGlidesAndWander_matchesTheFrameByFrameFormula) {
    Preferences prefs;
    prefs.setLightWave(50);
    prefs.setHeavyWave(35);
    prefs.setAscent(70);
    prefs.setWaveInterval(5);
    prefs.setWander(30);
    constexpr int64_t kOrigin = 100LL * 60 * 44100;
    const Night night({{kOrigin + 20000, 50000, NightPoint::of(100, 100, 100, 85, 0, true, true)},
                       {kOrigin + 50000, 44100, NightPoint::of(40, 100, 0, 0, 100, false, false)},
                       {kOrigin + 120000, 44100, NightPoint::of(15, 85, 30, 20, 55, false, true)}});
    Rig rig(prefs, 77);
    ReferenceRenderer ref(prefs, 77);
    rig.run.setNight(&night, kOrigin);
    ref.night = &night;
    ref.wander = 30;
    ref.seed = rig.run.wanderSeed();
    ref.origin = kOrigin;
    for (const uint32_t frames : {1000u, 4097u, 441u, 30001u, 50000u, 100000u}) {
        expectSameAsReference(rig, ref, frames);
    }
    EXPECT_EQ(ref.sharesSeen, 0b111u);
}

TEST(RendererTest, tap_getsOneRecordPerSoundingBufferWithItsFrameLevelAndEnvelope) {
    Preferences prefs;
    RenderTap tap;
    const LiveRendering live{SleepFade{}, &tap};
    Rig rig(prefs, 8);
    rig.run.runLength = 2000 / 44100.0;  // ends inside the fifth buffer
    std::vector<std::vector<int16_t>> buffers[2];
    std::vector<float> envelopes[2];
    for (int i = 0; i < 6; ++i) {
        const uint32_t written = rig.render(441, &live);
        for (int c = 0; c < 2; ++c) {
            const auto& samples = c == 0 ? rig.left : rig.right;
            buffers[c].emplace_back(samples.begin(), samples.begin() + written);
            envelopes[c].push_back(float(rig.run.channelState(c).envelope.amplitude));
        }
    }
    TapRecord records[16];
    ASSERT_EQ(tap.read(records, 16), 5u);  // nothing for the buffer after the end
    for (uint32_t i = 0; i < 5; ++i) {
        const TapRecord& r = records[i];
        EXPECT_EQ(r.frame, i * 441);
        EXPECT_EQ(r.frames, i < 4 ? 441u : 2000u - 4 * 441);
        EXPECT_EQ(r.sound, records[0].sound);
        for (int c = 0; c < 2; ++c) {
            double sum = 0;
            for (const int16_t s : buffers[c][i])
                sum += double(s) * s;
            EXPECT_FLOAT_EQ(r.level[c], float(std::sqrt(sum / r.frames) / 32767)) << i;
            EXPECT_EQ(r.envelope[c], envelopes[c][i]) << i;
        }
    }
    // The next sound is told apart, and an export (no tap given) reports nothing.
    const uint32_t firstSound = records[0].sound;
    RenderRun next(rig.renderer, Renderer::kLiveFade);
    rig.renderWith(next, 100);
    rig.renderWith(next, 100, &live);
    ASSERT_EQ(tap.read(records, 16), 1u);
    EXPECT_NE(records[0].sound, firstSound);
    EXPECT_EQ(records[0].frame, 100u);
    EXPECT_EQ(tap.lost(), 0u);
}

// The two channels on two threads, each running ahead over several blocks, give the samples of one
// thread rendering left then right block by block: across the pink counter's wrap (which takes one
// draw fewer), with the envelope on and off, through an export's end inside a block; and the shared
// source ends where one thread would leave it.
TEST(RendererTest, parallelChannels_renderExactlyWhatOneThreadRenders) {
    for (const bool envelope : {true, false}) {
        Preferences prefs;
        prefs.setAmplitudeGenerator(envelope);
        Rig one(prefs, 1234);
        Rig two(prefs, 1234);
        // Without the envelope, a night brings it in halfway: the draws a block takes change.
        const Night night({{200000, 100000, NightPoint::of(75, 100, 50, 50, 50, false, true)}});
        for (Rig* rig : {&one, &two}) {
            rig->run.fadeInOut = 2.0;
            rig->run.runLength = 13.5;  // 595,350 frames: past the wrap at 524,288, and the
                                        // end inside the fourth block
            rig->run.setNight(envelope ? nullptr : &night);
        }
        ParallelRenderer parallel(two.run);
        EXPECT_TRUE(parallel.parallel());
        // All blocks started at once, more than the threads queue: each channel runs ahead.
        const uint32_t sizes[] = {122880u, 100000u, 301471u, 122880u, 1u, 4096u};
        struct Block {
            std::vector<int16_t> left, right;
            AudioBufferList list;
            RendererData request;
        };
        std::vector<Block> blocks(std::size(sizes));
        for (size_t b = 0; b < blocks.size(); ++b) {
            Block& block = blocks[b];
            block.left.assign(sizes[b], 12345);
            block.right.assign(sizes[b], 12345);
            block.list = {
                2, {{1, sizes[b] * 2, block.left.data()}, {1, sizes[b] * 2, block.right.data()}}};
            block.request = {nullptr, nullptr, 0, sizes[b], &block.list};
            parallel.start(&block.request);
        }
        parallel.wait(blocks.size() - 1);
        for (size_t b = 0; b < blocks.size(); ++b) {
            one.render(sizes[b]);
            ASSERT_EQ(blocks[b].list.mBuffers[0].mDataByteSize, one.list.mBuffers[0].mDataByteSize);
            ASSERT_EQ(blocks[b].list.mBuffers[1].mDataByteSize, one.list.mBuffers[1].mDataByteSize);
            ASSERT_EQ(blocks[b].left, one.left) << "envelope " << envelope << ", block " << b;
            ASSERT_EQ(blocks[b].right, one.right) << "envelope " << envelope << ", block " << b;
        }
        EXPECT_EQ(two.run.frameCount, one.run.frameCount);
        EXPECT_EQ(two.run.randomSource().next(), one.run.randomSource().next());
    }
}

TEST(RendererTest, deriveWaveParameters_mapsPercentagesToRatesAndThreshold) {
    const auto at = [](double percent) {
        return deriveWaveParameters(percent, percent, percent, percent, percent, false);
    };
    EXPECT_EQ(at(0).waveThreshold, 14115);
    EXPECT_EQ(at(50).waveThreshold, 8115);
    EXPECT_EQ(at(100).waveThreshold, 2115);
    EXPECT_EQ(at(33.3).waveThreshold, 10119);
    EXPECT_DOUBLE_EQ(at(0).ascentRate, 1 / 44100.0 / 5);
    EXPECT_DOUBLE_EQ(at(100).ascentRate, 1 / 44100.0);
    EXPECT_DOUBLE_EQ(at(0).descentRate, 1 / 44100.0 / 3);
    EXPECT_DOUBLE_EQ(at(100).descentRate, 1 / 44100.0);
    EXPECT_EQ(at(100).lightWeight, 0.5);
    EXPECT_EQ(deriveWaveParameters(0, 0, 0, 100, 60, true).heavyWeight, 0.6);
}

}  // namespace
}  // namespace brinesong
