// SPDX-License-Identifier: GPL-3.0-or-later
// The command line's parser on arbitrary arguments: the input is the argument list, each argument
// ended by a NUL byte, as the kernel hands it over. Besides what the sanitizers catch, a command
// that is taken holds only values its options allow, and one that is refused says why.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/CommandLine.h"

using namespace brinesong;

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void requirePercent(const std::optional<double>& value) {
    require(!value || (*value >= 0.0 && *value <= 100.0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> arguments;
    std::string argument;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.push_back(argument);
            argument.clear();
        } else {
            argument.push_back(char(data[i]));
        }
    }
    if (!argument.empty()) {
        arguments.push_back(argument);
    }
    const ParseOutcome outcome = parseCommandLine(arguments);
    if (!outcome.ok) {
        require(!outcome.error.isEmpty());
        return 0;
    }
    const CommandLine& command = outcome.command;
    const SoundOptions& sound = command.sound;
    for (const auto* percent : {&sound.volume, &sound.lightWave, &sound.heavyWave, &sound.ascent,
                                &sound.descent, &sound.waveInterval}) {
        requirePercent(*percent);
    }
    require(!sound.minutes || (std::isfinite(*sound.minutes) && *sound.minutes >= 0.0f));
    for (const auto* fade : {&command.fadeInMinutes, &command.fadeOutMinutes}) {
        require(!*fade || (std::isfinite(**fade) && **fade >= 0.0));
    }
    if (command.mode == CommandLine::Mode::Export) {
        require(!command.exportPath.empty() && command.exportPath.back() != '/');
    }
    return 0;
}
