// Writes the surf of a given length as a 16-bit stereo AIFF file at 44,100 frames per second.
//
// The sound is made as a playback would make it (fresh generators, fade-in from silence) but with
// a 2-second fade at both ends, since its end is known from the start. The header's sizes are set
// from the frame count before anything is rendered; the samples follow big-endian, left then right.
// Memory is a fixed few blocks, whatever the length.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "export/ExportLoop.h"
#include "export/ExportOutput.h"
#include "synth/Renderer.h"

namespace brinesong {

inline constexpr uint32_t kAiffBlockFrames = kExportBlockFrames;
inline constexpr uint32_t kAiffHeaderBytes = 54;

// Frames written for `length` seconds: length x 44,100 truncated; 0 for a negative length or NaN.
inline uint32_t aiffFrameCount(float length) {
    return exportFrameCount(length);
}

// The 54 bytes of header for a file of `frames` stereo 16-bit frames at `sampleRate`.
void buildAiffHeader(uint8_t header[kAiffHeaderBytes], uint32_t frames, int32_t sampleRate);

// `value` as an 80-bit IEEE 754 extended number, big-endian, without relying on long double.
void dtox80(double value, uint8_t out[10]);

// The AIFF encoder on `output`, open for writing at its start: the header in three writes, then
// the samples big-endian, left then right. It does not close the output.
std::unique_ptr<BlockEncoder> makeAiffEncoder(ExportOutput& output);

// Renders and writes `length` seconds to `file`, open for writing at its start. Returns true when
// every frame was written and no abort was seen; false after a short write, an abort, a length
// whose sizes do not fit the format, or when working memory could not be had (errno then says
// why). Neither flushes nor closes the file.
bool writeAIFF(Renderer& renderer, std::FILE* file, float length, const ExportHooks& hooks = {},
               const ExportOptions& options = {});

}  // namespace brinesong
