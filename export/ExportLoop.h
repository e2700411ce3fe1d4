// SPDX-License-Identifier: GPL-3.0-or-later
// The format-neutral part of every export: the sound rendered block by block (both channels at
// once), each block handed to the format's encoder on a writer thread while the next one renders,
// progress, abort, and the failures of either side. A format is a `BlockEncoder` behind it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "synth/Renderer.h"

namespace brinesong {

// A request to stop an export, from a Cancel button, a quit or a signal. Besides the flag, which
// the loop looks at between blocks, it has a descriptor that becomes readable with the request, so
// that a write waiting for room in a FIFO whose reader has stopped reading can wait for either.
class ExportAbort {
public:
    ExportAbort();
    ~ExportAbort();
    ExportAbort(const ExportAbort&) = delete;
    ExportAbort& operator=(const ExportAbort&) = delete;

    // Safe in a signal handler; keeps errno.
    void request() noexcept;
    // Before the next export, while none runs.
    void reset() noexcept;
    bool requested() const noexcept { return requested_.load(std::memory_order_relaxed); }
    // Readable once requested, until `reset`; -1 where none could be had (a waiting write then
    // looks at the flag a few times a second).
    int wakeDescriptor() const noexcept { return wake_; }

private:
    std::atomic<bool> requested_{false};
    int wake_ = -1;
};

// Hooks of the export around the loop. Both may be left empty.
struct ExportHooks {
    // Whole percentage done, called (on the loop's thread) only when it changes.
    std::function<void(int percent)> setProgress;
    // Checked after every block written, and by a write waiting for room; when requested the loop
    // stops and returns false.
    const ExportAbort* abortSave = nullptr;
};

struct ExportOptions {
    // The file's end flows into its start, so that a player repeating it plays no seam: no fades;
    // the last seconds cross-fade into the sound that comes just before the first frame.
    bool loop = false;
    // Render the right channel on a second thread (the samples are the same either way).
    bool parallelChannels = true;
    // The steps of the night the export runs through, counted from its first frame; none (or
    // null) for the plain sound. Must outlive the call.
    const Night* night = nullptr;
};

inline constexpr uint32_t kExportBlockFrames = 122880;  // 2.786 s of sound per block

// Turns blocks of samples into a file. `begin` and `end` run on the loop's thread, `encode` on the
// writer thread, one call at a time and in order. Each returns false on failure with errno set.
class BlockEncoder {
public:
    virtual ~BlockEncoder() = default;
    // The largest number of frames the format can hold.
    virtual uint64_t maxFrames() const = 0;
    // Before any block: the file will hold `frames` frames of 16-bit stereo at `sampleRate`.
    virtual bool begin(uint32_t frames, int32_t sampleRate) = 0;
    // One block, `frames` samples of each channel in native byte order.
    virtual bool encode(const int16_t* left, const int16_t* right, uint32_t frames) = 0;
    // After the last block, when every block was taken and no abort was seen.
    virtual bool end() = 0;
};

// Frames an export of `length` seconds holds: length x 44,100 truncated; 0 for a negative length
// or NaN.
uint32_t exportFrameCount(float length);

// The length of the cross-fade of a loop of `frames` frames: 10 seconds, or half a shorter loop.
uint32_t loopCrossfadeFrames(uint32_t frames);

// Renders `length` seconds and hands them to `encoder`. The sound is made as a playback would make
// it (fresh generators, fade-in from silence), but with a 2-second fade at both ends, since its end
// is known from the start; a loop has no fades. Returns true when every frame was taken and no
// abort was seen; false after a failure of the encoder, an abort, a length the format cannot hold
// (EFBIG), or when working memory could not be had (ENOMEM); errno then says why.
bool runExportLoop(Renderer& renderer, float length, BlockEncoder& encoder,
                   const ExportHooks& hooks, const ExportOptions& options = {});

}  // namespace brinesong
