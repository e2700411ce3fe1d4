#include "ParallelRenderer.h"

#include <system_error>

namespace brinesong {

ParallelRenderer::ParallelRenderer(Renderer& renderer) : renderer_(renderer) {
    try {
        helper_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // One thread renders both channels: slower, the same samples.
    }
}

ParallelRenderer::~ParallelRenderer() {
    if (helper_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        helper_.join();
    }
}

void ParallelRenderer::renderWave(RendererData* request) {
    const RenderSpan span = renderer_.beginRequest(request);
    if (span.end <= span.start) {
        return;
    }
    const RenderSettings settings = renderer_.currentSettings();
    RandomSource& shared = renderer_.randomSource();
    rightRandom_ = shared;
    rightRandom_.discard(
        drawsFor(renderer_.channelState(0), span.end - span.start, settings.amplitudeGenerator));

    AudioBufferList* buffers = request->ioData;
    auto* left = static_cast<int16_t*>(buffers->mBuffers[0].mData);
    auto* right = static_cast<int16_t*>(buffers->mBuffers[1].mData);
    if (!helper_.joinable()) {
        renderer_.renderChannel(left, span, 0, shared, settings);
        renderer_.renderChannel(right, span, 1, rightRandom_, settings);
    } else {
        {
            std::lock_guard lock(mutex_);
            rightOut_ = right;
            span_ = span;
            settings_ = settings;
            pending_ = true;
        }
        wake_.notify_all();
        renderer_.renderChannel(left, span, 0, shared, settings);
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return !pending_; });
    }
    // Both channels' draws are taken: the shared source goes on from where the right ended.
    shared = rightRandom_;
}

void ParallelRenderer::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return pending_ || quit_; });
        if (quit_) {
            return;
        }
        lock.unlock();
        renderer_.renderChannel(rightOut_, span_, 1, rightRandom_, settings_);
        lock.lock();
        pending_ = false;
        wake_.notify_all();
    }
}

}  // namespace brinesong
