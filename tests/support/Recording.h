// SPDX-License-Identifier: GPL-3.0-or-later
// Sound files read back in tests (a recorded WAV, an exported AIFF) through libsndfile, an
// independent reader, and the measures the tests take of them.
#pragma once

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace brinesong::testing {

// A 16-bit stereo file's samples, one vector per channel.
struct Recording {
    std::vector<int16_t> left, right;
    int sampleRate = 0;
    size_t frames() const { return left.size(); }
};

// Empty when the file cannot be read as stereo.
inline Recording readRecording(const std::string& path) {
    Recording out;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return out;
    }
    if (info.channels == 2) {
        std::vector<int16_t> frames(static_cast<size_t>(info.frames) * 2);
        const sf_count_t read = sf_readf_short(file, frames.data(), info.frames);
        out.sampleRate = info.samplerate;
        for (sf_count_t i = 0; i < read; ++i) {
            out.left.push_back(frames[static_cast<size_t>(i) * 2]);
            out.right.push_back(frames[static_cast<size_t>(i) * 2 + 1]);
        }
    }
    sf_close(file);
    return out;
}

// Samples that are not silence (a null sink's monitor records exact zeros when nothing plays).
inline size_t soundingSamples(const std::vector<int16_t>& samples) {
    size_t count = 0;
    for (int16_t s : samples) {
        count += s != 0;
    }
    return count;
}

// Root mean square of samples [begin, end); 0 for an empty range.
inline double rms(const std::vector<int16_t>& samples, size_t begin, size_t end) {
    double sum = 0;
    for (size_t i = begin; i < end; ++i) {
        sum += double(samples[i]) * samples[i];
    }
    return end > begin ? std::sqrt(sum / double(end - begin)) : 0.0;
}

inline double rms(const std::vector<int16_t>& samples) {
    return rms(samples, 0, samples.size());
}

}  // namespace brinesong::testing
