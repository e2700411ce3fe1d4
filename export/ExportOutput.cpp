// SPDX-License-Identifier: GPL-3.0-or-later
#include "ExportOutput.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "ExportLoop.h"

namespace brinesong {

namespace {

// How often a waiting write looks at the abort flag where the abort has no wake descriptor.
constexpr int kAbortLookMs = 100;

}  // namespace

ExportOutput::ExportOutput(int fd, const ExportAbort* abort)
    : fd_(fd), abort_(abort), seekable_(::lseek(fd, 0, SEEK_CUR) >= 0) {}

bool ExportOutput::write(const void* data, size_t bytes) {
    const auto* at = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n = ::write(fd_, at, bytes);
        if (n > 0) {
            at += n;
            bytes -= static_cast<size_t>(n);
            written_ += n;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitForRoom()) {
            continue;
        }
        if (n == 0) {
            errno = EIO;
        }
        if (error_ == 0) {
            error_ = errno;
        }
        return false;
    }
    return true;
}

bool ExportOutput::waitForRoom() {
    const int wake = abort_ ? abort_->wakeDescriptor() : -1;
    for (;;) {
        if (abort_ && abort_->requested()) {
            errno = ECANCELED;
            return false;
        }
        // A negative descriptor is left out by poll.
        pollfd watched[2] = {{fd_, POLLOUT, 0}, {wake, POLLIN, 0}};
        const int ready = ::poll(watched, 2, abort_ && wake < 0 ? kAbortLookMs : -1);
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        // Room, or a reader gone (POLLERR): the next write tells which.
        if (ready > 0 && watched[0].revents != 0) {
            return true;
        }
    }
}

int64_t ExportOutput::seek(int64_t offset, int whence) {
    const off_t at = ::lseek(fd_, offset, whence);
    if (at >= 0 || errno != ESPIPE) {
        return at;
    }
    if ((whence == SEEK_SET && offset == written_) || (whence == SEEK_CUR && offset == 0)) {
        return written_;
    }
    errno = ESPIPE;
    return -1;
}

int64_t ExportOutput::tell() {
    return seek(0, SEEK_CUR);
}

int64_t ExportOutput::read(void* data, size_t bytes) {
    return ::read(fd_, data, bytes);
}

int64_t ExportOutput::size() const {
    struct stat info {};
    if (::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) {
        return info.st_size;
    }
    return written_;
}

}  // namespace brinesong
