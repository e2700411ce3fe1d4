// SPDX-License-Identifier: GPL-3.0-or-later
#include "WritebackEncoder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace brinesong {

bool WritebackEncoder::begin(uint32_t frames, int32_t sampleRate) {
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

bool WritebackEncoder::encode(const int16_t* left, const int16_t* right, uint32_t frames) {
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

bool WritebackEncoder::end() {
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

void WritebackEncoder::syncWhenAsked() {
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

void WritebackEncoder::stopSyncing() {
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

}  // namespace brinesong
