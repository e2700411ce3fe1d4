// SPDX-License-Identifier: GPL-3.0-or-later
#include "CommandSupport.h"

#include <cstdio>

#include "CommandLine.h"
#include "Settings.h"
#include "export/ExportFormat.h"
#include "export/TargetFile.h"
#include "platform/Localization.h"
#include "platform/SettingsStore.h"
#include "synth/Preferences.h"
#include "synth/RandomSource.h"
#include "synth/Renderer.h"

namespace brinesong {

namespace {

void printNotes(const QStringList& notes) {
    for (const QString& note : notes) {
        std::fprintf(stderr, "brinesong: %s\n", note.toLocal8Bit().constData());
    }
}

}  // namespace

bool prepareSound(const SoundOptions& options, Preferences& preferences, Renderer& renderer) {
    SettingsStore store;
    Settings saved;
    saved.load(store);
    saved.applyWaveSettings(preferences);
    if (options.preset) {
        printNotes(saved.presetNotes);
        const Preset* preset = saved.presets.find(*options.preset);
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

int runListPresetsCommand() {
    SettingsStore store;
    Settings saved;
    saved.load(store);
    printNotes(saved.presetNotes);
    for (const Preset& preset : saved.presets.all()) {
        std::printf("%s\n", preset.name.toLocal8Bit().constData());
    }
    return kExitOk;
}

QString targetRefusalText(TargetRefusal refusal, const QString& name, const ExportFormat& format) {
    if (refusal == TargetRefusal::NotAFile) {
        return Texts::tr(
                   "%1 is neither a file, a FIFO nor a device: nothing can be exported to it.")
            .arg(name);
    }
    return Texts::tr(
               "%2 is a FIFO or a device, and a %1 file cannot be written to one: its header "
               "is completed at the end, which needs a file that can seek.")
        .arg(QString::fromUtf8(format.title.data(), qsizetype(format.title.size())), name);
}

QString exportFailureText(const ExportFormat& format) {
    if (&format == &aiffFormat()) {
        return Texts::tr("Faild to save an AIFF file.");
    }
    return Texts::tr("Failed to save the %1 file.")
        .arg(QString::fromUtf8(format.title.data(), qsizetype(format.title.size())));
}

}  // namespace brinesong
