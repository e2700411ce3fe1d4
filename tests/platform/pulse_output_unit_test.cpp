// SPDX-License-Identifier: GPL-3.0-or-later
// The output unit against the private sound server the test script starts: what the write
// callback calls, changes while the sound plays as the sink's monitor records them, the stream's
// buffer sizes and a refused write, and a server that cannot be reached.
//
// This program replaces malloc and friends, the pthread lock calls and the I/O calls with versions
// that count the calls made on a thread that is inside the unit's writer (its write callback or a
// rewrite), then forward to the C library. The program exports them (ENABLE_EXPORTS), so libpulse's
// calls reach them too. The one call the callback may make is libpulse's own one-byte write to its
// mainloop's wake-up pipe, which pa_stream_write makes to have the queued sound sent; it never
// blocks.
#include <dlfcn.h>
#include <poll.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "audio/PlaybackEngine.h"
#include "platform/PulseOutputUnit.h"
#include "platform/PulseStreamWriter.h"
#include "support/Eventually.h"
#include "support/MonitorRecorder.h"
#include "support/ServerTools.h"
#include "tests/audio/TestPlaybackHost.h"

#include <pulse/def.h>
#include <pulse/stream.h>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* __libc_memalign(size_t, size_t);
}

namespace {

constexpr int kMaxNames = 16;
std::atomic<int> forbiddenCalls{0};
std::atomic<const char*> forbiddenNames[kMaxNames];
std::atomic<int> wakeups{0};
std::atomic<bool> refuseAWrite{false};  // see pa_stream_write below

void noteCall(const char* name) {
    if (brinesong::PulseStreamWriter::insideWriteCallback()) {
        const int n = forbiddenCalls.fetch_add(1);
        if (n < kMaxNames) {
            forbiddenNames[n].store(name);
        }
    }
}

template <typename Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// Forwards to the C library's function of the same name, resolved once.
#define FORWARD(name, type, ...)                \
    noteCall(#name);                            \
    static const auto real = next<type>(#name); \
    return real(__VA_ARGS__)

}  // namespace

extern "C" {

void* malloc(size_t size) {
    noteCall("malloc");
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    noteCall("calloc");
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) {
    noteCall("realloc");
    return __libc_realloc(pointer, size);
}
void free(void* pointer) {
    if (pointer != nullptr) {
        noteCall("free");
    }
    __libc_free(pointer);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    noteCall("posix_memalign");
    *out = __libc_memalign(alignment, size);
    return *out != nullptr ? 0 : ENOMEM;
}

int pthread_mutex_lock(pthread_mutex_t* m) {
    FORWARD(pthread_mutex_lock, int (*)(pthread_mutex_t*), m);
}
int pthread_mutex_trylock(pthread_mutex_t* m) {
    FORWARD(pthread_mutex_trylock, int (*)(pthread_mutex_t*), m);
}
int pthread_cond_wait(pthread_cond_t* c, pthread_mutex_t* m) {
    FORWARD(pthread_cond_wait, int (*)(pthread_cond_t*, pthread_mutex_t*), c, m);
}
int pthread_cond_signal(pthread_cond_t* c) {
    FORWARD(pthread_cond_signal, int (*)(pthread_cond_t*), c);
}
int pthread_cond_broadcast(pthread_cond_t* c) {
    FORWARD(pthread_cond_broadcast, int (*)(pthread_cond_t*), c);
}
int sem_post(sem_t* s) {
    FORWARD(sem_post, int (*)(sem_t*), s);
}
int sem_wait(sem_t* s) {
    FORWARD(sem_wait, int (*)(sem_t*), s);
}

ssize_t write(int fd, const void* data, size_t size) {
    static const auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
    if (size == 1 && brinesong::PulseStreamWriter::insideWriteCallback()) {
        wakeups.fetch_add(1);
        return real(fd, data, size);
    }
    noteCall("write");
    return real(fd, data, size);
}
ssize_t read(int fd, void* data, size_t size) {
    FORWARD(read, ssize_t(*)(int, void*, size_t), fd, data, size);
}
ssize_t writev(int fd, const struct iovec* v, int n) {
    FORWARD(writev, ssize_t(*)(int, const struct iovec*, int), fd, v, n);
}
ssize_t readv(int fd, const struct iovec* v, int n) {
    FORWARD(readv, ssize_t(*)(int, const struct iovec*, int), fd, v, n);
}
ssize_t send(int fd, const void* data, size_t size, int flags) {
    FORWARD(send, ssize_t(*)(int, const void*, size_t, int), fd, data, size, flags);
}
ssize_t sendmsg(int fd, const struct msghdr* message, int flags) {
    FORWARD(sendmsg, ssize_t(*)(int, const struct msghdr*, int), fd, message, flags);
}
ssize_t recvmsg(int fd, struct msghdr* message, int flags) {
    FORWARD(recvmsg, ssize_t(*)(int, struct msghdr*, int), fd, message, flags);
}
ssize_t recv(int fd, void* data, size_t size, int flags) {
    FORWARD(recv, ssize_t(*)(int, void*, size_t, int), fd, data, size, flags);
}
int poll(struct pollfd* fds, nfds_t n, int timeout) {
    FORWARD(poll, int (*)(struct pollfd*, nfds_t, int), fds, n, timeout);
}
int ppoll(struct pollfd* fds, nfds_t n, const struct timespec* timeout, const sigset_t* mask) {
    FORWARD(ppoll, int (*)(struct pollfd*, nfds_t, const struct timespec*, const sigset_t*), fds, n,
            timeout, mask);
}

// No server refuses a write on request: libpulse refuses one that is malformed or made on a stream
// not ready, which the program never makes. So the writer's writes are refused here, as it does.
int pa_stream_write(pa_stream* stream, const void* data, size_t bytes, pa_free_cb_t free,
                    int64_t offset, pa_seek_mode_t seek) {
    static const auto real = next<decltype(&pa_stream_write)>("pa_stream_write");
    if (brinesong::PulseStreamWriter::insideWriteCallback() && refuseAWrite.exchange(false)) {
        return -PA_ERR_BADSTATE;
    }
    return real(stream, data, bytes, free, offset, seek);
}

}  // extern "C"

namespace brinesong {
namespace {

using namespace std::chrono_literals;

TEST(PulseOutputUnitTest, writeCallback_allocatesNothingLocksNothingAndOnlyWakesItsLoop) {
    REQUIRE_SERVER();
    Preferences preferences;
    RandomSource random(7);
    Renderer renderer(preferences, random);
    PulseConnection connection;
    PulseOutputUnit unit(connection);
    TestHost host;
    PlaybackEngine engine(renderer, unit, host);
    // The live path as the window has it: the picture's tap, read meanwhile, a sleep fade under
    // way and a volume that glides to a new one.
    RenderTap tap;
    engine.setRenderTap(&tap);
    engine.openAudioOutput();
    ASSERT_TRUE(engine.isOutputOpen()) << unit.failureText();
    ASSERT_TRUE(connection.start());
    ASSERT_TRUE(unit.waitUntilReady(10s)) << unit.failureText();

    // The first fill queues a second; three refills at the least come after it.
    constexpr uint32_t kFramesPerPlayback =
        PulseOutputUnit::kTargetFrames + 3 * PulseOutputUnit::kRequestFrames;
    TapRecord records[64];
    uint64_t tappedFrames = 0;
    const auto readTap = [&] {
        uint64_t frames = 0;
        for (size_t n; (n = tap.read(records, 64)) > 0;) {
            for (size_t i = 0; i < n; ++i) {
                frames += records[i].frames;
            }
        }
        return frames;
    };
    // From the very first playback nothing may be allocated: the stream readied libpulse's free
    // lists when it was made.
    forbiddenCalls = 0;
    wakeups = 0;
    uint64_t frames = 0;
    for (int playback = 1; playback <= 2; ++playback) {
        engine.setSleepFade(0.5, 0.4);
        engine.playStop();
        ASSERT_TRUE(engine.isPlaying());
        ASSERT_TRUE(engine.sleepFade().active());
        renderer.setVolume(playback == 1 ? 0.2 : 0.5);
        engine.soundChanged();
        // What a change made now is still in front of: the queue the server granted.
        EXPECT_EQ(unit.framesAhead(),
                  unit.bufferSizes().targetBytes / PulseOutputUnit::kBytesPerFrame);
        // The picture's reader takes the tap's records meanwhile.
        ASSERT_TRUE(testing::eventually(
            [&] {
                tappedFrames += readTap();
                return engine.rendering()->frameCount.load() >= kFramesPerPlayback;
            },
            30s));
        engine.playStop();
        ASSERT_TRUE(host.pumpUntilStopped(playback));
        frames += engine.rendering()->frameCount.load();
    }
    tappedFrames += readTap();
    engine.closeAudioOutput();
    connection.close();

    // Two playbacks went through the callback, in buffers of 10 ms or more, and the picture's
    // reader got their records.
    EXPECT_GE(frames, 2 * kFramesPerPlayback);
    // Every buffer rendered publishes its record, those of the queue ahead of the sink too: at
    // least what each playback rendered before its stop request.
    EXPECT_GE(tappedFrames, 2 * kFramesPerPlayback);
    std::string names;
    for (int i = 0; i < std::min(forbiddenCalls.load(), kMaxNames); ++i) {
        names += std::string(" ") + forbiddenNames[i].load();
    }
    EXPECT_EQ(forbiddenCalls.load(), 0) << "inside the write callback:" << names;
    // At most one wake-up per buffer handed over.
    EXPECT_GT(wakeups.load(), 0);
    EXPECT_LE(wakeups.load(), static_cast<int>(frames / PulseOutputUnit::kRequestFrames) + 10);
    // Underruns depend on how busy the machine is: bench/play_cpu.sh reports them.
}

// The live sound as the renderer gives it, in the stream's requests of 441 frames, with the
// points each request began at, so that it can be rendered again from any of them.
class LiveReference {
public:
    // The settings' defaults but for the amplitude generator, at full volume.
    LiveReference(uint32_t seed, bool glide) : random(seed), glide_(glide) {
        preferences.setAmplitudeGenerator(false);
        renderer.volume = 1.0;
    }

    // Renders requests until frame `frame` is rendered, or the one whose first frame it is.
    void renderTo(size_t frame, bool glide) {
        constexpr uint32_t kStep = PulseStreamWriter::kStepFrames;
        int16_t l[kStep], r[kStep];
        while (left.size() < frame) {
            points_.emplace_back();
            run_.saveCheckpoint(points_.back());
            AudioBufferList list{2, {{1, 2 * kStep, l}, {1, 2 * kStep, r}}};
            RendererData request{nullptr, nullptr, 0, kStep, &list};
            run_.renderWave(&request, LiveRendering{SleepFade{}, nullptr, glide});
            left.insert(left.end(), l, l + kStep);
            right.insert(right.end(), r, r + kStep);
        }
    }
    void renderTo(size_t frame) { renderTo(frame, glide_); }
    // Back to the start of the request at `frame`, a multiple of 441.
    void rewindTo(size_t frame) {
        const size_t n = frame / PulseStreamWriter::kStepFrames;
        run_.restoreCheckpoint(points_.at(n));
        points_.resize(n);
        left.resize(frame);
        right.resize(frame);
    }

    Preferences preferences;
    RandomSource random;
    Renderer renderer{preferences, random};
    std::vector<int16_t> left, right;

private:
    bool glide_;
    RenderRun run_{renderer, Renderer::kLiveFade};
    std::vector<RenderCheckpoint> points_;
};

// Sum of squared differences between the recording from `offset` on and the reference, over
// the reference's frames [begin, end).
double difference(const testing::Recording& r, size_t offset, const LiveReference& reference,
                  size_t begin, size_t end) {
    double sum = 0;
    for (size_t f = begin; f < end && offset + f < r.frames(); ++f) {
        const double dl = r.left[offset + f] - reference.left[f];
        const double dr = r.right[offset + f] - reference.right[f];
        sum += dl * dl + dr * dr;
    }
    return sum;
}

// Loudness of the 2.5 ms window (110 frames) from `begin`: both channels' root mean square.
template <typename Sample>
double windowLevel(const std::vector<Sample>& left, const std::vector<Sample>& right,
                   size_t begin) {
    double sum = 0;
    for (size_t i = begin; i < begin + 110; ++i) {
        sum += double(left[i]) * left[i] + double(right[i]) * right[i];
    }
    return std::sqrt(sum / 220);
}

// A change made while the sound plays.
struct SoundChange {
    const char* what;
    // Sets the settings as they were before the change, or after it.
    std::function<void(Preferences&, Renderer&, bool made)> set;
    double levelBefore;  // relative to the level after
    size_t recordedAt = 0;
    size_t frame = 0;  // the sound's frame where it began
};

// Plays the sound from `seed` on the private server's sink with the settings of LiveReference,
// makes the changes 1.5 s apart, and returns what the sink's monitor recorded.
testing::Recording playWithChanges(uint32_t seed, std::vector<SoundChange>& changes) {
    constexpr size_t kRate = 44100;
    testing::ScratchDir dir("brinesong-glide");
    testing::MonitorRecorder recorder("brinesong_test", dir.file("monitor.wav"));
    Preferences preferences;
    preferences.setAmplitudeGenerator(false);
    RandomSource random(seed);
    Renderer renderer(preferences, random);
    renderer.volume = 1.0;
    PulseConnection connection;
    PulseOutputUnit unit(connection);
    TestHost host;
    PlaybackEngine engine(renderer, unit, host);
    engine.openAudioOutput();
    EXPECT_TRUE(engine.isOutputOpen()) << unit.failureText();
    EXPECT_TRUE(connection.start());
    EXPECT_TRUE(unit.waitUntilReady(10s)) << unit.failureText();
    EXPECT_TRUE(recorder.waitForMoreFrames(kRate / 10));
    engine.playStop();
    EXPECT_TRUE(recorder.waitForMoreFrames(kRate * 3 / 2));
    for (SoundChange& change : changes) {
        // Every frame recorded so far was heard before the change.
        change.recordedAt = recorder.recordedFrames();
        change.set(preferences, renderer, true);
        engine.soundChanged();
        EXPECT_TRUE(recorder.waitForMoreFrames(kRate * 3 / 2));
    }
    engine.playStop();
    EXPECT_TRUE(host.pumpUntilStopped(1));
    EXPECT_EQ(recorder.stop(), 0);
    // Each change, and the stop, had the queue ahead of the sink rendered again.
    EXPECT_GE(unit.rewrites(), changes.size() + 1);
    engine.closeAudioOutput();
    connection.close();
    return recorder.read();
}

// Exact silence in both channels for 64 frames or more between the first and the last sounding
// frame: neither steady sound nor a change holds one.
bool droppedOut(const testing::Recording& r) {
    const auto sounds = [&](size_t f) { return r.left[f] != 0 || r.right[f] != 0; };
    size_t first = 0, last = r.frames();
    while (first < last && !sounds(first)) {
        ++first;
    }
    while (last > first && !sounds(last - 1)) {
        --last;
    }
    for (size_t f = first, silent = 0; f < last; ++f) {
        silent = sounds(f) ? 0 : silent + 1;
        if (silent == 64) {
            return true;
        }
    }
    return false;
}

// A change while the sound plays, on the sink's monitor. Steady sound moves its loudness from one
// 2.5 ms window to the next by itself (the brown rumble and the slow rows of the pink noise): in
// this recording between about 0.4 and 2.6 times. A change must move it no more than that, where
// a jump moves it by the whole change between two samples (a tenth, or ten times). The change's
// own part is found by dividing out the sound it changes: the renderer with the same seed, which
// the recording is frame for frame, gives it with the change made as a jump at the frame the
// change began, scaled back to the level before. Each change begins at the first frame of a render
// request (the queue is rendered again from there), found as the one whose sound the recording is.
TEST(PulseOutputUnitTest, changesWhilePlaying_glide_movingTheLoudnessNoMoreThanSteadySoundDoes) {
    REQUIRE_SERVER();
    constexpr size_t kRate = 44100;
    constexpr size_t kStep = PulseStreamWriter::kStepFrames;
    constexpr size_t kWindow = 110;
    constexpr uint32_t kSeed = 23;
    // The amplitude generator's envelope, switched on, rests at 0.1 until a wave comes, seconds
    // later.
    std::vector<SoundChange> changes{
        {"volume 100 % to 10 %",
         [](Preferences&, Renderer& r, bool made) { r.volume = made ? 0.1 : 1.0; }, 10.0},
        {"volume 10 % to 100 %",
         [](Preferences&, Renderer& r, bool made) { r.volume = made ? 1.0 : 0.1; }, 0.1},
        {"amplitude generator on",
         [](Preferences& p, Renderer&, bool made) { p.setAmplitudeGenerator(made); }, 10.0},
    };
    // PipeWire's graph, without real-time priority as here, now and then misses a period and the
    // sink plays silence in the stream's place. Such a recording cannot judge the program: on that
    // server it is made again, twice at most.
    testing::Recording rec = playWithChanges(kSeed, changes);
    for (int attempt = 2; attempt <= 3 && testing::resampledServer() && droppedOut(rec);
         ++attempt) {
        std::printf("the server dropped frames of the sound; recording again\n");
        rec = playWithChanges(kSeed, changes);
    }
    const size_t last = changes.back().recordedAt + kRate;
    ASSERT_GE(rec.frames(), last);

    // Where the sound's frame 0 lies in the recording.
    LiveReference reference(kSeed, true);
    reference.renderTo(kRate);
    size_t first = 0;
    while (first < rec.frames() && rec.left[first] == 0 && rec.right[first] == 0) {
        ++first;
    }
    ASSERT_GT(first, 30u);
    size_t offset = 0;
    double best = INFINITY;
    for (size_t candidate = first - 30; candidate <= first + 30; ++candidate) {
        const double d = difference(rec, candidate, reference, 0, kRate);
        if (d < best) {
            best = d;
            offset = candidate;
        }
    }
    // Each change where the recording follows it.
    for (SoundChange& change : changes) {
        const size_t from = (change.recordedAt - offset) / kStep * kStep;
        const size_t to = from + kRate / 2;
        best = INFINITY;
        reference.renderTo(to + kStep);
        for (size_t frame = from; frame <= to; frame += kStep) {
            reference.rewindTo(frame);
            change.set(reference.preferences, reference.renderer, true);
            reference.renderTo(to + kRate / 10);
            const double d = difference(rec, offset, reference, from, to + kRate / 10);
            if (d < best) {
                best = d;
                change.frame = frame;
            }
            // Back to the sound before the change for the next candidate.
            reference.rewindTo(from);
            change.set(reference.preferences, reference.renderer, false);
            reference.renderTo(to + kStep);
        }
        reference.rewindTo(change.frame);
        change.set(reference.preferences, reference.renderer, true);
        reference.renderTo(kRate * 3 / 2 + change.frame);
    }
    reference.renderTo(last - offset);
    if (!testing::resampledServer()) {
        // PulseAudio passes a lone stream to the sink unchanged: the recording is the renderer's
        // sound with each change gliding from its frame.
        EXPECT_EQ(difference(rec, offset, reference, 0, last - offset), 0.0);
    }

    // Steady sound: every window but those of a change.
    const auto inChange = [&](size_t frame) {
        for (const SoundChange& change : changes) {
            if (frame + 2 * kWindow > change.frame && frame < change.frame + kRate / 5) {
                return true;
            }
        }
        return false;
    };
    double steadyLow = INFINITY, steadyHigh = 0;
    for (size_t w = kRate / 10; w + kWindow < last - offset; w += kWindow) {
        if (!inChange(w)) {
            const double ratio = windowLevel(rec.left, rec.right, offset + w + kWindow) /
                                 windowLevel(rec.left, rec.right, offset + w);
            steadyLow = std::min(steadyLow, ratio);
            steadyHigh = std::max(steadyHigh, ratio);
        }
    }
    std::printf("steady sound: from one 2.5 ms window to the next, %.3f to %.3f\n", steadyLow,
                steadyHigh);

    // Latest first, as going back to a change's frame renders the sound after it again.
    for (size_t k = changes.size(); k-- > 0;) {
        const SoundChange& change = changes[k];
        // The sound as the change found it, with the draws the change gives it: the change made as
        // a jump at its frame, without a glide, and scaled back to the level before from there.
        reference.rewindTo(change.frame);
        for (size_t j = 0; j < changes.size(); ++j) {
            changes[j].set(reference.preferences, reference.renderer, j <= k);
        }
        const size_t end = change.frame + Glide::kFrames + 4 * kWindow;
        reference.renderTo(end, false);
        std::vector<double> left(end), right(end);
        for (size_t f = 0; f < end; ++f) {
            const double scale = f >= change.frame ? change.levelBefore : 1.0;
            left[f] = reference.left[f] * scale;
            right[f] = reference.right[f] * scale;
        }
        // The change's part of each window's loudness, and its steps from one to the next.
        double low = INFINITY, high = 0, heardLow = INFINITY, heardHigh = 0;
        size_t w = change.frame - 5 * kWindow;
        double heard = windowLevel(rec.left, rec.right, offset + w);
        double part = heard / windowLevel(left, right, w);
        for (w += kWindow; w + kWindow <= end; w += kWindow) {
            const double heardNow = windowLevel(rec.left, rec.right, offset + w);
            const double partNow = heardNow / windowLevel(left, right, w);
            low = std::min(low, partNow / part);
            high = std::max(high, partNow / part);
            heardLow = std::min(heardLow, heardNow / heard);
            heardHigh = std::max(heardHigh, heardNow / heard);
            part = partNow;
            heard = heardNow;
        }
        std::printf("%s at frame %zu: the change's own steps %.3f to %.3f, heard %.3f to %.3f\n",
                    change.what, change.frame, low, high, heardLow, heardHigh);
        EXPECT_GE(low, steadyLow) << change.what;
        EXPECT_LE(high, steadyHigh) << change.what;
        // And it was made whole: the level after is the new one.
        EXPECT_NEAR(part * change.levelBefore, 1.0, 0.05) << change.what;
    }
}

void noRender(void*, RendererData*) {}
uint64_t noRewind(void*, uint64_t) {
    return OutputUnit::kCannotRewind;
}
void noNotice(void*, OutputUnit::Notice) {}

TEST(PulseOutputUnitTest, stream_hasTheAskedBufferSizes_aRefusedWriteIsSaidAndItIsMadeAnew) {
    REQUIRE_SERVER();
    PulseConnection connection;
    PulseOutputUnit unit(connection);
    ASSERT_EQ(unit.open(noRender, noRewind, noNotice, nullptr), 0);
    ASSERT_TRUE(connection.start());
    ASSERT_TRUE(unit.waitUntilReady(10s)) << unit.failureText();
    EXPECT_NE(unit.streamIndex(), OutputRouting::kNoStream);
    const PulseOutputUnit::BufferSizes sizes = unit.bufferSizes();
    EXPECT_EQ(sizes.requestBytes, PulseOutputUnit::kRequestFrames * 4);
    EXPECT_GT(sizes.targetBytes, 0u);
    EXPECT_LE(sizes.targetBytes, PulseOutputUnit::kTargetFrames * 4);

    EXPECT_EQ(unit.framesAhead(), 0u);  // nothing plays

    const uint32_t refusing = unit.streamIndex();
    ::testing::internal::CaptureStderr();
    refuseAWrite = true;
    EXPECT_EQ(unit.start(), 0);
    EXPECT_TRUE(testing::eventually([&] {
        return unit.availability() == OutputUnit::Availability::Ready &&
               unit.streamIndex() != refusing && unit.streamIndex() != OutputRouting::kNoStream;
    }));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "brinesong: pa_stream_write failed: Bad state\n");
    EXPECT_EQ(unit.close(), 0);
    EXPECT_EQ(unit.streamIndex(), OutputRouting::kNoStream);
}

TEST(PulseOutputUnitTest, unreachableServer_waitsForItAndSaysWhy) {
    const char* saved = std::getenv("PULSE_SERVER");
    const std::string previous = saved != nullptr ? saved : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/brinesong/native", 1);
    {
        PulseConnection connection;
        PulseOutputUnit unit(connection);
        std::atomic<int> notices{0};
        ASSERT_EQ(unit.open(
                      noRender, noRewind,
                      [](void* counter, OutputUnit::Notice) {
                          static_cast<std::atomic<int>*>(counter)->fetch_add(1);
                      },
                      &notices),
                  0);
        EXPECT_EQ(unit.availability(), OutputUnit::Availability::Connecting);
        ASSERT_TRUE(connection.start());
        EXPECT_FALSE(connection.waitUntilSettled(10s));
        EXPECT_EQ(unit.availability(), OutputUnit::Availability::NoServer);
        EXPECT_EQ(unit.failureText(), "Connection refused");
        EXPECT_GE(notices.load(), 1);
        EXPECT_NE(unit.start(), 0);
        EXPECT_EQ(unit.stop(), 0);  // nothing plays
        EXPECT_EQ(unit.close(), 0);
    }
    if (saved != nullptr) {
        setenv("PULSE_SERVER", previous.c_str(), 1);
    } else {
        unsetenv("PULSE_SERVER");
    }
}

}  // namespace
}  // namespace brinesong
