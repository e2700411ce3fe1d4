// SPDX-License-Identifier: GPL-3.0-or-later
// What the formats written through libsndfile share: the file opened on the export's output
// (through libsndfile's virtual I/O, so that every byte goes through the output and the descriptor
// stays ours alone to close), blocks interleaved and written as 16-bit samples, the file finished
// at the end, and libsndfile's failures turned into an errno for the export's message.
#pragma once

#include <sndfile.h>

#include <memory>
#include <vector>

#include "export/ExportLoop.h"
#include "export/ExportOutput.h"

namespace brinesong {

class SndfileEncoder : public BlockEncoder {
public:
    // `format` is libsndfile's major format and encoding; `maxFrames` what the format can hold.
    SndfileEncoder(ExportOutput& output, int format, uint64_t maxFrames);
    ~SndfileEncoder() override;

    uint64_t maxFrames() const override { return maxFrames_; }
    bool begin(uint32_t frames, int32_t sampleRate) override;
    bool encode(const int16_t* left, const int16_t* right, uint32_t frames) override;
    bool end() override;

    struct Io;

protected:
    // Opens the file at `sampleRate`; then `configure` sets the format's options.
    bool open(int32_t sampleRate);
    virtual void configure(SNDFILE* /*file*/) {}
    // Sets errno after a failure: the output's own when a write failed, else libsndfile's (EIO
    // when it names no system error).
    bool failed();
    // After a write that libsndfile reported whole: false when the output lost some of it, which
    // some of libsndfile's encoders do not report.
    bool takenWhole();
    // Every byte libsndfile writes, on its way to the output.
    virtual bool put(const void* data, size_t bytes) { return output_.write(data, bytes); }

    ExportOutput& output_;
    int format_;
    uint64_t maxFrames_;
    SNDFILE* sndfile_ = nullptr;
    std::vector<int16_t> interleaved_;
};

}  // namespace brinesong
