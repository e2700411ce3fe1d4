// The platform's output stream, as the playback engine sees it: opened once, started and stopped
// from any thread, and calling the render function on its own audio thread for every buffer with
// two native-endian 16-bit channel buffers (left, right). It plays nothing beyond a buffer's byte
// size when the renderer has shortened it.
#pragma once

#include <cstdint>

#include "synth/Renderer.h"

namespace brinesong {

class OutputUnit {
public:
    // Called on the audio thread. Must allocate nothing, lock nothing, make no system call.
    using RenderFunction = void (*)(void* context, RendererData* request);

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
    // the engine logs.
    virtual int open(RenderFunction render, void* context) = 0;
    virtual int start() = 0;
    virtual int stop() = 0;
    virtual int close() = 0;

    // Meaningful after open() returned non-zero.
    virtual OpenStep failedOpenStep() const { return OpenStep::Open; }
};

}  // namespace brinesong
