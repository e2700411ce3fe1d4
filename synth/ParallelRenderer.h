// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the two channels of export blocks on two threads of their own, each running ahead on its
// channel, with exactly the samples `RenderRun::renderWave` gives block after block.
//
// The channels share the one random source in a fixed order: a block's left draws, then its right
// draws, then the next block's. How many draws a channel takes for a block depends on no drawn
// value (`drawsFor`), so when a block is started the source is split: the left gets it as it
// stands, the right a copy moved on by the left's draws, and the shared source moves on by both.
// The settings are read once per block, for both channels, when the block is started.
//
// The two threads only meet where a block's samples are taken: while one is held up (another
// program has its core for a while) the other goes on with the next blocks, so the export gets
// both cores' share of a busy machine, not the slower thread's.
//
// For the export worker, not for the audio thread: starting a block takes a lock. Where the
// threads cannot be started the blocks render on the caller's thread, with the same result.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "Renderer.h"

namespace brinesong {

class ParallelRenderer {
public:
    // Blocks each channel's thread may have queued and not yet begun; `start` waits beyond that.
    static constexpr int kMaxPending = 4;

    explicit ParallelRenderer(RenderRun& sound);
    ~ParallelRenderer();
    ParallelRenderer(const ParallelRenderer&) = delete;
    ParallelRenderer& operator=(const ParallelRenderer&) = delete;

    // Starts `request` as `RenderRun::renderWave` would render it next (the stop hand-over, the end
    // of the sound, the byte sizes) and returns; its buffers must stay untouched until `wait`
    // for it has returned.
    void start(RendererData* request);

    // Waits until the request started `index`-th (from 0) is rendered.
    void wait(uint64_t index);

    // Renders one request: start and wait.
    void renderWave(RendererData* request);

    // Whether the channels render on threads of their own.
    bool parallel() const { return workers_[1].thread.joinable(); }

private:
    struct Job {
        int16_t* out;
        RenderSpan span;
        RenderSettings settings;
        RandomSource random;
    };
    // One channel's thread and its queue of jobs.
    struct Worker {
        Job jobs[kMaxPending];
        uint64_t queued = 0;     // jobs put in
        uint64_t taken = 0;      // jobs the thread has copied out
        uint64_t completed = 0;  // jobs rendered
        std::thread thread;
    };

    void run(int index);
    // Ends and joins the worker threads that were started.
    void stopWorkers();
    void render(int index, Job& job);

    RenderRun& run_;
    uint64_t started_ = 0;
    uint32_t pinkCounter_;  // both channels' pink counter after the blocks started
    std::mutex mutex_;
    std::condition_variable changed_;
    bool quit_ = false;
    Worker workers_[2];
};

}  // namespace brinesong
