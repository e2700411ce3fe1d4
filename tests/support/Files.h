// SPDX-License-Identifier: GPL-3.0-or-later
// Files as the tests see them: a scratch folder of the test's own, a file's bytes, numbers read
// back from a header, and a FIFO that its writer has filled.
#pragma once

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>

#include "support/Eventually.h"

namespace brinesong::testing {

// The bytes of a file, or its first `most` bytes (a file that is still being written grows while
// it is read); empty when it cannot be read.
inline std::string readFile(const std::filesystem::path& path,
                            size_t most = std::numeric_limits<size_t>::max()) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes;
    std::istreambuf_iterator<char> at(in);
    for (const std::istreambuf_iterator<char> end; at != end && bytes.size() < most; ++at) {
        bytes.push_back(*at);
    }
    return bytes;
}

// The unsigned big-endian number of 2 or 4 bytes at `at` in `bytes`, as AIFF headers hold them.
inline uint16_t bigEndian16(std::string_view bytes, size_t at) {
    return static_cast<uint16_t>(uint8_t(bytes[at]) << 8 | uint8_t(bytes[at + 1]));
}
inline uint32_t bigEndian32(std::string_view bytes, size_t at) {
    return uint32_t{bigEndian16(bytes, at)} << 16 | bigEndian16(bytes, at + 2);
}

// A directory of the test's own under $TMPDIR (or /tmp), removed with the object, so that two
// runs of the suite at once never share a name.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& prefix = "brinesong-test") {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + ".XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~ScratchDir() {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    bool valid() const { return !path_.empty(); }
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Waits until the FIFO that `reader` holds open (and never reads) has filled and stays full: its
// writer then waits for room. False when that does not come about (a hang guard of a minute).
inline bool fillsAndStops(int reader) {
    int last = -1;
    bool unreadable = false;
    const bool stopped = eventually(
        [&] {
            int queued = 0;
            unreadable = ::ioctl(reader, FIONREAD, &queued) != 0;
            const bool same = queued > 0 && queued == last;
            last = queued;
            return unreadable || same;
        },
        std::chrono::minutes(1), std::chrono::milliseconds(100));
    return stopped && !unreadable;
}

}  // namespace brinesong::testing
