// SPDX-License-Identifier: GPL-3.0-or-later
// The change listeners an audio hardware has been given, and the calls that notify them.
// Registrations come from the main thread and notifications from the hardware's own thread, so a
// lock is held while listeners run: removing one waits for a call in progress.
#pragma once

#include <algorithm>
#include <mutex>
#include <tuple>
#include <vector>

#include "audio/AudioHardware.h"

namespace brinesong {

class ListenerRegistry {
public:
    void addHardware(HardwareListenerProc proc, void* context) {
        std::lock_guard lock(mutex_);
        hardware_.push_back({proc, context});
    }

    // False when no such registration exists.
    bool removeHardware(HardwareListenerProc proc, void* context) {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(hardware_.begin(), hardware_.end(), [&](const HardwareReg& r) {
            return r.proc == proc && r.context == context;
        });
        if (it == hardware_.end()) {
            return false;
        }
        hardware_.erase(it);
        return true;
    }

    void addDevice(AudioDeviceID device, uint32_t channel, bool isInput, HardwareProperty property,
                   DeviceListenerProc proc, void* context) {
        std::lock_guard lock(mutex_);
        devices_.push_back({device, channel, isInput, property, proc, context});
    }

    // False when no such registration exists (a device that arrived since the last registration).
    bool removeDevice(AudioDeviceID device, uint32_t channel, bool isInput,
                      HardwareProperty property, DeviceListenerProc proc, void* context) {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(devices_.begin(), devices_.end(), [&](const DeviceReg& r) {
            return r.device == device && r.channel == channel && r.isInput == isInput &&
                   r.property == property && r.proc == proc && r.context == context;
        });
        if (it == devices_.end()) {
            return false;
        }
        devices_.erase(it);
        return true;
    }

    void removeAll(void* context) {
        std::lock_guard lock(mutex_);
        std::erase_if(hardware_, [context](const HardwareReg& r) { return r.context == context; });
        std::erase_if(devices_, [context](const DeviceReg& r) { return r.context == context; });
    }

    // A device that went away takes its registrations with it.
    void forgetDevice(AudioDeviceID device) {
        std::lock_guard lock(mutex_);
        std::erase_if(devices_, [device](const DeviceReg& r) { return r.device == device; });
    }

    void notifyDevicesChanged() {
        std::lock_guard lock(mutex_);
        for (const HardwareReg& r : hardware_) {
            r.proc(HardwareProperty::Devices, r.context);
        }
    }

    // Calls the listeners of `device` for `property`, of the output direction only when asked.
    void notifyDevice(AudioDeviceID device, HardwareProperty property, bool outputOnly = false) {
        std::lock_guard lock(mutex_);
        for (const DeviceReg& r : devices_) {
            if (r.device == device && r.property == property && !(outputOnly && r.isInput)) {
                r.proc(device, r.channel, r.isInput, property, r.context);
            }
        }
    }

    size_t hardwareCount() {
        std::lock_guard lock(mutex_);
        return hardware_.size();
    }

    // Registrations for one device: (channel, isInput, property) each.
    std::vector<std::tuple<uint32_t, bool, HardwareProperty>> deviceRegistrations(
        AudioDeviceID device) {
        std::lock_guard lock(mutex_);
        std::vector<std::tuple<uint32_t, bool, HardwareProperty>> found;
        for (const DeviceReg& r : devices_) {
            if (r.device == device) {
                found.emplace_back(r.channel, r.isInput, r.property);
            }
        }
        return found;
    }

private:
    struct HardwareReg {
        HardwareListenerProc proc;
        void* context;
    };
    struct DeviceReg {
        AudioDeviceID device;
        uint32_t channel;
        bool isInput;
        HardwareProperty property;
        DeviceListenerProc proc;
        void* context;
    };

    std::mutex mutex_;
    std::vector<HardwareReg> hardware_;
    std::vector<DeviceReg> devices_;
};

}  // namespace brinesong
