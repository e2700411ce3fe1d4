#include "ExportJob.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>

namespace brinesong {

float exportSeconds(float minutes) {
    if (minutes > kMaxExportMinutes) {
        minutes = kMaxExportMinutes;
    }
    return minutes * 60.0f;
}

std::string withAiffExtension(const std::string& path) {
    return withExtension(path, aiffFormat());
}

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

bool aborted(const ExportHooks& hooks) {
    return hooks.abortSave && hooks.abortSave->requested();
}

// What is refused of a target of this kind before anything is opened.
TargetRefusal refusalOf(mode_t kind, const ExportFormat& format) {
    if (S_ISREG(kind)) {
        return TargetRefusal::None;
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
int openInPlace(const std::string& path, bool fifo, const ExportHooks& hooks) {
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
        if (aborted(hooks)) {
            errno = 0;
            return -1;
        }
        // A sleep that the abort cuts short (poll leaves a negative descriptor out).
        pollfd wake{hooks.abortSave ? hooks.abortSave->wakeDescriptor() : -1, POLLIN, 0};
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

// The file being written for a regular target: unnamed where the file system offers that
// (O_TMPFILE), so that nothing is left behind whatever ends the program, else under a short hidden
// name beside the target.
struct Temporary {
    int fd = -1;
    std::string name;  // empty while it has none
};

bool createTemporary(const std::string& folder, mode_t mode, Temporary& temporary) {
    temporary.fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (temporary.fd >= 0) {
        return true;
    }
    // A file system (or a kernel) without unnamed files; any other failure is the folder's.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary.name = hiddenName(folder);
        temporary.fd =
            ::open(temporary.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (temporary.fd >= 0 || errno != EEXIST) {
            if (temporary.fd < 0) {
                temporary.name.clear();
            }
            return temporary.fd >= 0;
        }
    }
    temporary.name.clear();
    errno = EEXIST;
    return false;
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

// Puts the finished file in the target's place in one step: a new target is linked straight in;
// an existing one is replaced by a rename, from a short hidden name where the file had none.
bool putInPlace(Temporary& temporary, const std::string& target) {
    if (temporary.name.empty()) {
        if (linkIn(temporary.fd, target)) {
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
        const std::string folder = folderOf(target);
        for (int attempt = 0; temporary.name.empty(); ++attempt) {
            const std::string name = hiddenName(folder);
            if (linkIn(temporary.fd, name)) {
                temporary.name = name;
            } else if (errno != EEXIST || attempt == 100) {
                return false;
            }
        }
    }
    if (::rename(temporary.name.c_str(), target.c_str()) != 0) {
        return false;
    }
    temporary.name.clear();
    return true;
}

// Hands each block to the format's encoder, then has the kernel start writing what it took to
// the disk, so that the sync before the rename finds little left to write and the disk works
// while the next blocks render. Every few megabytes a thread of its own also waits until what was
// written so far is on the disk (fdatasync): a disk whose writes land in its host's cache makes
// each sync write out everything since the last one, about a tenth of a second per hundred
// megabytes, which at the end would be waited for with nothing else to do.
class WritebackEncoder : public BlockEncoder {
public:
    WritebackEncoder(BlockEncoder& encoder, int fd) : encoder_(encoder), fd_(fd) {}
    ~WritebackEncoder() override { stopSyncing(); }
    WritebackEncoder(const WritebackEncoder&) = delete;
    WritebackEncoder& operator=(const WritebackEncoder&) = delete;

    uint64_t maxFrames() const override { return encoder_.maxFrames(); }
    bool begin(uint32_t frames, int32_t sampleRate) override {
        if (!encoder_.begin(frames, sampleRate)) {
            return false;
        }
        try {
            syncer_ = std::thread([this] { syncWhenAsked(); });
        } catch (const std::system_error&) {
            // The sync before the rename then writes it all: slower, just as safe.
        }
        return true;
    }
    bool encode(const int16_t* left, const int16_t* right, uint32_t frames) override {
        if (!encoder_.encode(left, right, frames)) {
            return false;
        }
        // Only a start: it does not wait, and a file system without it just syncs later.
        ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
        {
            std::lock_guard lock(mutex_);
            if (syncError_ != 0) {
                errno = syncError_;
                return false;
            }
            syncAsked_ = syncAsked_ || ++blocks_ % kBlocksPerSync == 0;
        }
        wake_.notify_one();
        return true;
    }
    bool end() override {
        if (!encoder_.end()) {
            return false;
        }
        stopSyncing();
        // A failed sync may not be reported again by the one before the rename.
        if (syncError_ != 0) {
            errno = syncError_;
            return false;
        }
        return true;
    }

private:
    static constexpr uint64_t kBlocksPerSync = 16;  // about 8 MB of AIFF

    void syncWhenAsked() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return syncAsked_ || quit_; });
            if (quit_) {
                return;
            }
            syncAsked_ = false;
            lock.unlock();
            const int error = ::fdatasync(fd_) == 0 ? 0 : errno;
            lock.lock();
            if (syncError_ == 0) {
                syncError_ = error;
            }
        }
    }

    void stopSyncing() {
        if (!syncer_.joinable()) {
            return;
        }
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_one();
        syncer_.join();
    }

    BlockEncoder& encoder_;
    int fd_;
    std::mutex mutex_;
    std::condition_variable wake_;
    uint64_t blocks_ = 0;
    bool syncAsked_ = false;
    bool quit_ = false;
    int syncError_ = 0;
    std::thread syncer_;
};

// Runs the writer on an open descriptor, which stays open; the outcome, errno as the failure's.
// A regular file is on the disk when it is reported saved.
ExportOutcome writeTo(Renderer& renderer, int fd, float seconds, const ExportHooks& hooks,
                      const ExportFormat& format, const ExportOptions& options, bool regularFile) {
    ExportOutput output(fd, hooks.abortSave);
    errno = 0;
    bool written = false;
    int error = 0;
    {
        const std::unique_ptr<BlockEncoder> encoder = format.makeEncoder(output);
        WritebackEncoder writeback(*encoder, fd);
        written = runExportLoop(renderer, seconds,
                                regularFile ? static_cast<BlockEncoder&>(writeback) : *encoder,
                                hooks, options);
        error = errno;
    }
    // Every write counts, whether or not the encoder noticed it failing.
    if (written && output.error() != 0) {
        written = false;
        error = output.error();
    }
    if (written && regularFile) {
        errno = 0;
        // On disk before it replaces anything: a crash after the rename leaves the whole file.
        written = ::fsync(fd) == 0;
        error = errno;
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
    std::string target = path;
    struct stat info {};
    if (!followLinks(target) || ::stat(target.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) {
        return TargetRefusal::None;  // the export says why, or creates it
    }
    return refusalOf(info.st_mode, format);
}

ExportOutcome exportToFile(Renderer& renderer, const std::string& path, float seconds,
                           const ExportHooks& hooks, const ExportFormat& format,
                           const ExportOptions& options) {
    ExportOutcome outcome;
    std::string target = path;
    if (!followLinks(target)) {
        outcome.error = errno;
        return outcome;
    }
    struct stat info {};
    const bool exists = ::stat(target.c_str(), &info) == 0;
    if (!exists && errno != ENOENT) {
        outcome.error = errno;
        return outcome;
    }
    if (exists && S_ISDIR(info.st_mode)) {
        outcome.error = EISDIR;
        return outcome;
    }
    if (exists) {
        outcome.refused = refusalOf(info.st_mode, format);
        if (outcome.refused != TargetRefusal::None) {
            outcome.error = outcome.refused == TargetRefusal::NotAFile ? ENXIO : ESPIPE;
            return outcome;
        }
    }
    const SigpipeBlocked noSigpipe;

    if (exists && !S_ISREG(info.st_mode)) {
        const int fd = openInPlace(target, S_ISFIFO(info.st_mode), hooks);
        if (fd < 0) {
            outcome.error = errno;  // 0 when aborted while waiting for a reader
            return outcome;
        }
        outcome = writeTo(renderer, fd, seconds, hooks, format, options, false);
        if (::close(fd) != 0 && outcome.saved) {
            outcome.saved = false;
            outcome.error = errno;
        }
        return outcome;
    }

    // The permission a plain overwrite would need; root passes it, as it would there.
    if (exists && ::access(target.c_str(), W_OK) != 0) {
        outcome.error = errno;
        return outcome;
    }
    const mode_t mode = exists ? (info.st_mode & 07777) : 0666;
    Temporary temporary;
    if (!createTemporary(folderOf(target), mode, temporary)) {
        outcome.error = errno;
        return outcome;
    }
    if (exists) {
        // The replacement keeps the file's owner (where allowed) and its exact mode.
        [[maybe_unused]] const int owned = ::fchown(temporary.fd, info.st_uid, info.st_gid);
        ::fchmod(temporary.fd, mode);
    }
    outcome = writeTo(renderer, temporary.fd, seconds, hooks, format, options, true);
    if (outcome.saved && !putInPlace(temporary, target)) {
        outcome.saved = false;
        outcome.error = errno;
    }
    if (!temporary.name.empty()) {
        ::unlink(temporary.name.c_str());
    }
    // Written and synced: closing it can lose nothing.
    ::close(temporary.fd);
    return outcome;
}

}  // namespace brinesong
