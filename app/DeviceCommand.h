// The output device on the command line: --list-devices, and --device for --play.
#pragma once

#include <QString>
#include <memory>
#include <optional>

#include "audio/MainThreadQueue.h"
#include "audio/OutputDeviceSelection.h"
#include "platform/PulseHardware.h"

namespace brinesong {

// Without a pop-up nothing follows the hardware, so the command line drops its notifications.
class IgnoringQueue : public MainThreadQueue {
public:
    void postToMainThread(std::function<void()>, std::chrono::milliseconds) override {}
};

// Routes a playback as the window's launch does: to the device of the name given, else the one
// saved by the window, else the default device. Keep it for as long as the playback runs.
class CommandLineOutputDevice {
public:
    CommandLineOutputDevice(OutputRouting& unit, const std::optional<QString>& requested);
    CommandLineOutputDevice(const CommandLineOutputDevice&) = delete;
    CommandLineOutputDevice& operator=(const CommandLineOutputDevice&) = delete;

private:
    PulseHardware hardware_;
    IgnoringQueue queue_;
    std::unique_ptr<OutputDeviceSelection> selection_;
};

}  // namespace brinesong
