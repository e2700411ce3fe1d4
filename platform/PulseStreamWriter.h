// SPDX-License-Identifier: GPL-3.0-or-later
// The output unit's writer: it renders the sound into the stream when the server asks for more,
// and renders again what is queued but not yet heard when the sound changes.
//
// Threads: fill() and rewrite() run on the audio thread only, the mainloop's thread inside a
// stream callback, with the loop's lock held by the loop. The stream's side (PulseOutputUnit)
// calls setRenderer() before it makes a stream, and begin(), halt() and the accessors with that
// lock held, which orders them with the audio thread; the flags and counters are atomics that may
// be read from anywhere.
//
// Real-time rules: fill() and rewrite() never allocate, take a lock, make a blocking system call
// or wait, any of which could stall the thread past the buffer's deadline and be heard as a
// drop-out. They render into the writer's own buffers, made with it, interleave into a third and
// hand that to pa_stream_write, which copies it into the client's preallocated memory pool and
// queues it for the loop to send once the callback has returned. That hand-off is libpulse's and
// not entirely free: each write wakes the loop with a one-byte write(2) to its own non-blocking
// pipe. tests/platform/pulse_output_unit_test.cpp counts every allocation, lock and I/O call made
// while insideWriteCallback() is true and allows only those wake-ups, at most one per buffer.
//
// What is queued (about a second) but not yet heard is provisional: on a change, rewrite() goes
// back to the renderer's state saved at the start of the first render request a short lead past
// the server's read position (the engine keeps those states), renders the queue from there again
// and writes it over the old, seeking back from the write index by exactly its length. The queue
// ends where it ended before and every frame is what the renderer gives for its position, so the
// sound runs on without a seam; the change is heard the lead plus the server's own latency after
// it was made.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "audio/OutputUnit.h"

struct pa_stream;

namespace brinesong {

class PulseStreamWriter {
public:
    static constexpr uint32_t kChannels = 2;
    static constexpr uint32_t kBytesPerFrame = kChannels * sizeof(int16_t);
    // Frames per render request: the points a rewrite can go back to lie this far apart.
    static constexpr uint32_t kStepFrames = 441;
    // How far past the server's read position a rewrite begins: the time its answer, the
    // rendering and the write take to reach the server, with room to spare.
    static constexpr uint32_t kRewriteLeadFrames = 1323;  // 30 ms
    // Frames interleaved before one write: the whole queue the unit asks for, the most the server
    // asks for at once.
    static constexpr uint32_t kMaxChunkFrames = 44100;

    // Before any stream is made: what renders, and what the render and rewind functions are given.
    void setRenderer(OutputUnit::RenderFunction render, OutputUnit::RewindFunction rewind,
                     void* context);
    // Lock held: a playback begins at the renderer's frame 0; every request is rendered from now.
    void begin();
    // Lock held: nothing more is written until the next begin().
    void halt();

    // Audio thread. The server wants `bytes` more of the sound.
    void fill(pa_stream* stream, size_t bytes);
    // Audio thread, once the server has answered where it reads: renders the queue from just past
    // there again and writes it over the old.
    void rewrite(pa_stream* stream);

    // Any thread.
    bool running() const { return running_.load(std::memory_order_relaxed); }
    // The renderer has ended the sound of this playback, at endFrame(). Any thread.
    bool ended() const { return ended_.load(std::memory_order_relaxed); }
    // Lock held, or on the audio thread.
    uint64_t endFrame() const { return endFrame_; }
    // Frames written in this playback: the renderer's frame number of the next frame written.
    uint64_t framesWritten() const { return framesWritten_; }

    // Frames queued but not yet read by the server, from its last timing answer; -1 if unknown.
    static int64_t queuedFrames(pa_stream* stream);

    // Any thread. Times the queue was rendered again and written over, since the writer was made.
    uint64_t rewrites() const { return rewrites_.load(std::memory_order_relaxed); }
    // Any thread. Times the sink ran out of sound while a playback was still producing it.
    uint64_t underruns() const { return underruns_.load(std::memory_order_relaxed); }
    // A write libpulse refused: nothing more is written until the next begin(). Any thread;
    // refused() peeks at its status (PA_ERR_*, 0 for none), takeRefusal() takes it once.
    int refused() const { return refused_.load(std::memory_order_relaxed); }
    int takeRefusal() { return refused_.exchange(0, std::memory_order_relaxed); }

    // The stream's underflow callback; `writer` is the PulseStreamWriter.
    static void onUnderflow(pa_stream* stream, void* writer);

    // True on the audio thread while it is inside fill() or rewrite() (tests watch what they
    // call).
    static bool insideWriteCallback();

private:
    // Renders `frames` from the renderer's frame framesWritten_ on and writes them, the first
    // write `seekBytes` from the write index. False when a write was refused.
    bool renderAndWrite(pa_stream* stream, uint64_t frames, int64_t seekBytes);

    OutputUnit::RenderFunction render_ = nullptr;
    OutputUnit::RewindFunction rewind_ = nullptr;
    void* context_ = nullptr;

    // Read by the audio thread, written under the mainloop lock, which the audio thread holds
    // while it dispatches: plain ordering comes from that lock; atomics only so that the counters
    // can be read from anywhere.
    std::atomic<bool> running_{false};  // render on every request
    std::atomic<bool> ended_{false};
    std::atomic<uint64_t> underruns_{0};
    std::atomic<uint64_t> rewrites_{0};
    std::atomic<int> refused_{0};
    uint64_t framesWritten_ = 0;
    uint64_t endFrame_ = 0;

    int16_t left_[kStepFrames];
    int16_t right_[kStepFrames];
    int16_t interleaved_[kMaxChunkFrames * kChannels];
};

}  // namespace brinesong
