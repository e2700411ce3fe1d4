// SPDX-License-Identifier: GPL-3.0-or-later
// The play state machine: starts, stop requests, the fade-out to the end frame, the wait thread's
// hand-back, a unit that fails, and an output that goes away and comes back. The sound is checked
// sample for sample against the renderer driven directly with the same buffer sizes.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/PlaybackEngine.h"
#include "support/Eventually.h"
#include "tests/audio/TestPlaybackHost.h"

namespace brinesong {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kSeed = 4242;
constexpr double kVolume = 0.8;

// Stands in for the sound server's stream, which the sanitizer builds do not link and which cannot
// be made to fail or to use chosen buffer sizes. Like the real one it renders from its own thread,
// a little ahead of the wall clock, and keeps only the bytes the renderer left in each buffer.
class FakeOutputUnit : public OutputUnit {
public:
    struct Request {
        uint32_t frames;  // asked for
        uint32_t played;  // left after the renderer shortened the buffer
    };
    struct Playback {
        std::vector<int16_t> left, right;
        std::vector<Request> requests;
    };

    // `lead`: seconds rendered ahead of the clock. With `rewrites`, the unit renders its queue
    // again when asked, from a point a little ahead of the clock, as the real one does.
    explicit FakeOutputUnit(std::vector<uint32_t> sizes, double lead = 0.04, bool rewrites = false)
        : bufferFrames_(std::move(sizes)), lead_(lead), rewrites_(rewrites) {}
    ~FakeOutputUnit() override { stopThread(); }

    int open(RenderFunction render, RewindFunction rewind, NoticeFunction notice,
             void* context) override {
        ++opens;
        render_ = render;
        rewind_ = rewind;
        notice_ = notice;
        context_ = context;
        return openStatus;
    }
    OpenStep failedOpenStep() const override { return openStep; }
    Availability availability() const override { return availability_.load(); }

    int start() override {
        ++starts;
        if (startStatus != 0) {
            return startStatus;
        }
        if (availability_.load() != Availability::Ready) {
            return 15;
        }
        playbacks.emplace_back();
        renderedFrames.store(0);
        running_.store(true);
        thread_ = std::thread([this] { renderLoop(playbacks.back()); });
        return 0;
    }

    int stop() override {
        ++stops;
        playingAtStop.push_back(isPlaying ? isPlaying() : true);
        stopThread();
        return stopStatus;
    }

    int close() override {
        ++closes;
        return closeStatus;
    }

    void renderQueueAgain() override {
        if (rewrites_) {
            rewriteAsked_.store(true);
        }
    }
    uint32_t framesAhead() const override {
        return running_.load() ? static_cast<uint32_t>(lead_ * Renderer::kSampleRate) : 0;
    }

    // While held, nothing is rendered: a change made meanwhile takes effect at the rewrite alone.
    std::unique_lock<std::mutex> holdRendering() {
        return std::unique_lock<std::mutex>(renderMutex_);
    }

    // A rewrite: where it went back to, and how far the queue had been rendered.
    struct Rewrite {
        uint64_t from;
        uint64_t queuedTo;
    };
    std::vector<Rewrite> rewrites;  // read once the playback has ended
    std::atomic<int> rewriteCount{0};

    // The server goes away, as it tells it from its own thread: the stream is gone, no more
    // buffers come.
    void loseServer() {
        availability_.store(Availability::NoServer);
        std::thread([this] {
            stopThread();
            notice_(context_, Notice::StreamLost);
            notice_(context_, Notice::AvailabilityChanged);
        }).join();
    }
    void serverBack() {
        availability_.store(Availability::Ready);
        std::thread([this] { notice_(context_, Notice::AvailabilityChanged); }).join();
    }
    // The stream stays but no buffer is asked for any more (a frozen server).
    void stall() { stalled_.store(true); }

    // The first buffer of the next playback waits until the test lets it go.
    void holdFirstBuffer() { held_ = true; }
    void releaseFirstBuffer() {
        std::lock_guard<std::mutex> guard(gateMutex_);
        held_ = false;
        gate_.notify_all();
    }

    int openStatus = 0, startStatus = 0, stopStatus = 0, closeStatus = 0;
    OpenStep openStep = OpenStep::Open;
    int opens = 0, starts = 0, stops = 0, closes = 0;
    std::function<bool()> isPlaying;  // what the engine says when the unit is stopped
    std::vector<bool> playingAtStop;
    std::deque<Playback> playbacks;
    std::atomic<uint64_t> renderedFrames{0};

private:
    void stopThread() {
        running_.store(false);
        releaseFirstBuffer();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    void renderLoop(Playback& out) {
        {
            std::unique_lock<std::mutex> lock(gateMutex_);
            gate_.wait(lock, [this] { return !held_ || !running_.load(); });
        }
        // Stay ahead of the clock, as a device buffer does, so that the wait thread never ends a
        // playback whose fade-out has not been rendered yet.
        const auto begin = std::chrono::steady_clock::now();
        std::vector<int16_t> left, right;
        size_t next = 0;
        while (running_.load()) {
            if (stalled_.load()) {
                std::this_thread::sleep_for(2ms);
                continue;
            }
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
            std::unique_lock<std::mutex> rendering(renderMutex_);
            if (rewriteAsked_.exchange(false)) {
                rewind(out, static_cast<uint64_t>(elapsed * Renderer::kSampleRate) + 441);
            }
            if (renderedFrames.load() > (elapsed + lead_) * Renderer::kSampleRate) {
                rendering.unlock();
                std::this_thread::sleep_for(2ms);
                continue;
            }
            const uint32_t frames = bufferFrames_[next++ % bufferFrames_.size()];
            left.assign(frames, 0x5555);
            right.assign(frames, 0x5555);
            AudioBufferList list{2, {{1, frames * 2, left.data()}, {1, frames * 2, right.data()}}};
            RendererData request{nullptr, nullptr, 0, frames, &list};
            render_(context_, &request);
            const uint32_t played = list.mBuffers[0].mDataByteSize / 2;
            EXPECT_EQ(list.mBuffers[1].mDataByteSize, played * 2);
            out.left.insert(out.left.end(), left.begin(), left.begin() + played);
            out.right.insert(out.right.end(), right.begin(), right.begin() + played);
            out.requests.push_back({frames, played});
            renderedFrames.fetch_add(frames);
        }
    }

    // Goes back to the renderer's point at or before `target` and drops what was queued from it.
    void rewind(Playback& out, uint64_t target) {
        const uint64_t queued = renderedFrames.load();
        if (target >= queued) {
            return;
        }
        const uint64_t from = rewind_(context_, target);
        if (from == kCannotRewind) {
            return;
        }
        uint64_t start = 0;
        size_t kept = 0;
        while (kept < out.requests.size() && start + out.requests[kept].frames <= from) {
            start += out.requests[kept++].frames;
        }
        EXPECT_EQ(start, from) << "a rewrite starts where a request started";
        out.requests.resize(kept);
        out.left.resize(std::min<size_t>(out.left.size(), from));
        out.right.resize(std::min<size_t>(out.right.size(), from));
        renderedFrames.store(from);
        rewrites.push_back({from, queued});
        rewriteCount.fetch_add(1);
    }

    std::vector<uint32_t> bufferFrames_;
    double lead_;
    bool rewrites_;
    std::atomic<bool> rewriteAsked_{false};
    std::mutex renderMutex_;
    RenderFunction render_ = nullptr;
    RewindFunction rewind_ = nullptr;
    NoticeFunction notice_ = nullptr;
    void* context_ = nullptr;
    std::atomic<Availability> availability_{Availability::Ready};
    std::atomic<bool> stalled_{false};
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::mutex gateMutex_;
    std::condition_variable gate_;
    bool held_ = false;
};

// The engine's clock in these tests: the system's steady clock, except while a test holds it
// still, so that what the engine reads at two moments is one time. Released, it goes on from where
// it stood: it never jumps ahead of the unit, which paces itself by the steady clock.
class HeldClock {
public:
    double now() {
        std::lock_guard<std::mutex> guard(mutex_);
        return held_ ? heldAt_ : steadySeconds() - pausedFor_;
    }
    void hold() {
        std::lock_guard<std::mutex> guard(mutex_);
        heldAt_ = steadySeconds() - pausedFor_;
        held_ = true;
    }
    void release() {
        std::lock_guard<std::mutex> guard(mutex_);
        pausedFor_ = steadySeconds() - heldAt_;
        held_ = false;
    }

private:
    std::mutex mutex_;
    bool held_ = false;
    double heldAt_ = 0.0;
    double pausedFor_ = 0.0;
};

// The renderer driven directly, playback after playback, as the engine should drive it.
class ReferencePlayer {
public:
    ReferencePlayer() : renderer_(preferences_, random_) { renderer_.volume = kVolume; }

    // One playback with the end already known: frames before the stop hand-over get the same gain
    // whether or not the end is set, so the result must match the live playback exactly.
    FakeOutputUnit::Playback play(const std::vector<uint32_t>& sizes, double runLength,
                                  const LiveRendering& live = {}) {
        RenderRun run(renderer_, Renderer::kLiveFade, runLength);
        const uint32_t end = static_cast<uint32_t>(Renderer::kSampleRate * runLength);
        FakeOutputUnit::Playback out;
        for (size_t i = 0; run.frameCount < end; ++i) {
            const uint32_t frames = sizes[i % sizes.size()];
            std::vector<int16_t> left(frames), right(frames);
            AudioBufferList list{2, {{1, frames * 2, left.data()}, {1, frames * 2, right.data()}}};
            RendererData request{nullptr, nullptr, 0, frames, &list};
            run.renderWave(&request, live);
            const uint32_t played = list.mBuffers[0].mDataByteSize / 2;
            out.left.insert(out.left.end(), left.begin(), left.begin() + played);
            out.right.insert(out.right.end(), right.begin(), right.begin() + played);
        }
        run.returnRandomSource();
        return out;
    }

private:
    Preferences preferences_;
    RandomSource random_{kSeed};
    Renderer renderer_;
};

class PlaybackEngineTest : public ::testing::Test {
protected:
    explicit PlaybackEngineTest(std::vector<uint32_t> sizes = {512, 1000, 2048, 700},
                                double lead = 0.04, bool rewrites = false)
        : sizes_(sizes), unit_(sizes, lead, rewrites), renderer_(preferences_, random_) {
        renderer_.volume = kVolume;
        engine_.log = [this](const std::string& line) {
            std::lock_guard<std::mutex> guard(logMutex_);
            logged_.push_back(line);
        };
        unit_.isPlaying = [this] { return engine_.isPlaying(); };
        engine_.openAudioOutput();
    }

    void waitForFrames(uint64_t frames) {
        ASSERT_TRUE(testing::eventually([&] { return unit_.renderedFrames.load() >= frames; }, 20s))
            << unit_.renderedFrames.load() << " of " << frames << " frames";
    }

    // The control state of the playback running now or last.
    const RenderRun& rendering() const { return *engine_.rendering(); }
    double runLength() const { return rendering().runLength.load(); }
    uint32_t endFrame() const { return static_cast<uint32_t>(Renderer::kSampleRate * runLength()); }

    std::vector<std::string> logged() {
        std::lock_guard<std::mutex> guard(logMutex_);
        return logged_;
    }

    std::vector<uint32_t> sizes_;
    FakeOutputUnit unit_;
    TestHost host_;
    Preferences preferences_;
    RandomSource random_{kSeed};
    Renderer renderer_;
    std::mutex logMutex_;
    std::vector<std::string> logged_;
    HeldClock clock_;
    PlaybackEngine engine_{renderer_, unit_, host_, [this] { return clock_.now(); }};  // last
};

TEST_F(PlaybackEngineTest, stopMidPlayback_fadesOutInsideABufferAndEnds) {
    engine_.playStop();
    EXPECT_TRUE(engine_.isPlaying());
    EXPECT_EQ(host_.started, 1);
    waitForFrames(20000);
    engine_.playStop();
    EXPECT_TRUE(engine_.isPlaying());  // only requested
    ASSERT_TRUE(host_.pumpUntilStopped(1));
    engine_.waitForWaitThreads();

    EXPECT_FALSE(engine_.isPlaying());
    EXPECT_EQ(host_.started, 1);
    EXPECT_EQ(unit_.starts, 1);
    EXPECT_EQ(unit_.stops, 1);
    EXPECT_EQ(unit_.playingAtStop, std::vector<bool>{true});
    EXPECT_TRUE(rendering().forceStopFinished.load());

    const FakeOutputUnit::Playback& played = unit_.playbacks.at(0);
    const uint32_t end = endFrame();
    ASSERT_EQ(played.left.size(), end);
    ASSERT_EQ(played.right.size(), end);

    // The end lies 0.01 s (440 or 441 frames, by rounding) after the frames handed out before the
    // request, inside the next buffer, which is cut there; every later buffer is empty.
    uint32_t before = 0;
    size_t cut = 0;
    while (before + played.requests[cut].frames <= end - 440) {
        EXPECT_EQ(played.requests[cut].played, played.requests[cut].frames);
        before += played.requests[cut++].frames;
    }
    EXPECT_GE(before, 20000u);
    EXPECT_GE(end - before, 440u);
    EXPECT_LE(end - before, 441u);
    EXPECT_EQ(played.requests[cut].played, end - before);
    EXPECT_LT(played.requests[cut].played, played.requests[cut].frames);
    for (size_t i = cut + 1; i < played.requests.size(); ++i) {
        EXPECT_EQ(played.requests[i].played, 0u) << "buffer " << i;
    }

    ReferencePlayer reference;
    const FakeOutputUnit::Playback expected = reference.play(sizes_, runLength());
    EXPECT_EQ(played.left, expected.left);
    EXPECT_EQ(played.right, expected.right);
    EXPECT_EQ(played.left[0], 0);
    // The last frames are the tail of the fade: far below the level of the steady part.
    double steady = 0, tail = 0;
    for (uint32_t f = before - 4410; f < before; ++f)
        steady = std::max(steady, std::abs(1.0 * played.left[f]));
    for (uint32_t f = end - 22; f < end; ++f)
        tail = std::max(tail, std::abs(1.0 * played.left[f]));
    EXPECT_GT(steady, 1000);
    EXPECT_LT(tail, steady * 0.06);
}

TEST_F(PlaybackEngineTest, sleepFade_appliesFromTheFirstBuffer_andEveryBufferReachesTheTap) {
    RenderTap tap;
    engine_.setRenderTap(&tap);
    // Planned before the start: the fade ends 0.6 s after it, over its last 0.4 s. The clock
    // stands still from the plan to the start, so the fade ends 0.6 s into the sound exactly.
    clock_.hold();
    engine_.setSleepFade(0.6, 0.4);
    EXPECT_FALSE(engine_.sleepFade().active());  // nothing plays yet

    // The window's side: reads the tap while the sound plays.
    std::atomic<bool> stopReading{false};
    std::vector<TapRecord> seen;
    std::thread reader([&] {
        TapRecord batch[32];
        for (bool last = false; !last;) {
            last = stopReading.load();
            const size_t n = tap.read(batch, 32);
            seen.insert(seen.end(), batch, batch + n);
            std::this_thread::sleep_for(1ms);
        }
    });

    engine_.playStop();
    clock_.release();
    const SleepFade fade = engine_.sleepFade();
    EXPECT_EQ(fade, (SleepFade{26460, 17640}));
    waitForFrames(fade.endFrame + 4000);
    engine_.playStop();
    ASSERT_TRUE(host_.pumpUntilStopped(1));
    engine_.waitForWaitThreads();
    stopReading = true;
    reader.join();

    const FakeOutputUnit::Playback& played = unit_.playbacks.at(0);
    ReferencePlayer reference;
    const FakeOutputUnit::Playback expected =
        reference.play(sizes_, runLength(), LiveRendering{fade, nullptr});
    EXPECT_EQ(played.left, expected.left);
    EXPECT_EQ(played.right, expected.right);
    ASSERT_GT(played.left.size(), fade.endFrame);
    for (size_t f = fade.endFrame; f < played.left.size(); ++f) {
        ASSERT_EQ(played.left[f], 0) << f;  // silent from the fade's end to the stop
    }

    // One record per buffer that sounded, in order, covering every frame played.
    EXPECT_EQ(tap.lost(), 0u);
    uint32_t next = 0;
    for (const TapRecord& r : seen) {
        EXPECT_EQ(r.frame, next);
        next += r.frames;
    }
    EXPECT_EQ(next, played.left.size());
    EXPECT_GT(seen.front().level[0], 0.0f);
    EXPECT_EQ(seen.back().level[0], 0.0f);
}

// A rising start: the rise is fixed in frames from the moment the sound starts and shapes every
// buffer as the renderer's rise does; the next start by the button has none.
TEST_F(PlaybackEngineTest, startRising_risesFromTheFirstFrame_andOnlyThatPlaybackRises) {
    clock_.hold();
    engine_.startRising(0.5);
    EXPECT_EQ(engine_.rise(), (Rise{22050, 22050}));
    EXPECT_DOUBLE_EQ(engine_.riseSecondsLeft(), 0.5);
    engine_.startRising(5.0);  // playing: nothing changes
    EXPECT_EQ(engine_.rise(), (Rise{22050, 22050}));
    clock_.release();
    waitForFrames(30000);
    engine_.playStop();
    ASSERT_TRUE(host_.pumpUntilStopped(1));
    engine_.waitForWaitThreads();
    EXPECT_EQ(engine_.riseSecondsLeft(), 0.0);

    ReferencePlayer reference;
    LiveRendering live;
    live.rise = Rise{22050, 22050};
    const FakeOutputUnit::Playback expected = reference.play(sizes_, runLength(), live);
    EXPECT_EQ(unit_.playbacks.at(0).left, expected.left);
    EXPECT_EQ(unit_.playbacks.at(0).right, expected.right);

    engine_.playStop();
    EXPECT_FALSE(engine_.rise().active());
    engine_.playStop();
    ASSERT_TRUE(host_.pumpUntilStopped(2));
    engine_.waitForWaitThreads();
}

TEST_F(PlaybackEngineTest, stopBeforeTheFirstBuffer_playsOnlyTheFade) {
    unit_.holdFirstBuffer();
    engine_.playStop();
    engine_.playStop();
    unit_.releaseFirstBuffer();
    ASSERT_TRUE(host_.pumpUntilStopped(1));
    engine_.waitForWaitThreads();

    EXPECT_FALSE(engine_.isPlaying());
    EXPECT_EQ(runLength(), Renderer::kLiveFade);
    const FakeOutputUnit::Playback& played = unit_.playbacks.at(0);
    ASSERT_EQ(played.left.size(), 441u);
    EXPECT_EQ(played.requests.at(0).played, 441u);
    ReferencePlayer reference;
    EXPECT_EQ(played.left, reference.play(sizes_, Renderer::kLiveFade).left);
    EXPECT_EQ(played.left[0], 0);
    EXPECT_EQ(played.right[0], 0);
}

TEST_F(PlaybackEngineTest, startDuringTheFadeOut_isLost) {
    engine_.playStop();
    waitForFrames(5000);
    engine_.playStop();  // stop
    engine_.playStop();  // start while stopping: only raises the stop request again
    ASSERT_TRUE(host_.pumpUntilStopped(1));
    engine_.waitForWaitThreads();

    EXPECT_FALSE(engine_.isPlaying());
    EXPECT_EQ(host_.started, 1);
    EXPECT_EQ(host_.stopped, 1);
    EXPECT_EQ(unit_.starts, 1);
    EXPECT_EQ(unit_.stops, 1);
    EXPECT_TRUE(rendering().forceStop.load());
    EXPECT_TRUE(engine_.renderLock.try_lock());
    engine_.renderLock.unlock();
}

class SmallBuffersTest : public PlaybackEngineTest {
protected:
    SmallBuffersTest() : PlaybackEngineTest({1, 64, 441, 333, 4096, 97}) {}
};

// Half a second queued ahead, rendered again on every change, in requests of 441 frames, as the
// sound server's stream does.
class LongQueueTest : public PlaybackEngineTest {
protected:
    LongQueueTest() : PlaybackEngineTest({441}, 0.5, true) {}

    // Makes a change while nothing renders, and waits for the rewrite it brings.
    template <typename Change>
    void change(Change&& makeChange) {
        const int before = unit_.rewriteCount.load();
        {
            auto hold = unit_.holdRendering();
            makeChange();
        }
        ASSERT_TRUE(testing::eventually([&] { return unit_.rewriteCount.load() > before; }, 20s));
    }
};

TEST_F(LongQueueTest, changesAndStop_renderTheQueueAgain_asTheRendererWithTheChangesAtThoseFrames) {
    random_.seed(kSeed);
    engine_.playStop();
    waitForFrames(30000);
    change([&] {
        renderer_.volume = 0.3;
        engine_.soundChanged();
    });
    waitForFrames(unit_.renderedFrames.load() + 8000);
    change([&] {
        preferences_.setAscent(90);
        preferences_.setLightWave(20);
        engine_.soundChanged();
    });
    waitForFrames(unit_.renderedFrames.load() + 8000);
    change([&] {  // a change-over
        engine_.glideSettings(1.0);
        preferences_.setBoostSoundLevel(true);
        preferences_.setHeavyWave(40);
        engine_.soundChanged();
    });
    waitForFrames(unit_.renderedFrames.load() + 8000);
    change([&] { engine_.playStop(); });
    ASSERT_TRUE(host_.pumpUntilStopped(1));
    engine_.waitForWaitThreads();

    // Each rewrite went back into what was queued, not past it.
    const std::vector<FakeOutputUnit::Rewrite>& rewrites = unit_.rewrites;
    ASSERT_EQ(rewrites.size(), 4u);
    for (const FakeOutputUnit::Rewrite& rewrite : rewrites) {
        EXPECT_LT(rewrite.from + 4000u, rewrite.queuedTo);
    }
    // The stop took effect at its rewrite: the fade-out is the first 441 frames from there.
    const uint64_t stopAt = rewrites[3].from;
    EXPECT_GE(endFrame(), stopAt + 440);
    EXPECT_LE(endFrame(), stopAt + 441);

    // The renderer driven directly in the same requests as live playback drives it (the two
    // channels share one random source, so the requests decide which draws each gets), each
    // change made at the frame its rewrite went back to, so that it glides from there.
    Preferences preferences;
    RandomSource random(kSeed);
    Renderer renderer(preferences, random);
    renderer.volume = kVolume;
    RenderRun reference(renderer, Renderer::kLiveFade);
    std::vector<int16_t> left, right;
    uint64_t changeOvers = 0;
    const auto renderTo = [&](uint64_t frame) {
        while (reference.frameCount.load() < frame) {
            const uint32_t frames =
                static_cast<uint32_t>(std::min<uint64_t>(441, frame - reference.frameCount.load()));
            std::vector<int16_t> l(frames), r(frames);
            AudioBufferList list{2, {{1, frames * 2, l.data()}, {1, frames * 2, r.data()}}};
            RendererData request{nullptr, nullptr, 0, frames, &list};
            reference.renderWave(&request,
                                 LiveRendering{SleepFade{}, nullptr, true, {}, changeOvers});
            const uint32_t played = list.mBuffers[0].mDataByteSize / 2;
            left.insert(left.end(), l.begin(), l.begin() + played);
            right.insert(right.end(), r.begin(), r.begin() + played);
        }
    };
    renderTo(rewrites[0].from);
    renderer.volume = 0.3;
    renderTo(rewrites[1].from);
    preferences.setAscent(90);
    preferences.setLightWave(20);
    renderTo(rewrites[2].from);
    changeOvers = (uint64_t{1} << 32) | 44100u;
    preferences.setBoostSoundLevel(true);
    preferences.setHeavyWave(40);
    renderTo(rewrites[3].from);
    reference.forceStop = true;
    renderTo(endFrame() + 1000);

    const FakeOutputUnit::Playback& played = unit_.playbacks.at(0);
    ASSERT_EQ(played.left.size(), endFrame());
    ASSERT_EQ(left.size(), endFrame());
    EXPECT_TRUE(played.left == left);
    EXPECT_TRUE(played.right == right);
}

// A fade set while the sound plays ends at its time in what is heard: counted from the frame
// heard now, half a second of queue behind the frames handed out (none are handed out while the
// rendering is held, and the engine reads its clock once for the plan and the fade).
TEST_F(LongQueueTest, sleepFadeSetMidPlay_countsFromTheFrameHeardNotFromTheQueuesEnd) {
    engine_.playStop();
    waitForFrames(30000);
    {
        auto hold = unit_.holdRendering();
        const uint64_t handedOut = rendering().frameCount.load();
        engine_.setSleepFade(1.0, 0.4);
        const SleepFade fade = engine_.sleepFade();
        EXPECT_EQ(fade.endFrame, static_cast<int64_t>(handedOut) - 22050 + 44100);
        EXPECT_EQ(fade.frames, 17640u);
    }
    engine_.playStop();
    ASSERT_TRUE(host_.pumpUntilStopped(1));
}

TEST_F(SmallBuffersTest, startRightAfterTheEnd_playsAFreshSoundThatStopsAgain) {
    ReferencePlayer reference;
    for (int playback = 0; playback < 2; ++playback) {
        engine_.playStop();
        ASSERT_TRUE(engine_.isPlaying());
        waitForFrames(3000);
        engine_.playStop();
        ASSERT_TRUE(host_.pumpUntilStopped(playback + 1));
        // The unit was stopped while the state still said playing, so this start cannot be
        // undone by the previous playback's wait thread.
        const FakeOutputUnit::Playback& played = unit_.playbacks.at(playback);
        ASSERT_EQ(played.left.size(), endFrame());
        const FakeOutputUnit::Playback expected = reference.play(sizes_, runLength());
        EXPECT_EQ(played.left, expected.left) << "playback " << playback;
        EXPECT_EQ(played.right, expected.right) << "playback " << playback;
    }
    engine_.waitForWaitThreads();
    EXPECT_EQ(unit_.starts, 2);
    EXPECT_EQ(unit_.stops, 2);
    EXPECT_EQ(unit_.playingAtStop, (std::vector<bool>{true, true}));
    EXPECT_EQ(host_.started, 2);
}

TEST_F(PlaybackEngineTest, failedStart_logsAndReturnsToStopped) {
    unit_.startStatus = 7;
    engine_.playStop();

    EXPECT_EQ(logged(), std::vector<std::string>{"AudioOutputUnitStart failed: 7"});
    EXPECT_FALSE(engine_.isPlaying());
    EXPECT_EQ(host_.started, 0);
    EXPECT_EQ(host_.stopped, 1);
    EXPECT_TRUE(engine_.renderLock.try_lock()) << "no wait thread may hold the lock";
    engine_.renderLock.unlock();

    // The next request tries again and plays.
    unit_.startStatus = 0;
    engine_.playStop();
    EXPECT_TRUE(engine_.isPlaying());
    EXPECT_EQ(host_.started, 1);
    waitForFrames(2000);
    engine_.playStop();
    ASSERT_TRUE(host_.pumpUntilStopped(2));
    EXPECT_FALSE(engine_.isPlaying());
    EXPECT_EQ(unit_.starts, 2);
}

TEST_F(PlaybackEngineTest, failingStopAndClose_areLoggedAndTheStateGoesOn) {
    unit_.stopStatus = -9;
    unit_.closeStatus = 3;
    engine_.playStop();
    waitForFrames(1000);
    engine_.playStop();
    ASSERT_TRUE(host_.pumpUntilStopped(1));
    engine_.waitForWaitThreads();
    EXPECT_FALSE(engine_.isPlaying());
    engine_.closeAudioOutput();
    EXPECT_EQ(logged(), (std::vector<std::string>{"AudioOutputUnitStop failed: -9",
                                                  "AudioUnitUninitialize failed: 3"}));
}

TEST_F(PlaybackEngineTest, serverGoneMidPlayback_endsAtOnce_thenStartsAfreshWhenItIsBack) {
    engine_.setNight(Night({{44100 * 3600, 44100, NightPoint::of(preferences_)}}));
    engine_.playStop();
    waitForFrames(20000);
    const uint64_t wanderSeed = rendering().wanderSeed();
    unit_.loseServer();
    // The wait thread ends the playback without waiting for an end time no buffer will set; the
    // host keeps showing a playback and hears of the wait.
    ASSERT_TRUE(host_.pumpUntil([&] { return engine_.isWaitingToPlay(); }));
    engine_.waitForWaitThreads();
    EXPECT_FALSE(engine_.isPlaying());
    EXPECT_EQ(engine_.status(), PlaybackStatus::WaitingForServer);
    EXPECT_TRUE(engine_.renderLock.try_lock()) << "the lost playback let go of the lock";
    engine_.renderLock.unlock();
    EXPECT_EQ(host_.stopped, 0);
    EXPECT_EQ(runLength(), 0.0);

    unit_.serverBack();
    ASSERT_TRUE(host_.pumpUntil([&] { return engine_.isPlaying(); }));
    EXPECT_FALSE(engine_.isWaitingToPlay());
    EXPECT_EQ(engine_.status(), PlaybackStatus::Playing);
    EXPECT_EQ(unit_.starts, 2);
    // The night goes on where it stands: about the first sound's frames in (less the unit's lead
    // and a buffer it may render past it), on the same path.
    EXPECT_GE(rendering().nightOrigin(), 20000 - 2048 - 0.04 * Renderer::kSampleRate);
    EXPECT_LE(rendering().nightOrigin(), engine_.nightSeconds() * Renderer::kSampleRate);
    EXPECT_EQ(rendering().wanderSeed(), wanderSeed);
    waitForFrames(3000);
    engine_.playStop();
    ASSERT_TRUE(host_.pumpUntilStopped(1));
    engine_.waitForWaitThreads();

    // A fresh playback, counted from its own start: the whole sound up to its end, fading in from
    // silence (the random source goes on, so the samples themselves differ from the first's).
    const FakeOutputUnit::Playback& played = unit_.playbacks.at(1);
    ASSERT_EQ(played.left.size(), endFrame());
    EXPECT_EQ(played.left[0], 0);
    EXPECT_EQ(played.right[0], 0);
    auto energy = [&](size_t begin, size_t end) {
        double sum = 0;
        for (size_t i = begin; i < end; ++i)
            sum += double(played.left[i]) * played.left[i];
        return sum;
    };
    EXPECT_LT(energy(0, 110), energy(330, 441));
}

TEST_F(PlaybackEngineTest, startWithoutServer_waits_stopEndsTheWait_aLaterReturnPlaysNothing) {
    unit_.loseServer();
    engine_.playStop();
    EXPECT_TRUE(engine_.isWaitingToPlay());
    EXPECT_FALSE(engine_.isPlaying());
    EXPECT_EQ(host_.started, 1);  // the button offers the stop
    EXPECT_EQ(unit_.starts, 0);
    EXPECT_TRUE(logged().empty());

    engine_.playStop();  // the user's stop, or the scheduler's
    EXPECT_FALSE(engine_.isWaitingToPlay());
    EXPECT_EQ(host_.stopped, 1);
    unit_.serverBack();  // its notice is posted before this returns
    host_.runPosted();
    EXPECT_FALSE(engine_.isPlaying());
    EXPECT_EQ(unit_.starts, 0);
    EXPECT_EQ(engine_.status(), PlaybackStatus::Stopped);

    // Started while away, it plays as soon as the server is back.
    unit_.loseServer();
    engine_.playStop();
    unit_.serverBack();
    ASSERT_TRUE(host_.pumpUntil([&] { return engine_.isPlaying(); }));
    engine_.playStop();
    ASSERT_TRUE(host_.pumpUntilStopped(2));
}

TEST_F(PlaybackEngineTest, stopWhileTheStreamAsksForNothing_endsWithoutItsBuffer) {
    engine_.playStop();
    waitForFrames(5000);
    unit_.stall();
    engine_.playStop();
    ASSERT_TRUE(host_.pumpUntilStopped(1));
    engine_.waitForWaitThreads();
    EXPECT_FALSE(engine_.isPlaying());
    EXPECT_FALSE(engine_.isWaitingToPlay());
    EXPECT_EQ(runLength(), 0.0);  // no buffer took the stop up
    EXPECT_EQ(unit_.stops, 1);
    EXPECT_TRUE(engine_.renderLock.try_lock());
    engine_.renderLock.unlock();
}

// Time in the engine is its clock's alone, a steady one the test holds here. A sleep fade planned
// before the start ends where that clock says; after a stop the playback ends once the clock has
// passed the end, not before, whatever any other clock does meanwhile (a wall clock stepped back
// would otherwise keep it "playing" silence).
TEST(PlaybackEngineClockTest, fadeAndEndFollowTheEnginesClock) {
    FakeOutputUnit unit({441});
    TestHost host;
    Preferences preferences;
    RandomSource random(kSeed);
    Renderer renderer(preferences, random);
    std::atomic<double> now{5000.0};
    std::atomic<int> reads{0};
    PlaybackEngine engine(renderer, unit, host, [&] {
        reads.fetch_add(1);
        return now.load();
    });
    engine.openAudioOutput();
    engine.setSleepFade(0.6, 0.4);
    now = 5000.1;
    engine.playStop();
    EXPECT_EQ(engine.sleepFade(), (SleepFade{22050, 17640}));

    ASSERT_TRUE(testing::eventually([&] { return unit.renderedFrames.load() > 5000; }, 20s));
    engine.playStop();
    const RenderRun& run = *engine.rendering();
    ASSERT_TRUE(testing::eventually([&] { return run.runLength.load() != 0.0; }, 20s));
    const double end = run.runLength.load();
    ASSERT_TRUE(
        testing::eventually([&] { return unit.renderedFrames.load() > end * 44100 + 4410; }, 20s));
    // Silence is all that is left, but on the engine's clock the end has not come: the wait
    // thread looks at that clock again, twice at least, and the playback goes on.
    const int seen = reads.load();
    ASSERT_TRUE(testing::eventually([&] { return reads.load() >= seen + 3; }, 20s));
    EXPECT_TRUE(engine.isPlaying());
    EXPECT_EQ(host.stopped, 0);
    now = 5000.1 + end + 0.05;
    ASSERT_TRUE(host.pumpUntilStopped(1));
    engine.waitForWaitThreads();
    EXPECT_FALSE(engine.isPlaying());
}

TEST(PlaybackEngineOpenTest, eachFailingStepLogsItsLineOnce) {
    const std::pair<OutputUnit::OpenStep, const char*> cases[] = {
        {OutputUnit::OpenStep::Find, "FindNextComponent failed."},
        {OutputUnit::OpenStep::Open, "OpenAComponent failed: 6"},
        {OutputUnit::OpenStep::Initialize, "AudioUnitInitialize failed: 6"},
        {OutputUnit::OpenStep::SetRenderCallback,
         "AudioUnitSetProperty( SetRenderCallback ) failed: 6"},
        {OutputUnit::OpenStep::SetStreamFormat, "AudioUnitSetProperty( StreamFormat ): 6"},
    };
    for (const auto& [step, line] : cases) {
        FakeOutputUnit unit({512});
        unit.openStatus = 6;
        unit.openStep = step;
        TestHost host;
        Preferences preferences;
        Renderer renderer(preferences);
        PlaybackEngine engine(renderer, unit, host);
        std::vector<std::string> logged;
        engine.log = [&logged](const std::string& text) { logged.push_back(text); };
        engine.openAudioOutput();
        engine.openAudioOutput();  // opened once, never again
        EXPECT_EQ(unit.opens, 1);
        EXPECT_FALSE(engine.isOutputOpen());
        EXPECT_EQ(logged, std::vector<std::string>{line});
    }
}

TEST(PlaybackEngineLifetimeTest, destroyedWhilePlaying_fadesOutAndLeavesNoThread) {
    FakeOutputUnit unit({700, 300});
    TestHost host;
    Preferences preferences;
    RandomSource random(kSeed);
    Renderer renderer(preferences, random);
    {
        PlaybackEngine engine(renderer, unit, host);
        engine.openAudioOutput();
        engine.playStop();
        ASSERT_TRUE(testing::eventually([&] { return unit.renderedFrames.load() >= 4000; }, 20s));
    }
    // The engine is gone; its wait thread ended the playback first, after the fade-out: a
    // request was cut at the end the stop set, and nothing sounded after it.
    EXPECT_EQ(unit.stops, 1);
    const FakeOutputUnit::Playback& played = unit.playbacks.at(0);
    EXPECT_GT(played.left.size(), 4000u);
    size_t cut = 0;
    while (cut < played.requests.size() &&
           played.requests[cut].played == played.requests[cut].frames) {
        ++cut;
    }
    ASSERT_LT(cut, played.requests.size());
    for (size_t i = cut + 1; i < played.requests.size(); ++i) {
        EXPECT_EQ(played.requests[i].played, 0u);
    }
    ASSERT_TRUE(host.pumpUntilStopped(1));  // the posted title update outlives the engine safely
}

}  // namespace
}  // namespace brinesong
