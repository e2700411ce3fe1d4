// SPDX-License-Identifier: GPL-3.0-or-later
// WAV: 16-bit PCM, the samples exactly as the AIFF holds them, little-endian.
#include "ExportFormat.h"
#include "SndfileEncoder.h"

namespace brinesong {

namespace {

// The RIFF sizes are 32-bit: 4 bytes a frame after a header of 44.
constexpr uint64_t kWavMaxFrames = (0xFFFFFFFFull - 44) / 4;

std::unique_ptr<BlockEncoder> makeWavEncoder(ExportOutput& output) {
    return std::make_unique<SndfileEncoder>(output, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                            kWavMaxFrames);
}

}  // namespace

const ExportFormat& wavFormat() {
    static const ExportFormat format{"wav", "WAV", {"wav", {}}, makeWavEncoder, true};
    return format;
}

}  // namespace brinesong
