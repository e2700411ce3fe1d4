// SPDX-License-Identifier: GPL-3.0-or-later
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

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void PlaybackEngine::SleepFadeSlot::store(const SleepFade& fade) {
    const uint64_t n = sequence_.load(std::memory_order_relaxed);
    sequence_.store(n + 1, std::memory_order_relaxed);  // odd: being written
    // Release stores: a reader that sees either new number also sees the odd sequence number
    // before them (as in RenderTap, without a fence the thread sanitizer could not follow).
    endFrame_.store(fade.endFrame, std::memory_order_release);
    frames_.store(fade.frames, std::memory_order_release);
    sequence_.store(n + 2, std::memory_order_release);
    stored_ = fade;
}

SleepFade PlaybackEngine::SleepFadeSlot::read() {
    const uint64_t before = sequence_.load(std::memory_order_acquire);
    const SleepFade fade{endFrame_.load(std::memory_order_acquire),
                         frames_.load(std::memory_order_acquire)};
    const uint64_t after = sequence_.load(std::memory_order_relaxed);
    if (before % 2 == 0 && before == after) {
        lastRead_ = fade;
    }
    return lastRead_;
}

PlaybackEngine::PlaybackEngine(Renderer& rendererIn, OutputUnit& unit, PlaybackHost& host,
                               std::function<double()> clock)
    : renderer(rendererIn),
      log(logToStandardError),
      unit_(unit),
      host_(host),
      clock_(std::move(clock)),
      alive_(std::make_shared<PlaybackEngine*>(this)) {}

PlaybackEngine::~PlaybackEngine() {
    // As at termination: a playback still running is asked to fade out, and its wait thread must
    // be gone before the fields it uses are.
    raiseStopRequest();
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
    if (!start(0.0)) {
        requestStop();
    }
}

void PlaybackEngine::startRising(double seconds) {
    if (!waitingToPlay_) {
        start(seconds);
    }
}

bool PlaybackEngine::start(double riseSeconds) {
    uint32_t expected = 0;
    if (!state.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
        return false;
    }
    failure_.clear();
    // A new start: nothing of an earlier rise or night carries over.
    riseSeconds_ = riseSeconds > 0.0 ? riseSeconds : 0.0;
    riseEndsAt_ = 0.0;
    nightBegun_ = false;
    startOrWait();
    return true;
}

void PlaybackEngine::requestStop() {
    if (raiseStopRequest()) {
        // The fade-out begins just ahead of what is heard, not after the queue.
        unit_.renderQueueAgain();
    }
}

bool PlaybackEngine::raiseStopRequest() {
    if (!isPlaying() || !playback_) {
        return false;
    }
    playback_->rendering.forceStop.store(true, std::memory_order_relaxed);
    return true;
}

void PlaybackEngine::soundChanged() {
    if (isPlaying() && outputOpen_) {
        unit_.renderQueueAgain();
    }
}

// `state` has just become 1 on the main thread.
void PlaybackEngine::startOrWait() {
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

void PlaybackEngine::setSleepFade(double secondsToEnd, double seconds) {
    const double now = clock_();
    fadeEndsAt_ = now + secondsToEnd;
    fadeSeconds_ = seconds > 0.0 ? seconds : 0.0;
    if (isPlaying() && playback_) {
        // The frame heard now, which is what the fade's end counts from, lies behind the frames
        // handed out by the queue still ahead of it.
        const uint64_t handedOut = playback_->rendering.frameCount.load(std::memory_order_relaxed);
        const uint64_t heard = handedOut - std::min<uint64_t>(handedOut, unit_.framesAhead());
        playback_->sleepFade.store(sleepFadeFrom(heard, now));
        soundChanged();  // what is queued takes the new fade too
    }
}

void PlaybackEngine::clearSleepFade() {
    setSleepFade(0.0, 0.0);
}

SleepFade PlaybackEngine::sleepFade() const {
    return playback_ ? playback_->sleepFade.stored() : SleepFade{};
}

void PlaybackEngine::setNight(Night night) {
    night_ = std::move(night);
}

void PlaybackEngine::glideSettings(double seconds) {
    if (!isPlaying() || !playback_) {
        return;
    }
    const double shortest = static_cast<double>(Night::kShortestGlideFrames);
    const double frames = seconds > 0.0 ? std::clamp(std::round(seconds * Renderer::kSampleRate),
                                                     shortest, static_cast<double>(0xFFFFFFFFu))
                                        : 0.0;
    const uint64_t asked = playback_->changeOver.load(std::memory_order_relaxed) >> 32;
    playback_->changeOver.store(((asked + 1) << 32) | static_cast<uint64_t>(frames),
                                std::memory_order_release);
}

double PlaybackEngine::nightSeconds() const {
    return isPlaying() && nightBegun_ ? std::max(0.0, clock_() - nightBeganAt_) : 0.0;
}

double PlaybackEngine::riseSecondsLeft() const {
    if (!isPlaying() || riseEndsAt_ == 0.0) {
        return 0.0;
    }
    return std::max(0.0, riseEndsAt_ - clock_());
}

Rise PlaybackEngine::rise() const {
    return playback_ ? playback_->rise : Rise{};
}

Rise PlaybackEngine::riseFrom(double now) const {
    // A rise that should already have ended is none: the sound starts at full level.
    if (riseSeconds_ == 0.0 || !(riseEndsAt_ > now)) {
        return Rise{};
    }
    const double rate = Renderer::kSampleRate;
    const double far = std::ldexp(1.0, 62);
    const double frames = std::clamp(std::round(riseSeconds_ * rate), 1.0, far);
    const double endFrame = std::min(frames, std::round((riseEndsAt_ - now) * rate));
    return Rise{static_cast<int64_t>(endFrame), static_cast<int64_t>(frames)};
}

const RenderRun* PlaybackEngine::rendering() const {
    return playback_ ? &playback_->rendering : nullptr;
}

SleepFade PlaybackEngine::sleepFadeFrom(uint64_t frame, double now) const {
    // A fade that should already have ended is none: its stop is due and will come as usual. So
    // is one planned with a time that is not a number.
    if (!(fadeSeconds_ > 0.0) || !(fadeEndsAt_ > now)) {
        return SleepFade{};
    }
    const double rate = Renderer::kSampleRate;
    // Further than any sound lasts, and still a whole number of frames.
    const double far = std::ldexp(1.0, 62);
    const double endFrame =
        std::min(far, std::round(static_cast<double>(frame) + (fadeEndsAt_ - now) * rate));
    const double frames = std::clamp(std::round(fadeSeconds_ * rate), 1.0, far);
    return SleepFade{static_cast<int64_t>(endFrame), static_cast<int64_t>(frames)};
}

bool PlaybackEngine::startPlay() {
    // A fresh sound: nothing of the last playback or export reaches it.
    auto playback = std::make_shared<Playback>(renderer);
    const double now = clock_();
    playback->startTime = now;
    // Before the first buffer: a sound started inside a fade begins at the fade's gain.
    playback->sleepFade.store(sleepFadeFrom(0, now));
    // A rise begins with the first sound of its start; a sound started again after the server
    // came back goes on where it then stands.
    if (riseSeconds_ > 0.0 && riseEndsAt_ == 0.0) {
        riseEndsAt_ = now + riseSeconds_;
    }
    playback->rise = riseFrom(now);
    // The night begins with the first sound of its start; a sound started again goes on where it
    // stands, on the same wander path.
    playback->night = night_;
    int64_t origin = 0;
    if (!nightBegun_) {
        nightBegun_ = true;
        nightBeganAt_ = now;
        nightSeed_ = playback->rendering.wanderSeed();
    } else {
        origin = static_cast<int64_t>(std::clamp(
            std::round((now - nightBeganAt_) * Renderer::kSampleRate), 0.0, std::ldexp(1.0, 62)));
    }
    playback->rendering.setNight(&playback->night, origin);
    playback->rendering.setWanderSeed(nightSeed_);
    outputLost_.store(false, std::memory_order_relaxed);
    // The unit is stopped (it was, when `state` became 0): nothing renders into the last
    // playback any more, and it may go.
    sounding_.store(playback.get(), std::memory_order_release);
    playback_ = playback;

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
    std::thread([this, playback] { waitThread(playback); }).detach();
    return true;
}

bool PlaybackEngine::stopPlay() {
    const int status = unit_.stop();
    if (status != 0) {
        log(withStatus("AudioOutputUnitStop failed: ", status));
    }
    return true;
}

void PlaybackEngine::waitThread(std::shared_ptr<Playback> playback) {
    PlaybackHost& host = host_;
    const std::weak_ptr<PlaybackEngine*> alive = alive_;
    RenderRun& run = playback->rendering;
    bool lost = false;
    {
        std::lock_guard<std::mutex> producing(renderLock);
        const double start = playback->startTime;
        double stopUnanswered = -1.0;  // when a stop was first seen that no buffer took up
        for (;;) {
            std::this_thread::sleep_for(std::chrono::microseconds(kWaitPollMicroseconds));
            // Acquire: what the unit's thread rendered before it said so is seen whole below.
            if (outputLost_.load(std::memory_order_acquire)) {
                lost = true;  // no buffer will come, so no end time either
                break;
            }
            const double now = clock_();
            const double length = run.runLength.load(std::memory_order_relaxed);
            if (length != 0.0 && !(start + length > now)) {
                break;
            }
            if (length == 0.0 && run.forceStop.load(std::memory_order_relaxed)) {
                // A stop asked for but not yet turned into an end time by a buffer.
                if (stopUnanswered < 0.0) {
                    stopUnanswered = now;
                } else if (now - stopUnanswered >= kStallSeconds) {
                    break;  // the stream has stalled: no buffer is coming to fade out in
                }
            }
        }
        // `state` is 1 here: only this thread ends this playback. The unit is stopped before the
        // state says stopped, so that no start is accepted before the stop: one accepted first
        // would have its freshly started unit stopped under it, and its wait thread would wait
        // for an end that no buffer ever sets.
        stopPlay();
        // Nothing renders into this playback any more: the next sound's draws go on from here.
        run.returnRandomSource();
        uint32_t expected = 1;
        state.compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
    }
    // Whether the playback was asked to stop is read on the main thread, which asks: after any
    // stop it asked for, and from this playback, whatever has started since.
    host.postToMainThread([alive, &host, lost, playback] {
        if (auto self = alive.lock()) {
            (*self)->playbackEnded(lost,
                                   playback->rendering.forceStop.load(std::memory_order_relaxed));
        } else {
            host.didStop();
        }
    });
    playback.reset();

    // Last touch of the engine: the destructor may run as soon as the count reaches 0, and it
    // cannot before this thread has let go of the mutex.
    std::lock_guard<std::mutex> guard(threadsMutex_);
    --runningWaitThreads_;
    threadsDone_.notify_all();
}

void PlaybackEngine::playbackEnded(bool lost, bool stopRequested) {
    // A stop asked for by the user, the scheduler or termination ends the playback for good.
    if (lost && !stopRequested && outputOpen_) {
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
    Playback* playback = engine.sounding_.load(std::memory_order_acquire);
    if (playback == nullptr) {
        // No playback has started: nothing sounds.
        request->ioData->mBuffers[0].mDataByteSize = 0;
        request->ioData->mBuffers[1].mDataByteSize = 0;
        return;
    }
    playback->rendering.saveCheckpoint(
        playback->checkpoints[playback->checkpointsSaved % kCheckpoints]);
    ++playback->checkpointsSaved;
    const LiveRendering live{playback->sleepFade.read(), engine.tap_, true, playback->rise,
                             playback->changeOver.load(std::memory_order_acquire)};
    playback->rendering.renderWave(request, live);
}

uint64_t PlaybackEngine::outputRewindCallback(void* context, uint64_t frame) {
    PlaybackEngine& engine = *static_cast<PlaybackEngine*>(context);
    Playback* playback = engine.sounding_.load(std::memory_order_acquire);
    if (playback == nullptr) {
        return OutputUnit::kCannotRewind;
    }
    const uint64_t saved = playback->checkpointsSaved;
    const uint64_t oldest = saved > kCheckpoints ? saved - kCheckpoints : 0;
    for (uint64_t n = saved; n > oldest; --n) {
        const RenderCheckpoint& checkpoint = playback->checkpoints[(n - 1) % kCheckpoints];
        if (checkpoint.frameCount <= frame) {
            playback->rendering.restoreCheckpoint(checkpoint);
            // The next request saves this point again, and those after it anew.
            playback->checkpointsSaved = n - 1;
            return checkpoint.frameCount;
        }
    }
    return OutputUnit::kCannotRewind;
}

void PlaybackEngine::outputNoticeCallback(void* context, OutputUnit::Notice notice) {
    auto* engine = static_cast<PlaybackEngine*>(context);
    if (notice == OutputUnit::Notice::StreamLost) {
        engine->outputLost_.store(true, std::memory_order_release);
    }
    const std::weak_ptr<PlaybackEngine*> alive = engine->alive_;
    engine->host_.postToMainThread([alive] {
        if (auto self = alive.lock()) {
            (*self)->outputChanged();
        }
    });
}

}  // namespace brinesong
