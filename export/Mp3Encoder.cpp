// SPDX-License-Identifier: GPL-3.0-or-later
// MP3 (MPEG-1 Layer III, through LAME) at a variable bit rate of good quality. No size limit.
#include <cerrno>
#include <vector>

#include "ExportFormat.h"
#include "SndfileEncoder.h"

namespace brinesong {

namespace {

// The length of the MPEG-1 Layer III frame at the start of `data` when it is empty (its header
// followed by nothing but zeros, as the frame LAME reserves for its tag), else 0.
size_t emptyFrameLength(const uint8_t* data, size_t bytes) {
    if (bytes < 4 || data[0] != 0xFF || (data[1] & 0xFE) != 0xFA) {
        return 0;
    }
    static constexpr int kKbps[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                      112, 128, 160, 192, 224, 256, 320, 0};
    static constexpr int kRates[4] = {44100, 48000, 32000, 0};
    const int kbps = kKbps[data[2] >> 4];
    const int rate = kRates[(data[2] >> 2) & 3];
    if (kbps == 0 || rate == 0) {
        return 0;
    }
    const size_t length = size_t(144 * 1000 * kbps / rate) + ((data[2] >> 1) & 1);
    if (length > bytes) {
        return 0;
    }
    for (size_t i = 4; i < length; ++i) {
        if (data[i] != 0) {
            return 0;
        }
    }
    return length;
}

class Mp3Encoder : public SndfileEncoder {
public:
    explicit Mp3Encoder(ExportOutput& output)
        : SndfileEncoder(output, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, UINT64_MAX) {}

    // libsndfile 1.2.0's MPEG encoder garbles 16-bit writes (a 440 Hz tone comes back with the
    // wrong level, unequal in two equal channels); its 32-bit path is right, and a 16-bit sample
    // moved to the top of 32 bits is the same value.
    bool encode(const int16_t* left, const int16_t* right, uint32_t frames) override {
        int32_t* out = wide_.data();
        for (uint32_t i = 0; i < frames; ++i) {
            out[2 * i] = int32_t{left[i]} * 65536;
            out[2 * i + 1] = int32_t{right[i]} * 65536;
        }
        errno = 0;
        if (sf_writef_int(sndfile_, out, frames) != frames) {
            return failed();
        }
        return takenWhole();
    }

protected:
    // LAME begins the stream with an empty frame that libsndfile fills with the stream's tag
    // (length, seek table, encoder delay) by seeking back at the end. Where the output cannot
    // seek (a FIFO) it would stay empty and play as a moment of silence: it is left out, as
    // libsndfile leaves it out when it writes to a pipe itself.
    bool put(const void* data, size_t bytes) override {
        if (!started_) {
            started_ = true;
            if (!output_.seekable()) {
                const size_t empty = emptyFrameLength(static_cast<const uint8_t*>(data), bytes);
                data = static_cast<const uint8_t*>(data) + empty;
                bytes -= empty;
            }
        }
        return SndfileEncoder::put(data, bytes);
    }

    void configure(SNDFILE* file) override {
        wide_.resize(2 * size_t{kExportBlockFrames});
        int mode = SF_BITRATE_MODE_VARIABLE;
        sf_command(file, SFC_SET_BITRATE_MODE, &mode, sizeof mode);
        double level = 0.3;  // 0 best to 1 smallest: surf is all noise, which needs the bits
        sf_command(file, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
    }

private:
    std::vector<int32_t> wide_;
    bool started_ = false;
};

std::unique_ptr<BlockEncoder> makeMp3Encoder(ExportOutput& output) {
    return std::make_unique<Mp3Encoder>(output);
}

}  // namespace

const ExportFormat& mp3Format() {
    static const ExportFormat format{"mp3", "MP3", {"mp3", {}}, makeMp3Encoder};
    return format;
}

}  // namespace brinesong
