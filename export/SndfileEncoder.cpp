// SPDX-License-Identifier: GPL-3.0-or-later
#include "SndfileEncoder.h"

#include <cerrno>

namespace brinesong {

// libsndfile's virtual I/O, on the encoder it is opened for.
struct SndfileEncoder::Io {
    static SndfileEncoder& of(void* user) { return *static_cast<SndfileEncoder*>(user); }
    static sf_count_t length(void* user) { return of(user).output_.size(); }
    static sf_count_t seek(sf_count_t offset, int whence, void* user) {
        return of(user).output_.seek(offset, whence);
    }
    static sf_count_t read(void* data, sf_count_t bytes, void* user) {
        const int64_t n = of(user).output_.read(data, static_cast<size_t>(bytes));
        return n < 0 ? 0 : n;
    }
    static sf_count_t write(const void* data, sf_count_t bytes, void* user) {
        // All or nothing: what a failed write took is lost to the file anyway.
        return of(user).put(data, static_cast<size_t>(bytes)) ? bytes : 0;
    }
    static sf_count_t tell(void* user) { return of(user).output_.tell(); }
};

namespace {

SF_VIRTUAL_IO virtualIo{SndfileEncoder::Io::length, SndfileEncoder::Io::seek,
                        SndfileEncoder::Io::read, SndfileEncoder::Io::write,
                        SndfileEncoder::Io::tell};

}  // namespace

SndfileEncoder::SndfileEncoder(ExportOutput& output, int format, uint64_t maxFrames)
    : output_(output), format_(format), maxFrames_(maxFrames) {}

SndfileEncoder::~SndfileEncoder() {
    if (sndfile_) {
        sf_close(sndfile_);
    }
}

bool SndfileEncoder::failed() {
    if (output_.error() != 0) {
        errno = output_.error();
    } else if (errno == 0) {
        // libsndfile keeps no errno of its own: a failed system call leaves it set, anything else
        // (an encoder's refusal) reads as an input/output error.
        errno = EIO;
    }
    return false;
}

bool SndfileEncoder::takenWhole() {
    return output_.error() == 0 || failed();
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
    errno = 0;
    sndfile_ = sf_open_virtual(&virtualIo, SFM_WRITE, &info, this);
    if (!sndfile_) {
        return failed();
    }
    configure(sndfile_);
    return takenWhole();
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
    return takenWhole();
}

bool SndfileEncoder::end() {
    SNDFILE* file = sndfile_;
    sndfile_ = nullptr;
    errno = 0;
    // sf_close reports no failed write of what it flushes: the output does.
    if (sf_close(file) != 0) {
        return failed();
    }
    return takenWhole();
}

}  // namespace brinesong
