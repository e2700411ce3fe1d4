// SPDX-License-Identifier: GPL-3.0-or-later
#include "TargetFile.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <random>

#include "ExportFormat.h"
#include "ExportLoop.h"

namespace brinesong {

namespace {

constexpr int kMaxLinks = 40;  // as the kernel allows when it resolves a path
// How often the wait for a FIFO's reader tries to open it again.
constexpr int kReaderPollMs = 50;

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a path names once the symbolic links of its last component are followed; it need not
// exist (a dangling link names the file it would create). False with errno set on a loop.
bool followLinks(std::string& path) {
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return true;
        }
        std::string target(static_cast<size_t>(info.st_size > 0 ? info.st_size : 4096) + 1, '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0) {
            return false;
        }
        target.resize(static_cast<size_t>(length));
        path = target.front() == '/' ? target : folderOf(path) + "/" + target;
    }
    errno = ELOOP;
    return false;
}

// What is refused of a target of this kind before anything is opened.
TargetRefusal refusalOfKind(mode_t kind, const ExportFormat& format) {
    if (S_ISREG(kind)) {
        return TargetRefusal::None;
    }
    if (S_ISBLK(kind)) {
        return TargetRefusal::BlockDevice;
    }
    if (!S_ISFIFO(kind) && !S_ISCHR(kind)) {
        return TargetRefusal::NotAFile;
    }
    return format.seeksBack ? TargetRefusal::CannotSeek : TargetRefusal::None;
}

// Opens a FIFO or device for writing in place, without blocking: its writes then wait for room
// beside the abort (see ExportOutput). A FIFO's open would block until a reader comes, with no way
// to give up; opened without blocking it fails at once while there is none, so it is tried again
// until a reader comes or the export is aborted.
int openInPlace(const std::string& path, bool fifo, const ExportAbort* abort) {
    for (;;) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            // Whatever the path names by now, only a FIFO or a device is written in place.
            struct stat info {};
            if (::fstat(fd, &info) != 0 || !(S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode))) {
                ::close(fd);
                errno = ENXIO;
                return -1;
            }
            return fd;
        }
        if (!fifo || (errno != ENXIO && errno != EINTR)) {
            return -1;
        }
        if (abort && abort->requested()) {
            errno = 0;
            return -1;
        }
        // A sleep that the abort cuts short (poll leaves a negative descriptor out).
        pollfd wake{abort ? abort->wakeDescriptor() : -1, POLLIN, 0};
        ::poll(&wake, 1, kReaderPollMs);
    }
}

// A short hidden name in `folder`, whatever the length of the target's name, so that a name as
// long as the file system allows can still be written beside.
std::string hiddenName(const std::string& folder) {
    static std::atomic<unsigned> counter{0};
    std::random_device entropy;
    char name[40];
    std::snprintf(name, sizeof name, "/.brinesong-%d-%08x", static_cast<int>(::getpid()),
                  static_cast<unsigned>(entropy()) ^ counter.fetch_add(1));
    return folder + name;
}

// The temporary file in `folder`: unnamed where the file system offers that, else under a short
// hidden name, which `name` then holds. The descriptor, or -1 with errno set.
int createTemporary(const std::string& folder, mode_t mode, std::string& name) {
    int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd >= 0) {
        return fd;
    }
    // A file system (or a kernel) without unnamed files; any other failure is the folder's.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return -1;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string hidden = hiddenName(folder);
        fd = ::open(hidden.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            name = hidden;
            return fd;
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

// Gives the unnamed file `fd` the name `path`; EEXIST when the name is taken.
bool linkIn(int fd, const std::string& path) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return true;
    }
    const int error = errno;
    if (error == EEXIST) {
        return false;
    }
    // Without /proc: by the descriptor itself, which the kernel allows only to the privileged.
    if (::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) {
        return true;
    }
    errno = error;
    return false;
}

}  // namespace

TargetRefusal TargetFile::refusalOf(const std::string& path, const ExportFormat& format) {
    std::string target = path;
    struct stat info {};
    if (!followLinks(target) || ::stat(target.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) {
        return TargetRefusal::None;
    }
    return refusalOfKind(info.st_mode, format);
}

bool TargetFile::open(const std::string& path, const ExportFormat& format,
                      const ExportAbort* abort) {
    target_ = path;
    if (!followLinks(target_)) {
        return false;
    }
    struct stat info {};
    const bool exists = ::stat(target_.c_str(), &info) == 0;
    if (!exists && errno != ENOENT) {
        return false;
    }
    if (exists && S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (exists) {
        refusal_ = refusalOfKind(info.st_mode, format);
        if (refusal_ != TargetRefusal::None) {
            errno = refusal_ == TargetRefusal::CannotSeek ? ESPIPE : ENXIO;
            return false;
        }
    }

    if (exists && !S_ISREG(info.st_mode)) {
        inPlace_ = true;
        fd_ = openInPlace(target_, S_ISFIFO(info.st_mode), abort);
        return fd_ >= 0;
    }

    // The permission a plain overwrite would need; root passes it, as it would there.
    if (exists && ::access(target_.c_str(), W_OK) != 0) {
        return false;
    }
    const mode_t mode = exists ? (info.st_mode & 07777) : 0666;
    fd_ = createTemporary(folderOf(target_), mode, temporary_);
    if (fd_ < 0) {
        return false;
    }
    if (exists) {
        // The replacement keeps the file's owner (where allowed) and its exact mode.
        [[maybe_unused]] const int owned = ::fchown(fd_, info.st_uid, info.st_gid);
        ::fchmod(fd_, mode);
    }
    return true;
}

bool TargetFile::commit() {
    if (inPlace_) {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }
    // On the disk before it replaces anything: a crash after the rename leaves the whole file.
    return ::fsync(fd_) == 0 && putInPlace();
}

// A new target is linked straight in; an existing one is replaced by a rename, from a short hidden
// name where the file had none.
bool TargetFile::putInPlace() {
    if (temporary_.empty()) {
        if (linkIn(fd_, target_)) {
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
        const std::string folder = folderOf(target_);
        for (int attempt = 0; temporary_.empty(); ++attempt) {
            const std::string name = hiddenName(folder);
            if (linkIn(fd_, name)) {
                temporary_ = name;
            } else if (errno != EEXIST || attempt == 100) {
                return false;
            }
        }
    }
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        return false;
    }
    temporary_.clear();
    return true;
}

void TargetFile::rollBack() {
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
    if (fd_ >= 0) {
        // Nothing of the target is lost with what this drops; a committed file was synced first.
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace brinesong
