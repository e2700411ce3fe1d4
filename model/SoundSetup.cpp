// SPDX-License-Identifier: GPL-3.0-or-later
#include "SoundSetup.h"

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

bool prepareSound(const SoundOptions& options, Preferences& preferences, Renderer& renderer,
                  PresetChoice* presets) {
    SettingsStore store;
    Settings saved;
    saved.load(store);
    saved.applyWaveSettings(preferences);
    if (options.preset || presets) {
        printPresetNotes(saved.presetNotes);
    }
    if (options.preset) {
        const Preset* preset = saved.presets.find(*options.preset);
        if (!preset) {
            std::fprintf(stderr, "brinesong: --preset: no preset named '%s' (see --list-presets)\n",
                         options.preset->toLocal8Bit().constData());
            return false;
        }
        preset->values.applyTo(preferences);
        saved.presetName = preset->name;
    }
    if (presets) {
        presets->book = saved.presets;
        presets->current = saved.presetName;
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
