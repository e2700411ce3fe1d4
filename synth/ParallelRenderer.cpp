// SPDX-License-Identifier: GPL-3.0-or-later
#include "ParallelRenderer.h"

#include <system_error>

namespace brinesong {

ParallelRenderer::ParallelRenderer(RenderRun& sound)
    : run_(sound), pinkCounter_(sound.channelState(0).pink.counter) {
    try {
        workers_[0].thread = std::thread([this] { run(0); });
        workers_[1].thread = std::thread([this] { run(1); });
    } catch (const std::system_error&) {
        // Blocks render on the caller's thread: slower, the same samples.
        stopWorkers();
    }
}

ParallelRenderer::~ParallelRenderer() {
    stopWorkers();
}

void ParallelRenderer::stopWorkers() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    for (Worker& worker : workers_) {
        if (worker.thread.joinable()) {
            worker.thread.join();
        }
    }
}

void ParallelRenderer::start(RendererData* request) {
    const RenderSpan span = run_.beginRequest(request);
    const RenderSettings settings = run_.currentSettings();
    AudioBufferList* buffers = request->ioData;
    Job left{static_cast<int16_t*>(buffers->mBuffers[0].mData), span, settings,
             run_.randomSource()};
    Job right{static_cast<int16_t*>(buffers->mBuffers[1].mData), span, settings,
              run_.randomSource()};
    // Both channels' pink counters move with the frames rendered, so the right takes as many draws
    // as the left. The generator states themselves belong to the channels' threads: the count is
    // taken from the frames started so far, not from them.
    const auto frames = static_cast<uint32_t>(span.end > span.start ? span.end - span.start : 0);
    const uint64_t draws = run_.channelDraws(span, settings, pinkCounter_);
    pinkCounter_ = (pinkCounter_ + frames) & 0x7FFFFu;
    right.random.discard(draws);
    run_.randomSource() = right.random;
    run_.randomSource().discard(draws);

    if (!parallel()) {
        render(0, left);
        render(1, right);
        ++started_;
        return;
    }
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] {
            return workers_[0].queued - workers_[0].taken < kMaxPending &&
                   workers_[1].queued - workers_[1].taken < kMaxPending;
        });
        workers_[0].jobs[workers_[0].queued++ % kMaxPending] = left;
        workers_[1].jobs[workers_[1].queued++ % kMaxPending] = right;
        ++started_;
    }
    changed_.notify_all();
}

void ParallelRenderer::wait(uint64_t index) {
    if (!parallel()) {
        return;
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this, index] {
        return workers_[0].completed > index && workers_[1].completed > index;
    });
}

void ParallelRenderer::renderWave(RendererData* request) {
    start(request);
    wait(started_ - 1);
}

void ParallelRenderer::render(int index, Job& job) {
    run_.renderChannel(job.out, job.span, index, job.random, job.settings);
}

void ParallelRenderer::run(int index) {
    Worker& worker = workers_[index];
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this, &worker] { return quit_ || worker.taken < worker.queued; });
        if (quit_) {
            return;
        }
        Job job = worker.jobs[worker.taken++ % kMaxPending];
        lock.unlock();
        changed_.notify_all();
        render(index, job);
        lock.lock();
        ++worker.completed;
        changed_.notify_all();
    }
}

}  // namespace brinesong
