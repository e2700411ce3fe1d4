#include "SndfileEncoder.h"

#include <cerrno>

namespace brinesong {

namespace {

ExportOutput& outputOf(void* user) {
    return *static_cast<ExportOutput*>(user);
}

sf_count_t fileLength(void* user) {
    return outputOf(user).size();
}

sf_count_t seekTo(sf_count_t offset, int whence, void* user) {
    return outputOf(user).seek(offset, whence);
}

sf_count_t readFrom(void* data, sf_count_t bytes, void* user) {
    const int64_t n = outputOf(user).read(data, static_cast<size_t>(bytes));
    return n < 0 ? 0 : n;
}

sf_count_t writeTo(const void* data, sf_count_t bytes, void* user) {
    // All or nothing: what a failed write took is lost to the file anyway.
    return outputOf(user).write(data, static_cast<size_t>(bytes)) ? bytes : 0;
}

sf_count_t position(void* user) {
    return outputOf(user).tell();
}

SF_VIRTUAL_IO virtualIo{fileLength, seekTo, readFrom, writeTo, position};

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
    sndfile_ = sf_open_virtual(&virtualIo, SFM_WRITE, &info, &output_);
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
