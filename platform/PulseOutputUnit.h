// The output unit over a PulseAudio playback stream: signed 16-bit native-endian stereo at 44,100
// frames per second, opened once, played to the server's default sink unless moved.
//
// Everything runs on a pa_threaded_mainloop. Its thread is the audio thread: it calls the render
// function whenever the server can take more sound. Every other call here takes the mainloop's lock
// and may come from any thread but the audio thread itself.
//
// Start and stop cork and uncork the one stream rather than connecting a new one each time, so a
// start costs one round trip and the stream keeps its place on the sink it was moved to. A stop
// first lets the server play out what is queued (the tail of the fade-out), then corks, so nothing
// of one playback is left over to sound at the start of the next.
//
// Buffer sizes: 45 ms queued ahead (the whole way to the sink's output), refilled in steps of
// 20 ms. A stop request becomes a fade-out at the next refill, and that refill is heard after what
// was still queued: the fade-out starts at most about 45 ms after the request and is silent 10 ms
// later. Smaller sizes would shorten that further but wake the audio thread more often: each
// wake-up costs far more than rendering 20 ms of sound (bench/play_cpu.sh prints the cost, and the
// underruns, which must stay at 0).
//
// How the steps of opening map onto the engine's log lines: creating the mainloop and the client
// context is the "find" step, connecting to the server the "open" step, creating the stream in our
// sample format "initialize", registering the callbacks "set render callback" and connecting the
// stream "set stream format".
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "audio/AudioHardware.h"
#include "audio/OutputUnit.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_operation;
struct pa_defer_event;
struct pa_mainloop_api;

namespace brinesong {

class PulseOutputUnit : public OutputUnit, public OutputRouting {
public:
    static constexpr uint32_t kChannels = 2;
    static constexpr uint32_t kBytesPerFrame = kChannels * sizeof(int16_t);
    static constexpr uint32_t kTargetFrames = 1985;    // 45 ms queued ahead of the sink
    static constexpr uint32_t kRequestFrames = 882;    // 20 ms: the smallest refill
    static constexpr uint32_t kMaxChunkFrames = 4096;  // frames rendered per render call

    // What the server granted.
    struct BufferSizes {
        uint32_t targetBytes = 0;
        uint32_t requestBytes = 0;
        uint32_t prebufferBytes = 0;
    };

    PulseOutputUnit();
    ~PulseOutputUnit() override;  // closes
    PulseOutputUnit(const PulseOutputUnit&) = delete;
    PulseOutputUnit& operator=(const PulseOutputUnit&) = delete;

    // Statuses are PulseAudio error codes (PA_ERR_*); 0 is success.
    int open(RenderFunction render, void* context) override;
    int start() override;  // blocks until the server has uncorked the stream
    int stop() override;   // blocks until what is queued has been played and the stream is corked
    int close() override;
    OpenStep failedOpenStep() const override { return failedStep_; }

    // The server's reason for the last failure, in its own words ("Connection refused").
    std::string errorText() const;

    // The stream's index on the server (a sink input), or UINT32_MAX when there is none; what a
    // move to another sink needs.
    uint32_t streamIndex() const override;
    // Moves the stream, playing or not, to the sink of that name.
    int moveToSink(const std::string& sinkName);

    // Times the sink ran out of sound while a playback was still producing it.
    uint64_t underruns() const { return underruns_.load(std::memory_order_relaxed); }
    BufferSizes bufferSizes() const;
    // Seconds between rendering a frame and hearing it, as the server reports it now; -1 when
    // unknown.
    double latencySeconds();

    // True on the audio thread while it is inside the stream's write callback (tests watch what
    // the callback calls).
    static bool insideWriteCallback();

private:
    struct OperationResult;

    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onWrite(pa_stream* stream, size_t bytes, void* self);
    static void onUnderflow(pa_stream* stream, void* self);
    static void onKick(pa_mainloop_api* api, pa_defer_event* event, void* self);
    static void onStreamSuccess(pa_stream* stream, int success, void* result);
    static void onContextSuccess(pa_context* context, int success, void* result);

    void fill(size_t bytes);
    int fail(OpenStep step, int error);
    int errorCode() const;
    int await(pa_operation* operation, OperationResult& result);  // mainloop lock held
    bool streamReady() const;

    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    pa_defer_event* kick_ = nullptr;
    RenderFunction render_ = nullptr;
    void* renderContext_ = nullptr;
    OpenStep failedStep_ = OpenStep::Open;
    int lastError_ = 0;
    bool opened_ = false;   // open() has run; it never runs again
    bool started_ = false;  // uncorked; under the mainloop lock

    // Read by the audio thread, written under the mainloop lock, which the audio thread holds
    // while it dispatches: plain ordering comes from that lock; atomics only so that the counters
    // can be read from anywhere.
    std::atomic<bool> running_{false};  // render on every request
    std::atomic<bool> ended_{false};    // the renderer has ended the sound of this playback
    std::atomic<uint64_t> underruns_{0};

    // The render path's buffers, allocated once with the unit.
    int16_t left_[kMaxChunkFrames];
    int16_t right_[kMaxChunkFrames];
    int16_t interleaved_[kMaxChunkFrames * kChannels];
};

}  // namespace brinesong
