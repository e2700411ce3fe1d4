#include "ExportJob.h"

#include <sys/stat.h>

#include <strings.h>
#include <cerrno>
#include <cstdio>

namespace brinesong {

float exportSeconds(float minutes) {
    if (minutes > kMaxExportMinutes) {
        minutes = kMaxExportMinutes;
    }
    return minutes * 60.0f;
}

std::string withAiffExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.find_last_of('.');
    if (dot != std::string::npos && dot >= nameStart) {
        const std::string extension = path.substr(dot + 1);
        if (strcasecmp(extension.c_str(), "aif") == 0 ||
            strcasecmp(extension.c_str(), "aiff") == 0) {
            return path;
        }
    }
    return path + ".aif";
}

ExportOutcome exportToFile(Renderer& renderer, const std::string& path, float seconds,
                           const ExportHooks& hooks) {
    ExportOutcome outcome;
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file) {
        outcome.error = errno;
        return outcome;
    }
    errno = 0;
    const bool written = writeAIFF(renderer, file, seconds, hooks);
    const int writeError = errno;
    const bool aborted = hooks.abortSave && hooks.abortSave->load(std::memory_order_relaxed);
    errno = 0;
    const bool closed = std::fclose(file) == 0;
    const int closeError = errno;
    outcome.saved = written && closed;
    if (!outcome.saved) {
        if (!written) {
            outcome.error = aborted ? 0 : (writeError ? writeError : EIO);
        } else {
            outcome.error = closeError ? closeError : EIO;
        }
    }
    return outcome;
}

void removeFailedExport(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return;
    }
    if (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode)) {
        std::remove(path.c_str());
    }
}

}  // namespace brinesong
