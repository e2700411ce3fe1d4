// SPDX-License-Identifier: GPL-3.0-or-later
// The file formats an export can write, each an encoder behind the shared export loop, and the
// rules that pick a format and a file name. AIFF is the first and the default.
//
// A new format is one new file: its encoder and its `ExportFormat`, and one line in the table of
// ExportFormat.cpp.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "export/ExportLoop.h"
#include "export/ExportOutput.h"

namespace brinesong {

struct ExportFormat {
    std::string_view name;   // as --format takes it: "aiff", "wav", ...
    std::string_view title;  // as the save dialog's file-type list shows it: "AIFF", "WAV", ...
    // The extensions that name the format, without the point; the first is the one appended.
    std::string_view extensions[2];
    // An encoder writing to `output`, open for writing at its start; it does not close it.
    std::unique_ptr<BlockEncoder> (*makeEncoder)(ExportOutput& output);
    // The header is completed at the end, which needs a file that can seek: not a FIFO or device.
    bool seeksBack = false;
};

// Every format, AIFF first.
std::span<const ExportFormat* const> exportFormats();
const ExportFormat& aiffFormat();

// The format of that name, in any case; none when no format has it.
const ExportFormat* formatNamed(std::string_view name);

// The format the path's extension names (in any case), none when it names none.
const ExportFormat* formatOfPath(const std::string& path);

// The path with the format's first extension appended, unless it already ends in one of the
// format's extensions, in any case.
std::string withExtension(const std::string& path, const ExportFormat& format);

// What an export writes for a chosen path: the format given (by --format or the dialog's list)
// when there is one; else the one the path's extension names; else AIFF, its extension appended.
struct ExportTarget {
    std::string path;
    const ExportFormat* format;
};
ExportTarget exportTarget(const std::string& path, const ExportFormat* chosen);

}  // namespace brinesong
