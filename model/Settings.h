// SPDX-License-Identifier: GPL-3.0-or-later
// Every stored setting of the program as one value: read from the settings store at launch, written
// at quit, by the window; read, never written, by the command line. The keys are stored on users'
// disks as they stand, irregular forms included; never rename them.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTime>
#include <optional>

#include "model/NightProgramme.h"
#include "model/Presets.h"
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
inline const QString kKeepPlayingWhenClosed =
    QStringLiteral("Kelvane.Brinesong.KeepPlayingWhenClosedKey");
inline const QString kStartAtLogin = QStringLiteral("Kelvane.Brinesong.StartAtLoginKey");
inline const QString kFadeMinutes = QStringLiteral("Kelvane.Brinesong.FadeOutMinutesKey");
inline const QString kRiseMinutes = QStringLiteral("Kelvane.Brinesong.FadeInMinutesKey");
inline const QString kRepeatStart = QStringLiteral("Kelvane.Brinesong.RepeatStartKey");
inline const QString kShowWaves = QStringLiteral("Kelvane.Brinesong.ShowWavesKey");
inline const QString kExportFolder = QStringLiteral("Kelvane.Brinesong.ExportFolderKey");
// The export dialog's length in minutes and format (as --format names it), as last chosen.
inline const QString kExportMinutes = QStringLiteral("Kelvane.Brinesong.ExportMinutesKey");
inline const QString kExportFormat = QStringLiteral("Kelvane.Brinesong.ExportFormatKey");
// The preset last chosen or saved: a shipped preset's English name, or the user's name for one of
// their own; absent when there is none.
inline const QString kPreset = QStringLiteral("Kelvane.Brinesong.PresetKey");
// Seconds a preset chosen while the sound plays takes to glide in, one of kChangeOverChoices.
inline const QString kChangeOverSeconds = QStringLiteral("Kelvane.Brinesong.ChangeOverSecondsKey");
// Points the percent settings wander by, 0 to 50.
inline const QString kWander = QStringLiteral("Kelvane.Brinesong.WanderKey");
inline const QString kWindowFrame = QStringLiteral("BrinesongWindow");
}  // namespace brinesong::keys

namespace brinesong {

inline constexpr float kDefaultVolumePercent = 50.0f;
// The lengths of the fade-in offered beside the scheduled start and of the fade-out beside the
// scheduled stop, in minutes; 0 is off.
inline constexpr int kFadeChoices[] = {0, 1, 5, 10, 15, 30};
// The change-over's lengths in seconds: at once (the 40 ms any change takes), 5 s, 30 s, 2 minutes.
inline constexpr int kChangeOverChoices[] = {0, 5, 30, 120};

struct Settings {
    // The values of a first launch, which are also the store's registered defaults.
    double volume = kDefaultVolumePercent / 100.0;  // gain, 0.0 to 1.0; stored in percent
    QTime startTime{8, 0, 0};                       // the scheduled start's time of day
    int minutes = 45;                               // the scheduled stop's delay
    int fadeMinutes = 0;       // the scheduled stop's fade-out, one of kFadeChoices; 0 is off
    int riseMinutes = 0;       // the scheduled start's fade-in, likewise
    bool repeatStart = false;  // "Start at" repeats every day
    // The wave settings in percent, stored as whole numbers. Values out of range are kept here
    // as read; the model's setters refuse them.
    double lightWave = Preferences::kDefaultLightWave;
    double heavyWave = Preferences::kDefaultHeavyWave;
    double ascent = Preferences::kDefaultAscent;
    double descent = Preferences::kDefaultDescent;
    double waveInterval = Preferences::kDefaultWaveInterval;
    bool boostSoundLevel = Preferences::kDefaultBoostSoundLevel;
    bool amplitudeGenerator = Preferences::kDefaultAmplitudeGenerator;
    QString outputDeviceName;  // empty: none stored, the default device
    bool keepAwake = true;     // "Keep the computer awake while playing or waiting to start"
    bool showWaves = true;     // the main window shows its picture of the waves
    QByteArray windowFrame;    // the main window's saved geometry; empty: none
    QString exportFolder;      // the folder of the last export from the window; empty: none yet
    PresetBook presets;        // the user's own presets beside the shipped ones
    QString presetName;        // the current preset, as PresetBook::find takes it; empty: none
    // "Keep playing when the window is closed": where a tray is, closing the window while the
    // sound plays leaves it playing there.
    bool keepPlayingWhenClosed = true;
    // "Start at login": the autostart entry is installed.
    bool startAtLogin = false;
    // Set by load(): a line for each of the user's presets that could not be read.
    QStringList presetNotes;
    // The export dialog's length and format as last chosen; none, or empty, when none is stored.
    std::optional<float> exportMinutes;
    QString exportFormat;
    int changeOverSeconds = 5;  // one of kChangeOverChoices
    double wander = Preferences::kDefaultWander;
    NightProgramme programme;
    // Set by load(): a line for each value of the night (programme, wander) that could not be
    // read; such a wander counts as 0 and is written back as read unless changed.
    QStringList nightNotes;
    bool wanderUnreadable = false;
    // Set by load(): the user's store held no volume, so this is the program's first launch.
    bool firstLaunch = true;

    // Registers the defaults in `store`, then reads every key. A stored volume above 100 is
    // limited to it; a negative one, a start time that is no time of day, a fade-in or fade-out
    // that is not one of the choices and values that do not read as their type count as absent, and
    // so does a current preset that names none.
    void load(SettingsStore& store);
    // Writes every key (wave settings truncated toward zero; no device name or export folder
    // removes its key) and the store to disk, replacing the file whole. Returns why the file could
    // not be written, empty when it was.
    QString save(SettingsStore& store) const;
    // Writes the user's presets and which one is current now, as saving a preset does; the rest
    // of the file stays as the last quit left it. Returns why it could not, empty when it did.
    QString savePresets(SettingsStore& store) const;

    // Hands the wave settings to the model through its setters, or takes them from it.
    void applyWaveSettings(Preferences& preferences) const;
    void takeWaveSettings(const Preferences& preferences);

private:
    // Sets every key in `store`, as save() writes them.
    void write(SettingsStore& store) const;
    void writePresets(SettingsStore& store) const;
};

}  // namespace brinesong
