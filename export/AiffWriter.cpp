#include "AiffWriter.h"

#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace brinesong {

namespace {

// Largest frame count whose FORM size (46 + 4 N) still fits in 32 bits.
constexpr uint32_t kMaxFrames = (0xFFFFFFFFu - 46u) / 4u;

void putBE32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

void putBE16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// Left and right samples of a frame, each byte-swapped to big-endian, in file order.
void interleaveBigEndian(const int16_t* left, const int16_t* right, uint32_t frames, uint8_t* out) {
    for (uint32_t i = 0; i < frames; ++i) {
        const auto l = static_cast<uint16_t>(left[i]);
        const auto r = static_cast<uint16_t>(right[i]);
        out[4 * i + 0] = static_cast<uint8_t>(l >> 8);
        out[4 * i + 1] = static_cast<uint8_t>(l);
        out[4 * i + 2] = static_cast<uint8_t>(r >> 8);
        out[4 * i + 3] = static_cast<uint8_t>(r);
    }
}

// Interleaves and writes one block at a time on a thread of its own, so that the next block can
// render meanwhile: the export then takes about as long as the slower of the two, not their sum.
// Where no thread can be started it writes on the caller's thread instead.
class BlockWriter {
public:
    BlockWriter(std::FILE* file, uint8_t* output) : file_(file), output_(output) {
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            // Writing inline is slower but just as correct.
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

    // Starts writing `frames` frames of the two channel buffers, which must stay untouched until
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

    // Waits for the block submitted last; true when all of it was written, else errno is set.
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
        interleaveBigEndian(left, right, frames, output_);
        errno = 0;
        written_ = std::fwrite(output_, 4, frames, file_) == frames;
        error_ = errno;
    }

    std::FILE* file_;
    uint8_t* output_;
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

}  // namespace

uint32_t aiffFrameCount(float length) {
    const double frames = std::trunc(static_cast<double>(length) * 44100.0);
    if (!(frames > 0.0)) {
        return 0;
    }
    if (frames >= 4294967295.0) {
        return 0xFFFFFFFFu;
    }
    return static_cast<uint32_t>(frames);
}

void dtox80(double value, uint8_t out[10]) {
    std::memset(out, 0, 10);
    uint16_t sign = std::signbit(value) ? 0x8000 : 0;
    if (value == 0.0) {
        putBE16(out, sign);
        return;
    }
    if (std::isnan(value)) {
        putBE16(out, 0x7FFF);
        out[2] = 0xC0;
        return;
    }
    if (std::isinf(value)) {
        putBE16(out, sign | 0x7FFF);
        out[2] = 0x80;
        return;
    }
    int exponent = 0;
    // frexp gives a fraction in [0.5, 1): the extended format keeps an explicit leading 1, so the
    // 64-bit mantissa is the fraction scaled by 2^64 and the exponent is one less.
    const double fraction = std::frexp(std::fabs(value), &exponent);
    const auto mantissa = static_cast<uint64_t>(std::ldexp(fraction, 64));
    putBE16(out, static_cast<uint16_t>(sign | (exponent - 1 + 16383)));
    putBE32(out + 2, static_cast<uint32_t>(mantissa >> 32));
    putBE32(out + 6, static_cast<uint32_t>(mantissa));
}

void buildAiffHeader(uint8_t header[kAiffHeaderBytes], uint32_t frames, int32_t sampleRate) {
    uint8_t* p = header;
    std::memcpy(p, "FORM", 4);
    putBE32(p + 4, 46u + 4u * frames);
    std::memcpy(p + 8, "AIFF", 4);
    p += 12;
    std::memcpy(p, "COMM", 4);
    putBE32(p + 4, 18);
    putBE16(p + 8, 2);
    putBE32(p + 10, frames);
    putBE16(p + 14, 16);
    dtox80(static_cast<double>(sampleRate), p + 16);
    p += 26;
    std::memcpy(p, "SSND", 4);
    putBE32(p + 4, 8u + 4u * frames);
    putBE32(p + 8, 0);
    putBE32(p + 12, 0);
}

bool writeAIFF(Renderer& renderer, std::FILE* file, float length, const ExportHooks& hooks) {
    const uint32_t total = aiffFrameCount(length);
    if (total > kMaxFrames) {
        errno = EFBIG;
        return false;
    }

    renderer.resetWaveFunctions();
    renderer.frameCount.store(0, std::memory_order_relaxed);
    renderer.runLength.store(static_cast<double>(length), std::memory_order_relaxed);
    renderer.sampleRate.store(Renderer::kSampleRate, std::memory_order_relaxed);
    renderer.fadeInOut.store(Renderer::kExportFade, std::memory_order_relaxed);

    // Working memory: two sets of channel buffers (one renders while the other is written), and
    // the interleaved output block.
    constexpr size_t kChannelBytes = kAiffBlockFrames * sizeof(int16_t);
    std::unique_ptr<int16_t, FreeDeleter> channels(
        static_cast<int16_t*>(std::malloc(4 * kChannelBytes)));
    std::unique_ptr<uint8_t, FreeDeleter> output(
        static_cast<uint8_t*>(std::malloc(kAiffBlockFrames * 4)));
    if (!channels || !output) {
        errno = ENOMEM;
        return false;
    }

    // The header goes out in its three chunks; a stream that cannot take them fails the first
    // block's write as well.
    uint8_t header[kAiffHeaderBytes];
    buildAiffHeader(header, total, renderer.sampleRate.load(std::memory_order_relaxed));
    std::fwrite(header, 12, 1, file);
    std::fwrite(header + 12, 26, 1, file);
    std::fwrite(header + 38, 16, 1, file);

    BlockWriter writer(file, output.get());
    int lastPercent = 0;
    // Each block's checks come once its write has ended: a short write or an abort ends the
    // export, and progress is reported from the block's first frame, so it lags one block.
    const auto blockWritten = [&](uint32_t blockStart) {
        if (!writer.finish()) {
            return false;
        }
        if (hooks.abortSave && hooks.abortSave->load(std::memory_order_relaxed)) {
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

    AudioBufferList buffers{};
    buffers.mNumberBuffers = 2;
    RendererData request{};
    request.ioData = &buffers;
    bool inFlight = false;
    uint32_t inFlightStart = 0;
    int set = 0;
    for (uint32_t done = 0; done < total; done += kAiffBlockFrames) {
        const uint32_t n = total - done < kAiffBlockFrames ? total - done : kAiffBlockFrames;
        int16_t* left = channels.get() + 2 * set * kAiffBlockFrames;
        int16_t* right = left + kAiffBlockFrames;
        buffers.mBuffers[0] = {1, static_cast<uint32_t>(kChannelBytes), left};
        buffers.mBuffers[1] = {1, static_cast<uint32_t>(kChannelBytes), right};
        request.inNumberFrames = n;
        renderer.renderWave(&request);
        if (inFlight && !blockWritten(inFlightStart)) {
            return false;
        }
        writer.submit(left, right, n);
        inFlight = true;
        inFlightStart = done;
        set = 1 - set;
    }
    return !inFlight || blockWritten(inFlightStart);
}

}  // namespace brinesong
