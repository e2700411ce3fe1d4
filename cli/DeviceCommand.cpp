// SPDX-License-Identifier: GPL-3.0-or-later
#include "DeviceCommand.h"

#include <cstdio>

#include "cli/CommandLine.h"
#include "model/Settings.h"
#include "platform/PulseConnection.h"
#include "platform/PulseHardware.h"
#include "platform/SettingsStore.h"

namespace brinesong {

namespace {
// A one-shot listing waits this long for a server that does not answer.
constexpr std::chrono::milliseconds kListLimit{5000};
}  // namespace

int runListDevicesCommand() {
    PulseConnection connection;
    PulseHardware hardware(connection);
    connection.start();
    if (const int status = hardware.waitUntilListed(kListLimit)) {
        std::fprintf(stderr, "brinesong: cannot reach the sound server: %s\n",
                     PulseHardware::errorText(status));
        return kExitFailure;
    }
    const OutputSourceList list = OutputSourceList::setupAudioSource(hardware, false);
    for (const OutputSourceEntry& entry : list.entries()) {
        std::printf("%s\n", entry.name.c_str());
    }
    return kExitOk;
}

CommandLineOutputDevice::CommandLineOutputDevice(OutputDeviceSelection& selection,
                                                 OutputRouting& unit,
                                                 const std::optional<QString>& requested)
    : selection_(selection) {
    selection_.setAudioOutput(&unit);
    std::optional<std::string> name;
    if (requested) {
        requested_ = requested->toStdString();
        name = requested_;
    } else {
        SettingsStore store;
        Settings saved;
        saved.load(store);
        if (!saved.outputDeviceName.isEmpty()) {
            name = saved.outputDeviceName.toStdString();
        }
    }
    selection_.setOutputDeviceName(name);
    selection_.setChangeHandler([this] { listChanged(); });
    listChanged();
}

CommandLineOutputDevice::~CommandLineOutputDevice() {
    selection_.setChangeHandler(nullptr);
}

void CommandLineOutputDevice::listChanged() {
    if (told_ || !requested_ || selection_.outputSources().empty()) {
        return;
    }
    told_ = true;
    if (selection_.selectedName() != *requested_) {
        std::fprintf(stderr,
                     "brinesong: there is no output device \"%s\"; playing to the default one, "
                     "\"%s\"\n",
                     requested_->c_str(), selection_.selectedName().c_str());
    }
}

}  // namespace brinesong
