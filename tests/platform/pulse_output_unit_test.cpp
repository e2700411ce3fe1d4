// SPDX-License-Identifier: GPL-3.0-or-later
// The output unit against the private sound server the test script starts: what the write
// callback calls, moving the stream, and a server that cannot be reached.
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
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>

#include "audio/PlaybackEngine.h"
#include "platform/PulseOutputUnit.h"
#include "platform/PulseStreamWriter.h"
#include "support/Eventually.h"
#include "support/ServerTools.h"
#include "tests/audio/TestPlaybackHost.h"

#include <pulse/def.h>

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
    // The live path as the window has it: the picture's tap, read meanwhile, and a sleep fade
    // under way.
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

void noRender(void*, RendererData*) {}
uint64_t noRewind(void*, uint64_t) {
    return OutputUnit::kCannotRewind;
}
void noNotice(void*, OutputUnit::Notice) {}

TEST(PulseOutputUnitTest, stream_hasTheAskedBufferSizesAndMovesBetweenSinksByName) {
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
    EXPECT_EQ(unit.moveToSink("brinesong_test"), 0) << unit.failureText();
    EXPECT_EQ(unit.preferredDevice(), "brinesong_test");
    EXPECT_NE(unit.moveToSink("no_such_sink"), 0);
    EXPECT_EQ(unit.failureText(), "No such entity");
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
