// SPDX-License-Identifier: GPL-3.0-or-later
// The seven settings that shape the surf, shared by the whole program.
//
// The main thread writes them (the preferences panel, launch, restore defaults); the renderer reads
// each once per buffer on the audio thread or the export worker, without a lock. Every field is an
// atomic so that no value is ever read torn; no ordering between fields is needed, a buffer may mix
// old and new values while a slider moves.
#pragma once

#include <atomic>

namespace brinesong {

// What the preferences panel shows of the continuous settings. Each setter asks for its text to be
// refreshed, whether it accepted the value or not, so the panel always shows the stored value.
class PreferencesView {
public:
    virtual ~PreferencesView() = default;
    virtual void updateLightWaveText() = 0;
    virtual void updateHeavyWaveText() = 0;
    virtual void updateAscentText() = 0;
    virtual void updateDescentText() = 0;
    virtual void updateWaveIntervalText() = 0;
};

class Preferences {
public:
    // Defaults; the settings store registers the same values.
    static constexpr double kDefaultLightWave = 75.0;
    static constexpr double kDefaultHeavyWave = 100.0;
    static constexpr double kDefaultAscent = 50.0;
    static constexpr double kDefaultDescent = 50.0;
    static constexpr double kDefaultWaveInterval = 50.0;
    static constexpr bool kDefaultBoostSoundLevel = false;
    static constexpr bool kDefaultAmplitudeGenerator = true;

    // The one instance the program runs with, created with the defaults at its first use and kept
    // until the process ends. Separate instances exist only in tests and tools.
    static Preferences& sharedInstance();

    Preferences() { setDeafaultValue(); }
    Preferences(const Preferences&) = delete;
    Preferences& operator=(const Preferences&) = delete;

    // Restores all seven defaults. Tells the view nothing: whoever restores refreshes the panel.
    void setDeafaultValue();

    // Percent, 0 to 100.
    double lightWave() const { return lightWave_.load(std::memory_order_relaxed); }
    double heavyWave() const { return heavyWave_.load(std::memory_order_relaxed); }
    double ascent() const { return ascent_.load(std::memory_order_relaxed); }
    double descent() const { return descent_.load(std::memory_order_relaxed); }
    double waveInterval() const { return waveInterval_.load(std::memory_order_relaxed); }
    bool boostSoundLevel() const { return boostSoundLevel_.load(std::memory_order_relaxed); }
    bool amplitudeGenerator() const { return amplitudeGenerator_.load(std::memory_order_relaxed); }

    // Percent setters: a value outside 0 to 100, or not a number, is ignored without a report and
    // the previous value stays. The view's text is refreshed either way.
    void setLightWave(double value);
    void setHeavyWave(double value);
    void setAscent(double value);
    void setDescent(double value);
    void setWaveInterval(double value);

    void setBoostSoundLevel(bool value) {
        boostSoundLevel_.store(value, std::memory_order_relaxed);
    }
    void setAmplitudeGenerator(bool value) {
        amplitudeGenerator_.store(value, std::memory_order_relaxed);
    }

    // Wander: how far, in points, each of the five percent settings strays about its value in the
    // course of a night (0 to 50; 0, the default, holds them still). Not one of the seven: a
    // preset neither holds nor sets it. A value outside 0 to 50, or not a number, is ignored.
    static constexpr double kDefaultWander = 0.0;
    double wander() const { return wander_.load(std::memory_order_relaxed); }
    void setWander(double value);

    // The panel that shows these settings, or none. Main thread only.
    void setView(PreferencesView* view) { view_ = view; }
    PreferencesView* view() const { return view_; }

private:
    static bool storePercent(std::atomic<double>& field, double value);

    std::atomic<double> lightWave_;
    std::atomic<double> heavyWave_;
    std::atomic<double> ascent_;
    std::atomic<double> descent_;
    std::atomic<double> waveInterval_;
    std::atomic<bool> boostSoundLevel_;
    std::atomic<bool> amplitudeGenerator_;
    std::atomic<double> wander_{kDefaultWander};
    PreferencesView* view_ = nullptr;
};

}  // namespace brinesong
