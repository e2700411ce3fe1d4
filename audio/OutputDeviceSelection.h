// SPDX-License-Identifier: GPL-3.0-or-later
// The choice of output device behind the preferences panel's pop-up: the list of devices
// (OutputSourceList), the routing of the output to the chosen entry, and following the hardware
// while the program runs. The name of the selection is what the program saves at quit and applies
// at the next launch.
//
// The list follows the hardware from the moment this object exists, whether or not the panel has
// been opened, so the pop-up is right the first time it is shown. Following never routes: only the
// user's choice and the name applied at launch make routing calls. The panel draws the list; it
// hears of every change through the change handler.
//
// A passing fault costs no stored choice:
// - A name applied at launch that no entry has (the server is not there yet, or the device is
//   unplugged) is kept as the name to save, and is routed to as soon as the device appears,
//   unless the user has chosen another entry in the meantime.
// - When the list becomes empty (the server went away, or its last device), the selection's name
//   is kept the same way and routed to again when the device is back.
// - A device that goes while others remain is followed as the hardware moves the sound: the device
//   played to then is the selection, and its name is saved.
// With no device at all, no routing call is made and the pop-up shows a disabled placeholder.
//
// Threads: everything runs on the main thread except the two dispatch methods, which the hardware
// calls on its own thread; they only note what changed (NotificationCoalescer).
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "audio/AudioHardware.h"
#include "audio/MainThreadQueue.h"
#include "audio/NotificationCoalescer.h"
#include "audio/OutputSourceList.h"

namespace brinesong {

// A device notification as it reaches the main thread.
struct DeviceNotification {
    AudioDeviceID deviceID = kNoAudioDevice;
    uint32_t channel = 0;
    bool isInput = false;
    HardwareProperty propertyID = HardwareProperty::DataSource;
};

class OutputDeviceSelection {
public:
    // How long the main thread waits after the first notification of a burst before it rebuilds.
    static constexpr std::chrono::milliseconds kCoalesceDelay{30};

    // Builds the list and registers the notifications for output.
    OutputDeviceSelection(AudioHardware& hardware, MainThreadQueue& mainThread);
    // Unregisters every notification; posted work that has not run yet is dropped.
    ~OutputDeviceSelection();
    OutputDeviceSelection(const OutputDeviceSelection&) = delete;
    OutputDeviceSelection& operator=(const OutputDeviceSelection&) = delete;

    // The unit whose device is set and followed. Without one, no routing call is made.
    void setAudioOutput(OutputRouting* unit);
    // Applies the name saved at the last quit (none when nothing was saved).
    void setOutputDeviceName(const std::optional<std::string>& name) {
        setOutputDeviceWithName(name);
    }
    // The name to save at quit: the chosen device's, also while it is away; empty when nothing
    // has been chosen.
    std::string outputDeviceName() const { return wantedName_.value_or(mOutputDeviceName); }
    // The name of the entry the output goes to now (what the pop-up shows).
    const std::string& selectedName() const { return mOutputDeviceName; }

    // The first entry with exactly that name, else the default device's entry; a name not listed
    // is kept for when its device appears.
    void setOutputDeviceWithName(const std::optional<std::string>& name);
    // Routes the output to an entry; an index outside the list does nothing.
    void setOutputDeviceAtIndex(int index);
    // The entry of the system's default output device (with its current data source), else 0.
    int defaultDeviceIndex() { return mAudioOutputSourceArray.defaultDeviceIndex(hardware_); }

    // The display name of a device in its present state, by the list's naming rule.
    std::string deviceName(AudioDeviceID device, bool isInput) {
        return OutputSourceList::deviceName(hardware_, device, isInput);
    }

    // Makes the selection follow the device the unit plays to, without routing anything.
    void selectCurrentDevice();
    // Rebuilds the list and the listeners after a hardware change, then follows the current
    // device (or routes to a name kept while its device was away).
    void rebuildPopUp();

    // The pop-up's action: the user chose the entry at `index`; route there at once and remember
    // its name.
    void audioOutputPopUpButton(int index);
    // The entry to show selected: the one played to, else the one of the selection's name, else
    // 0; -1 when the list is empty.
    int selectedIndex() const;
    // Main thread: runs after the list or the selection changed.
    void setChangeHandler(std::function<void()> handler) { changed_ = std::move(handler); }

    void addListeners(bool isInput);
    void removeListeners(bool isInput);

    // Hardware thread.
    void audioHardwarePropertyListenerDispatch(HardwareProperty property);
    void audioDevicePropertyListenerDispatch(AudioDeviceID device, uint32_t channel, bool isInput,
                                             HardwareProperty property);
    // Main thread.
    void audioHardwarePropertyListener(HardwareProperty property);
    void audioDevicePropertyListener(const DeviceNotification& notification);

    const OutputSourceList& outputSources() const { return mAudioOutputSourceArray; }
    AudioDeviceID outputDevice() const { return mOutputDevice; }
    DataSourceID outputDataSourceID() const { return mOutputDataSourceID; }

private:
    enum Pending : uint32_t { kRebuild = 1, kReselect = 2 };

    void handlePending(uint32_t what);
    // Routing is settled for the devices of this moment: the unit may play.
    void settle();
    void notifyChanged();

    AudioHardware& hardware_;
    OutputSourceList mAudioOutputSourceArray;
    AudioDeviceID mOutputDevice = kNoAudioDevice;
    DataSourceID mOutputDataSourceID = kNoDataSource;
    std::string mOutputDeviceName;
    // A chosen name whose device is not listed now: saved at quit, routed to when it appears.
    std::optional<std::string> wantedName_;
    OutputRouting* gOutputUnit = nullptr;
    std::function<void()> changed_;
    NotificationCoalescer notifications_;
};

}  // namespace brinesong
