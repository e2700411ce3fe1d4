// MP3 (MPEG-1 Layer III, through LAME) at a variable bit rate of good quality. No size limit.
#include <cerrno>
#include <vector>

#include "ExportFormat.h"
#include "SndfileEncoder.h"

namespace brinesong {

namespace {

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
    void configure(SNDFILE* file) override {
        wide_.resize(2 * size_t{kExportBlockFrames});
        int mode = SF_BITRATE_MODE_VARIABLE;
        sf_command(file, SFC_SET_BITRATE_MODE, &mode, sizeof mode);
        double level = 0.3;  // 0 best to 1 smallest: surf is all noise, which needs the bits
        sf_command(file, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
    }

private:
    std::vector<int32_t> wide_;
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
