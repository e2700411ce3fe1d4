// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/OutputDeviceSelection.h"

#include <cstdio>

namespace brinesong {

namespace {

// Log lines keep the names of the hardware operations whose role each call plays.
void logStatus(const char* format, int status) {
    std::fprintf(stderr, format, status);
    std::fputc('\n', stderr);
}

int hardwareListenerCallback(HardwareProperty property, void* context) {
    static_cast<OutputDeviceSelection*>(context)->audioHardwarePropertyListenerDispatch(property);
    return 0;
}

int deviceListenerCallback(AudioDeviceID device, uint32_t channel, bool isInput,
                           HardwareProperty property, void* context) {
    static_cast<OutputDeviceSelection*>(context)->audioDevicePropertyListenerDispatch(
        device, channel, isInput, property);
    return 0;
}

}  // namespace

OutputDeviceSelection::OutputDeviceSelection(AudioHardware& hardware, MainThreadQueue& mainThread)
    : hardware_(hardware),
      notifications_(mainThread, kCoalesceDelay, [this](uint32_t what) { handlePending(what); }) {
    mAudioOutputSourceArray = OutputSourceList::setupAudioSource(hardware_, false);
    addListeners(false);
}

OutputDeviceSelection::~OutputDeviceSelection() {
    // Also covers devices that went away after the last rebuild: their registrations still carry
    // `this` as context.
    hardware_.removeAllListeners(this);
}

void OutputDeviceSelection::setAudioOutput(OutputRouting* unit) {
    gOutputUnit = unit;
    if (gOutputUnit) {
        gOutputUnit->setRoutedByDeviceList(true);
    }
}

void OutputDeviceSelection::setOutputDeviceWithName(const std::optional<std::string>& name) {
    if (name) {
        const int found = mAudioOutputSourceArray.indexOfName(*name);
        if (found >= 0) {
            wantedName_.reset();
            mOutputDeviceName = *name;
            setOutputDeviceAtIndex(found);
            settle();
            notifyChanged();
            return;
        }
        // Not there now: the sound goes to the default device meanwhile.
        wantedName_ = *name;
    }
    if (mAudioOutputSourceArray.empty()) {
        // Nothing to route to; the name of an earlier selection stays.
        notifyChanged();
        return;
    }
    const int index = defaultDeviceIndex();
    mOutputDeviceName = mAudioOutputSourceArray[index].name;
    setOutputDeviceAtIndex(index);
    settle();
    notifyChanged();
}

void OutputDeviceSelection::setOutputDeviceAtIndex(int index) {
    if (index < 0 || index >= mAudioOutputSourceArray.size()) {
        return;
    }
    const OutputSourceEntry& entry = mAudioOutputSourceArray[index];
    const AudioDeviceID device = entry.deviceID;
    const DataSourceID source = entry.dataSource.value_or(kNoDataSource);
    if (device != mOutputDevice) {
        if (gOutputUnit) {
            if (int status = hardware_.setCurrentDevice(*gOutputUnit, device)) {
                logStatus("  AudioUnitSetProperty( CurrentDevice ): %d", status);
            }
        }
    } else if (source == mOutputDataSourceID) {
        return;
    }
    if (entry.dataSource) {
        if (int status = hardware_.setDataSource(device, false, source)) {
            logStatus("  AudioDeviceSetProperty( DataSource ): %d", status);
        }
    }
    // Recorded also when a call above failed: the choice stands, it is what the pop-up shows and
    // what is saved at quit.
    mOutputDevice = device;
    mOutputDataSourceID = source;
}

void OutputDeviceSelection::audioOutputPopUpButton(int index) {
    if (index < 0 || index >= mAudioOutputSourceArray.size()) {
        return;  // the placeholder of an empty list, or nothing selected
    }
    // The user's choice replaces one kept for an absent device.
    wantedName_.reset();
    setOutputDeviceAtIndex(index);
    // The entry's own name, not the item's title, which may carry a number to tell equal names
    // apart.
    mOutputDeviceName = mAudioOutputSourceArray[index].name;
    notifyChanged();
}

int OutputDeviceSelection::selectedIndex() const {
    if (mAudioOutputSourceArray.empty()) {
        return -1;
    }
    // The entry of the device and source actually played to, so that of two entries with equal
    // names the right one shows; else by name; else the first.
    const int played = mAudioOutputSourceArray.indexOfEntry(mOutputDevice, mOutputDataSourceID);
    if (played >= 0) {
        return played;
    }
    const int named = mAudioOutputSourceArray.indexOfName(mOutputDeviceName);
    return named >= 0 ? named : 0;
}

void OutputDeviceSelection::selectCurrentDevice() {
    if (gOutputUnit) {
        AudioDeviceID device = kNoAudioDevice;
        if (int status = hardware_.getCurrentDevice(*gOutputUnit, device)) {
            logStatus("  AudioUnitGetProperty( CurrentDevice ): %d", status);
        } else {
            mOutputDevice = device;
        }
    }
    mOutputDataSourceID = kNoDataSource;
    if (mOutputDevice != kNoAudioDevice) {
        bool settable = false;
        if (hardware_.isDataSourceSettable(mOutputDevice, false, settable) == 0 && settable) {
            DataSourceID source = kNoDataSource;
            if (hardware_.getDataSource(mOutputDevice, false, source) == 0) {
                mOutputDataSourceID = source;
            }
        }
        std::string name = deviceName(mOutputDevice, false);
        if (!name.empty()) {
            mOutputDeviceName = std::move(name);
        }
    }
    notifyChanged();
}

void OutputDeviceSelection::rebuildPopUp() {
    removeListeners(false);
    mAudioOutputSourceArray = OutputSourceList::setupAudioSource(hardware_, false);
    addListeners(false);
    if (mAudioOutputSourceArray.empty()) {
        // Nothing to follow and nothing to route to: the choice waits for its device. The
        // identifiers of this moment mean nothing once devices are back (a server that restarts
        // numbers them anew), so the next list routes afresh.
        if (!wantedName_ && !mOutputDeviceName.empty()) {
            wantedName_ = mOutputDeviceName;
        }
        mOutputDevice = kNoAudioDevice;
        mOutputDataSourceID = kNoDataSource;
        notifyChanged();
        return;
    }
    if (wantedName_ && mAudioOutputSourceArray.indexOfName(*wantedName_) >= 0) {
        const std::string name = *wantedName_;
        setOutputDeviceWithName(name);  // settles and notifies
        return;
    }
    if (mOutputDevice == kNoAudioDevice) {
        // Nothing routed yet (the list was empty until now): the default device's entry, as a
        // launch takes it. A kept name stays kept.
        const int index = defaultDeviceIndex();
        mOutputDeviceName = mAudioOutputSourceArray[index].name;
        setOutputDeviceAtIndex(index);
        settle();
        notifyChanged();
        return;
    }
    selectCurrentDevice();
    settle();
}

void OutputDeviceSelection::settle() {
    if (gOutputUnit && !mAudioOutputSourceArray.empty()) {
        gOutputUnit->devicesSettled();
    }
}

void OutputDeviceSelection::notifyChanged() {
    if (changed_) {
        changed_();
    }
}

void OutputDeviceSelection::addListeners(bool isInput) {
    if (int status = hardware_.addHardwareListener(hardwareListenerCallback, this)) {
        logStatus("  AudioHardwareAddPropertyListener( Devices ): %d", status);
    }
    std::vector<AudioDeviceID> devices;
    if (int status = hardware_.getDevices(devices)) {
        logStatus("  AudioHardwareGetProperty( Devices ): %d", status);
    }
    for (AudioDeviceID device : devices) {
        if (int status = hardware_.addDeviceListener(
                device, 0, isInput, HardwareProperty::DataSource, deviceListenerCallback, this)) {
            logStatus("    AudioDeviceAddPropertyListener( DataSource ): %d", status);
        }
        if (int status = hardware_.addDeviceListener(
                device, 0, isInput, HardwareProperty::DataSources, deviceListenerCallback, this)) {
            logStatus("    AudioDeviceAddPropertyListener( DataSources ): %d", status);
        }
    }
}

void OutputDeviceSelection::removeListeners(bool isInput) {
    if (int status = hardware_.removeHardwareListener(hardwareListenerCallback, this)) {
        logStatus("  AudioHardwareRemovePropertyListener( Devices ): %d", status);
    }
    std::vector<AudioDeviceID> devices;
    if (int status = hardware_.getDevices(devices)) {
        logStatus("  AudioHardwareGetProperty( Devices ): %d", status);
    }
    for (AudioDeviceID device : devices) {
        if (int status = hardware_.removeDeviceListener(
                device, 0, isInput, HardwareProperty::DataSource, deviceListenerCallback, this)) {
            logStatus("    AudioDeviceRemovePropertyListener( DataSource ): %d", status);
        }
        if (int status = hardware_.removeDeviceListener(
                device, 0, isInput, HardwareProperty::DataSources, deviceListenerCallback, this)) {
            logStatus("    AudioDeviceRemovePropertyListener( DataSources ): %d", status);
        }
    }
}

void OutputDeviceSelection::audioHardwarePropertyListenerDispatch(HardwareProperty) {
    // The device list is the only hardware property registered.
    notifications_.note(kRebuild);
}

void OutputDeviceSelection::audioDevicePropertyListenerDispatch(AudioDeviceID, uint32_t, bool,
                                                                HardwareProperty property) {
    switch (property) {
        case HardwareProperty::DataSources:
            notifications_.note(kRebuild);
            break;
        case HardwareProperty::DataSource:
            notifications_.note(kReselect);
            break;
        case HardwareProperty::Devices:
            break;
    }
}

void OutputDeviceSelection::handlePending(uint32_t what) {
    if (what & kRebuild) {
        // A rebuild ends by following the current device, which covers a re-selection too.
        audioHardwarePropertyListener(HardwareProperty::Devices);
    } else if (what & kReselect) {
        DeviceNotification notification;
        notification.propertyID = HardwareProperty::DataSource;
        audioDevicePropertyListener(notification);
    }
}

void OutputDeviceSelection::audioHardwarePropertyListener(HardwareProperty) {
    rebuildPopUp();
}

void OutputDeviceSelection::audioDevicePropertyListener(const DeviceNotification& notification) {
    // A change on any device updates the selection of the current one.
    switch (notification.propertyID) {
        case HardwareProperty::DataSources:
            rebuildPopUp();
            break;
        case HardwareProperty::DataSource:
            selectCurrentDevice();
            break;
        case HardwareProperty::Devices:
            break;
    }
}

}  // namespace brinesong
