#include "PlaybackEngine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <thread>

namespace brinesong {

namespace {

void logToStandardError(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
}

std::string withStatus(const char* text, int status) {
    return std::string(text) + std::to_string(status);
}

}  // namespace

double wallClockSeconds() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

PlaybackEngine::PlaybackEngine(Renderer& rendererIn, OutputUnit& unit, PlaybackHost& host)
    : renderer(rendererIn), log(logToStandardError), unit_(unit), host_(host) {}

PlaybackEngine::~PlaybackEngine() {
    // As at termination: a playback still running is asked to fade out, and its wait thread must
    // be gone before the fields it uses are.
    if (isPlaying()) {
        renderer.forceStop.store(true, std::memory_order_relaxed);
    }
    waitForWaitThreads();
}

void PlaybackEngine::openAudioOutput() {
    if (openAttempted_) {
        return;
    }
    openAttempted_ = true;
    const int status = unit_.open(&PlaybackEngine::outputRenderCallback, this);
    if (status == 0) {
        outputOpen_ = true;
        return;
    }
    switch (unit_.failedOpenStep()) {
        case OutputUnit::OpenStep::Find:
            log("FindNextComponent failed.");
            break;
        case OutputUnit::OpenStep::Open:
            log(withStatus("OpenAComponent failed: ", status));
            break;
        case OutputUnit::OpenStep::Initialize:
            log(withStatus("AudioUnitInitialize failed: ", status));
            break;
        case OutputUnit::OpenStep::SetRenderCallback:
            log(withStatus("AudioUnitSetProperty( SetRenderCallback ) failed: ", status));
            break;
        case OutputUnit::OpenStep::SetStreamFormat:
            log(withStatus("AudioUnitSetProperty( StreamFormat ): ", status));
            break;
    }
}

void PlaybackEngine::closeAudioOutput() {
    if (!openAttempted_) {
        return;
    }
    const int status = unit_.close();
    if (status != 0) {
        log(withStatus("AudioUnitUninitialize failed: ", status));
    }
    outputOpen_ = false;
}

void PlaybackEngine::playStop() {
    uint32_t expected = 0;
    if (state.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
        renderer.forceStop.store(false, std::memory_order_relaxed);
        renderer.forceStopFinished.store(false, std::memory_order_relaxed);
        if (startPlay()) {
            host_.didStart();
        } else {
            // Nothing runs and nothing would ever return `state` to 0: give the play state back
            // so that the next request tries again and the title offers a start.
            expected = 1;
            state.compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
            host_.didStop();
        }
    } else {
        renderer.forceStop.store(true, std::memory_order_relaxed);
    }
}

void PlaybackEngine::setSleepFade(double endsAt, double seconds) {
    fadeEndsAt_ = endsAt;
    fadeSeconds_ = seconds > 0.0 ? seconds : 0.0;
    if (isPlaying()) {
        sleepFade_.store(
            sleepFadeFrom(renderer.frameCount.load(std::memory_order_relaxed), wallClockSeconds()),
            std::memory_order_relaxed);
    }
}

void PlaybackEngine::clearSleepFade() {
    setSleepFade(0.0, 0.0);
}

SleepFade PlaybackEngine::sleepFadeFrom(uint32_t frame, double now) const {
    // A fade that should already have ended is none: its stop is due and will come as usual.
    if (fadeSeconds_ <= 0.0 || !(fadeEndsAt_ > now)) {
        return SleepFade{};
    }
    const double rate = Renderer::kSampleRate;
    const double last = std::numeric_limits<uint32_t>::max();
    const double endFrame = std::min(last, std::round(frame + (fadeEndsAt_ - now) * rate));
    const double frames = std::clamp(std::round(fadeSeconds_ * rate), 1.0, last);
    return SleepFade{static_cast<uint32_t>(endFrame), static_cast<uint32_t>(frames)};
}

bool PlaybackEngine::startPlay() {
    renderer.resetWaveFunctions();
    renderer.frameCount.store(0, std::memory_order_relaxed);
    renderer.runLength.store(0.0, std::memory_order_relaxed);
    renderer.sampleRate.store(Renderer::kSampleRate, std::memory_order_relaxed);
    renderer.fadeInOut.store(Renderer::kLiveFade, std::memory_order_relaxed);
    const double now = wallClockSeconds();
    startTime.store(now, std::memory_order_relaxed);
    // Before the first buffer: a sound started inside a fade begins at the fade's gain.
    sleepFade_.store(sleepFadeFrom(0, now), std::memory_order_relaxed);

    // The unit's start publishes everything above to the audio thread (it synchronises with the
    // thread it wakes), so the first buffer already sees the fresh playback.
    const int status = unit_.start();
    if (status != 0) {
        log(withStatus("AudioOutputUnitStart failed: ", status));
        return false;
    }

    {
        std::lock_guard<std::mutex> guard(threadsMutex_);
        ++runningWaitThreads_;
    }
    std::thread([this] { waitThread(); }).detach();
    return true;
}

bool PlaybackEngine::stopPlay() {
    const int status = unit_.stop();
    if (status != 0) {
        log(withStatus("AudioOutputUnitStop failed: ", status));
    }
    return true;
}

void PlaybackEngine::waitThread() {
    PlaybackHost& host = host_;
    {
        std::lock_guard<std::mutex> producing(renderLock);
        const double start = startTime.load(std::memory_order_relaxed);
        for (;;) {
            std::this_thread::sleep_for(std::chrono::microseconds(kWaitPollMicroseconds));
            const double now = wallClockSeconds();
            const double length = renderer.runLength.load(std::memory_order_relaxed);
            if (length != 0.0 && !(start + length > now)) {
                break;
            }
        }
        // The unit is stopped before the play state says stopped: a start accepted in between
        // would otherwise have its freshly started unit stopped under it, and its wait thread
        // would wait for an end that no buffer ever sets.
        if (state.load(std::memory_order_acquire) == 1) {
            stopPlay();
        }
        uint32_t expected = 1;
        state.compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
    }
    host.postToMainThread([&host] { host.didStop(); });

    // Last touch of the engine: the destructor may run as soon as the count reaches 0, and it
    // cannot before this thread has let go of the mutex.
    std::lock_guard<std::mutex> guard(threadsMutex_);
    --runningWaitThreads_;
    threadsDone_.notify_all();
}

void PlaybackEngine::waitForWaitThreads() {
    std::unique_lock<std::mutex> lock(threadsMutex_);
    threadsDone_.wait(lock, [this] { return runningWaitThreads_ == 0; });
}

void PlaybackEngine::outputRenderCallback(void* context, RendererData* request) {
    PlaybackEngine& engine = *static_cast<PlaybackEngine*>(context);
    const LiveRendering live{engine.sleepFade_.load(std::memory_order_relaxed), engine.tap_};
    engine.renderer.renderWave(request, live);
}

}  // namespace brinesong
