// The output unit over a PulseAudio playback stream: signed 16-bit native-endian stereo at 44,100
// frames per second, on the program's one connection to the sound server (PulseConnection).
//
// The mainloop's thread is the audio thread: it calls the render function whenever the server can
// take more sound. Every other call here takes the mainloop's lock and may come from any thread
// but the audio thread itself; none of them waits for the server for long (start does not wait at
// all), so a server that stops answering never holds up the window or a signal.
//
// The stream is made when the connection is ready, and made anew after the server came back or a
// device appeared when it had failed (its sink went away with no other to take it): availability
// says which of these the unit is waiting for, and a notice goes to the owner at every change and
// when a started stream is lost. A new stream goes to the sink it was last routed to, if that sink
// exists, else to the server's default; when a device list routes the stream, it plays only once
// the list has settled the route for the devices of the new connection.
//
// Start and stop cork and uncork the one stream rather than connecting a new one each time, so a
// start costs nothing and the stream keeps its place on the sink it was moved to. From the end of
// the sound until the stop the stream is fed silence, never left to run dry: PipeWire's PulseAudio
// server (0.3.65) answers the drain of a stream that has already run dry with a few milliseconds
// of stale sound. The stop waits until the server has played the end of the sound and a little
// silence, then corks and drops the silence still queued, so nothing of one playback is left over
// to sound at the start of the next.
//
// Buffer sizes: a long queue (about a second) refilled in large steps, so that neither the
// server nor the audio thread wakes often: a night of sound then costs the machine about what
// playing a ready-made file does. What is queued but not yet heard is provisional. When the sound
// changes (a stop request, the volume, a setting), renderQueueAgain asks the server where it is
// reading; the renderer goes back to the state it saved at the start of the first render request
// a short lead past that point (the engine keeps those states) and the queue from there on is
// rendered again and written over the old, with a seek back from the write index by exactly its
// length. The queue then ends where it ended before and every queued frame is the frame the
// renderer gives for that position, so the sound runs on without a seam. A change is heard about
// the lead, plus the server's own latency, after it is made.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "audio/AudioHardware.h"
#include "audio/OutputUnit.h"
#include "platform/PulseConnection.h"

struct pa_context;
struct pa_stream;
struct pa_operation;
struct pa_defer_event;
struct pa_time_event;
struct pa_mainloop_api;
struct pa_sink_info;

namespace brinesong {

class PulseOutputUnit : public OutputUnit, public OutputRouting, private PulseConnection::Client {
public:
    static constexpr uint32_t kChannels = 2;
    static constexpr uint32_t kBytesPerFrame = kChannels * sizeof(int16_t);
    static constexpr uint32_t kTargetFrames = 44100;  // 1 s queued ahead of the sink
    static constexpr uint32_t kRequestFrames = 4410;  // 100 ms: the smallest refill
    // Frames per render request: the points a rewrite can go back to lie this far apart.
    static constexpr uint32_t kStepFrames = 441;
    // How far past the server's read position a rewrite begins: the time its answer, the
    // rendering and the write take to reach the server, with room to spare.
    static constexpr uint32_t kRewriteLeadFrames = 1323;  // 30 ms
    // Rewrites follow one another no closer than this.
    static constexpr std::chrono::milliseconds kRewriteSpacing{25};
    // Silence played after the end of the sound before the stop corks the stream.
    static constexpr uint32_t kStopMarginFrames = 2205;  // 50 ms
    // Frames interleaved before one write; the most the server asks for at once.
    static constexpr uint32_t kMaxChunkFrames = kTargetFrames;
    // Sends a new stream queues and drops at once (see warmSendQueue): many times what a refill,
    // a rewrite and their requests have in flight together (a dozen or so).
    static constexpr int kWarmSends = 64;
    // The end of the sound is heard within the queue's length; a server that takes longer than
    // this is not waited for.
    static constexpr std::chrono::milliseconds kDrainLimit{1300};
    // Routing calls and queries wait no longer than this for the server's answer.
    static constexpr std::chrono::milliseconds kAnswerLimit{500};
    // A stream that failed is made again when a sink appears, and after this at the latest.
    static constexpr std::chrono::milliseconds kStreamRetry{2000};

    // What the server granted.
    struct BufferSizes {
        uint32_t targetBytes = 0;
        uint32_t requestBytes = 0;
        uint32_t prebufferBytes = 0;
    };

    explicit PulseOutputUnit(PulseConnection& connection);
    ~PulseOutputUnit() override;  // closes
    PulseOutputUnit(const PulseOutputUnit&) = delete;
    PulseOutputUnit& operator=(const PulseOutputUnit&) = delete;

    // Statuses are PulseAudio error codes (PA_ERR_*); 0 is success.
    int open(RenderFunction render, RewindFunction rewind, NoticeFunction notice,
             void* context) override;
    int start() override;  // uncorks; does not wait for the server's answer
    int stop() override;   // lets the end of the sound be heard (kDrainLimit at most), then corks
    int close() override;
    void renderQueueAgain() override;
    // The queue the server granted: refills keep it within a request of full.
    uint32_t framesAhead() const override;
    OpenStep failedOpenStep() const override { return OpenStep::Find; }
    Availability availability() const override {
        return static_cast<Availability>(availability_.load(std::memory_order_acquire));
    }
    std::string failureText() const override;

    // Blocks until the unit is ready to play or `limit` has passed; true when ready. For tests and
    // tools; the program itself follows the notices.
    bool waitUntilReady(std::chrono::milliseconds limit);

    // OutputRouting. The stream's index on the server (a sink input), or kNoStream.
    uint32_t streamIndex() const override;
    void setPreferredDevice(const std::string& sinkName) override;
    std::string preferredDevice() const override;
    void setRoutedByDeviceList(bool routed) override;
    void devicesSettled() override;

    // Moves the stream, playing or not, to the sink of that name.
    int moveToSink(const std::string& sinkName);

    // Times the queue was rendered again and written over, since the unit was made.
    uint64_t rewrites() const { return rewrites_.load(std::memory_order_relaxed); }
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
    friend struct PulseOutputUnitEvents;

    // PulseConnection::Client: mainloop thread, lock held.
    void connectionReady(pa_context* context) override;
    void connectionLost() override;
    void serverEvent(pa_context* context, uint32_t facility, uint32_t type,
                     uint32_t index) override;

    // Lock held.
    void createStream();
    void connectStream(const char* sinkName);
    void streamFailed(int error);
    void dropStream();
    void cancelPending();
    void scheduleStreamRetry();
    void updateAvailability();
    bool rerouteIfMadeElsewhere();
    void warmSendQueue();
    void setAvailability(Availability availability);
    bool streamReady() const;

    void fill(size_t bytes);
    // Audio thread: renders `frames` from the renderer's frame framesWritten_ on and writes them,
    // the first write `seekBytes` from the write index.
    void renderAndWrite(uint64_t frames, int64_t seekBytes);
    void askWhereTheServerReads();
    void rewrite();
    // Frames queued but not yet read by the server, from its last timing answer; -1 if unknown.
    int64_t queuedFrames() const;

    PulseConnection& connection_;
    RenderFunction render_ = nullptr;
    RewindFunction rewind_ = nullptr;
    NoticeFunction notice_ = nullptr;
    void* renderContext_ = nullptr;
    bool opened_ = false;

    // Lock held.
    pa_context* context_ = nullptr;  // while the connection is ready
    pa_stream* stream_ = nullptr;
    pa_defer_event* kick_ = nullptr;
    pa_time_event* streamRetry_ = nullptr;
    pa_operation* sinkQuery_ = nullptr;
    bool sinkFound_ = false;
    std::string preferredSink_;
    std::string streamMadeFor_;  // the preferred sink when the stream was made
    bool routedByList_ = false;
    bool awaitingRoute_ = false;
    bool started_ = false;  // uncorked by start(), until stop() or the stream's loss
    bool everLost_ = false;
    pa_operation* timingQuery_ = nullptr;  // asked for a rewrite
    bool rewriteAgain_ = false;            // the sound changed again while it was asked
    pa_time_event* rewriteDelay_ = nullptr;

    std::atomic<int> availability_{static_cast<int>(Availability::Connecting)};
    std::atomic<int> lastError_{0};
    std::mutex readyMutex_;
    std::condition_variable readyChanged_;

    // Read by the audio thread, written under the mainloop lock, which the audio thread holds
    // while it dispatches: plain ordering comes from that lock; atomics only so that the counters
    // can be read from anywhere.
    std::atomic<bool> running_{false};  // render on every request
    std::atomic<bool> ended_{false};    // the renderer has ended the sound of this playback
    std::atomic<uint64_t> underruns_{0};
    std::atomic<uint32_t> grantedFrames_{0};  // the queue's length the server granted
    std::atomic<uint64_t> rewrites_{0};
    // Audio thread, or under the lock: frames written in this playback (the renderer's frame
    // number of the next frame written), and where the sound ended once ended_ is set.
    uint64_t framesWritten_ = 0;
    uint64_t endFrame_ = 0;

    // The render path's buffers, allocated once with the unit.
    int16_t left_[kStepFrames];
    int16_t right_[kStepFrames];
    int16_t interleaved_[kMaxChunkFrames * kChannels];
};

}  // namespace brinesong
