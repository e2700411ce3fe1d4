#include "StoredSettings.h"

#include <QVariantMap>

namespace brinesong {

void registerSettingsDefaults(SettingsStore& store) {
    store.registerDefaults({
        {keys::kVolume, 50.0f},
        {keys::kHour, 8},
        {keys::kMinute, 0},
        {keys::kSecond, 0},
        {keys::kMinutes, 45},
        {keys::kLightWave, static_cast<int>(Preferences::kDefaultLightWave)},
        {keys::kHeavyWave, static_cast<int>(Preferences::kDefaultHeavyWave)},
        {keys::kAscent, static_cast<int>(Preferences::kDefaultAscent)},
        {keys::kDescent, static_cast<int>(Preferences::kDefaultDescent)},
        {keys::kWaveInterval, static_cast<int>(Preferences::kDefaultWaveInterval)},
        {keys::kBoostSoundLevel, Preferences::kDefaultBoostSoundLevel},
        {keys::kAmplitudeGenerator, Preferences::kDefaultAmplitudeGenerator},
        {keys::kKeepAwake, true},
    });
}

void loadWaveSettings(const SettingsStore& store, Preferences& preferences) {
    preferences.setLightWave(store.integerForKey(keys::kLightWave));
    preferences.setHeavyWave(store.integerForKey(keys::kHeavyWave));
    preferences.setAscent(store.integerForKey(keys::kAscent));
    preferences.setDescent(store.integerForKey(keys::kDescent));
    preferences.setWaveInterval(store.integerForKey(keys::kWaveInterval));
    preferences.setBoostSoundLevel(store.boolForKey(keys::kBoostSoundLevel));
    preferences.setAmplitudeGenerator(store.boolForKey(keys::kAmplitudeGenerator));
}

void saveWaveSettings(const Preferences& preferences, SettingsStore& store) {
    store.setInteger(static_cast<int>(preferences.lightWave()), keys::kLightWave);
    store.setInteger(static_cast<int>(preferences.heavyWave()), keys::kHeavyWave);
    store.setInteger(static_cast<int>(preferences.ascent()), keys::kAscent);
    store.setInteger(static_cast<int>(preferences.descent()), keys::kDescent);
    store.setInteger(static_cast<int>(preferences.waveInterval()), keys::kWaveInterval);
    store.setBool(preferences.boostSoundLevel(), keys::kBoostSoundLevel);
    store.setBool(preferences.amplitudeGenerator(), keys::kAmplitudeGenerator);
}

double loadVolume(const SettingsStore& store) {
    double volume = static_cast<double>(store.floatForKey(keys::kVolume)) / 100.0;
    if (volume > 1.0) {
        volume = 1.0;
    }
    if (!(volume >= 0.0)) {  // also a stored text that reads as not-a-number
        volume = 0.0;
    }
    return volume;
}

}  // namespace brinesong
