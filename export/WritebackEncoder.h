// SPDX-License-Identifier: GPL-3.0-or-later
// An encoder in front of the format's own for an export to a regular file: it hands each block on,
// then has the kernel start writing what it took to the disk, so that the sync before the file
// replaces its target finds little left to write and the disk works while the next blocks render.
//
// Every few megabytes a thread of its own also waits until what was written so far is on the disk
// (fdatasync): a disk whose writes land in its host's cache makes each sync write out everything
// since the last one, about a tenth of a second per hundred megabytes, which at the end would be
// waited for with nothing else to do. A failed sync fails the export.
//
// `begin` and `end` on the loop's thread, `encode` on the writer thread, as every BlockEncoder.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "export/ExportLoop.h"

namespace brinesong {

class WritebackEncoder : public BlockEncoder {
public:
    // Hands the blocks to `encoder`, which writes to the descriptor `fd`.
    WritebackEncoder(BlockEncoder& encoder, int fd) : encoder_(encoder), fd_(fd) {}
    ~WritebackEncoder() override { stopSyncing(); }
    WritebackEncoder(const WritebackEncoder&) = delete;
    WritebackEncoder& operator=(const WritebackEncoder&) = delete;

    uint64_t maxFrames() const override { return encoder_.maxFrames(); }
    bool begin(uint32_t frames, int32_t sampleRate) override;
    bool encode(const int16_t* left, const int16_t* right, uint32_t frames) override;
    bool end() override;

private:
    static constexpr uint64_t kBlocksPerSync = 16;  // about 8 MB of AIFF

    void syncWhenAsked();
    void stopSyncing();

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

}  // namespace brinesong
