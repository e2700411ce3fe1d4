// SPDX-License-Identifier: GPL-3.0-or-later
// The AIFF encoder: 16-bit stereo at 44,100 frames per second, the export's first and default
// format. The header's sizes are set from the frame count before anything is rendered; the
// samples follow big-endian, left then right. Memory is one block, whatever the length.
#pragma once

#include <cstdint>
#include <memory>

#include "export/ExportLoop.h"
#include "export/ExportOutput.h"
#include "synth/Renderer.h"

namespace brinesong {

inline constexpr uint32_t kAiffHeaderBytes = 54;

// The 54 bytes of header for a file of `frames` stereo 16-bit frames at `sampleRate`.
void buildAiffHeader(uint8_t header[kAiffHeaderBytes], uint32_t frames, int32_t sampleRate);

// `value` as an 80-bit IEEE 754 extended number, big-endian, without relying on long double.
void dtox80(double value, uint8_t out[10]);

// The AIFF encoder on `output`, open for writing at its start: the header in three writes, then
// the samples big-endian, left then right. It does not close the output.
std::unique_ptr<BlockEncoder> makeAiffEncoder(ExportOutput& output);

}  // namespace brinesong
