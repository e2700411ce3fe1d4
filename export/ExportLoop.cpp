// SPDX-License-Identifier: GPL-3.0-or-later
#include "ExportLoop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "synth/ParallelRenderer.h"

namespace brinesong {

namespace {

constexpr uint32_t kLoopCrossfadeFrames = 10 * 44100;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// Hands one block at a time to the encoder on a thread of its own, so that the next block can
// render meanwhile: the export then takes about as long as the slower of the two, not their sum.
// Where no thread can be started it encodes on the caller's thread instead.
class BlockWriter {
public:
    explicit BlockWriter(BlockEncoder& encoder) : encoder_(encoder) {
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            // Encoding inline is slower but just as correct.
        }
    }

    ~BlockWriter() {
        if (thread_.joinable()) {
            {
                std::lock_guard lock(mutex_);
                quit_ = true;
            }
            wake_.notify_all();
            thread_.join();
        }
    }

    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;

    // Starts encoding `frames` frames of the two channel buffers, which must stay untouched until
    // `finish` has returned.
    void submit(const int16_t* left, const int16_t* right, uint32_t frames) {
        if (!thread_.joinable()) {
            write(left, right, frames);
            return;
        }
        {
            std::lock_guard lock(mutex_);
            left_ = left;
            right_ = right;
            frames_ = frames;
            pending_ = true;
        }
        wake_.notify_all();
    }

    // Waits for the block submitted last; true when the encoder took all of it, else errno is set.
    bool finish() {
        if (thread_.joinable()) {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return !pending_; });
        }
        if (!written_) {
            errno = error_;
        }
        return written_;
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return pending_ || quit_; });
            if (quit_) {
                return;
            }
            lock.unlock();
            write(left_, right_, frames_);
            lock.lock();
            pending_ = false;
            wake_.notify_all();
        }
    }

    void write(const int16_t* left, const int16_t* right, uint32_t frames) {
        errno = 0;
        written_ = encoder_.encode(left, right, frames);
        error_ = written_ ? 0 : (errno ? errno : EIO);
    }

    BlockEncoder& encoder_;
    std::mutex mutex_;
    std::condition_variable wake_;
    const int16_t* left_ = nullptr;
    const int16_t* right_ = nullptr;
    uint32_t frames_ = 0;
    bool pending_ = false;
    bool quit_ = false;
    bool written_ = true;
    int error_ = 0;
    std::thread thread_;  // last: started once everything it reads is in place
};

// Equal-power cross-fade of `frames` samples of `ending` (the sound going on past the file's end)
// into `leading` (the sound just before the file's start), from sample `from` of the fade on. The
// two are independent noises, so sine and cosine weights keep the level steady throughout; the
// fade's last sample is the leading sound's, which the file's first frame continues.
void crossfade(int16_t* ending, const int16_t* leading, uint32_t from, uint32_t frames,
               uint32_t fadeFrames) {
    for (uint32_t k = 0; k < frames; ++k) {
        const double u = static_cast<double>(from + k + 1) / fadeFrames;
        const double mixed = ending[k] * std::cos(u * M_PI_2) + leading[k] * std::sin(u * M_PI_2);
        const long rounded = std::lround(mixed);
        ending[k] = static_cast<int16_t>(rounded > 32767    ? 32767
                                         : rounded < -32767 ? -32767
                                                            : rounded);
    }
}

}  // namespace

ExportAbort::ExportAbort() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ExportAbort::~ExportAbort() {
    if (wake_ >= 0) {
        ::close(wake_);
    }
}

void ExportAbort::request() noexcept {
    const int saved = errno;
    requested_.store(true, std::memory_order_relaxed);
    if (wake_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
    }
    errno = saved;
}

void ExportAbort::reset() noexcept {
    requested_.store(false, std::memory_order_relaxed);
    uint64_t count = 0;
    while (wake_ >= 0 && ::read(wake_, &count, sizeof count) > 0) {
    }
}

uint32_t exportFrameCount(float length) {
    const double frames = std::trunc(static_cast<double>(length) * 44100.0);
    if (!(frames > 0.0)) {
        return 0;
    }
    if (frames >= 4294967295.0) {
        return 0xFFFFFFFFu;
    }
    return static_cast<uint32_t>(frames);
}

uint32_t loopCrossfadeFrames(uint32_t frames) {
    return frames / 2 < kLoopCrossfadeFrames ? frames / 2 : kLoopCrossfadeFrames;
}

bool runExportLoop(Renderer& renderer, float length, BlockEncoder& encoder,
                   const ExportHooks& hooks, const ExportOptions& options) {
    const uint32_t total = exportFrameCount(length);
    if (total > encoder.maxFrames()) {
        errno = EFBIG;
        return false;
    }
    const uint32_t lead = options.loop ? loopCrossfadeFrames(total) : 0;

    // This export's own sound: nothing a playback or an earlier export left (a stop request no
    // buffer took up, an end time, a frame count) reaches it. A loop neither begins nor ends: the
    // stream runs on at full level, and the file is cut from it past the sound that its end fades
    // into.
    RenderRun run(renderer, options.loop ? 0.0 : Renderer::kExportFade,
                  options.loop ? 0.0 : static_cast<double>(length));
    run.setNight(options.night);
    // The next sound's draws go on from where this one's ended, however it ends.
    struct HandBack {
        RenderRun& run;
        ~HandBack() { run.returnRandomSource(); }
    } handBack{run};

    // Working memory: sets of channel buffers (blocks render ahead while one is encoded), and for
    // a loop the sound before its start.
    constexpr size_t kBlock = kExportBlockFrames;
    constexpr uint32_t kSets = ParallelRenderer::kMaxPending;
    std::unique_ptr<int16_t, FreeDeleter> channels(
        static_cast<int16_t*>(std::malloc(2 * kSets * kBlock * sizeof(int16_t))));
    std::unique_ptr<int16_t, FreeDeleter> leading(
        lead ? static_cast<int16_t*>(std::malloc(2 * size_t{lead} * sizeof(int16_t))) : nullptr);
    if (!channels || (lead && !leading)) {
        errno = ENOMEM;
        return false;
    }

    if (!encoder.begin(total, run.sampleRate.load(std::memory_order_relaxed))) {
        return false;
    }

    // One request per block, each with its own buffer list: the renderer lowers the byte sizes
    // of a request whose end falls inside it.
    struct Request {
        AudioBufferList buffers;
        RendererData data;
    };
    Request requests[kSets];
    std::optional<ParallelRenderer> parallel;
    if (options.parallelChannels) {
        parallel.emplace(run);
    }
    uint64_t started = 0;
    // Starts (or, on one core, renders) the next block into buffer set `set`.
    const auto start = [&](uint32_t set, int16_t* left, int16_t* right, uint32_t frames) {
        Request& r = requests[set];
        r.buffers.mNumberBuffers = 2;
        r.buffers.mBuffers[0] = {1, static_cast<uint32_t>(kBlock * sizeof(int16_t)), left};
        r.buffers.mBuffers[1] = {1, static_cast<uint32_t>(kBlock * sizeof(int16_t)), right};
        r.data = RendererData{nullptr, nullptr, 0, frames, &r.buffers};
        if (parallel) {
            parallel->start(&r.data);
        } else {
            run.renderWave(&r.data);
        }
        return started++;
    };
    const auto finished = [&](uint64_t block) {
        if (parallel) {
            parallel->wait(block);
        }
    };
    const auto aborted = [&] { return hooks.abortSave && hooks.abortSave->requested(); };

    // A loop's cross-fade needs the sound before its first frame: rendered first, kept till the
    // end.
    int16_t* leadLeft = leading.get();
    int16_t* leadRight = leadLeft + lead;
    for (uint32_t done = 0; done < lead; done += kExportBlockFrames) {
        const uint32_t n = lead - done < kExportBlockFrames ? lead - done : kExportBlockFrames;
        finished(start(0, leadLeft + done, leadRight + done, n));
        if (aborted()) {
            return false;
        }
    }

    BlockWriter writer(encoder);
    int lastPercent = 0;
    // Each block's checks come once the encoder has taken it: a failure or an abort ends the
    // export, and progress is reported from the block's first frame, so it lags one block.
    const auto blockWritten = [&](uint32_t blockStart) {
        if (!writer.finish()) {
            return false;
        }
        if (aborted()) {
            return false;
        }
        const float fraction = static_cast<float>(blockStart) / static_cast<float>(total);
        const auto percent = static_cast<int>(static_cast<double>(fraction) * 100.0);
        if (percent != lastPercent) {
            lastPercent = percent;
            if (hooks.setProgress) {
                hooks.setProgress(percent);
            }
        }
        return true;
    };

    const uint32_t fadeStart = total - lead;
    const uint32_t blocks = static_cast<uint32_t>((uint64_t{total} + kBlock - 1) / kBlock);
    const auto blockFrames = [&](uint32_t block) {
        const uint32_t done = block * kExportBlockFrames;
        return total - done < kExportBlockFrames ? total - done : kExportBlockFrames;
    };
    const auto leftOf = [&](uint32_t block) {
        return channels.get() + 2 * (block % kSets) * kBlock;
    };
    // Blocks start as far ahead as the buffer sets allow: a set is free again once the encoder has
    // taken its block.
    const uint64_t firstStarted = started;
    uint32_t nextToStart = 0;
    const auto startAhead = [&](uint32_t written) {
        while (nextToStart < blocks && nextToStart < written + kSets) {
            int16_t* left = leftOf(nextToStart);
            start(nextToStart % kSets, left, left + kBlock, blockFrames(nextToStart));
            ++nextToStart;
        }
    };
    startAhead(0);
    for (uint32_t block = 0; block < blocks; ++block) {
        const uint32_t done = block * kExportBlockFrames;
        const uint32_t n = blockFrames(block);
        int16_t* left = leftOf(block);
        int16_t* right = left + kBlock;
        finished(firstStarted + block);
        // Past the end of the sound the renderer writes nothing: the file gets silence there,
        // never what the buffers held from an earlier block.
        const uint32_t sounded = requests[block % kSets].buffers.mBuffers[0].mDataByteSize / 2;
        if (sounded < n) {
            std::fill(left + sounded, left + n, int16_t{0});
            std::fill(right + sounded, right + n, int16_t{0});
        }
        if (done + n > fadeStart) {
            const uint32_t first = done > fadeStart ? done : fadeStart;
            const uint32_t from = first - fadeStart;
            crossfade(left + (first - done), leadLeft + from, from, done + n - first, lead);
            crossfade(right + (first - done), leadRight + from, from, done + n - first, lead);
        }
        if (block > 0 && !blockWritten(done - kExportBlockFrames)) {
            return false;
        }
        writer.submit(left, right, n);
        // The blocks before this one are taken: their sets can render the next blocks.
        startAhead(block);
    }
    if (blocks > 0 && !blockWritten((blocks - 1) * kExportBlockFrames)) {
        return false;
    }
    errno = 0;
    if (!encoder.end()) {
        if (errno == 0) {
            errno = EIO;
        }
        return false;
    }
    return true;
}

}  // namespace brinesong
