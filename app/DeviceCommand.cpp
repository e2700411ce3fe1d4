#include "DeviceCommand.h"

#include <cstdio>

#include "CommandLine.h"
#include "Settings.h"
#include "platform/SettingsStore.h"

namespace brinesong {

int runListDevicesCommand() {
    PulseHardware hardware;
    if (const int status = hardware.connect()) {
        std::fprintf(stderr, "brinesong: cannot reach the sound server: %s\n",
                     PulseHardware::errorText(status));
        return kExitFailure;
    }
    IgnoringQueue queue;
    OutputDeviceSelection selection(hardware, queue);
    for (const OutputSourceEntry& entry : selection.outputSources()) {
        std::printf("%s\n", entry.name.c_str());
    }
    return kExitOk;
}

CommandLineOutputDevice::CommandLineOutputDevice(OutputRouting& unit,
                                                 const std::optional<QString>& requested) {
    if (const int status = hardware_.connect()) {
        std::fprintf(stderr, "brinesong: the output devices cannot be listed: %s\n",
                     PulseHardware::errorText(status));
        return;  // the sound goes to the server's default sink
    }
    selection_ = std::make_unique<OutputDeviceSelection>(hardware_, queue_);
    selection_->setAudioOutput(&unit);
    std::optional<std::string> name;
    if (requested) {
        name = requested->toStdString();
    } else {
        SettingsStore store;
        Settings saved;
        saved.load(store);
        if (!saved.outputDeviceName.isEmpty()) {
            name = saved.outputDeviceName.toStdString();
        }
    }
    selection_->setOutputDeviceName(name);
    if (requested && selection_->outputDeviceName() != *name) {
        if (selection_->outputDeviceName().empty()) {
            std::fprintf(stderr, "brinesong: there is no output device \"%s\"\n", name->c_str());
        } else {
            std::fprintf(stderr,
                         "brinesong: there is no output device \"%s\"; playing to the default "
                         "one, \"%s\"\n",
                         name->c_str(), selection_->outputDeviceName().c_str());
        }
    }
}

}  // namespace brinesong
