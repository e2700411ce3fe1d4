// SPDX-License-Identifier: GPL-3.0-or-later
// The file an export writes, opened, committed and rolled back so that no failure costs the user a
// file. A regular target (or a new one) is written to a temporary file in the same folder that
// replaces it in one step once on the disk; a FIFO or character device is written in place and
// never removed. Through a symbolic link, the link's target is what is written.
//
// The temporary file is unnamed where the file system allows (O_TMPFILE), so that not even a
// SIGKILL leaves it behind, else it has a short hidden name (".brinesong-..."); either way a target
// name as long as the file system allows can be written beside.
#pragma once

#include <sys/types.h>

#include <string>

namespace brinesong {

class ExportAbort;
struct ExportFormat;

// Why a target is refused before anything is opened.
enum class TargetRefusal {
    None,
    NotAFile,     // neither a regular file, a FIFO nor a device: a socket
    BlockDevice,  // a disk or a partition, whose contents an export would overwrite
    CannotSeek,   // a FIFO or a device, for a format whose header is completed at the end (WAV)
};

class TargetFile {
public:
    TargetFile() = default;
    // Rolls back what was not committed.
    ~TargetFile() { rollBack(); }
    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;

    // The refusal an export in `format` to `path` (its links followed) meets as the path stands
    // now; None also when it does not exist or cannot be looked at (opening says why).
    static TargetRefusal refusalOf(const std::string& path, const ExportFormat& format);

    // Opens what the export writes for `path`: the target itself when it is a FIFO or device, else
    // a temporary file beside it with the target's mode and (where allowed) owner. Waiting for a
    // FIFO's reader ends when `abort` (which may be null) is requested. False with errno set, 0
    // when the wait was aborted; a folder fails with EISDIR, a target the user may not write with
    // EACCES (even where its folder would allow the rename), a refused kind of file with ENXIO or
    // ESPIPE and `refusal()` saying which.
    bool open(const std::string& path, const ExportFormat& format, const ExportAbort* abort);

    int descriptor() const { return fd_; }
    // A FIFO or device, written where it stands.
    bool inPlace() const { return inPlace_; }
    TargetRefusal refusal() const { return refusal_; }

    // The written file takes the target's place: a temporary file is put on the disk (fsync), then
    // replaces the target in one step (a crash after that leaves the whole file); a FIFO or device
    // is closed. False with errno set; the target is then as it was.
    bool commit();
    // Drops what was not committed: the temporary file goes, a FIFO or device is only closed.
    void rollBack();

private:
    bool putInPlace();

    int fd_ = -1;
    bool inPlace_ = false;
    TargetRefusal refusal_ = TargetRefusal::None;
    std::string target_;     // the file the path names, its links followed
    std::string temporary_;  // the temporary file's name; empty while it has none
};

}  // namespace brinesong
