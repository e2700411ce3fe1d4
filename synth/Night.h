// SPDX-License-Identifier: GPL-3.0-or-later
// A night: the wave settings changing by themselves while the sound goes on. Steps glide from the
// settings in force to a new set at frames fixed in advance; a change-over glides from the settings
// heard to the ones just set; and wander moves each of the five percent settings slowly about its
// value along a path drawn from a seed.
//
// All of it is a pure function of the night's frame, the settings, the steps and the seed, so a
// stretch rendered again (a rewritten queue, a sound started again after the server came back)
// gets exactly the settings it had, and an export of a night is the live night's frames. The
// settings are evaluated once per segment of kSegmentFrames frames, counted from the night's
// first frame, and hold for the whole segment: the renderer's fast passes then run unchanged
// inside a segment, and no frame depends on where a render request began. The glides are long
// (a second at least), so a segment moves a level by less than a hundredth of the way: far below
// what can be heard as a step.
//
// Nothing here allocates but the constructor of a Night; evaluation is real-time safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace brinesong {

class Preferences;

// The seven wave settings as a point a night passes through. The two switches cannot take a
// value between on and off, so during a glide each moves as what it does: the boost as the factor
// it puts on both weights (0.5 off, 1 on), the amplitude generator as the share of the wave
// envelope in the sound, a cross-fade from the flat 1 to the envelope or back (the envelope runs
// wherever its share is above 0). Neither so ever jumps, and neither clicks.
struct NightPoint {
    double lightWave = 0.0;  // percent, 0 to 100
    double heavyWave = 0.0;
    double ascent = 0.0;
    double descent = 0.0;
    double waveInterval = 0.0;
    double boost = 0.5;          // 0.5 to 1
    double envelopeShare = 1.0;  // 0 to 1

    static NightPoint of(double lightWave, double heavyWave, double ascent, double descent,
                         double waveInterval, bool boostSoundLevel, bool amplitudeGenerator);
    static NightPoint of(const Preferences& preferences);
    bool operator==(const NightPoint&) const = default;
};

// "From frame `startFrame` on, glide over `glideFrames` to `target`": frames count from the
// night's first frame.
struct NightStep {
    int64_t startFrame = 0;
    int64_t glideFrames = 0;  // at least Night::kShortestGlideFrames
    NightPoint target;
};

// A change-over: from `startFrame` on the settings as they stand take over again, reached over
// `frames` from `from`, the settings heard just before (0 frames: at once, where live playback's
// short glide smooths the levels). Steps that begin after it glide on from there.
struct SettingsGlide {
    int64_t startFrame = 0;
    int64_t frames = 0;
    NightPoint from;
    bool set = false;
};

class Night {
public:
    static constexpr int64_t kSegmentFrames = 256;  // 5.8 ms
    // The wander moves so slowly (less than a point in 5 seconds) that it is taken a few segments
    // at a time, each its value at its first frame.
    static constexpr int64_t kWanderFrames = 16 * kSegmentFrames;
    static constexpr int64_t kShortestGlideFrames = 44100;
    static constexpr double kMostWander = 50.0;  // points
    static constexpr size_t kMostSteps = 100;

    Night() = default;
    // Steps in order of their first frames (a tie keeps the order given); a shorter glide is
    // lengthened to kShortestGlideFrames.
    explicit Night(std::vector<NightStep> steps);

    const std::vector<NightStep>& steps() const { return steps_; }
    bool empty() const { return steps_.empty(); }

    // The settings in force at night frame `n`, before wander: `base` (the settings as they
    // stand) up to the first step, each step gliding from what is in force when it begins, and
    // `changeOver`, when set and begun, in place of the steps before it.
    NightPoint pointAt(int64_t n, const NightPoint& base, const SettingsGlide& changeOver) const;
    // Whether the settings are gliding at night frame `n`, by a step or by `changeOver`: what the
    // window's picture marks. A step the change-over took the place of glides no more.
    bool glidesAt(int64_t n, const SettingsGlide& changeOver) const;

private:
    std::vector<NightStep> steps_;
};

// The way from `from` to `to` at the fraction `t` of a glide: eased in and out (a smooth step),
// every setting alike. `from` itself at t <= 0, exactly `to` at t >= 1.
NightPoint glideBetween(const NightPoint& from, const NightPoint& to, double t);

// Where the wander of percent setting `setting` (0 light, 1 heavy, 2 ascent, 3 descent,
// 4 interval) stands at night frame `n`, from -1 to 1: 0 at frame 0, then from one value drawn
// from `seed` to the next every quarter of an hour or so, smoothly, so that its changes take tens
// of minutes. Drawn by hashing, never from the noise's random source.
double wanderPath(int setting, int64_t n, uint64_t seed);

// The five paths as they stand for the stretch of Night::kWanderFrames that night frame `n` lies
// in: their values at its first frame.
struct Wander {
    int64_t stretch = -1;  // night frame / kWanderFrames; -1 before any
    double path[5] = {};
};
Wander wanderAt(int64_t n, uint64_t seed);

// `point` with its five percent settings moved `depth` points times their wander, held within 0
// to 100. The switches do not wander. Depth 0 gives `point` itself.
NightPoint wandered(const NightPoint& point, const Wander& wander, double depth);
// The same at night frame `n`.
NightPoint wandered(const NightPoint& point, int64_t n, double depth, uint64_t seed);

}  // namespace brinesong
