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

bool prepareSound(const SoundOptions& options, Preferences& preferences, Renderer& renderer) {
    SettingsStore store;
    Settings saved;
    saved.load(store);
    saved.applyWaveSettings(preferences);
    if (options.preset) {
        printPresetNotesOnce(saved.presetNotes);
        const Preset* preset = saved.presets.find(*options.preset);
        if (!preset && !store.readFailure().isEmpty()) {
            std::fprintf(stderr,
                         "brinesong: --preset: the settings file %s cannot be read (%s), so your "
                         "own presets are unknown\n",
                         store.fileName().toLocal8Bit().constData(),
                         store.readFailure().toLocal8Bit().constData());
            return false;
        }
        if (!preset) {
            std::fprintf(stderr, "brinesong: --preset: no preset named '%s' (see --list-presets)\n",
                         options.preset->toLocal8Bit().constData());
            return false;
        }
        preset->values.applyTo(preferences);
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
    if (options.seed) {
        sharedRandomSource().seed(*options.seed);
    } else {
        sharedRandomSource().seedFromEntropy();
    }
    return true;
}

}  // namespace brinesong
