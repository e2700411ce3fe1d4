// SPDX-License-Identifier: GPL-3.0-or-later
// The file an export writes, as its encoders see it. Every byte goes through `write`, which takes
// all of it or fails, and keeps the first failure: some encoders carry on past a short write
// without a word (libsndfile's MP3 encoder does), so the export asks here at the end.
//
// A FIFO or device is written without blocking: a write that finds no room waits in poll(2) for
// room or for the export's abort, so Cancel, quit and a signal end an export whose reader holds the
// FIFO open but has stopped reading.
//
// Called from the loop's thread and the writer thread in turn, never from two at once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brinesong {

class ExportAbort;

class ExportOutput {
public:
    // Writes to `fd`, which stays the caller's to close. `abort` may be null.
    ExportOutput(int fd, const ExportAbort* abort);
    ExportOutput(const ExportOutput&) = delete;
    ExportOutput& operator=(const ExportOutput&) = delete;

    int descriptor() const { return fd_; }
    // Whether the descriptor can seek: a file or most devices, not a FIFO.
    bool seekable() const { return seekable_; }
    // All `bytes`, or false with errno set (ECANCELED when the export was aborted while waiting).
    bool write(const void* data, size_t bytes);
    // As lseek(2), for encoders that go back to complete a header. On a FIFO only the position
    // already reached can be sought (ESPIPE otherwise).
    int64_t seek(int64_t offset, int whence);
    int64_t tell();
    int64_t read(void* data, size_t bytes);
    // The file's size: its length on disk, else what was written.
    int64_t size() const;
    // The errno of the first failed write, 0 when none failed.
    int error() const { return error_; }

private:
    // Waits until the descriptor takes more or the export is aborted; false with errno set.
    bool waitForRoom();

    int fd_;
    const ExportAbort* abort_;
    bool seekable_;
    int64_t written_ = 0;  // where a descriptor that cannot seek stands
    int error_ = 0;
};

}  // namespace brinesong
