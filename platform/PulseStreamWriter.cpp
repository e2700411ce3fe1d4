// SPDX-License-Identifier: GPL-3.0-or-later
// The writer: fill() and rewrite() on the audio thread only; begin() and halt() with the
// mainloop's lock held. See the header for the real-time rules.
#include "PulseStreamWriter.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>

namespace brinesong {

namespace {

thread_local bool tInsideWriteCallback = false;

struct InsideWriteCallback {
    InsideWriteCallback() { tInsideWriteCallback = true; }
    ~InsideWriteCallback() { tInsideWriteCallback = false; }
};

}  // namespace

bool PulseStreamWriter::insideWriteCallback() {
    return tInsideWriteCallback;
}

void PulseStreamWriter::setRenderer(OutputUnit::RenderFunction render,
                                    OutputUnit::RewindFunction rewind, void* context) {
    render_ = render;
    rewind_ = rewind;
    context_ = context;
}

void PulseStreamWriter::begin() {
    running_.store(true, std::memory_order_relaxed);
    ended_.store(false, std::memory_order_relaxed);
    refused_.store(0, std::memory_order_relaxed);
    framesWritten_ = 0;
    endFrame_ = 0;
}

void PulseStreamWriter::halt() {
    running_.store(false, std::memory_order_relaxed);
}

void PulseStreamWriter::onUnderflow(pa_stream*, void* writer) {
    auto* self = static_cast<PulseStreamWriter*>(writer);
    // Running dry after the sound has ended is how a playback finishes, not an underrun.
    if (self->running() && !self->ended()) {
        self->underruns_.fetch_add(1, std::memory_order_relaxed);
    }
}

void PulseStreamWriter::fill(pa_stream* stream, size_t bytes) {
    InsideWriteCallback inside;
    if (!running()) {
        return;  // corked, or being stopped: the server gets nothing until the next start
    }
    // Whole render requests only, so that each begins at a multiple of kStepFrames and the sound
    // does not depend on how the server happens to ask for it (the two channels share one random
    // source, so the requests decide which draws each channel gets). What goes beyond the request
    // is taken off the next one.
    const uint64_t frames = (bytes / kBytesPerFrame + kStepFrames - 1) / kStepFrames * kStepFrames;
    renderAndWrite(stream, frames, 0);
}

int64_t PulseStreamWriter::queuedFrames(pa_stream* stream) {
    const pa_timing_info* timing = pa_stream_get_timing_info(stream);
    if (!timing || timing->write_index_corrupt || timing->read_index_corrupt) {
        return -1;
    }
    const int64_t queued = (timing->write_index - timing->read_index) / kBytesPerFrame;
    return queued > 0 ? queued : 0;
}

void PulseStreamWriter::rewrite(pa_stream* stream) {
    InsideWriteCallback inside;
    if (!running() || pa_stream_get_state(stream) != PA_STREAM_READY) {
        return;
    }
    const int64_t queued = queuedFrames(stream);
    if (queued < 0) {
        return;
    }
    const uint64_t read = framesWritten_ - std::min<uint64_t>(queued, framesWritten_);
    // The first point kept at or before this lies at least the lead past the read position.
    const uint64_t target = read + kRewriteLeadFrames + kStepFrames - 1;
    const bool endedBefore = ended() && endFrame_ <= target;
    if (target >= framesWritten_ || endedBefore) {
        return;  // nothing queued that could change
    }
    const uint64_t from = rewind_(context_, target);
    if (from == OutputUnit::kCannotRewind || from > framesWritten_) {
        return;
    }
    if (ended() && endFrame_ >= from) {
        ended_.store(false, std::memory_order_relaxed);  // the end is rendered again
    }
    const uint64_t end = framesWritten_;
    framesWritten_ = from;
    if (renderAndWrite(stream, end - from, -static_cast<int64_t>((end - from) * kBytesPerFrame))) {
        rewrites_.fetch_add(1, std::memory_order_relaxed);
    }
}

bool PulseStreamWriter::renderAndWrite(pa_stream* stream, uint64_t frames, int64_t seekBytes) {
    while (frames > 0) {
        const uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(frames, kMaxChunkFrames));
        frames -= chunk;
        // One render request per step, so that a rewrite can go back to the start of any of them.
        for (uint32_t done = 0; done < chunk;) {
            const uint32_t step = std::min(kStepFrames, chunk - done);
            uint32_t flags = 0;
            AudioBufferList buffers{2, {{1, step * 2, left_}, {1, step * 2, right_}}};
            RendererData request{&flags, nullptr, 0, step, &buffers};
            render_(context_, &request);

            // Only what the renderer left in both buffers is sound; the rest of a shortened
            // buffer is silence, and silence follows until the stop, so the sound ends exactly at
            // the end frame and the stream never runs dry (see drainToEndOfSound).
            const uint32_t rendered = std::min({buffers.mBuffers[0].mDataByteSize / 2,
                                                buffers.mBuffers[1].mDataByteSize / 2, step});
            if (rendered < step && !ended()) {
                endFrame_ = framesWritten_ + done + rendered;
                ended_.store(true, std::memory_order_relaxed);
            }
            int16_t* out = interleaved_ + 2 * done;
            for (uint32_t f = 0; f < rendered; ++f) {
                out[2 * f] = left_[f];
                out[2 * f + 1] = right_[f];
            }
            std::memset(out + 2 * rendered, 0, (step - rendered) * kBytesPerFrame);
            done += step;
        }
        const int status = pa_stream_write(stream, interleaved_, chunk * kBytesPerFrame, nullptr,
                                           seekBytes, PA_SEEK_RELATIVE);
        if (status < 0) {
            // Nothing of it was queued, and what the writer counts no longer matches the stream:
            // it writes no more. The unit hears of it outside the callback.
            refused_.store(-status, std::memory_order_relaxed);
            running_.store(false, std::memory_order_relaxed);
            return false;
        }
        seekBytes = 0;
        framesWritten_ += chunk;
    }
    return true;
}

}  // namespace brinesong
