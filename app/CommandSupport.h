// SPDX-License-Identifier: GPL-3.0-or-later
// What the commands share with each other and with the window's export flow: the sound made
// from the saved settings and the options given, and the texts of a refused or failed export.
#pragma once

#include <QString>

namespace brinesong {

class Preferences;
class Renderer;
struct ExportFormat;
struct SoundOptions;
enum class TargetRefusal;

// Gives the model and the renderer the saved settings (read, never written), then the preset
// named by --preset, then the settings given on the command line, and seeds the random source
// from --seed or the entropy source. False, with a line on standard error, when --preset names no
// preset: the command is refused before it touches anything.
bool prepareSound(const SoundOptions& options, Preferences& preferences, Renderer& renderer);

// The alert and message of a failed export: the AIFF text for AIFF, else one naming the format.
QString exportFailureText(const ExportFormat& format);
// Why an export refuses the file `name` before opening it, in a sentence.
QString targetRefusalText(TargetRefusal refusal, const QString& name, const ExportFormat& format);

}  // namespace brinesong
