// SPDX-License-Identifier: GPL-3.0-or-later
// Records what a sink of the private sound server plays, from its monitor, with the server's own
// recording tool, and reads the recording back.
//
// A monitor delivers frames at the sink's pace whether anything plays or not, so the recording's
// length tells how far the sink has got: tests wait for frames to be recorded instead of sleeping
// (before a sound, to be sure the recording runs; after it, to be sure its end has passed).
#pragma once

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "support/Eventually.h"
#include "support/Program.h"
#include "support/Recording.h"

namespace brinesong::testing {

class MonitorRecorder {
public:
    MonitorRecorder(const std::string& sinkName, const std::string& path)
        : path_(path),
          // A small latency, or the data arrives in bursts of two seconds.
          recorder_({"parecord", "-d", sinkName + ".monitor", "--latency-msec=5",
                     "--file-format=wav", "--rate=44100", "--channels=2", "--format=s16le", path}) {
    }
    ~MonitorRecorder() { stop(); }
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;

    bool started() const { return recorder_.started(); }

    // Frames in the file so far (its 44-byte header aside).
    size_t recordedFrames() const {
        struct stat info {};
        if (::stat(path_.c_str(), &info) != 0 || info.st_size < kWavHeaderBytes) {
            return 0;
        }
        return static_cast<size_t>(info.st_size - kWavHeaderBytes) / 4;
    }

    // Waits until `more` frames have been recorded beyond those already there; false if the
    // recorder stalls (a hang guard of 30 s, far beyond any wait here).
    bool waitForMoreFrames(size_t more) {
        const size_t target = recordedFrames() + more;
        eventually([&] { return recordedFrames() >= target || recorder_.ended(); },
                   std::chrono::seconds(30), std::chrono::milliseconds(5));
        return recordedFrames() >= target;
    }

    // Ends the recording; the file is complete afterwards. Its exit status (0 when it was fine).
    int stop() {
        if (!stopped_) {
            stopped_ = true;
            recorder_.signal(SIGINT);
            status_ = recorder_.wait();
        }
        return status_;
    }

    Recording read() const { return readRecording(path_); }
    std::vector<int16_t> left() const { return read().left; }

private:
    static constexpr off_t kWavHeaderBytes = 44;
    std::string path_;
    Program recorder_;
    bool stopped_ = false;
    int status_ = -1;
};

}  // namespace brinesong::testing
