// Renders the two channels of a request at once, the left on the caller's thread and the right on
// a helper thread, with exactly the samples `Renderer::renderWave` gives.
//
// The channels share the one random source in a fixed order: the left's draws, then the right's.
// How many draws the left takes depends on no drawn value (`drawsFor`), so the right starts from a
// copy of the source moved on by that many, and the shared source takes the right's end state
// afterwards. The settings are read once per request, for both channels.
//
// For the export worker, not for the audio thread: handing a block to the helper takes a lock.
// Where no helper thread can be started the right channel renders after the left, on the caller's
// thread, with the same result.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "Renderer.h"

namespace brinesong {

class ParallelRenderer {
public:
    explicit ParallelRenderer(Renderer& renderer);
    ~ParallelRenderer();
    ParallelRenderer(const ParallelRenderer&) = delete;
    ParallelRenderer& operator=(const ParallelRenderer&) = delete;

    // As `Renderer::renderWave`: the stop hand-over, the end of the sound, both buffers filled.
    void renderWave(RendererData* request);

    // Whether the right channel renders on a thread of its own.
    bool parallel() const { return helper_.joinable(); }

private:
    void run();

    Renderer& renderer_;
    RandomSource rightRandom_;

    std::mutex mutex_;
    std::condition_variable wake_;
    // The right channel's job, set by renderWave and cleared by the helper when it is done.
    int16_t* rightOut_ = nullptr;
    RenderSpan span_{};
    RenderSettings settings_{};
    bool pending_ = false;
    bool quit_ = false;
    std::thread helper_;  // last: started once everything it reads is in place
};

}  // namespace brinesong
