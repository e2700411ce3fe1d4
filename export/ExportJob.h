// SPDX-License-Identifier: GPL-3.0-or-later
// One export from a path and a length to a finished file, and the rules the command line and the
// window's export flow share: the length cap, the file name's extension, and how a file is
// written so that a failure never costs the user an existing file.
#pragma once

#include <string>

#include "export/AiffWriter.h"
#include "export/ExportFormat.h"
#include "export/TargetFile.h"

namespace brinesong {

inline constexpr float kMaxExportMinutes = 400.0f;

// Preset lengths in minutes offered for an export; the first is the one chosen at launch and the
// command line's default.
inline constexpr float kExportLengthPresets[] = {10, 20, 30, 45, 60, 90, 120, 240, 400};

// Minutes as the length field gives them, capped at 400 (no lower bound is applied here; callers
// refuse negative lengths), turned into seconds in single precision.
float exportSeconds(float minutes);

// The refusal an export of `format` to `path` (its links followed) meets as the path stands now.
TargetRefusal targetRefusal(const std::string& path, const ExportFormat& format);

struct ExportOutcome {
    bool saved = false;  // the whole file was written and is in its place
    int error = 0;       // errno of the failure; 0 after an abort or on success
    TargetRefusal refused = TargetRefusal::None;  // the target was refused; nothing was opened
};

// Writes the sound to `path` so that no failure costs the user a file:
// - A regular file (or a new one) is written to a temporary file in the same folder, on the disk
//   (fsync) before it replaces the target in one step; a failure or an abort removes only the
//   temporary file. The temporary file is unnamed where the file system allows, so that not even
//   a SIGKILL leaves it behind, else it has a short hidden name; either way any name the file
//   system allows can be written. Through a symbolic link, the link's target is what gets
//   replaced and the link stays. A file the user may not write is refused (EACCES) and left as it
//   is, even where its folder would allow the rename.
// - A FIFO or character device is written in place and never removed. Waiting for a FIFO's
//   reader, and for room in a FIFO whose reader has stopped reading, ends when `hooks.abortSave`
//   is requested; a reader that goes away is a failure (EPIPE), not a signal.
// - A folder is refused (EISDIR); so is any other kind of file, and a format that seeks back into
//   a FIFO or device (`refused` says which).
// The file is written in `format` (AIFF unless given), with the export's `options`.
ExportOutcome exportToFile(Renderer& renderer, const std::string& path, float seconds,
                           const ExportHooks& hooks, const ExportFormat& format = aiffFormat(),
                           const ExportOptions& options = {});

}  // namespace brinesong
