// SPDX-License-Identifier: GPL-3.0-or-later
#include "Preferences.h"

namespace brinesong {

Preferences& Preferences::sharedInstance() {
    // Never destroyed: the audio thread may still read it while the process exits.
    static Preferences* instance = new Preferences;
    return *instance;
}

void Preferences::setDeafaultValue() {
    lightWave_.store(kDefaultLightWave, std::memory_order_relaxed);
    heavyWave_.store(kDefaultHeavyWave, std::memory_order_relaxed);
    ascent_.store(kDefaultAscent, std::memory_order_relaxed);
    descent_.store(kDefaultDescent, std::memory_order_relaxed);
    waveInterval_.store(kDefaultWaveInterval, std::memory_order_relaxed);
    boostSoundLevel_.store(kDefaultBoostSoundLevel, std::memory_order_relaxed);
    amplitudeGenerator_.store(kDefaultAmplitudeGenerator, std::memory_order_relaxed);
}

bool Preferences::storePercent(std::atomic<double>& field, double value) {
    // Written so that NaN fails the test and is ignored; -0.0 passes.
    if (value >= 0.0 && value <= 100.0) {
        field.store(value, std::memory_order_relaxed);
        return true;
    }
    return false;
}

void Preferences::setLightWave(double value) {
    storePercent(lightWave_, value);
    if (view_)
        view_->updateLightWaveText();
}

void Preferences::setHeavyWave(double value) {
    storePercent(heavyWave_, value);
    if (view_)
        view_->updateHeavyWaveText();
}

void Preferences::setAscent(double value) {
    storePercent(ascent_, value);
    if (view_)
        view_->updateAscentText();
}

void Preferences::setDescent(double value) {
    storePercent(descent_, value);
    if (view_)
        view_->updateDescentText();
}

void Preferences::setWander(double value) {
    if (value >= 0.0 && value <= 50.0) {
        wander_.store(value, std::memory_order_relaxed);
    }
}

void Preferences::setWaveInterval(double value) {
    storePercent(waveInterval_, value);
    if (view_)
        view_->updateWaveIntervalText();
}

}  // namespace brinesong
