// SPDX-License-Identifier: GPL-3.0-or-later
// Ogg Opus. The codec takes 48,000 frames a second, not the sound's 44,100: the blocks are
// resampled with libsoxr (high quality) on their way in, and the resampler's tail is flushed at
// the end, so the file lasts exactly as long as the sound. No size limit.
#include <soxr.h>

#include <cerrno>

#include "ExportFormat.h"
#include "SndfileEncoder.h"

namespace brinesong {

namespace {

constexpr int32_t kOpusRate = 48000;

class OpusEncoder : public SndfileEncoder {
public:
    explicit OpusEncoder(ExportOutput& output)
        : SndfileEncoder(output, SF_FORMAT_OGG | SF_FORMAT_OPUS, UINT64_MAX) {}

    ~OpusEncoder() override {
        if (resampler_) {
            soxr_delete(resampler_);
        }
    }

    bool begin(uint32_t /*frames*/, int32_t sampleRate) override {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        soxr_error_t error = nullptr;
        resampler_ = soxr_create(sampleRate, kOpusRate, 2, &error, &io, &quality, nullptr);
        if (!resampler_ || error) {
            errno = ENOMEM;
            return false;
        }
        // A block's worth at the higher rate, and room for what the resampler holds back.
        const double ratio = static_cast<double>(kOpusRate) / sampleRate;
        capacity_ = static_cast<size_t>(kExportBlockFrames * ratio) + 4096;
        try {
            resampled_.resize(2 * capacity_);
        } catch (const std::bad_alloc&) {
            errno = ENOMEM;
            return false;
        }
        return open(kOpusRate);
    }

    bool encode(const int16_t* left, const int16_t* right, uint32_t frames) override {
        int16_t* in = interleaved_.data();
        for (uint32_t i = 0; i < frames; ++i) {
            in[2 * i] = left[i];
            in[2 * i + 1] = right[i];
        }
        size_t taken = 0;
        while (taken < frames) {
            size_t used = 0;
            size_t made = 0;
            if (soxr_process(resampler_, in + 2 * taken, frames - taken, &used, resampled_.data(),
                             capacity_, &made)) {
                errno = EIO;
                return false;
            }
            taken += used;
            if (!write(made)) {
                return false;
            }
        }
        return true;
    }

    bool end() override {
        // No more input: what the resampler still holds comes out.
        for (;;) {
            size_t made = 0;
            if (soxr_process(resampler_, nullptr, 0, nullptr, resampled_.data(), capacity_,
                             &made)) {
                errno = EIO;
                return false;
            }
            if (made == 0) {
                break;
            }
            if (!write(made)) {
                return false;
            }
        }
        return SndfileEncoder::end();
    }

private:
    bool write(size_t frames) {
        errno = 0;
        if (frames > 0 &&
            sf_writef_float(sndfile_, resampled_.data(), static_cast<sf_count_t>(frames)) !=
                static_cast<sf_count_t>(frames)) {
            return failed();
        }
        return takenWhole();
    }

    soxr_t resampler_ = nullptr;
    size_t capacity_ = 0;
    std::vector<float> resampled_;
};

std::unique_ptr<BlockEncoder> makeOpusEncoder(ExportOutput& output) {
    return std::make_unique<OpusEncoder>(output);
}

}  // namespace

const ExportFormat& opusFormat() {
    static const ExportFormat format{"opus", "Ogg Opus", {"opus", "ogg"}, makeOpusEncoder};
    return format;
}

}  // namespace brinesong
