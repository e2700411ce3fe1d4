// SPDX-License-Identifier: GPL-3.0-or-later
// The stream's side of the output unit: its callbacks run on the mainloop's thread, its public
// calls on any thread but the audio thread, each with the loop's lock held.
#include "PulseOutputUnit.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <thread>

#include "platform/PulseCalls.h"
#include "platform/PulseListStep.h"

namespace brinesong {

namespace {

// The writer interleaves the largest request the server makes, the whole queue, in one go.
static_assert(PulseStreamWriter::kMaxChunkFrames == PulseOutputUnit::kTargetFrames);

struct SuccessResult {
    int success = 0;
};

void onStreamSuccess(pa_stream*, int success, void* result) {
    static_cast<SuccessResult*>(result)->success = success;
}

}  // namespace

struct PulseOutputUnitEvents {
    static void onStreamState(pa_stream* stream, void* self) {
        auto* unit = static_cast<PulseOutputUnit*>(self);
        if (stream != unit->stream_) {
            return;
        }
        switch (pa_stream_get_state(stream)) {
            case PA_STREAM_READY:
                if (const pa_buffer_attr* attributes = pa_stream_get_buffer_attr(stream)) {
                    unit->grantedFrames_.store(
                        attributes->tlength / PulseOutputUnit::kBytesPerFrame,
                        std::memory_order_relaxed);
                }
                if (const int status = unit->warmSendQueue()) {
                    unit->streamFailed(status);
                    break;
                }
                if (!unit->awaitingRoute_ && unit->rerouteIfMadeElsewhere()) {
                    break;
                }
                unit->rerouting_ = false;
                // A start that came while the stream was made anew plays now.
                if (unit->started_ && !unit->uncorked_) {
                    if (const int status = unit->uncork()) {
                        unit->streamFailed(status);
                        break;
                    }
                }
                unit->updateAvailability();
                break;
            case PA_STREAM_FAILED:
            case PA_STREAM_TERMINATED:
                unit->streamFailed(pa_context_errno(pa_stream_get_context(stream)));
                break;
            default:
                break;
        }
    }

    static void onSinkAnswer(pa_context* context, const pa_sink_info* info, int eol, void* self) {
        auto* unit = static_cast<PulseOutputUnit*>(self);
        switch (listStep(eol, info)) {
            case ListStep::Item:
                unit->sinkFound_ = true;
                return;
            case ListStep::End:
                break;
            case ListStep::Error:
                // No such sink is an answer, not a failure. Either way the stream is made
                // below, on the server's default sink.
                if (pa_context_errno(context) != PA_ERR_NOENTITY) {
                    logListError(context, "looking for the chosen sink");
                }
                break;
        }
        if (unit->sinkQuery_) {
            pa_operation_unref(unit->sinkQuery_);
            unit->sinkQuery_ = nullptr;
        }
        unit->connectStream(unit->sinkFound_ ? unit->preferredSink_.c_str() : nullptr);
    }

    static void onRewriteDelay(pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                               void* self) {
        auto* unit = static_cast<PulseOutputUnit*>(self);
        api->time_free(event);
        unit->rewriteDelay_ = nullptr;
        if (unit->rewriteAgain_) {
            unit->rewriteAgain_ = false;
            unit->askWhereTheServerReads();
        }
    }

    static void onStreamRetry(pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                              void* self) {
        auto* unit = static_cast<PulseOutputUnit*>(self);
        api->time_free(event);
        unit->streamRetry_ = nullptr;
        unit->createStream();
    }

    // The server's answer to where it reads: the queue from just past there is rendered again.
    static void onTiming(pa_stream* stream, int success, void* self) {
        auto* unit = static_cast<PulseOutputUnit*>(self);
        if (unit->timingQuery_) {
            pa_operation_unref(unit->timingQuery_);
            unit->timingQuery_ = nullptr;
        }
        if (stream != unit->stream_) {
            return;
        }
        if (success) {
            unit->writer_.rewrite(stream);
            unit->handOverRefusal();
        }
        if (unit->rewriteAgain_ && !unit->rewriteDelay_) {
            // Changes keep coming (a slider being dragged): the next rewrite waits a little, so
            // a drag costs a few rewrites a second rather than one after another.
            unit->rewriteDelay_ = startTimer(
                unit->connection_.api(), PulseOutputUnit::kRewriteSpacing, &onRewriteDelay, self);
            if (!unit->rewriteDelay_) {
                unit->rewriteAgain_ = false;
                unit->askWhereTheServerReads();  // without the spacing, then
            }
        }
    }

    static void onWrite(pa_stream* stream, size_t bytes, void* self) {
        auto* unit = static_cast<PulseOutputUnit*>(self);
        unit->writer_.fill(stream, bytes);
        unit->handOverRefusal();
    }

    // A write the writer had refused, outside the stream's callbacks: the stream can no longer
    // be trusted with the sound and goes as a failed one does; a new one is made.
    static void onRefusal(pa_mainloop_api* api, pa_defer_event* event, void* self) {
        api->defer_enable(event, 0);
        auto* unit = static_cast<PulseOutputUnit*>(self);
        const int status = unit->writer_.takeRefusal();
        if (status == 0 || !unit->stream_) {
            return;
        }
        logFailure("pa_stream_write", status);
        unit->streamFailed(status);
    }

    static void onKick(pa_mainloop_api* api, pa_defer_event* event, void* self) {
        api->defer_enable(event, 0);
        auto* unit = static_cast<PulseOutputUnit*>(self);
        if (!unit->streamReady()) {
            return;
        }
        const size_t writable = pa_stream_writable_size(unit->stream_);
        if (writable != static_cast<size_t>(-1)) {
            unit->writer_.fill(unit->stream_, writable);
            unit->handOverRefusal();
        }
    }
};

PulseOutputUnit::PulseOutputUnit(PulseConnection& connection) : connection_(connection) {}

PulseOutputUnit::~PulseOutputUnit() {
    close();
}

std::string PulseOutputUnit::failureText() const {
    const int error = lastError_.load(std::memory_order_relaxed);
    return error != 0 ? pa_strerror(error) : std::string();
}

int PulseOutputUnit::open(RenderFunction render, RewindFunction rewind, NoticeFunction notice,
                          void* context) {
    if (opened_) {
        return 0;
    }
    if (!connection_.mainloop()) {
        lastError_.store(PA_ERR_INTERNAL, std::memory_order_relaxed);
        return PA_ERR_INTERNAL;
    }
    writer_.setRenderer(render, rewind, context);
    notice_ = notice;
    noticeContext_ = context;
    {
        PulseConnection::Lock lock(connection_);
        pa_mainloop_api* api = connection_.api();
        kick_ = api->defer_new(api, &PulseOutputUnitEvents::onKick, this);
        refusal_ = api->defer_new(api, &PulseOutputUnitEvents::onRefusal, this);
        if (!kick_ || !refusal_) {
            freeDeferEvents();
            lastError_.store(PA_ERR_INTERNAL, std::memory_order_relaxed);
            return PA_ERR_INTERNAL;
        }
        api->defer_enable(kick_, 0);
        api->defer_enable(refusal_, 0);
        availability_.store(static_cast<int>(connection_.state() == PulseConnection::State::Waiting
                                                 ? Availability::NoServer
                                                 : Availability::Connecting));
        if (connection_.state() == PulseConnection::State::Waiting) {
            lastError_.store(connection_.lastError(), std::memory_order_relaxed);
        }
    }
    opened_ = true;
    connection_.addClient(*this);
    return 0;
}

int PulseOutputUnit::close() {
    if (!opened_) {
        return 0;
    }
    // No connection callback reaches the unit from here on.
    connection_.removeClient(*this);
    {
        PulseConnection::Lock lock(connection_);
        notice_ = nullptr;
        writer_.halt();
        started_ = false;
        cancelPending();
        // Callbacks are cleared before anything goes away, so none can run on a half-torn unit.
        dropStream();
        freeDeferEvents();
        context_ = nullptr;
    }
    opened_ = false;
    return 0;
}

void PulseOutputUnit::freeDeferEvents() {
    for (pa_defer_event** event : {&kick_, &refusal_}) {
        if (*event) {
            connection_.api()->defer_free(*event);
            *event = nullptr;
        }
    }
}

// On the audio thread, after the writer has run: a refusal is handled on the loop's next turn,
// outside the callback (that wakes the loop once, as a write does).
void PulseOutputUnit::handOverRefusal() {
    if (writer_.refused() != 0) {
        connection_.api()->defer_enable(refusal_, 1);
    }
}

// --- Connection and stream life, all on the mainloop's thread with its lock held ----------------

void PulseOutputUnit::connectionReady(pa_context* context) {
    context_ = context;
    awaitingRoute_ = routedByList_;
    createStream();
    updateAvailability();
}

void PulseOutputUnit::connectionLost() {
    cancelPending();
    const bool wasStarted = started_;
    dropStream();
    context_ = nullptr;
    everLost_ = true;
    lastError_.store(connection_.lastError(), std::memory_order_relaxed);
    if (wasStarted && notice_) {
        notice_(noticeContext_, Notice::StreamLost);
    }
    setAvailability(Availability::NoServer);
}

void PulseOutputUnit::serverEvent(pa_context*, uint32_t facility, uint32_t type, uint32_t) {
    // A failed stream is tried again as soon as there may be somewhere to play to.
    const bool sinkAdded =
        facility == PA_SUBSCRIPTION_EVENT_SINK && type == PA_SUBSCRIPTION_EVENT_NEW;
    const bool serverChanged =
        facility == PA_SUBSCRIPTION_EVENT_SERVER && type == PA_SUBSCRIPTION_EVENT_CHANGE;
    if ((sinkAdded || serverChanged) && context_ && !stream_ && !sinkQuery_) {
        createStream();
    }
}

void PulseOutputUnit::createStream() {
    if (!context_ || stream_ || sinkQuery_) {
        return;
    }
    if (streamRetry_) {
        connection_.api()->time_free(streamRetry_);
        streamRetry_ = nullptr;
    }
    streamMadeFor_ = preferredSink_;
    if (!preferredSink_.empty()) {
        // Back to the sink it was routed to, if the server has it.
        sinkFound_ = false;
        sinkQuery_ = pa_context_get_sink_info_by_name(context_, preferredSink_.c_str(),
                                                      &PulseOutputUnitEvents::onSinkAnswer, this);
        if (sinkQuery_) {
            return;
        }
    }
    connectStream(nullptr);
}

void PulseOutputUnit::connectStream(const char* sinkName) {
    if (!context_ || stream_) {
        return;
    }
    const pa_sample_spec format{PA_SAMPLE_S16NE, 44100, kChannels};
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, "Surf");
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "music");
    stream_ = pa_stream_new_with_proplist(context_, "Surf", &format, nullptr, properties);
    pa_proplist_free(properties);
    if (!stream_) {
        streamFailed(pa_context_errno(context_));
        return;
    }
    // Every callback is in place before the stream connects, so no event is missed.
    pa_stream_set_state_callback(stream_, &PulseOutputUnitEvents::onStreamState, this);
    pa_stream_set_write_callback(stream_, &PulseOutputUnitEvents::onWrite, this);
    pa_stream_set_underflow_callback(stream_, &PulseStreamWriter::onUnderflow, &writer_);

    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = kTargetFrames * kBytesPerFrame;
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.minreq = kRequestFrames * kBytesPerFrame;
    attributes.fragsize = static_cast<uint32_t>(-1);
    // Corked until a start. The queue is asked for as it stands, not as a latency to adjust the
    // sink to: that would make the server run the sink in short periods, which is what costs.
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED);
    if (pa_stream_connect_playback(stream_, sinkName, &attributes, flags, nullptr, nullptr) < 0) {
        streamFailed(pa_context_errno(context_));
    }
}

// The stream is gone while the connection stays: its sink went with no other to take the
// stream, or the server has nothing to play to at all.
void PulseOutputUnit::streamFailed(int error) {
    const bool wasStarted = started_;
    dropStream();
    lastError_.store(error != 0 ? error : PA_ERR_NOENTITY, std::memory_order_relaxed);
    if (wasStarted && notice_) {
        notice_(noticeContext_, Notice::StreamLost);
    }
    if (context_) {
        scheduleStreamRetry();
        setAvailability(Availability::NoDevice);
    }
}

void PulseOutputUnit::dropStream() {
    started_ = false;
    uncorked_ = false;
    rerouting_ = false;
    writer_.halt();
    writer_.takeRefusal();  // it concerned this stream
    if (timingQuery_) {
        pa_operation_cancel(timingQuery_);
        pa_operation_unref(timingQuery_);
        timingQuery_ = nullptr;
    }
    if (rewriteDelay_) {
        connection_.api()->time_free(rewriteDelay_);
        rewriteDelay_ = nullptr;
    }
    rewriteAgain_ = false;
    if (!stream_) {
        return;
    }
    pa_stream* stream = stream_;
    stream_ = nullptr;
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream, nullptr, nullptr);
    if (pa_stream_get_state(stream) == PA_STREAM_READY ||
        pa_stream_get_state(stream) == PA_STREAM_CREATING) {
        pa_stream_disconnect(stream);
    }
    pa_stream_unref(stream);
}

void PulseOutputUnit::cancelPending() {
    if (sinkQuery_) {
        pa_operation_cancel(sinkQuery_);
        pa_operation_unref(sinkQuery_);
        sinkQuery_ = nullptr;
    }
    if (streamRetry_) {
        connection_.api()->time_free(streamRetry_);
        streamRetry_ = nullptr;
    }
}

void PulseOutputUnit::scheduleStreamRetry() {
    if (streamRetry_ || !context_) {
        return;
    }
    // Without the timer, a sink that appears still brings the retry (serverEvent).
    streamRetry_ =
        startTimer(connection_.api(), kStreamRetry, &PulseOutputUnitEvents::onStreamRetry, this);
}

void PulseOutputUnit::updateAvailability() {
    if (!context_) {
        setAvailability(everLost_ ? Availability::NoServer : Availability::Connecting);
    } else if (streamReady()) {
        // Ready to play once any device list has routed the new stream.
        setAvailability(awaitingRoute_ ? Availability::Connecting : Availability::Ready);
    } else if (rerouting_) {
        // Made anew for the chosen sink: a start meanwhile waits the moment for it.
    } else if (availability() != Availability::NoDevice) {
        setAvailability(Availability::Connecting);  // a stream on its way
    }
}

void PulseOutputUnit::setAvailability(Availability availability) {
    const int value = static_cast<int>(availability);
    if (availability_.exchange(value, std::memory_order_acq_rel) == value) {
        return;
    }
    {
        std::lock_guard lock(readyMutex_);
        readyChanged_.notify_all();
    }
    if (notice_) {
        notice_(noticeContext_, Notice::AvailabilityChanged);
    }
}

bool PulseOutputUnit::streamReady() const {
    return stream_ != nullptr && pa_stream_get_state(stream_) == PA_STREAM_READY;
}

bool PulseOutputUnit::waitUntilReady(std::chrono::milliseconds limit) {
    std::unique_lock lock(readyMutex_);
    return readyChanged_.wait_for(lock, limit,
                                  [this] { return availability() == Availability::Ready; });
}

// --- Playback -------------------------------------------------------------------------------

int PulseOutputUnit::start() {
    if (!opened_) {
        return PA_ERR_BADSTATE;
    }
    PulseConnection::Lock lock(connection_);
    if (started_) {
        return 0;
    }
    if (rerouting_ && context_) {
        started_ = true;  // the stream made anew for the chosen sink plays once it is ready
        return 0;
    }
    if (!streamReady() || availability() != Availability::Ready) {
        const int error = lastError_.load(std::memory_order_relaxed);
        return error != 0 ? error : PA_ERR_BADSTATE;
    }
    const int status = uncork();
    started_ = status == 0;
    return status;
}

int PulseOutputUnit::uncork() {
    writer_.begin();
    // The server asked for the first fill while the stream was corked and asks again only once
    // that is consumed: the loop's thread fills it now, as it does every other fill.
    connection_.api()->defer_enable(kick_, 1);
    // Not waited for: the answer of a server that has stopped answering would hold up the caller.
    pa_operation* operation = pa_stream_cork(stream_, 0, nullptr, nullptr);
    if (!operation) {
        writer_.halt();
        const int error = pa_context_errno(context_);
        lastError_.store(error, std::memory_order_relaxed);
        return error != 0 ? error : PA_ERR_BADSTATE;
    }
    pa_operation_unref(operation);
    uncorked_ = true;
    return 0;
}

int PulseOutputUnit::stop() {
    if (!opened_) {
        return PA_ERR_BADSTATE;
    }
    PulseConnection::Lock lock(connection_);
    if (!started_) {
        return 0;  // never started, or its stream is gone: nothing plays
    }
    started_ = false;
    // From here nothing more is written: the queue holds the rest of the sound and silence.
    writer_.halt();
    rewriteAgain_ = false;
    if (!streamReady()) {
        return 0;
    }
    const int status = writer_.ended() ? drainToEndOfSound() : 0;
    if (!streamReady()) {
        return 0;  // the stream went meanwhile
    }
    if (pa_operation* operation = pa_stream_cork(stream_, 1, nullptr, nullptr)) {
        pa_operation_unref(operation);
    }
    uncorked_ = false;
    // Whatever is left must not sound at the next start.
    if (pa_operation* operation = pa_stream_flush(stream_, nullptr, nullptr)) {
        pa_operation_unref(operation);
    }
    if (status != 0) {
        lastError_.store(status, std::memory_order_relaxed);
    }
    return status;
}

// Waits until the server has read the end of the sound and a little silence after it; what is
// still queued beyond is silence, which the stop then drops. The stream is fed silence up to here,
// never left to run dry, because PipeWire's PulseAudio server (0.3.65) answers the drain of a
// stream that has already run dry with a few milliseconds of stale sound. The caller's thread,
// lock held; the lock is let go while it sleeps, so the stream may go meanwhile: everything is
// read again after each sleep.
int PulseOutputUnit::drainToEndOfSound() {
    const auto giveUp = std::chrono::steady_clock::now() + kDrainLimit;
    for (;;) {
        SuccessResult result;
        const int status = connection_.await(
            pa_stream_update_timing_info(stream_, &onStreamSuccess, &result), kAnswerLimit);
        if (status != 0 || !streamReady()) {
            return status;
        }
        const int64_t queued = PulseStreamWriter::queuedFrames(stream_);
        if (queued < 0) {
            return 0;
        }
        const uint64_t written = writer_.framesWritten();
        const uint64_t read = written - std::min<uint64_t>(queued, written);
        const uint64_t until = writer_.endFrame() + kStopMarginFrames;
        const auto now = std::chrono::steady_clock::now();
        if (read >= until || now >= giveUp) {
            return 0;
        }
        // Sleep until then, or the limit, without holding up the audio thread.
        const auto wait = std::min<std::chrono::steady_clock::duration>(
            std::chrono::microseconds((until - read) * 1000000 / 44100 + 2000), giveUp - now);
        pa_threaded_mainloop_unlock(connection_.mainloop());
        std::this_thread::sleep_for(wait);
        pa_threaded_mainloop_lock(connection_.mainloop());
        if (!streamReady()) {
            return 0;  // the stream went meanwhile
        }
    }
}

void PulseOutputUnit::renderQueueAgain() {
    if (!opened_) {
        return;
    }
    PulseConnection::Lock lock(connection_);
    askWhereTheServerReads();
}

void PulseOutputUnit::askWhereTheServerReads() {
    if (!started_ || !writer_.running() || !streamReady()) {
        return;
    }
    if (timingQuery_ || rewriteDelay_) {
        rewriteAgain_ = true;  // once this answer is used, ask again
        return;
    }
    timingQuery_ = pa_stream_update_timing_info(stream_, &PulseOutputUnitEvents::onTiming, this);
}

// libpulse allocates a send-queue entry whenever more sends are in flight than ever before, which
// under load once happened inside the write callback: a new stream fills that free list up front.
// A refused write is said and returned (PA_ERR_*): the stream cannot be written to.
int PulseOutputUnit::warmSendQueue() {
    const int16_t silence[kChannels] = {};
    for (int i = 0; i < kWarmSends; ++i) {
        if (const int status =
                pa_stream_write(stream_, silence, sizeof silence, nullptr, 0, PA_SEEK_RELATIVE)) {
            logFailure("pa_stream_write", -status);
            return -status;
        }
    }
    if (pa_operation* operation = pa_stream_flush(stream_, nullptr, nullptr)) {
        pa_operation_unref(operation);
    }
    return 0;
}

uint32_t PulseOutputUnit::streamIndex() const {
    PulseConnection::Lock lock(connection_);
    return streamReady() ? pa_stream_get_index(stream_) : kNoStream;
}

void PulseOutputUnit::setPreferredDevice(const std::string& sinkName) {
    PulseConnection::Lock lock(connection_);
    preferredSink_ = sinkName;
    if (uncorked_) {
        return;  // it sounds: the caller moves it
    }
    // A choice is weighed against where the server says the stream is, not the sink it was made
    // for: moved while it played, it may be elsewhere. One on its way is weighed once ready.
    streamMadeFor_.clear();
    rerouteIfMadeElsewhere();
}

std::string PulseOutputUnit::preferredDevice() const {
    PulseConnection::Lock lock(connection_);
    return preferredSink_;
}

void PulseOutputUnit::setRoutedByDeviceList(bool routed) {
    PulseConnection::Lock lock(connection_);
    routedByList_ = routed;
    if (!routed && awaitingRoute_) {
        awaitingRoute_ = false;
        updateAvailability();
    }
}

void PulseOutputUnit::devicesSettled() {
    PulseConnection::Lock lock(connection_);
    if (awaitingRoute_ && context_) {
        awaitingRoute_ = false;
        if (!rerouteIfMadeElsewhere()) {
            updateAvailability();
        }
    }
}

// PipeWire's PulseAudio server confirms a move before its session manager has made it, so a stream
// moved just before its start is heard first on the old sink (a period of 21 ms was measured): one
// that does not sound is made afresh on the new sink instead. The unit stays available meanwhile,
// and a start waits for the new stream. True when it was.
bool PulseOutputUnit::rerouteIfMadeElsewhere() {
    if (!streamReady() || uncorked_ || streamMadeFor_ == preferredSink_) {
        return false;
    }
    // The server names the sink the stream is on, and follows its moves.
    const char* on = pa_stream_get_device_name(stream_);
    if (on != nullptr && preferredSink_ == on) {
        streamMadeFor_ = preferredSink_;  // there already
        return false;
    }
    const bool wasStarted = started_;
    dropStream();
    started_ = wasStarted;
    rerouting_ = true;
    createStream();
    updateAvailability();
    return true;
}

uint32_t PulseOutputUnit::framesAhead() const {
    return writer_.running() ? grantedFrames_.load(std::memory_order_relaxed) : 0;
}

PulseOutputUnit::BufferSizes PulseOutputUnit::bufferSizes() const {
    BufferSizes sizes;
    PulseConnection::Lock lock(connection_);
    if (streamReady()) {
        if (const pa_buffer_attr* attributes = pa_stream_get_buffer_attr(stream_)) {
            sizes.targetBytes = attributes->tlength;
            sizes.requestBytes = attributes->minreq;
            sizes.prebufferBytes = attributes->prebuf;
        }
    }
    return sizes;
}

double PulseOutputUnit::latencySeconds() {
    PulseConnection::Lock lock(connection_);
    if (!streamReady()) {
        return -1;
    }
    SuccessResult result;
    if (connection_.await(pa_stream_update_timing_info(stream_, &onStreamSuccess, &result),
                          kAnswerLimit) != 0 ||
        !result.success || !streamReady()) {
        return -1;
    }
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream_, &latency, &negative) < 0) {
        return -1;
    }
    return negative ? 0.0 : static_cast<double>(latency) / 1e6;
}

}  // namespace brinesong
