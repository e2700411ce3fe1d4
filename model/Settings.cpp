// SPDX-License-Identifier: GPL-3.0-or-later
#include "Settings.h"

#include <QVariantMap>
#include <algorithm>
#include <cmath>

namespace brinesong {

void Settings::load(SettingsStore& store) {
    const Settings defaults;
    // Before the defaults are registered, so that only a value the user's store holds counts.
    firstLaunch = !store.hasStoredValue(keys::kVolume);
    store.registerDefaults({
        {keys::kVolume, kDefaultVolumePercent},
        {keys::kHour, defaults.startTime.hour()},
        {keys::kMinute, defaults.startTime.minute()},
        {keys::kSecond, defaults.startTime.second()},
        {keys::kMinutes, defaults.minutes},
        {keys::kLightWave, static_cast<int>(defaults.lightWave)},
        {keys::kHeavyWave, static_cast<int>(defaults.heavyWave)},
        {keys::kAscent, static_cast<int>(defaults.ascent)},
        {keys::kDescent, static_cast<int>(defaults.descent)},
        {keys::kWaveInterval, static_cast<int>(defaults.waveInterval)},
        {keys::kBoostSoundLevel, defaults.boostSoundLevel},
        {keys::kAmplitudeGenerator, defaults.amplitudeGenerator},
        {keys::kKeepAwake, defaults.keepAwake},
        {keys::kKeepPlayingWhenClosed, defaults.keepPlayingWhenClosed},
        {keys::kStartAtLogin, defaults.startAtLogin},
        {keys::kFadeMinutes, defaults.fadeMinutes},
        {keys::kRiseMinutes, defaults.riseMinutes},
        {keys::kRepeatStart, defaults.repeatStart},
        {keys::kShowWaves, defaults.showWaves},
        {keys::kChangeOverSeconds, defaults.changeOverSeconds},
        {keys::kWander, defaults.wander},
    });

    float percent = store.floatForKey(keys::kVolume);
    if (!(percent >= 0.0f)) {
        // No volume is below silence: a damaged value counts as none, rather than silencing
        // every playback and export without a word.
        percent = kDefaultVolumePercent;
    }
    volume = std::min(static_cast<double>(percent) / 100.0, 1.0);

    startTime = QTime(store.integerForKey(keys::kHour), store.integerForKey(keys::kMinute),
                      store.integerForKey(keys::kSecond));
    if (!startTime.isValid()) {
        startTime = defaults.startTime;
    }
    minutes = store.integerForKey(keys::kMinutes);
    const auto choice = [&store](const QString& key, int fallback) {
        const int minutes = store.integerForKey(key);
        return std::find(std::begin(kFadeChoices), std::end(kFadeChoices), minutes) ==
                       std::end(kFadeChoices)
                   ? fallback
                   : minutes;
    };
    fadeMinutes = choice(keys::kFadeMinutes, defaults.fadeMinutes);
    riseMinutes = choice(keys::kRiseMinutes, defaults.riseMinutes);
    repeatStart = store.boolForKey(keys::kRepeatStart);
    changeOverSeconds = store.integerForKey(keys::kChangeOverSeconds);
    if (std::find(std::begin(kChangeOverChoices), std::end(kChangeOverChoices),
                  changeOverSeconds) == std::end(kChangeOverChoices)) {
        changeOverSeconds = defaults.changeOverSeconds;
    }
    lightWave = store.integerForKey(keys::kLightWave);
    heavyWave = store.integerForKey(keys::kHeavyWave);
    ascent = store.integerForKey(keys::kAscent);
    descent = store.integerForKey(keys::kDescent);
    waveInterval = store.integerForKey(keys::kWaveInterval);
    boostSoundLevel = store.boolForKey(keys::kBoostSoundLevel);
    amplitudeGenerator = store.boolForKey(keys::kAmplitudeGenerator);
    outputDeviceName = store.stringForKey(keys::kOutputSourceName);
    keepAwake = store.boolForKey(keys::kKeepAwake);
    keepPlayingWhenClosed = store.boolForKey(keys::kKeepPlayingWhenClosed);
    startAtLogin = store.boolForKey(keys::kStartAtLogin);
    showWaves = store.boolForKey(keys::kShowWaves);
    windowFrame = QByteArray::fromBase64(store.stringForKey(keys::kWindowFrame).toLatin1());
    exportFolder = store.stringForKey(keys::kExportFolder);
    bool lengthRead = false;
    const float length = store.objectForKey(keys::kExportMinutes).toFloat(&lengthRead);
    exportMinutes = lengthRead && std::isfinite(length) && length >= 0.0f ? std::optional(length)
                                                                          : std::nullopt;
    exportFormat = store.stringForKey(keys::kExportFormat);
    presetNotes.clear();
    presets.load(store, presetNotes);
    nightNotes.clear();
    programme.load(store, nightNotes);
    bool readable = false;
    const QString storedWander = store.objectForKey(keys::kWander).toString().trimmed();
    wander = storedWander.toDouble(&readable);
    wanderUnreadable = !readable || !(wander >= 0.0 && wander <= Night::kMostWander);
    if (wanderUnreadable) {
        wander = defaults.wander;
        nightNotes << QStringLiteral(
                          "%1 in %2 is '%3', not a number of points from 0 to 50; "
                          "the settings do not wander")
                          .arg(keys::kWander, store.fileName(), storedWander);
    }
    const Preset* preset = presets.find(store.stringForKey(keys::kPreset));
    presetName = preset ? preset->name : QString();
}

QString Settings::save(SettingsStore& store) const {
    return store.rewrite([this](SettingsStore& file) { write(file); });
}

QString Settings::savePresets(SettingsStore& store) const {
    return store.rewrite([this](SettingsStore& file) { writePresets(file); });
}

void Settings::writePresets(SettingsStore& store) const {
    if (presetName.isEmpty()) {
        store.removeObjectForKey(keys::kPreset);
    } else {
        store.setString(presetName, keys::kPreset);
    }
    presets.write(store);
}

void Settings::write(SettingsStore& store) const {
    store.setFloat(static_cast<float>(volume * 100.0), keys::kVolume);
    if (startTime.isValid()) {
        store.setInteger(startTime.hour(), keys::kHour);
        store.setInteger(startTime.minute(), keys::kMinute);
        store.setInteger(startTime.second(), keys::kSecond);
    }
    store.setInteger(minutes, keys::kMinutes);
    store.setInteger(fadeMinutes, keys::kFadeMinutes);
    store.setInteger(riseMinutes, keys::kRiseMinutes);
    store.setBool(repeatStart, keys::kRepeatStart);
    store.setInteger(static_cast<int>(lightWave), keys::kLightWave);
    store.setInteger(static_cast<int>(heavyWave), keys::kHeavyWave);
    store.setInteger(static_cast<int>(ascent), keys::kAscent);
    store.setInteger(static_cast<int>(descent), keys::kDescent);
    store.setInteger(static_cast<int>(waveInterval), keys::kWaveInterval);
    store.setBool(boostSoundLevel, keys::kBoostSoundLevel);
    store.setBool(amplitudeGenerator, keys::kAmplitudeGenerator);
    if (outputDeviceName.isEmpty()) {
        store.removeObjectForKey(keys::kOutputSourceName);  // the next launch takes the default
    } else {
        store.setString(outputDeviceName, keys::kOutputSourceName);
    }
    store.setBool(keepAwake, keys::kKeepAwake);
    store.setBool(keepPlayingWhenClosed, keys::kKeepPlayingWhenClosed);
    store.setBool(startAtLogin, keys::kStartAtLogin);
    store.setBool(showWaves, keys::kShowWaves);
    if (!windowFrame.isEmpty()) {
        store.setString(QString::fromLatin1(windowFrame.toBase64()), keys::kWindowFrame);
    }
    if (exportFolder.isEmpty()) {
        store.removeObjectForKey(keys::kExportFolder);
    } else {
        store.setString(exportFolder, keys::kExportFolder);
    }
    if (exportMinutes) {
        store.setFloat(*exportMinutes, keys::kExportMinutes);
    }
    if (!exportFormat.isEmpty()) {
        store.setString(exportFormat, keys::kExportFormat);
    }
    writePresets(store);
    store.setInteger(changeOverSeconds, keys::kChangeOverSeconds);
    if (!wanderUnreadable || wander != Preferences::kDefaultWander) {
        store.setObject(wander, keys::kWander);
    }
    programme.write(store);
}

void Settings::applyWaveSettings(Preferences& preferences) const {
    WaveValues{lightWave,       heavyWave,         ascent, descent, waveInterval,
               boostSoundLevel, amplitudeGenerator}
        .applyTo(preferences);
}

void Settings::takeWaveSettings(const Preferences& preferences) {
    lightWave = preferences.lightWave();
    heavyWave = preferences.heavyWave();
    ascent = preferences.ascent();
    descent = preferences.descent();
    waveInterval = preferences.waveInterval();
    boostSoundLevel = preferences.boostSoundLevel();
    amplitudeGenerator = preferences.amplitudeGenerator();
}

}  // namespace brinesong
