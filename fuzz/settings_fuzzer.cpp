// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file as the program reads it at launch: the input is the INI file's bytes, read
// through the settings store into every setting and the user's presets. What is read holds only
// values the program can use, and writing it back and reading that again gives the same settings:
// a launch and a quit never change what the user set.
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "fuzz/Require.h"
#include "model/Settings.h"
#include "platform/SettingsStore.h"

using namespace brinesong;

namespace {

const QStringList& knownKeys() {
    static const QStringList known{keys::kVolume,
                                   keys::kHour,
                                   keys::kMinute,
                                   keys::kSecond,
                                   keys::kMinutes,
                                   keys::kLightWave,
                                   keys::kHeavyWave,
                                   keys::kAscent,
                                   keys::kDescent,
                                   keys::kWaveInterval,
                                   keys::kBoostSoundLevel,
                                   keys::kAmplitudeGenerator,
                                   keys::kOutputSourceName,
                                   keys::kKeepAwake,
                                   keys::kFadeMinutes,
                                   keys::kRiseMinutes,
                                   keys::kShowWaves,
                                   keys::kExportFolder,
                                   keys::kPreset,
                                   keys::kWindowFrame,
                                   keys::kRepeatStart,
                                   keys::kKeepPlayingWhenClosed,
                                   keys::kStartAtLogin,
                                   keys::kChangeOverSeconds,
                                   keys::kWander};
    return known;
}

// A key as the INI reader names it: "a//b/" and "a/b" are one key to it.
QString asTheReaderNamesIt(const QString& key) {
    return key.split(QLatin1Char('/'), Qt::SkipEmptyParts).join(QLatin1Char('/'));
}

bool samePresets(const PresetBook& a, const PresetBook& b) {
    const auto& x = a.userPresets();
    const auto& y = b.userPresets();
    return std::equal(x.begin(), x.end(), y.begin(), y.end(), [](const Preset& p, const Preset& q) {
        return p.name == q.name && p.values.sameAs(q.values);
    });
}

// The INI reader keeps what it read of a file for as long as its time and size look unchanged:
// each file read here gets a time of its own. (A new name each time would fill that cache instead,
// and the leak check would then look through it after every input.)
QString freshCopy(const QString& from, const QString& to) {
    static qint64 count = 0;
    QFile::remove(to);
    REQUIRE(QFile::copy(from, to));
    QFile touched(to);
    REQUIRE(touched.open(QIODevice::ReadWrite) &&
            touched.setFileTime(QDateTime::fromSecsSinceEpoch(++count),
                                QFileDevice::FileModificationTime));
    return to;
}

// The keys of a file that neither the program nor these checks know.
QStringList unknownKeys(const QString& file) {
    QStringList keys = QSettings(file, QSettings::IniFormat).allKeys();
    for (QString& key : keys) {
        key = asTheReaderNamesIt(key);
    }
    // The presets and the night programme are groups the program owns whole, a value stored at
    // the group's own name included.
    keys.removeIf([](const QString& key) {
        const QString group = key.section(QLatin1Char('/'), 0, 0);
        return group == QLatin1String("Presets") || group == QLatin1String("Night") ||
               knownKeys().contains(key);
    });
    return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The store writes as it does for the user, through a file synced to the disk: in memory,
    // where there is such a file system, that costs nothing.
    static QTemporaryDir folder((QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                     ? QStringLiteral("/dev/shm")
                                     : QDir::tempPath()) +
                                QStringLiteral("/brinesong-fuzz-XXXXXX"));
    const auto named = [](const char* name) { return folder.filePath(QString::fromLatin1(name)); };
    {
        QFile file(named("Input.ini"));
        REQUIRE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        REQUIRE(file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
    }
    const QString path = freshCopy(named("Input.ini"), named("Brinesong.ini"));
    // A section named "[]" gives keys such as "/VolumeKey" that the reader lists but finds under no
    // name, and that any rewrite through the INI writer turns into "VolumeKey": such a file means
    // one thing before its first rewrite and another after, whoever rewrites it.
    {
        const QSettings reader(freshCopy(path, named("Read.ini")), QSettings::IniFormat);
        const QStringList listed = reader.allKeys();
        if (!std::all_of(listed.begin(), listed.end(),
                         [&reader](const QString& key) { return reader.contains(key); })) {
            return 0;
        }
    }
    // The keys the program does not know are written back as the INI writer itself writes them
    // back: a key read as "/a//b" is written "a/b" at any write, and one it cannot name again
    // ("a//b/" in a section) is lost to any program that rewrites the file through it. So what
    // the program must keep is what a rewrite by the writer alone keeps.
    const QString plain = freshCopy(path, named("Plain.ini"));
    {
        QSettings rewritten(plain, QSettings::IniFormat);
        rewritten.setValue(keys::kVolume, 50);
    }
    const QStringList unknown = unknownKeys(freshCopy(plain, named("Read.ini")));
    Settings read;
    {
        SettingsStore store(path);
        read.load(store);
        REQUIRE(read.volume >= 0.0 && read.volume <= 1.0);
        REQUIRE(read.startTime.isValid());
        for (const int minutes : {read.fadeMinutes, read.riseMinutes}) {
            REQUIRE(std::find(std::begin(kFadeChoices), std::end(kFadeChoices), minutes) !=
                    std::end(kFadeChoices));
        }
        for (const Preset& preset : read.presets.userPresets()) {
            REQUIRE(read.presets.nameRefusal(preset.name, preset.name).isEmpty());
        }
        read.save(store);
    }
    // What was written, read as a new launch reads it.
    const QString written = freshCopy(path, named("Read.ini"));
    Settings again;
    {
        SettingsStore store(written);
        again.load(store);
    }
    REQUIRE(again.startTime == read.startTime && again.minutes == read.minutes &&
            again.fadeMinutes == read.fadeMinutes && again.riseMinutes == read.riseMinutes);
    REQUIRE(again.lightWave == read.lightWave && again.heavyWave == read.heavyWave &&
            again.ascent == read.ascent && again.descent == read.descent &&
            again.waveInterval == read.waveInterval);
    REQUIRE(again.boostSoundLevel == read.boostSoundLevel &&
            again.amplitudeGenerator == read.amplitudeGenerator &&
            again.keepAwake == read.keepAwake && again.showWaves == read.showWaves &&
            again.repeatStart == read.repeatStart &&
            again.keepPlayingWhenClosed == read.keepPlayingWhenClosed &&
            again.startAtLogin == read.startAtLogin &&
            again.changeOverSeconds == read.changeOverSeconds);
    REQUIRE(again.outputDeviceName == read.outputDeviceName &&
            again.exportFolder == read.exportFolder && again.presetName == read.presetName);
    REQUIRE(samePresets(again.presets, read.presets));
    REQUIRE(std::abs(again.volume - read.volume) < 1e-6);
    REQUIRE(again.windowFrame == read.windowFrame);
    const QStringList kept = unknownKeys(written);
    REQUIRE(std::all_of(unknown.begin(), unknown.end(),
                        [&kept](const QString& key) { return kept.contains(key); }));
    return 0;
}
