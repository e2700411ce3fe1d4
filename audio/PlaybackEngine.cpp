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
    : renderer(rendererIn),
      log(logToStandardError),
      unit_(unit),
      host_(host),
      alive_(std::make_shared<PlaybackEngine*>(this)),
      checkpoints_(std::make_unique<RenderCheckpoint[]>(kCheckpoints)) {}

PlaybackEngine::~PlaybackEngine() {
    // As at termination: a playback still running is asked to fade out, and its wait thread must
    // be gone before the fields it uses are.
    if (isPlaying()) {
        renderer.forceStop.store(true, std::memory_order_relaxed);
    }
    waitForWaitThreads();
    // The unit's notices name the engine; none may come once it is gone.
    if (outputOpen_) {
        closeAudioOutput();
    }
}

void PlaybackEngine::openAudioOutput() {
    if (openAttempted_) {
        return;
    }
    openAttempted_ = true;
    const int status =
        unit_.open(&PlaybackEngine::outputRenderCallback, &PlaybackEngine::outputRewindCallback,
                   &PlaybackEngine::outputNoticeCallback, this);
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
    failure_ = unit_.failureText();
}

void PlaybackEngine::closeAudioOutput() {
    if (!openAttempted_) {
        return;
    }
    waitingToPlay_ = false;
    const int status = unit_.close();
    if (status != 0) {
        log(withStatus("AudioUnitUninitialize failed: ", status));
    }
    outputOpen_ = false;
}

void PlaybackEngine::playStop() {
    if (waitingToPlay_) {
        // The stop request of a playback that has no sound to fade: the wait simply ends.
        waitingToPlay_ = false;
        host_.didStop();
        host_.statusChanged();
        return;
    }
    uint32_t expected = 0;
    if (state.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
        failure_.clear();
        startOrWait();
    } else {
        renderer.forceStop.store(true, std::memory_order_relaxed);
        // The fade-out begins just ahead of what is heard, not after the queue.
        unit_.renderQueueAgain();
    }
}

void PlaybackEngine::soundChanged() {
    if (isPlaying() && outputOpen_) {
        unit_.renderQueueAgain();
    }
}

// `state` has just become 1 on the main thread.
void PlaybackEngine::startOrWait() {
    renderer.forceStop.store(false, std::memory_order_relaxed);
    renderer.forceStopFinished.store(false, std::memory_order_relaxed);
    const bool canPlay = outputOpen_ && unit_.availability() == OutputUnit::Availability::Ready;
    if (canPlay && startPlay()) {
        waitingToPlay_ = false;
        host_.didStart();
        host_.statusChanged();
        return;
    }
    // Nothing runs and nothing would ever return `state` to 0: give the play state back.
    uint32_t expected = 1;
    state.compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
    if (outputOpen_ && unit_.availability() != OutputUnit::Availability::Ready) {
        // The server or the device is away (or went just now): play once it is back.
        waitingToPlay_ = true;
        host_.didStart();
    } else {
        // A start refused for another reason: the next click tries again.
        waitingToPlay_ = false;
        if (failure_.empty()) {
            failure_ = unit_.failureText();
        }
        if (failure_.empty()) {
            failure_ = "the sound output could not be opened";
        }
        host_.didStop();
    }
    host_.statusChanged();
}

void PlaybackEngine::setSleepFade(double endsAt, double seconds) {
    fadeEndsAt_ = endsAt;
    fadeSeconds_ = seconds > 0.0 ? seconds : 0.0;
    if (isPlaying()) {
        // The frame heard now, which is what the fade's end counts from, lies behind the frames
        // handed out by the queue still ahead of it.
        const uint32_t handedOut = renderer.frameCount.load(std::memory_order_relaxed);
        const uint32_t heard = handedOut - std::min(handedOut, unit_.framesAhead());
        sleepFade_.store(sleepFadeFrom(heard, wallClockSeconds()), std::memory_order_relaxed);
        soundChanged();  // what is queued takes the new fade too
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
    outputLost_.store(false, std::memory_order_relaxed);
    checkpointsSaved_ = 0;
    // Before the first buffer: a sound started inside a fade begins at the fade's gain.
    sleepFade_.store(sleepFadeFrom(0, now), std::memory_order_relaxed);

    // The unit's start publishes everything above to the audio thread (it synchronises with the
    // thread it wakes), so the first buffer already sees the fresh playback.
    const int status = unit_.start();
    if (status != 0) {
        log(withStatus("AudioOutputUnitStart failed: ", status));
        failure_ = unit_.failureText();
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
    const std::weak_ptr<PlaybackEngine*> alive = alive_;
    bool lost = false;
    {
        std::lock_guard<std::mutex> producing(renderLock);
        const double start = startTime.load(std::memory_order_relaxed);
        using Steady = std::chrono::steady_clock;
        Steady::time_point stopUnanswered{};
        for (;;) {
            std::this_thread::sleep_for(std::chrono::microseconds(kWaitPollMicroseconds));
            if (outputLost_.load(std::memory_order_relaxed)) {
                lost = true;  // no buffer will come, so no end time either
                break;
            }
            const double now = wallClockSeconds();
            const double length = renderer.runLength.load(std::memory_order_relaxed);
            if (length != 0.0 && !(start + length > now)) {
                break;
            }
            if (length == 0.0 && renderer.forceStop.load(std::memory_order_relaxed)) {
                // A stop asked for but not yet turned into an end time by a buffer.
                if (stopUnanswered == Steady::time_point{}) {
                    stopUnanswered = Steady::now();
                } else if (std::chrono::duration<double>(Steady::now() - stopUnanswered).count() >=
                           kStallSeconds) {
                    break;  // the stream has stalled: no buffer is coming to fade out in
                }
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
    host.postToMainThread([alive, &host, lost] {
        if (auto self = alive.lock()) {
            (*self)->playbackEnded(lost);
        } else {
            host.didStop();
        }
    });

    // Last touch of the engine: the destructor may run as soon as the count reaches 0, and it
    // cannot before this thread has let go of the mutex.
    std::lock_guard<std::mutex> guard(threadsMutex_);
    --runningWaitThreads_;
    threadsDone_.notify_all();
}

void PlaybackEngine::playbackEnded(bool lost) {
    // A stop asked for by the user, the scheduler or termination ends the playback for good.
    if (lost && !renderer.forceStop.load(std::memory_order_relaxed) && outputOpen_) {
        waitingToPlay_ = true;
        host_.statusChanged();
        playWhenPossible();
        return;
    }
    host_.didStop();
    host_.statusChanged();
}

void PlaybackEngine::outputChanged() {
    playWhenPossible();
    host_.statusChanged();
}

void PlaybackEngine::playWhenPossible() {
    if (!waitingToPlay_ || !outputOpen_ ||
        unit_.availability() != OutputUnit::Availability::Ready) {
        return;
    }
    uint32_t expected = 0;
    // Still 1 while the lost playback's wait thread winds down; its end brings us back here.
    if (state.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
        startOrWait();
    }
}

bool PlaybackEngine::cancelWaitToPlay() {
    const bool was = waitingToPlay_;
    waitingToPlay_ = false;
    return was;
}

PlaybackStatus PlaybackEngine::status() const {
    if (!outputOpen_) {
        return openAttempted_ ? PlaybackStatus::CannotPlay : PlaybackStatus::Stopped;
    }
    switch (unit_.availability()) {
        case OutputUnit::Availability::Connecting:
        case OutputUnit::Availability::NoServer:
            return PlaybackStatus::WaitingForServer;
        case OutputUnit::Availability::NoDevice:
            return PlaybackStatus::NoOutputDevice;
        case OutputUnit::Availability::Ready:
            break;
    }
    if (isPlaying() || waitingToPlay_) {
        return PlaybackStatus::Playing;
    }
    return failure_.empty() ? PlaybackStatus::Stopped : PlaybackStatus::CannotPlay;
}

void PlaybackEngine::waitForWaitThreads() {
    std::unique_lock<std::mutex> lock(threadsMutex_);
    threadsDone_.wait(lock, [this] { return runningWaitThreads_ == 0; });
}

void PlaybackEngine::outputRenderCallback(void* context, RendererData* request) {
    PlaybackEngine& engine = *static_cast<PlaybackEngine*>(context);
    engine.renderer.saveCheckpoint(engine.checkpoints_[engine.checkpointsSaved_ % kCheckpoints]);
    ++engine.checkpointsSaved_;
    const LiveRendering live{engine.sleepFade_.load(std::memory_order_relaxed), engine.tap_};
    engine.renderer.renderWave(request, live);
}

uint32_t PlaybackEngine::outputRewindCallback(void* context, uint32_t frame) {
    PlaybackEngine& engine = *static_cast<PlaybackEngine*>(context);
    const uint64_t oldest =
        engine.checkpointsSaved_ > kCheckpoints ? engine.checkpointsSaved_ - kCheckpoints : 0;
    for (uint64_t n = engine.checkpointsSaved_; n > oldest; --n) {
        const RenderCheckpoint& checkpoint = engine.checkpoints_[(n - 1) % kCheckpoints];
        if (checkpoint.frameCount <= frame) {
            engine.renderer.restoreCheckpoint(checkpoint);
            // The next request saves this point again, and those after it anew.
            engine.checkpointsSaved_ = n - 1;
            return checkpoint.frameCount;
        }
    }
    return OutputUnit::kCannotRewind;
}

void PlaybackEngine::outputNoticeCallback(void* context, OutputUnit::Notice notice) {
    auto* engine = static_cast<PlaybackEngine*>(context);
    if (notice == OutputUnit::Notice::StreamLost) {
        engine->outputLost_.store(true, std::memory_order_relaxed);
    }
    const std::weak_ptr<PlaybackEngine*> alive = engine->alive_;
    engine->host_.postToMainThread([alive] {
        if (auto self = alive.lock()) {
            (*self)->outputChanged();
        }
    });
}

}  // namespace brinesong
