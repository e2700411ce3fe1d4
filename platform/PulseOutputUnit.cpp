#include "PulseOutputUnit.h"

#include <pulse/pulseaudio.h>

#include <algorithm>

namespace brinesong {

namespace {

thread_local bool tInsideWriteCallback = false;

struct InsideWriteCallback {
    InsideWriteCallback() { tInsideWriteCallback = true; }
    ~InsideWriteCallback() { tInsideWriteCallback = false; }
};

class MainloopLock {
public:
    explicit MainloopLock(pa_threaded_mainloop* mainloop) : mainloop_(mainloop) {
        pa_threaded_mainloop_lock(mainloop_);
    }
    ~MainloopLock() { pa_threaded_mainloop_unlock(mainloop_); }
    MainloopLock(const MainloopLock&) = delete;
    MainloopLock& operator=(const MainloopLock&) = delete;

private:
    pa_threaded_mainloop* mainloop_;
};

}  // namespace

struct PulseOutputUnit::OperationResult {
    pa_threaded_mainloop* mainloop;
    int success = 0;
};

bool PulseOutputUnit::insideWriteCallback() {
    return tInsideWriteCallback;
}

PulseOutputUnit::PulseOutputUnit() = default;

PulseOutputUnit::~PulseOutputUnit() {
    close();
}

int PulseOutputUnit::fail(OpenStep step, int error) {
    failedStep_ = step;
    lastError_ = error != 0 ? error : PA_ERR_UNKNOWN;
    return lastError_;
}

int PulseOutputUnit::errorCode() const {
    const int error = context_ != nullptr ? pa_context_errno(context_) : PA_ERR_UNKNOWN;
    return error != 0 ? error : PA_ERR_UNKNOWN;
}

std::string PulseOutputUnit::errorText() const {
    return pa_strerror(lastError_);
}

int PulseOutputUnit::open(RenderFunction render, void* context) {
    if (opened_) {
        return mainloop_ != nullptr && stream_ != nullptr ? 0 : fail(failedStep_, PA_ERR_BADSTATE);
    }
    opened_ = true;
    render_ = render;
    renderContext_ = context;

    mainloop_ = pa_threaded_mainloop_new();
    if (mainloop_ == nullptr) {
        return fail(OpenStep::Find, PA_ERR_INTERNAL);
    }
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Brinesong");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "org.kelvane.Brinesong");
    // The desktop's sound settings show the stream with the program's theme icon.
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, "org.kelvane.Brinesong");
    context_ = pa_context_new_with_proplist(api, "Brinesong", properties);
    pa_proplist_free(properties);
    if (context_ == nullptr || pa_threaded_mainloop_start(mainloop_) < 0) {
        return fail(OpenStep::Find, PA_ERR_INTERNAL);
    }

    MainloopLock lock(mainloop_);
    pa_context_set_state_callback(context_, onContextState, this);
    // No autospawn: a program that finds no server says so rather than starting one behind the
    // user's back.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return fail(OpenStep::Open, errorCode());
    }
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_READY) {
            break;
        }
        if (!PA_CONTEXT_IS_GOOD(state)) {
            return fail(OpenStep::Open, errorCode());
        }
        pa_threaded_mainloop_wait(mainloop_);
    }

    const pa_sample_spec format{PA_SAMPLE_S16NE, 44100, kChannels};
    pa_proplist* streamProperties = pa_proplist_new();
    pa_proplist_sets(streamProperties, PA_PROP_MEDIA_NAME, "Surf");
    pa_proplist_sets(streamProperties, PA_PROP_MEDIA_ROLE, "music");
    stream_ = pa_stream_new_with_proplist(context_, "Surf", &format, nullptr, streamProperties);
    pa_proplist_free(streamProperties);
    if (stream_ == nullptr) {
        return fail(OpenStep::Initialize, errorCode());
    }

    // Every callback is in place before the stream connects, so no event is missed.
    pa_stream_set_state_callback(stream_, onStreamState, this);
    pa_stream_set_write_callback(stream_, onWrite, this);
    pa_stream_set_underflow_callback(stream_, onUnderflow, this);
    kick_ = api->defer_new(api, onKick, this);
    if (kick_ == nullptr) {
        return fail(OpenStep::SetRenderCallback, PA_ERR_INTERNAL);
    }
    api->defer_enable(kick_, 0);

    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = kTargetFrames * kBytesPerFrame;
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.minreq = kRequestFrames * kBytesPerFrame;
    attributes.fragsize = static_cast<uint32_t>(-1);
    // Corked until the first start; the latency asked for is the whole way to the speaker.
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_playback(stream_, nullptr, &attributes, flags, nullptr, nullptr) < 0) {
        return fail(OpenStep::SetStreamFormat, errorCode());
    }
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        if (state == PA_STREAM_READY) {
            break;
        }
        if (!PA_STREAM_IS_GOOD(state)) {
            return fail(OpenStep::SetStreamFormat, errorCode());
        }
        pa_threaded_mainloop_wait(mainloop_);
    }
    return 0;
}

bool PulseOutputUnit::streamReady() const {
    return stream_ != nullptr && pa_stream_get_state(stream_) == PA_STREAM_READY;
}

int PulseOutputUnit::await(pa_operation* operation, OperationResult& result) {
    if (operation == nullptr) {
        return lastError_ = errorCode();
    }
    // Leave as soon as the stream or the connection has failed: the answer would never come.
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING && streamReady()) {
        pa_threaded_mainloop_wait(mainloop_);
    }
    const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    pa_operation_unref(operation);
    if (!done || !result.success) {
        return lastError_ = errorCode();
    }
    return 0;
}

int PulseOutputUnit::start() {
    if (mainloop_ == nullptr) {
        return lastError_ = PA_ERR_BADSTATE;
    }
    MainloopLock lock(mainloop_);
    if (!streamReady()) {
        return lastError_ = stream_ != nullptr ? errorCode() : PA_ERR_BADSTATE;
    }
    if (started_) {
        return 0;
    }
    running_.store(true, std::memory_order_relaxed);
    ended_.store(false, std::memory_order_relaxed);
    // The server asked for its first fill while the stream was corked and will not ask again until
    // it is consumed; fill it now, on the audio thread like every other fill.
    pa_threaded_mainloop_get_api(mainloop_)->defer_enable(kick_, 1);
    OperationResult result{mainloop_};
    const int status = await(pa_stream_cork(stream_, 0, onStreamSuccess, &result), result);
    if (status != 0) {
        running_.store(false, std::memory_order_relaxed);
        return status;
    }
    started_ = true;
    return 0;
}

int PulseOutputUnit::stop() {
    if (mainloop_ == nullptr) {
        return lastError_ = PA_ERR_BADSTATE;
    }
    MainloopLock lock(mainloop_);
    if (!started_) {
        return 0;
    }
    started_ = false;
    running_.store(false, std::memory_order_relaxed);
    if (!streamReady()) {
        return lastError_ = errorCode();
    }
    // Play out what is queued, then pause: the queue is empty at the next start.
    OperationResult drained{mainloop_};
    int status = await(pa_stream_drain(stream_, onStreamSuccess, &drained), drained);
    OperationResult corked{mainloop_};
    const int corkStatus = await(pa_stream_cork(stream_, 1, onStreamSuccess, &corked), corked);
    if (status == 0) {
        status = corkStatus;
    }
    return status;
}

int PulseOutputUnit::close() {
    if (mainloop_ == nullptr) {
        return 0;
    }
    int status = 0;
    {
        MainloopLock lock(mainloop_);
        running_.store(false, std::memory_order_relaxed);
        started_ = false;
        // Callbacks are cleared before anything goes away, so none can run on a half-torn unit.
        if (kick_ != nullptr) {
            pa_threaded_mainloop_get_api(mainloop_)->defer_free(kick_);
            kick_ = nullptr;
        }
        if (stream_ != nullptr) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_set_write_callback(stream_, nullptr, nullptr);
            pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
            if (pa_stream_get_state(stream_) == PA_STREAM_READY &&
                pa_stream_disconnect(stream_) < 0) {
                status = lastError_ = errorCode();
            }
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        if (context_ != nullptr) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
    }
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
    mainloop_ = nullptr;
    return status;
}

uint32_t PulseOutputUnit::streamIndex() const {
    if (mainloop_ == nullptr) {
        return UINT32_MAX;
    }
    MainloopLock lock(mainloop_);
    return streamReady() ? pa_stream_get_index(stream_) : UINT32_MAX;
}

int PulseOutputUnit::moveToSink(const std::string& sinkName) {
    if (mainloop_ == nullptr) {
        return lastError_ = PA_ERR_BADSTATE;
    }
    MainloopLock lock(mainloop_);
    if (!streamReady()) {
        return lastError_ = PA_ERR_BADSTATE;
    }
    OperationResult result{mainloop_};
    pa_operation* operation = pa_context_move_sink_input_by_name(
        context_, pa_stream_get_index(stream_), sinkName.c_str(), onContextSuccess, &result);
    return await(operation, result);
}

PulseOutputUnit::BufferSizes PulseOutputUnit::bufferSizes() const {
    BufferSizes sizes;
    if (mainloop_ == nullptr) {
        return sizes;
    }
    MainloopLock lock(mainloop_);
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
    if (mainloop_ == nullptr) {
        return -1;
    }
    MainloopLock lock(mainloop_);
    if (!streamReady()) {
        return -1;
    }
    OperationResult result{mainloop_};
    if (await(pa_stream_update_timing_info(stream_, onStreamSuccess, &result), result) != 0) {
        return -1;
    }
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream_, &latency, &negative) < 0) {
        return -1;
    }
    return negative ? 0.0 : static_cast<double>(latency) / 1e6;
}

void PulseOutputUnit::onContextState(pa_context*, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulseOutputUnit*>(self)->mainloop_, 0);
}

void PulseOutputUnit::onStreamState(pa_stream*, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulseOutputUnit*>(self)->mainloop_, 0);
}

void PulseOutputUnit::onStreamSuccess(pa_stream*, int success, void* result) {
    auto* operation = static_cast<OperationResult*>(result);
    operation->success = success;
    pa_threaded_mainloop_signal(operation->mainloop, 0);
}

void PulseOutputUnit::onContextSuccess(pa_context*, int success, void* result) {
    onStreamSuccess(nullptr, success, result);
}

void PulseOutputUnit::onUnderflow(pa_stream*, void* self) {
    auto* unit = static_cast<PulseOutputUnit*>(self);
    // Running dry after the sound has ended is how a playback finishes, not an underrun.
    if (unit->running_.load(std::memory_order_relaxed) &&
        !unit->ended_.load(std::memory_order_relaxed)) {
        unit->underruns_.fetch_add(1, std::memory_order_relaxed);
    }
}

void PulseOutputUnit::onKick(pa_mainloop_api* api, pa_defer_event* event, void* self) {
    api->defer_enable(event, 0);
    auto* unit = static_cast<PulseOutputUnit*>(self);
    const size_t writable = pa_stream_writable_size(unit->stream_);
    if (writable != static_cast<size_t>(-1)) {
        onWrite(unit->stream_, writable, self);
    }
}

// The real-time path: the server wants `bytes` more of the sound.
//
// It runs on the audio thread and must never allocate, take a lock, make a blocking system call or
// wait: any of these can stall the thread past the buffer's deadline and be heard as a drop-out.
// So it renders into the unit's own preallocated channel buffers, interleaves into a third, and
// hands the result to pa_stream_write, which copies it into the client's preallocated memory pool
// and queues it for the mainloop to send once the callback has returned. The mainloop holds its
// own lock around this callback; the callback takes none.
//
// The hand-off is libpulse's and is not entirely free: pa_stream_write wakes the mainloop with a
// one-byte write(2) to the loop's own non-blocking wake-up pipe, once per callback, and the very
// first sends of the process allocate the queue entries that later sends reuse.
//
// Checked by tests/platform/PulseOutputUnitTest.cpp: the test program replaces malloc, calloc,
// realloc, free, posix_memalign, the pthread mutex, condition-variable and semaphore calls and the
// read, write, poll, send and receive calls, and counts each call made while insideWriteCallback()
// is true on the calling thread. Over two playbacks after a first one it asserts that none was made
// apart from the one-byte wake-up writes, and at most one of those per buffer.
void PulseOutputUnit::onWrite(pa_stream* stream, size_t bytes, void* self) {
    InsideWriteCallback inside;
    auto* unit = static_cast<PulseOutputUnit*>(self);
    (void)stream;
    unit->fill(bytes);
}

void PulseOutputUnit::fill(size_t bytes) {
    if (!running_.load(std::memory_order_relaxed)) {
        return;  // corked, or about to be: the server gets nothing until the next start
    }
    size_t frames = bytes / kBytesPerFrame;
    while (frames > 0) {
        const uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(frames, kMaxChunkFrames));
        frames -= chunk;
        uint32_t flags = 0;
        AudioBufferList buffers{2, {{1, chunk * 2, left_}, {1, chunk * 2, right_}}};
        RendererData request{&flags, nullptr, 0, chunk, &buffers};
        render_(renderContext_, &request);

        // Only what the renderer left in both buffers is played; the rest of a shortened buffer is
        // never sent, so the sound ends exactly at the end frame.
        const uint32_t rendered = std::min(
            {buffers.mBuffers[0].mDataByteSize / 2, buffers.mBuffers[1].mDataByteSize / 2, chunk});
        if (rendered < chunk) {
            ended_.store(true, std::memory_order_relaxed);
        }
        if (rendered == 0) {
            continue;
        }
        for (uint32_t f = 0; f < rendered; ++f) {
            interleaved_[2 * f] = left_[f];
            interleaved_[2 * f + 1] = right_[f];
        }
        pa_stream_write(stream_, interleaved_, rendered * kBytesPerFrame, nullptr, 0,
                        PA_SEEK_RELATIVE);
    }
}

}  // namespace brinesong
