// SPDX-License-Identifier: GPL-3.0-or-later
// The platform's output stream, as the playback engine sees it: opened once, started and stopped
// from any thread, and calling the render function on its own audio thread for every buffer with
// two native-endian 16-bit channel buffers (left, right). It plays nothing beyond a buffer's byte
// size when the renderer has shortened it.
//
// The sound server behind it may come and go: the unit says whether it can play now
// (availability) and tells its owner when that changes or when a started stream has been lost, so
// that a playback never waits for a buffer that will not come.
#pragma once

#include <cstdint>
#include <string>

#include "synth/Renderer.h"

namespace brinesong {

class OutputUnit {
public:
    // Called on the audio thread. Must allocate nothing, lock nothing, make no system call.
    using RenderFunction = void (*)(void* context, RendererData* request);

    // Called on the audio thread, between render requests: the renderer goes back to the newest
    // point saved at or before `frame` (frames counted from the start of the playback) and the
    // next request renders from there. Returns the frame it went back to, or kCannotRewind when
    // no such point is kept; the renderer is then left as it was.
    using RewindFunction = uint64_t (*)(void* context, uint64_t frame);
    static constexpr uint64_t kCannotRewind = ~uint64_t{0};

    // What the unit can play to at the moment.
    enum class Availability : int {
        Connecting,  // the first attempt to reach the sound server is under way
        NoServer,    // no sound server answers; the unit tries again by itself
        NoDevice,    // the server is there but has nothing to play to; tried again when it has
        Ready,       // start() plays at once
    };
    enum class Notice : int {
        AvailabilityChanged,
        StreamLost,  // a started stream has gone (server or device); no more buffers will come
    };
    // Called on the unit's own thread, never from inside the render function. It must only hand
    // the notice over (set a flag, post work); it may not call back into the unit.
    using NoticeFunction = void (*)(void* context, Notice notice);

    // The stages of opening, in the order they run; a failed open() names the one that failed so
    // that the engine logs the matching line.
    enum class OpenStep {
        Find,               // the client machinery could not be created
        Open,               // no connection to the sound server
        Initialize,         // the stream could not be created
        SetRenderCallback,  // the render function could not be registered
        SetStreamFormat,    // the stream could not be set up in our format
    };

    virtual ~OutputUnit() = default;

    // Each returns a status: 0 on success, otherwise the underlying library's error code, which
    // the engine logs. A unit whose server is away opens all the same and becomes available when
    // the server is back.
    //
    // The render and rewind functions are called only between a start() that succeeded and the
    // return of the stop() (or close()) after it, and never once that has returned: a stream
    // that stalled and wakes up later renders nothing more. Whatever a playback renders into may
    // be freed as soon as its stop() has returned.
    virtual int open(RenderFunction render, RewindFunction rewind, NoticeFunction notice,
                     void* context) = 0;
    virtual int start() = 0;
    virtual int stop() = 0;
    virtual int close() = 0;

    // The sound has changed (a stop request, the volume, a setting): what is queued but not yet
    // heard is rendered again, from just ahead of what is heard now, so the change is heard at
    // once rather than after the queue. Any thread but the audio thread; does not wait. A unit
    // that queues little may ignore it.
    virtual void renderQueueAgain() {}

    // About how many frames handed out are still queued ahead of what is heard while the unit
    // plays: what a change made now is still in front of. Any thread; does not wait.
    virtual uint32_t framesAhead() const { return 0; }

    // Meaningful after open() returned non-zero.
    virtual OpenStep failedOpenStep() const { return OpenStep::Open; }

    // Any thread.
    virtual Availability availability() const { return Availability::Ready; }
    // Why the unit last failed, in the server's words ("Connection refused"); empty when it has
    // not.
    virtual std::string failureText() const { return {}; }
};

}  // namespace brinesong
