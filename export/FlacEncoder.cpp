// SPDX-License-Identifier: GPL-3.0-or-later
// FLAC: lossless, 16-bit; decodes to exactly the samples of the AIFF. No size limit.
#include "ExportFormat.h"
#include "SndfileEncoder.h"

namespace brinesong {

namespace {

std::unique_ptr<BlockEncoder> makeFlacEncoder(ExportOutput& output) {
    return std::make_unique<SndfileEncoder>(output, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, UINT64_MAX);
}

}  // namespace

const ExportFormat& flacFormat() {
    static const ExportFormat format{"flac", "FLAC", {"flac", {}}, makeFlacEncoder};
    return format;
}

}  // namespace brinesong
