// SPDX-License-Identifier: GPL-3.0-or-later
#include "SoundSetup.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <cstdio>

#include "model/Settings.h"
#include "platform/SettingsStore.h"
#include "synth/Preferences.h"
#include "synth/RandomSource.h"
#include "synth/Renderer.h"

namespace brinesong {

void printPresetNotes(const QStringList& notes) {
    for (const QString& note : notes) {
        std::fprintf(stderr, "brinesong: %s\n", note.toLocal8Bit().constData());
    }
}

void printPresetNotesOnce(const QStringList& notes) {
    if (notes.isEmpty()) {
        return;
    }
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    const QByteArray said =
        QCryptographicHash::hash(notes.join(QLatin1Char('\n')).toUtf8(), QCryptographicHash::Sha256)
            .toHex();
    const QString saidFile = folder + QStringLiteral("/preset-notes");
    QFile last(saidFile);
    if (last.open(QIODevice::ReadOnly) && last.readAll() == said) {
        return;
    }
    printPresetNotes(notes);
    QDir().mkpath(folder);
    QSaveFile mark(saidFile);
    if (mark.open(QIODevice::WriteOnly)) {
        mark.write(said);
        mark.commit();
    }
}

bool prepareSound(const SoundOptions& options, Preferences& preferences, Renderer& renderer,
                  Night& night, PresetChoice* presets) {
    SettingsStore store;
    Settings saved;
    saved.load(store);
    saved.applyWaveSettings(preferences);
    // The player on the bus lists the presets, and says which were left out each time it starts;
    // a run that takes a preset says so only when the notes differ from what the last one said.
    if (presets) {
        printPresetNotes(saved.presetNotes);
    } else if (options.preset || !options.then.empty()) {
        printPresetNotesOnce(saved.presetNotes);
    }
    // A name of the user's is unknown when the file cannot be read, not missing from it.
    const auto refuseUnknown = [&store](const char* option, const QString& name) {
        if (!store.readFailure().isEmpty()) {
            std::fprintf(stderr,
                         "brinesong: --%s: the settings file %s cannot be read (%s), so your own "
                         "presets are unknown\n",
                         option, store.fileName().toLocal8Bit().constData(),
                         store.readFailure().toLocal8Bit().constData());
        } else {
            std::fprintf(stderr, "brinesong: --%s: no preset named '%s' (see --list-presets)\n",
                         option, name.toLocal8Bit().constData());
        }
        return false;
    };
    std::vector<size_t> missing;
    night = nightOf(options.then, saved.presets, missing);
    if (!missing.empty()) {
        return refuseUnknown("then", options.then[missing.front()].preset);
    }
    if (options.preset) {
        const Preset* preset = saved.presets.find(*options.preset);
        if (!preset) {
            return refuseUnknown("preset", *options.preset);
        }
        preset->values.applyTo(preferences);
        saved.presetName = preset->name;
    }
    if (presets) {
        presets->book = saved.presets;
        presets->current = saved.presetName;
        presets->changeOverSeconds = saved.changeOverSeconds;
    }
    renderer.setVolume(options.volume ? *options.volume / 100.0 : saved.volume);
    if (options.lightWave)
        preferences.setLightWave(*options.lightWave);
    if (options.heavyWave)
        preferences.setHeavyWave(*options.heavyWave);
    if (options.ascent)
        preferences.setAscent(*options.ascent);
    if (options.descent)
        preferences.setDescent(*options.descent);
    if (options.waveInterval)
        preferences.setWaveInterval(*options.waveInterval);
    if (options.boostSoundLevel)
        preferences.setBoostSoundLevel(*options.boostSoundLevel);
    if (options.amplitudeGenerator)
        preferences.setAmplitudeGenerator(*options.amplitudeGenerator);
    if (options.drift) {
        preferences.setWander(*options.drift);
    } else {
        // The saved wander applies as the saved settings do; one that cannot be read is said.
        if (saved.wanderUnreadable) {
            printPresetNotes(saved.nightNotes.filter(keys::kWander));
        }
        preferences.setWander(saved.wander);
    }
    if (options.seed) {
        sharedRandomSource().seed(*options.seed);
    } else {
        sharedRandomSource().seedFromEntropy();
    }
    return true;
}

}  // namespace brinesong
