// SPDX-License-Identifier: GPL-3.0-or-later
// The private sound server from the tests' side, through its own command-line tools: loading and
// unloading sinks, finding them, playing a stream to it.
#pragma once

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>

#include "support/Eventually.h"
#include "support/Program.h"

namespace brinesong::testing {

// PipeWire's server mixes at 48 kHz: what it plays there has been resampled.
inline bool resampledServer() {
    const char* kind = std::getenv("BRINESONG_SERVER_KIND");
    return kind != nullptr && std::string(kind) == "pipewire";
}

inline bool haveServer() {
    return std::getenv("PULSE_SERVER") != nullptr;
}
inline constexpr const char* kNoServer =
    "PULSE_SERVER is not set: these tests need the private sound server that scripts/test.sh "
    "starts (scripts/pulse-server.sh start DIR)";

// Skips the calling test when the server is not there.
#define REQUIRE_SERVER()                                 \
    if (!::brinesong::testing::haveServer()) {           \
        GTEST_SKIP() << ::brinesong::testing::kNoServer; \
    }

// Standard output of a shell command.
inline std::string shellOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            out.append(buffer, n);
        }
        pclose(pipe);
    }
    return out;
}

// Index of a sink by name in `pactl list short sinks`, or UINT32_MAX.
inline uint32_t sinkIndex(const std::string& name) {
    std::istringstream lines(shellOutput("pactl list short sinks"));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string index;
        std::string sinkName;
        fields >> index >> sinkName;
        if (sinkName == name) {
            return static_cast<uint32_t>(std::stoul(index));
        }
    }
    return UINT32_MAX;
}

// Sink input index -> sink index, from `pactl list short sink-inputs`.
inline std::set<std::pair<uint32_t, uint32_t>> sinkInputs() {
    std::set<std::pair<uint32_t, uint32_t>> found;
    std::istringstream lines(shellOutput("pactl list short sink-inputs"));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        uint32_t input;
        uint32_t sink;
        if (fields >> input >> sink) {
            found.emplace(input, sink);
        }
    }
    return found;
}

// A null sink loaded for the life of the object, named and described as a test asks.
class LoadedSink {
public:
    LoadedSink(const std::string& name, const std::string& description, const std::string& vendor) {
        std::string properties = "device.description=\\\"" + description + "\\\"";
        if (!vendor.empty()) {
            properties += " device.vendor.name=\\\"" + vendor + "\\\"";
        }
        // The module wants the property list in single quotes, each value in double quotes.
        const std::string out =
            shellOutput("pactl load-module module-null-sink sink_name=" + name +
                        " norewinds=1 \"sink_properties='" + properties + "'\"");
        module_ = out.empty() ? -1 : std::atoi(out.c_str());
        index = sinkIndex(name);
    }
    ~LoadedSink() { unload(); }
    LoadedSink(const LoadedSink&) = delete;
    LoadedSink& operator=(const LoadedSink&) = delete;

    void unload() {
        if (module_ >= 0) {
            shellOutput("pactl unload-module " + std::to_string(module_));
            module_ = -1;
        }
    }
    bool loaded() const { return module_ >= 0 && index != UINT32_MAX; }

    uint32_t index = UINT32_MAX;

private:
    int module_ = -1;
};

// A stream of silence played by the server's own client tool to the default sink.
class PlayingStream {
public:
    PlayingStream()
        : before_(sinkInputs()),
          player_({"pacat", "--playback", "--latency-msec=20"}, RunOptions{{}, "/dev/zero"}) {
        eventually(
            [&] {
                for (const auto& entry : sinkInputs()) {
                    if (!before_.count(entry)) {
                        index = entry.first;
                    }
                }
                return index != UINT32_MAX || player_.ended();
            },
            std::chrono::seconds(30), std::chrono::milliseconds(20));
    }
    ~PlayingStream() {
        player_.signal(SIGTERM);
        player_.wait();
    }
    PlayingStream(const PlayingStream&) = delete;
    PlayingStream& operator=(const PlayingStream&) = delete;

    // The sink it plays to now, as the server's tool reports it.
    uint32_t sink() const {
        for (const auto& entry : sinkInputs()) {
            if (entry.first == index) {
                return entry.second;
            }
        }
        return UINT32_MAX;
    }

    uint32_t index = UINT32_MAX;

private:
    std::set<std::pair<uint32_t, uint32_t>> before_;
    Program player_;
};

}  // namespace brinesong::testing
