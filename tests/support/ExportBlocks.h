// SPDX-License-Identifier: GPL-3.0-or-later
// The sound as an export renders it, for tests that compare a file with what the renderer makes:
// block by block, each block its left channel, then its right, in the order the draws are taken.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "export/ExportLoop.h"
#include "support/Recording.h"
#include "synth/Renderer.h"

namespace brinesong::testing {

// Renders `frames` more frames of `run` in export blocks and appends them to `out`.
inline void renderExportBlocks(RenderRun& run, uint32_t frames, Recording& out) {
    std::vector<int16_t> left(kExportBlockFrames), right(kExportBlockFrames);
    AudioBufferList list{
        2, {{1, kExportBlockFrames * 2, left.data()}, {1, kExportBlockFrames * 2, right.data()}}};
    for (uint32_t done = 0; done < frames; done += kExportBlockFrames) {
        const uint32_t n = std::min(kExportBlockFrames, frames - done);
        RendererData request{nullptr, nullptr, 0, n, &list};
        run.renderWave(&request);
        out.left.insert(out.left.end(), left.begin(), left.begin() + n);
        out.right.insert(out.right.end(), right.begin(), right.begin() + n);
    }
}

}  // namespace brinesong::testing
