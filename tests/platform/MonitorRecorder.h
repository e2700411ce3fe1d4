// Records what a sink of the private sound server plays, from its monitor, with the server's own
// recording tool, and reads the recording back.
#pragma once

#include <signal.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace brinesong::testing {

class MonitorRecorder {
public:
    MonitorRecorder(const std::string& sinkName, const std::string& path) : path_(path) {
        const std::string device = sinkName + ".monitor";
        pid_ = fork();
        if (pid_ == 0) {
            // A small latency, or the data arrives in bursts of two seconds.
            execlp("parecord", "parecord", "-d", device.c_str(), "--latency-msec=5",
                   "--file-format=wav", "--rate=44100", "--channels=2", "--format=s16le",
                   path.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~MonitorRecorder() { stop(); }
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;

    // Ends the recording; the file is complete afterwards.
    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGINT);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

    // The left channel's samples.
    std::vector<int16_t> left() const {
        std::vector<int16_t> out;
        SF_INFO info{};
        SNDFILE* file = sf_open(path_.c_str(), SFM_READ, &info);
        if (!file || info.channels != 2) {
            if (file) {
                sf_close(file);
            }
            return out;
        }
        std::vector<int16_t> frames(static_cast<size_t>(info.frames) * 2);
        const sf_count_t read = sf_readf_short(file, frames.data(), info.frames);
        sf_close(file);
        for (sf_count_t i = 0; i < read; ++i) {
            out.push_back(frames[static_cast<size_t>(i) * 2]);
        }
        return out;
    }

private:
    std::string path_;
    pid_t pid_ = -1;
};

// Samples that are not silence (a null sink's monitor records exact zeros when nothing plays).
inline size_t soundingSamples(const std::vector<int16_t>& samples) {
    size_t count = 0;
    for (int16_t s : samples) {
        count += s != 0;
    }
    return count;
}

inline double rms(const std::vector<int16_t>& samples) {
    double sum = 0;
    for (int16_t s : samples) {
        sum += double(s) * s;
    }
    return samples.empty() ? 0.0 : std::sqrt(sum / double(samples.size()));
}

}  // namespace brinesong::testing
