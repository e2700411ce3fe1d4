#include "SndfileEncoder.h"

#include <sys/stat.h>

#include <cerrno>

namespace brinesong {

SndfileEncoder::SndfileEncoder(std::FILE* file, int format, uint64_t maxFrames)
    : file_(file), format_(format), maxFrames_(maxFrames) {}

SndfileEncoder::~SndfileEncoder() {
    if (sndfile_) {
        sf_close(sndfile_);
    }
}

bool SndfileEncoder::failed() {
    // libsndfile keeps no errno of its own: a failed system call leaves it set, anything else
    // (an encoder's refusal) reads as an input/output error.
    if (errno == 0) {
        errno = EIO;
    }
    return false;
}

bool SndfileEncoder::open(int32_t sampleRate) {
    try {
        interleaved_.resize(2 * size_t{kExportBlockFrames});
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return false;
    }
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 2;
    info.format = format_;
    const int fd = ::fileno(file_);
    errno = 0;
    sndfile_ = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (!sndfile_) {
        // Formats whose header is completed at the end cannot be written to a FIFO: say so
        // rather than whatever libsndfile's tries left in errno.
        struct stat status {};
        if (::fstat(fd, &status) == 0 && S_ISFIFO(status.st_mode)) {
            errno = ESPIPE;
        }
        return failed();
    }
    configure(sndfile_);
    return true;
}

bool SndfileEncoder::begin(uint32_t /*frames*/, int32_t sampleRate) {
    return open(sampleRate);
}

bool SndfileEncoder::encode(const int16_t* left, const int16_t* right, uint32_t frames) {
    int16_t* out = interleaved_.data();
    for (uint32_t i = 0; i < frames; ++i) {
        out[2 * i] = left[i];
        out[2 * i + 1] = right[i];
    }
    errno = 0;
    if (sf_writef_short(sndfile_, out, frames) != frames) {
        return failed();
    }
    return true;
}

bool SndfileEncoder::end() {
    SNDFILE* file = sndfile_;
    sndfile_ = nullptr;
    errno = 0;
    if (sf_close(file) != 0) {
        return failed();
    }
    return true;
}

}  // namespace brinesong
