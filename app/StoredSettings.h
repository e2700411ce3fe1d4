// The keys of the settings store, their registered defaults, and how the stored values reach the
// settings model. The key strings are stored on users' disks as they stand, irregular forms
// included; never rename them.
#pragma once

#include <QString>

#include "platform/SettingsStore.h"
#include "synth/Preferences.h"

namespace brinesong::keys {
inline const QString kVolume = QStringLiteral("VolumeKey");
inline const QString kHour = QStringLiteral("HourKey");
inline const QString kMinute = QStringLiteral("MinuteKey");
inline const QString kSecond = QStringLiteral("SecondKey");
inline const QString kMinutes = QStringLiteral("MinutesKey");
inline const QString kLightWave = QStringLiteral("LightWaveKey");
inline const QString kHeavyWave = QStringLiteral("HeavyWaveKey");
inline const QString kAscent = QStringLiteral("AscentKey");
inline const QString kDescent = QStringLiteral("DescentKey");
inline const QString kWaveInterval = QStringLiteral("kWaveIntervalKey");
inline const QString kBoostSoundLevel = QStringLiteral("Kelvane.Brinesong.BoostSoundLevelKey");
inline const QString kAmplitudeGenerator =
    QStringLiteral("Kelvane.Brinesong.AmplitudeGeneratorKey");
inline const QString kOutputSourceName = QStringLiteral("Kelvane.Brinesong.OutputSourceNameKey");
inline const QString kKeepAwake = QStringLiteral("Kelvane.Brinesong.KeepAwakeKey");
}  // namespace brinesong::keys

namespace brinesong {

// Registers the defaults of every key but the output device name, which has none.
void registerSettingsDefaults(SettingsStore& store);

// Hands the stored wave settings to the model through its setters, so a stored value outside 0 to
// 100 is ignored and the model keeps what it had.
void loadWaveSettings(const SettingsStore& store, Preferences& preferences);

// Writes the wave settings, the percentages truncated toward zero.
void saveWaveSettings(const Preferences& preferences, SettingsStore& store);

// The stored volume as a gain: the percentage divided by 100, held to 0.0 to 1.0.
double loadVolume(const SettingsStore& store);

}  // namespace brinesong
