// SPDX-License-Identifier: GPL-3.0-or-later
// The sound the commands make: the saved settings (read, never written), then a preset, then the
// settings given on the command line.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

#include "model/NightProgramme.h"
#include "model/Presets.h"

namespace brinesong {

class Preferences;
class Renderer;

// Settings given on the command line; what is absent comes from the saved settings.
struct SoundOptions {
    std::optional<double> volume;  // percent
    std::optional<double> lightWave;
    std::optional<double> heavyWave;
    std::optional<double> ascent;
    std::optional<double> descent;
    std::optional<double> waveInterval;
    std::optional<bool> boostSoundLevel;
    std::optional<bool> amplitudeGenerator;
    std::optional<uint32_t> seed;
    // --preset: the wave settings of this preset (a shipped preset's English or translated name,
    // or one of the user's), under the settings given beside it.
    std::optional<QString> preset;
    std::optional<float> minutes;  // single precision, as the length field reads it; for --play,
                                   // how long to play before the stop is requested
    // --then: the steps of a night, in order of their minutes, presets by name as --preset takes
    // them. The programme saved in the window is the window's: the command line runs these.
    std::vector<ProgrammeStep> then;
    // --drift: the wander's depth in points; absent, the saved one.
    std::optional<double> drift;
};

// The presets as the player offers them on the bus, and the current one (as PresetBook::find
// takes it; empty: none): the one --preset named, else the one the window saved as current; and
// how a preset chosen there glides in.
struct PresetChoice {
    PresetBook book;
    QString current;
    int changeOverSeconds = 0;  // the saved "Change over" a preset chosen while playing takes
};

// Gives the model and the renderer the saved settings (read, never written), then the preset
// named by --preset, then the settings given on the command line, and seeds the random source
// from --seed or the entropy source; and gives `night` the steps of --then. False, with a line on
// standard error, when --preset or a step of --then names no preset, or names none of the shipped
// ones while the settings file cannot be read: the command is refused before it touches anything.
// With `presets`, the saved presets go there, and the notes on the ones that could not be read are
// printed in any case; a run that takes a preset prints them once (printPresetNotesOnce).
bool prepareSound(const SoundOptions& options, Preferences& preferences, Renderer& renderer,
                  Night& night, PresetChoice* presets = nullptr);

// Says on standard error, a line each, which of the user's presets (or other saved values) were
// left out as unreadable.
void printPresetNotes(const QStringList& notes);
// The same, unless the run before that had notes said these very ones: a file that has not changed
// is not complained about at every run. Which ones were said last is kept in the user's cache.
void printPresetNotesOnce(const QStringList& notes);

}  // namespace brinesong
