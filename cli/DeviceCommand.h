// SPDX-License-Identifier: GPL-3.0-or-later
// The output device on the command line: --list-devices, and --device for --play.
#pragma once

#include <QString>
#include <optional>
#include <string>

#include "audio/OutputDeviceSelection.h"

namespace brinesong {

// Routes a playback as the window's launch does: to the device of the name given, else the one
// saved by the window, else the default device. The list follows the server, so a device (or the
// server itself) that comes later is found too. Says once, when the server first lists its
// devices, that a device asked for by name is not among them. Keep it for as long as the playback
// runs.
class CommandLineOutputDevice {
public:
    CommandLineOutputDevice(OutputDeviceSelection& selection, OutputRouting& unit,
                            const std::optional<QString>& requested);
    CommandLineOutputDevice(const CommandLineOutputDevice&) = delete;
    CommandLineOutputDevice& operator=(const CommandLineOutputDevice&) = delete;
    ~CommandLineOutputDevice();

private:
    void listChanged();

    OutputDeviceSelection& selection_;
    std::optional<std::string> requested_;
    bool told_ = false;
};

}  // namespace brinesong
