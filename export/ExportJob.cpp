// SPDX-License-Identifier: GPL-3.0-or-later
#include "ExportJob.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <memory>
#include <optional>

#include "TargetFile.h"
#include "WritebackEncoder.h"

namespace brinesong {

float exportSeconds(float minutes) {
    if (minutes > kMaxExportMinutes) {
        minutes = kMaxExportMinutes;
    }
    return minutes * 60.0f;
}

namespace {

bool aborted(const ExportHooks& hooks) {
    return hooks.abortSave && hooks.abortSave->requested();
}

// Runs the export loop into the open target; the outcome, errno as the failure's. Every write
// counts, whether or not the encoder noticed it failing.
ExportOutcome writeTo(Renderer& renderer, const TargetFile& target, float seconds,
                      const ExportHooks& hooks, const ExportFormat& format,
                      const ExportOptions& options) {
    ExportOutput output(target.descriptor(), hooks.abortSave);
    errno = 0;
    bool written = false;
    int error = 0;
    {
        const std::unique_ptr<BlockEncoder> encoder = format.makeEncoder(output);
        // A regular file is pushed to the disk while it is written (see WritebackEncoder).
        std::optional<WritebackEncoder> writeback;
        if (!target.inPlace()) {
            writeback.emplace(*encoder, target.descriptor());
        }
        written = runExportLoop(renderer, seconds,
                                writeback ? static_cast<BlockEncoder&>(*writeback) : *encoder,
                                hooks, options);
        error = errno;
    }
    if (written && output.error() != 0) {
        written = false;
        error = output.error();
    }
    ExportOutcome outcome;
    outcome.saved = written;
    if (!written) {
        outcome.error = aborted(hooks) ? 0 : (error ? error : EIO);
    }
    return outcome;
}

// A reader that goes away makes writes to a FIFO raise SIGPIPE, which would end the program
// without a word. While this lives the calling thread (and the writer's thread it starts, which
// inherits the mask) has SIGPIPE blocked, so the write fails with EPIPE instead; a SIGPIPE left
// pending on this thread is taken before the mask is restored.
class SigpipeBlocked {
public:
    SigpipeBlocked() {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, &saved_);
    }
    ~SigpipeBlocked() {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        const timespec now{0, 0};
        while (sigtimedwait(&pipe, nullptr, &now) == SIGPIPE) {
        }
        pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
    }
    SigpipeBlocked(const SigpipeBlocked&) = delete;
    SigpipeBlocked& operator=(const SigpipeBlocked&) = delete;

private:
    sigset_t saved_;
};

}  // namespace

TargetRefusal targetRefusal(const std::string& path, const ExportFormat& format) {
    return TargetFile::refusalOf(path, format);
}

ExportOutcome exportToFile(Renderer& renderer, const std::string& path, float seconds,
                           const ExportHooks& hooks, const ExportFormat& format,
                           const ExportOptions& options) {
    ExportOutcome outcome;
    TargetFile target;
    if (!target.open(path, format, hooks.abortSave)) {
        outcome.error = errno;  // 0 when aborted while waiting for a FIFO's reader
        outcome.refused = target.refusal();
        return outcome;
    }
    const SigpipeBlocked noSigpipe;
    outcome = writeTo(renderer, target, seconds, hooks, format, options);
    if (outcome.saved && !target.commit()) {
        outcome.saved = false;
        outcome.error = errno;
    }
    return outcome;
}

}  // namespace brinesong
