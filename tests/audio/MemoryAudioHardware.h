// SPDX-License-Identifier: GPL-3.0-or-later
// Audio hardware held in memory, for the device-list tests.
//
// A fake because this machine cannot give the real thing: its sound server's only devices are
// null sinks, which have no ports (switchable outputs), and no module here makes a sink with ports
// without a sound card; nor can a real query be made to fail on demand. Everything else about
// devices is also tested against the real server (tests/platform).
//
// Notifications go out on the thread of whoever calls notify...(), as they would on the
// hardware's own thread.
#pragma once

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "audio/AudioHardware.h"
#include "audio/ListenerRegistry.h"

namespace brinesong::testing {

class MemoryAudioHardware : public AudioHardware {
public:
    static constexpr int kNoSuchDevice = 560947818;  // any non-zero status will do

    struct Device {
        AudioDeviceID id = 0;
        std::string name;
        std::string manufacturer;
        bool hasOutput = true;
        bool settable = false;
        std::vector<std::pair<DataSourceID, std::string>> sources;
        DataSourceID current = kNoDataSource;
    };

    std::vector<Device> devices;
    AudioDeviceID defaultDevice = kNoAudioDevice;
    // The device each stream plays to; a stream not listed plays to the default device, as a new
    // stream does.
    std::map<uint32_t, AudioDeviceID> streams;
    // Operation name -> status it returns instead of working.
    std::map<std::string, int> failures;
    // Routing calls made, in order: "setCurrentDevice 3", "setDataSource 3 12".
    std::vector<std::string> routingCalls;
    int getDevicesCalls = 0;

    Device* find(AudioDeviceID id) {
        auto it = std::find_if(devices.begin(), devices.end(),
                               [id](const Device& d) { return d.id == id; });
        return it == devices.end() ? nullptr : &*it;
    }

    // Takes a device away as unplugging does: its registrations go with it, streams on it move to
    // the default device.
    void unplug(AudioDeviceID id) {
        devices.erase(std::remove_if(devices.begin(), devices.end(),
                                     [id](const Device& d) { return d.id == id; }),
                      devices.end());
        listeners_.forgetDevice(id);
        for (auto& [stream, device] : streams) {
            if (device == id) {
                device = defaultDevice;
            }
        }
    }

    void notifyDevicesChanged() { listeners_.notifyDevicesChanged(); }
    void notifyDevice(AudioDeviceID device, HardwareProperty property) {
        listeners_.notifyDevice(device, property);
    }

    size_t hardwareListenerCount() { return listeners_.hardwareCount(); }
    // Registrations for one device: (channel, isInput, property) each.
    std::vector<std::tuple<uint32_t, bool, HardwareProperty>> deviceListenersOf(AudioDeviceID id) {
        return listeners_.deviceRegistrations(id);
    }

    int getDevices(std::vector<AudioDeviceID>& out) override {
        ++getDevicesCalls;
        out.clear();
        if (int status = failure("getDevices")) {
            return status;
        }
        for (const Device& d : devices) {
            out.push_back(d.id);
        }
        return 0;
    }
    int getDefaultOutputDevice(AudioDeviceID& device) override {
        device = kNoAudioDevice;
        if (int status = failure("getDefaultOutputDevice")) {
            return status;
        }
        device = defaultDevice;
        return 0;
    }
    int hasStream(AudioDeviceID id, bool isInput) override {
        Device* d = find(id);
        return d && d->hasOutput && !isInput ? 0 : kNoSuchDevice;
    }
    int getDeviceName(AudioDeviceID id, bool, std::string& name) override {
        name.clear();
        Device* d = find(id);
        if (int status = d ? failure("getDeviceName") : kNoSuchDevice) {
            return status;
        }
        name = d->name;
        return 0;
    }
    int getManufacturer(AudioDeviceID id, bool, std::string& manufacturer) override {
        manufacturer.clear();
        Device* d = find(id);
        if (int status = d ? failure("getManufacturer") : kNoSuchDevice) {
            return status;
        }
        manufacturer = d->manufacturer;
        return 0;
    }
    int isDataSourceSettable(AudioDeviceID id, bool, bool& settable) override {
        settable = false;
        Device* d = find(id);
        if (!d) {
            return kNoSuchDevice;
        }
        settable = d->settable;
        return 0;
    }
    int getDataSource(AudioDeviceID id, bool, DataSourceID& source) override {
        source = kNoDataSource;
        Device* d = find(id);
        if (int status = d ? failure("getDataSource") : kNoSuchDevice) {
            return status;
        }
        source = d->current;
        return 0;
    }
    int getDataSources(AudioDeviceID id, bool, std::vector<DataSourceID>& out) override {
        out.clear();
        Device* d = find(id);
        if (!d) {
            return kNoSuchDevice;
        }
        for (const auto& source : d->sources) {
            out.push_back(source.first);
        }
        return 0;
    }
    int getDataSourceName(AudioDeviceID id, bool, DataSourceID source, std::string& name) override {
        name.clear();
        Device* d = find(id);
        if (int status = d ? failure("getDataSourceName") : kNoSuchDevice) {
            return status;
        }
        for (const auto& s : d->sources) {
            if (s.first == source) {
                name = s.second;
                return 0;
            }
        }
        return kNoSuchDevice;
    }
    int setDataSource(AudioDeviceID id, bool, DataSourceID source) override {
        routingCalls.push_back("setDataSource " + std::to_string(id) + " " +
                               std::to_string(source));
        Device* d = find(id);
        if (int status = d ? failure("setDataSource") : kNoSuchDevice) {
            return status;
        }
        d->current = source;
        return 0;
    }
    int getCurrentDevice(OutputRouting& unit, AudioDeviceID& device) override {
        device = kNoAudioDevice;
        if (int status = failure("getCurrentDevice")) {
            return status;
        }
        auto it = streams.find(unit.streamIndex());
        device = it == streams.end() ? defaultDevice : it->second;
        return 0;
    }
    int setCurrentDevice(OutputRouting& unit, AudioDeviceID device) override {
        routingCalls.push_back("setCurrentDevice " + std::to_string(device));
        if (int status = find(device) ? failure("setCurrentDevice") : kNoSuchDevice) {
            return status;
        }
        streams[unit.streamIndex()] = device;
        return 0;
    }

    int addHardwareListener(HardwareListenerProc proc, void* context) override {
        listeners_.addHardware(proc, context);
        return 0;
    }
    int removeHardwareListener(HardwareListenerProc proc, void* context) override {
        return listeners_.removeHardware(proc, context) ? 0 : kNoSuchDevice;
    }
    int addDeviceListener(AudioDeviceID device, uint32_t channel, bool isInput,
                          HardwareProperty property, DeviceListenerProc proc,
                          void* context) override {
        if (!find(device)) {
            return kNoSuchDevice;
        }
        listeners_.addDevice(device, channel, isInput, property, proc, context);
        return 0;
    }
    int removeDeviceListener(AudioDeviceID device, uint32_t channel, bool isInput,
                             HardwareProperty property, DeviceListenerProc proc,
                             void* context) override {
        // Like the real one: removing what is not registered (a device that arrived since the
        // last registration) is not an error.
        listeners_.removeDevice(device, channel, isInput, property, proc, context);
        return 0;
    }
    void removeAllListeners(void* context) override { listeners_.removeAll(context); }

private:
    int failure(const std::string& operation) const {
        auto it = failures.find(operation);
        return it == failures.end() ? 0 : it->second;
    }

    ListenerRegistry listeners_;
};

}  // namespace brinesong::testing
