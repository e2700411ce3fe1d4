// SPDX-License-Identifier: GPL-3.0-or-later
// The output unit over a PulseAudio playback stream: signed 16-bit native-endian stereo at 44,100
// frames per second, on the program's one connection to the sound server (PulseConnection). This
// side keeps the stream: its life and retry, the availability notices, the routing, start and
// stop, and the requests that make the writer render the queue again.
//
// Threads: the callbacks run on the mainloop's thread, which is also the audio thread, with the
// loop's lock held. Every public call takes that lock and may come from any thread but the audio
// thread; none waits for the server for long (start not at all), so a server that stops answering
// never holds up the window or a signal. What runs in real time is PulseStreamWriter's.
//
// The stream is made when the connection is ready, and made anew after the server came back or a
// device appeared when it had failed: availability says which the unit waits for, and the owner
// hears of every change and of a started stream's loss. A new stream goes to the sink it was last
// routed to, if the server has it, else to the default; with a device list routing it, it plays
// once the list has settled the route. Start and stop cork and uncork that one stream, so a start
// costs nothing and the stream stays on the sink it was moved to. A sink chosen while the stream
// does not sound gets a stream made anew there rather than a move (see rerouteIfMadeElsewhere);
// one that sounds is moved.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "audio/AudioHardware.h"
#include "audio/OutputUnit.h"
#include "platform/PulseConnection.h"
#include "platform/PulseStreamWriter.h"

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
    static constexpr uint32_t kChannels = PulseStreamWriter::kChannels;
    static constexpr uint32_t kBytesPerFrame = PulseStreamWriter::kBytesPerFrame;
    // About a second queued ahead of the sink, refilled in large steps, so that neither the server
    // nor the audio thread wakes often: a night of sound costs about what a ready-made file does.
    static constexpr uint32_t kTargetFrames = 44100;
    static constexpr uint32_t kRequestFrames = 4410;  // 100 ms: the smallest refill
    // Rewrites follow one another no closer than this.
    static constexpr std::chrono::milliseconds kRewriteSpacing{25};
    // Silence played after the end of the sound before the stop corks the stream.
    static constexpr uint32_t kStopMarginFrames = 2205;  // 50 ms
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
    // Lets the end of the sound and a little silence be heard (kDrainLimit at most), then corks
    // and drops what is still queued, so nothing of this playback sounds at the next start.
    int stop() override;
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

    // Diagnostics. Times the queue was rendered again and written over, since the unit was made.
    uint64_t rewrites() const { return writer_.rewrites(); }
    // Times the sink ran out of sound while a playback was still producing it.
    uint64_t underruns() const { return writer_.underruns(); }
    BufferSizes bufferSizes() const;
    // Seconds between rendering a frame and hearing it, as the server reports it now; -1 when
    // unknown.
    double latencySeconds();

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
    int uncork();
    int warmSendQueue();
    void handOverRefusal();
    void freeDeferEvents();
    void setAvailability(Availability availability);
    bool streamReady() const;

    // Asks the server where it reads; its answer has the writer render the queue again.
    void askWhereTheServerReads();
    // The stop's wait until the server has read the end of the sound and the margin after it.
    // Lock held, but let go while it sleeps.
    int drainToEndOfSound();

    PulseConnection& connection_;
    NoticeFunction notice_ = nullptr;
    void* noticeContext_ = nullptr;
    bool opened_ = false;

    // Lock held.
    pa_context* context_ = nullptr;  // while the connection is ready
    pa_stream* stream_ = nullptr;
    pa_defer_event* kick_ = nullptr;
    pa_defer_event* refusal_ = nullptr;  // a write was refused
    pa_time_event* streamRetry_ = nullptr;
    pa_operation* sinkQuery_ = nullptr;
    bool sinkFound_ = false;
    std::string preferredSink_;
    // The sink the stream was made for (the preferred one then), or found on when one was chosen.
    std::string streamMadeFor_;
    bool routedByList_ = false;
    bool awaitingRoute_ = false;
    bool started_ = false;    // by start(), until stop() or the stream's loss
    bool uncorked_ = false;   // this stream has been uncorked since it was made or last stopped
    bool rerouting_ = false;  // the stream is being made anew for a newly chosen sink
    bool everLost_ = false;
    pa_operation* timingQuery_ = nullptr;  // asked for a rewrite
    bool rewriteAgain_ = false;            // the sound changed again while it was asked
    pa_time_event* rewriteDelay_ = nullptr;

    std::atomic<int> availability_{static_cast<int>(Availability::Connecting)};
    std::atomic<int> lastError_{0};
    std::mutex readyMutex_;
    std::condition_variable readyChanged_;
    std::atomic<uint32_t> grantedFrames_{0};  // the queue's length the server granted

    PulseStreamWriter writer_;
};

}  // namespace brinesong
