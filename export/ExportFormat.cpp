// SPDX-License-Identifier: GPL-3.0-or-later
#include "ExportFormat.h"

#include <strings.h>

namespace brinesong {

const ExportFormat& wavFormat();
const ExportFormat& flacFormat();
const ExportFormat& opusFormat();
const ExportFormat& mp3Format();

namespace {

// The extension of the path's last component, without the point; empty when it has none.
std::string_view extensionOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart) {
        return {};
    }
    return std::string_view(path).substr(dot + 1);
}

bool sameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool hasExtension(const ExportFormat& format, std::string_view extension) {
    for (const std::string_view candidate : format.extensions) {
        if (!candidate.empty() && sameText(candidate, extension)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::span<const ExportFormat* const> exportFormats() {
    static const ExportFormat* const formats[] = {&aiffFormat(), &wavFormat(), &flacFormat(),
                                                  &opusFormat(), &mp3Format()};
    return formats;
}

const ExportFormat* formatNamed(std::string_view name) {
    for (const ExportFormat* format : exportFormats()) {
        if (sameText(format->name, name)) {
            return format;
        }
    }
    return nullptr;
}

const ExportFormat* formatOfPath(const std::string& path) {
    const std::string_view extension = extensionOf(path);
    if (extension.empty()) {
        return nullptr;
    }
    for (const ExportFormat* format : exportFormats()) {
        if (hasExtension(*format, extension)) {
            return format;
        }
    }
    return nullptr;
}

std::string withExtension(const std::string& path, const ExportFormat& format) {
    if (hasExtension(format, extensionOf(path))) {
        return path;
    }
    return path + "." + std::string(format.extensions[0]);
}

ExportTarget exportTarget(const std::string& path, const ExportFormat* chosen) {
    const ExportFormat* format = chosen ? chosen : formatOfPath(path);
    if (!format) {
        format = &aiffFormat();
    }
    return {withExtension(path, *format), format};
}

}  // namespace brinesong
