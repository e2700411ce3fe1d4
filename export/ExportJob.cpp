#include "ExportJob.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
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
// How often the wait for a FIFO's reader looks at the abort flag.
constexpr auto kReaderPoll = std::chrono::milliseconds(50);

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
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
    return hooks.abortSave && hooks.abortSave->load(std::memory_order_relaxed);
}

// Opens a FIFO or device for writing in place. A FIFO's open would block until a reader comes,
// with no way to give up; opened without blocking it fails at once while there is none, so it is
// tried again until a reader comes or the export is aborted.
int openInPlace(const std::string& path, const ExportHooks& hooks) {
    for (;;) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return fd;
        }
        if (errno != ENXIO && errno != EINTR) {
            return -1;
        }
        if (aborted(hooks)) {
            errno = 0;
            return -1;
        }
        std::this_thread::sleep_for(kReaderPoll);
    }
}

// A new hidden file beside `target`, created with `mode` (less the umask); its name in `tempPath`.
int createTemporary(const std::string& target, mode_t mode, std::string& tempPath) {
    static std::atomic<unsigned> counter{0};
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%d-%u-%08x", static_cast<int>(::getpid()),
                      counter.fetch_add(1), static_cast<unsigned>(entropy()));
        tempPath = folderOf(target) + "/." + nameOf(target) + suffix;
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

// Hands each block to the format's encoder, then has the kernel start writing what it took to
// the disk, so that the sync before the rename finds little left to write and the disk works
// while the next blocks render. Every few megabytes a thread of its own also waits until what was
// written so far is on the disk (fdatasync): a disk whose writes land in its host's cache makes
// each sync write out everything since the last one, about a tenth of a second per hundred
// megabytes, which at the end would be waited for with nothing else to do.
class WritebackEncoder : public BlockEncoder {
public:
    WritebackEncoder(BlockEncoder& encoder, std::FILE* file) : encoder_(encoder), file_(file) {}
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
        if (std::fflush(file_) != 0) {
            return false;
        }
        // Only a start: it does not wait, and a file system without it just syncs later.
        ::sync_file_range(::fileno(file_), 0, 0, SYNC_FILE_RANGE_WRITE);
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
            const int error = ::fdatasync(::fileno(file_)) == 0 ? 0 : errno;
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
    std::FILE* file_;
    std::mutex mutex_;
    std::condition_variable wake_;
    uint64_t blocks_ = 0;
    bool syncAsked_ = false;
    bool quit_ = false;
    int syncError_ = 0;
    std::thread syncer_;
};

// Runs the writer on an open descriptor and closes it; the outcome, errno as the failure's.
ExportOutcome writeAndClose(Renderer& renderer, int fd, float seconds, const ExportHooks& hooks,
                            const ExportFormat& format, const ExportOptions& options,
                            bool regularFile) {
    ExportOutcome outcome;
    std::FILE* file = ::fdopen(fd, "w");
    if (!file) {
        outcome.error = errno;
        ::close(fd);
        return outcome;
    }
    errno = 0;
    bool written = false;
    int error = 0;
    {
        // The encoder lets go of the file before it is flushed and closed.
        const std::unique_ptr<BlockEncoder> encoder = format.makeEncoder(file);
        WritebackEncoder writeback(*encoder, file);
        written = runExportLoop(renderer, seconds,
                                regularFile ? static_cast<BlockEncoder&>(writeback) : *encoder,
                                hooks, options);
        error = errno;
    }
    if (written) {
        errno = 0;
        // On disk before it replaces anything: a crash after the rename leaves the whole file.
        written = std::fflush(file) == 0 && (!regularFile || ::fsync(fd) == 0);
        error = errno;
    }
    const bool wasAborted = aborted(hooks);
    errno = 0;
    const bool closed = std::fclose(file) == 0;
    const int closeError = errno;
    outcome.saved = written && closed;
    if (!outcome.saved) {
        if (!written) {
            outcome.error = wasAborted ? 0 : (error ? error : EIO);
        } else {
            outcome.error = closeError ? closeError : EIO;
        }
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
    const SigpipeBlocked noSigpipe;

    if (exists && S_ISDIR(info.st_mode)) {
        outcome.error = EISDIR;
        return outcome;
    }
    if (exists && !S_ISREG(info.st_mode)) {
        const int fd = openInPlace(target, hooks);
        if (fd < 0) {
            outcome.error = errno;  // 0 when aborted while waiting for a reader
            return outcome;
        }
        return writeAndClose(renderer, fd, seconds, hooks, format, options, false);
    }

    // The permission a plain overwrite would need; root passes it, as it would there.
    if (exists && ::access(target.c_str(), W_OK) != 0) {
        outcome.error = errno;
        return outcome;
    }
    std::string tempPath;
    const mode_t mode = exists ? (info.st_mode & 07777) : 0666;
    const int fd = createTemporary(target, mode, tempPath);
    if (fd < 0) {
        outcome.error = errno;
        return outcome;
    }
    if (exists) {
        // The replacement keeps the file's owner (where allowed) and its exact mode.
        [[maybe_unused]] const int owned = ::fchown(fd, info.st_uid, info.st_gid);
        ::fchmod(fd, mode);
    }
    outcome = writeAndClose(renderer, fd, seconds, hooks, format, options, true);
    if (outcome.saved && ::rename(tempPath.c_str(), target.c_str()) != 0) {
        outcome.saved = false;
        outcome.error = errno;
    }
    if (!outcome.saved) {
        ::unlink(tempPath.c_str());
    }
    return outcome;
}

}  // namespace brinesong
