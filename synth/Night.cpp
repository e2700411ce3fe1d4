// SPDX-License-Identifier: GPL-3.0-or-later
#include "Night.h"

#include <algorithm>

#include "Preferences.h"

namespace brinesong {

namespace {

// The fraction of the glide of `frames` frames begun at `start` done at frame n.
double progress(int64_t start, int64_t frames, int64_t n) {
    return frames <= 0 ? 1.0 : static_cast<double>(n - start) / static_cast<double>(frames);
}

// The spacing of each percent setting's wander values, in frames: 13 to 29 minutes, none a
// multiple of another, so the five never rest at their values together.
constexpr int64_t kWanderMinutes[5] = {13, 17, 19, 23, 29};

// A 64-bit mix (splitmix64's finaliser): every bit of the result depends on every bit of `x`.
uint64_t mixBits(uint64_t x) {
    x += 0x9E3779B97F4A7C15u;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
    return x ^ (x >> 31);
}

// The wander's value number `q` of setting `setting`, from -1 to 1; the first is 0, so a night
// begins at the settings as set.
double wanderValue(uint64_t seed, int setting, int64_t q) {
    if (q == 0) {
        return 0.0;
    }
    const uint64_t bits =
        mixBits(seed ^ mixBits((static_cast<uint64_t>(setting) << 56) ^ static_cast<uint64_t>(q)));
    // 53 bits: a double in [0, 1), exactly.
    return static_cast<double>(bits >> 11) * 0x1p-53 * 2.0 - 1.0;
}

}  // namespace

NightPoint NightPoint::of(double lightWave, double heavyWave, double ascent, double descent,
                          double waveInterval, bool boostSoundLevel, bool amplitudeGenerator) {
    return NightPoint{lightWave,
                      heavyWave,
                      ascent,
                      descent,
                      waveInterval,
                      boostSoundLevel ? 1.0 : 0.5,
                      amplitudeGenerator ? 1.0 : 0.0};
}

NightPoint NightPoint::of(const Preferences& preferences) {
    return of(preferences.lightWave(), preferences.heavyWave(), preferences.ascent(),
              preferences.descent(), preferences.waveInterval(), preferences.boostSoundLevel(),
              preferences.amplitudeGenerator());
}

Night::Night(std::vector<NightStep> steps) : steps_(std::move(steps)) {
    std::stable_sort(steps_.begin(), steps_.end(), [](const NightStep& a, const NightStep& b) {
        return a.startFrame < b.startFrame;
    });
    for (NightStep& step : steps_) {
        step.glideFrames = std::max(step.glideFrames, kShortestGlideFrames);
    }
}

NightPoint glideBetween(const NightPoint& from, const NightPoint& to, double t) {
    if (!(t < 1.0)) {
        return to;
    }
    if (t <= 0.0) {
        return from;
    }
    const double u = t * t * (3.0 - 2.0 * t);
    const auto at = [u](double a, double b) { return a + (b - a) * u; };
    return NightPoint{at(from.lightWave, to.lightWave),
                      at(from.heavyWave, to.heavyWave),
                      at(from.ascent, to.ascent),
                      at(from.descent, to.descent),
                      at(from.waveInterval, to.waveInterval),
                      at(from.boost, to.boost),
                      at(from.envelopeShare, to.envelopeShare)};
}

NightPoint Night::pointAt(int64_t n, const NightPoint& base,
                          const SettingsGlide& changeOver) const {
    const auto startsAfter = [this](int64_t frame) {
        return static_cast<size_t>(
            std::upper_bound(steps_.begin(), steps_.end(), frame,
                             [](int64_t f, const NightStep& s) { return f < s.startFrame; }) -
            steps_.begin());
    };
    const bool changedOver = changeOver.set && changeOver.startFrame <= n;
    // The steps that count at n: those begun by then, after the change-over if one has begun.
    const size_t first = changedOver ? startsAfter(changeOver.startFrame) : 0;
    const size_t last = startsAfter(n);
    // What is in force at frame `at` before any step counts.
    const auto before = [&](int64_t at) {
        return changedOver ? glideBetween(changeOver.from, base,
                                          progress(changeOver.startFrame, changeOver.frames, at))
                           : base;
    };
    if (first >= last) {
        return before(n);
    }
    // Steps glide from what is in force when they begin, which is the last one's target unless
    // its glide was still under way: go back to the first step of such a chain.
    size_t j = last - 1;
    while (j > first &&
           steps_[j - 1].startFrame + steps_[j - 1].glideFrames > steps_[j].startFrame) {
        --j;
    }
    NightPoint point = j > first ? steps_[j - 1].target : before(steps_[j].startFrame);
    for (size_t i = j; i + 1 < last; ++i) {
        const NightStep& step = steps_[i];
        point = glideBetween(point, step.target,
                             progress(step.startFrame, step.glideFrames, steps_[i + 1].startFrame));
    }
    const NightStep& step = steps_[last - 1];
    return glideBetween(point, step.target, progress(step.startFrame, step.glideFrames, n));
}

bool Night::glidesAt(int64_t n, const SettingsGlide& changeOver) const {
    const bool changedOver = changeOver.set && changeOver.startFrame <= n;
    if (changedOver && n < changeOver.startFrame + changeOver.frames) {
        return true;
    }
    for (const NightStep& step : steps_) {
        if (step.startFrame > n) {
            break;
        }
        if ((!changedOver || step.startFrame > changeOver.startFrame) &&
            n < step.startFrame + step.glideFrames) {
            return true;
        }
    }
    return false;
}

double wanderPath(int setting, int64_t n, uint64_t seed) {
    const int64_t spacing = kWanderMinutes[setting] * 60 * 44100;
    const int64_t q = n / spacing;
    const double x = static_cast<double>(n - q * spacing) / static_cast<double>(spacing);
    const double a = wanderValue(seed, setting, q);
    const double b = wanderValue(seed, setting, q + 1);
    return a + (b - a) * (x * x * (3.0 - 2.0 * x));
}

Wander wanderAt(int64_t n, uint64_t seed) {
    Wander wander;
    wander.stretch = n / Night::kWanderFrames;
    for (int i = 0; i < 5; ++i) {
        wander.path[i] = wanderPath(i, wander.stretch * Night::kWanderFrames, seed);
    }
    return wander;
}

NightPoint wandered(const NightPoint& point, const Wander& wander, double depth) {
    if (depth == 0.0) {
        return point;
    }
    NightPoint out = point;
    double* settings[5] = {&out.lightWave, &out.heavyWave, &out.ascent, &out.descent,
                           &out.waveInterval};
    for (int i = 0; i < 5; ++i) {
        *settings[i] = std::clamp(*settings[i] + depth * wander.path[i], 0.0, 100.0);
    }
    return out;
}

NightPoint wandered(const NightPoint& point, int64_t n, double depth, uint64_t seed) {
    return depth == 0.0 ? point : wandered(point, wanderAt(n, seed), depth);
}

}  // namespace brinesong
