// One export from a path and a length to a finished file, and the rules the command line and the
// window's export flow share: the length cap, the file name's extension, and what happens to a
// file whose export failed.
#pragma once

#include <string>

#include "export/AiffWriter.h"

namespace brinesong {

inline constexpr float kMaxExportMinutes = 400.0f;

// Preset lengths in minutes offered for an export; the first is the one chosen at launch and the
// command line's default.
inline constexpr float kExportLengthPresets[] = {10, 20, 30, 45, 60, 90, 120, 240, 400};

// Minutes as the length field gives them, capped at 400 (no lower bound is applied here; callers
// refuse negative lengths), turned into seconds in single precision.
float exportSeconds(float minutes);

// The path with ".aif" appended unless its extension is already aif or aiff, in any case.
std::string withAiffExtension(const std::string& path);

struct ExportOutcome {
    bool saved = false;  // the whole file was written and closed
    int error = 0;       // errno of the failure; 0 after an abort or on success
};

// Opens `path` for writing (created or emptied), writes the sound, closes it. Does not remove the
// file on failure: the caller decides when (the window first shows its alert).
ExportOutcome exportToFile(Renderer& renderer, const std::string& path, float seconds,
                           const ExportHooks& hooks);

// Removes what a failed or cancelled export left at `path`: a regular file, or the link the user
// named. A device or other special file that the export wrote through is never removed.
void removeFailedExport(const std::string& path);

}  // namespace brinesong
