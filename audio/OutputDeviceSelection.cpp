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
      mainThread_(mainThread),
      alive_(std::make_shared<OutputDeviceSelection*>(this)) {
    setupAudioSource(mAudioOutputSourceArray, false);
    addListeners(false);
}

OutputDeviceSelection::~OutputDeviceSelection() {
    // Also covers devices that went away after the last rebuild: their registrations still carry
    // `this` as context.
    hardware_.removeAllListeners(this);
}

std::string OutputDeviceSelection::composeName(const std::string& manufacturer,
                                               const std::string& part) {
    if (manufacturer.empty()) {
        return part;
    }
    if (part.empty()) {
        return manufacturer;
    }
    return manufacturer + " : " + part;
}

void OutputDeviceSelection::setupAudioSource(std::vector<OutputSourceEntry>& sources,
                                             bool isInput) {
    std::vector<AudioDeviceID> devices;
    if (int status = hardware_.getDevices(devices)) {
        logStatus("  AudioHardwareGetProperty( Devices ): %d", status);
    }
    for (AudioDeviceID device : devices) {
        if (hardware_.hasStream(device, isInput) != 0) {
            continue;
        }
        std::string name;
        std::string manufacturer;
        if (int status = hardware_.getDeviceName(device, isInput, name)) {
            logStatus("  AudioDeviceGetProperty( DeviceName ): %d", status);
        }
        if (int status = hardware_.getManufacturer(device, isInput, manufacturer)) {
            logStatus("  AudioDeviceGetProperty( DeviceManufacturer ): %d", status);
        }
        bool settable = false;
        if (hardware_.isDataSourceSettable(device, isInput, settable) != 0) {
            settable = false;
        }
        if (settable) {
            std::vector<DataSourceID> dataSources;
            if (int status = hardware_.getDataSources(device, isInput, dataSources)) {
                logStatus("    AudioDeviceGetProperty( DataSources ): %d", status);
            }
            for (DataSourceID source : dataSources) {
                std::string sourceName;
                if (int status = hardware_.getDataSourceName(device, isInput, source, sourceName)) {
                    logStatus("    AudioDeviceGetProperty( DataSourceNameForIDCFString ): %d",
                              status);
                }
                std::string entryName = composeName(manufacturer, sourceName);
                if (!entryName.empty()) {
                    sources.push_back({std::move(entryName), device, source});
                }
            }
        } else {
            std::string entryName = composeName(manufacturer, name);
            if (!entryName.empty()) {
                sources.push_back({std::move(entryName), device, std::nullopt});
            }
        }
    }
}

std::optional<std::string> OutputDeviceSelection::deviceNameWithDataSourceID(AudioDeviceID device,
                                                                             DataSourceID source,
                                                                             bool isInput) {
    std::string name;
    if (hardware_.getDataSourceName(device, isInput, source, name) != 0) {
        return std::nullopt;
    }
    return name;
}

std::string OutputDeviceSelection::deviceName(AudioDeviceID device, bool isInput) {
    std::string manufacturer;
    if (hardware_.getManufacturer(device, isInput, manufacturer) != 0) {
        manufacturer.clear();
    }
    bool settable = false;
    if (hardware_.isDataSourceSettable(device, isInput, settable) != 0) {
        settable = false;
    }
    if (settable) {
        DataSourceID source = kNoDataSource;
        if (hardware_.getDataSource(device, isInput, source) != 0) {
            return composeName(manufacturer, {});
        }
        return composeName(manufacturer,
                           deviceNameWithDataSourceID(device, source, isInput).value_or(""));
    }
    std::string name;
    if (hardware_.getDeviceName(device, isInput, name) != 0) {
        name.clear();
    }
    return composeName(manufacturer, name);
}

int OutputDeviceSelection::defaultDeviceIndex() {
    AudioDeviceID device = kNoAudioDevice;
    if (int status = hardware_.getDefaultOutputDevice(device)) {
        logStatus("  AudioHardwareGetProperty( DefaultOutputDevice ): %d", status);
        device = kNoAudioDevice;
    }
    if (device == kNoAudioDevice) {
        return 0;
    }
    bool settable = false;
    if (hardware_.isDataSourceSettable(device, false, settable) != 0) {
        settable = false;
    }
    DataSourceID current = kNoDataSource;
    if (settable) {
        if (int status = hardware_.getDataSource(device, false, current)) {
            logStatus("    AudioDeviceGetProperty( DataSource ): %d", status);
        }
    }
    for (size_t i = 0; i < mAudioOutputSourceArray.size(); ++i) {
        const OutputSourceEntry& entry = mAudioOutputSourceArray[i];
        if (entry.deviceID != device) {
            continue;
        }
        if (!settable || !entry.dataSource || *entry.dataSource == current) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

int OutputDeviceSelection::indexOfName(const std::string& name) const {
    for (size_t i = 0; i < mAudioOutputSourceArray.size(); ++i) {
        if (mAudioOutputSourceArray[i].name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void OutputDeviceSelection::setOutputDeviceWithName(const std::optional<std::string>& name) {
    if (name) {
        const int found = indexOfName(*name);
        if (found >= 0) {
            mOutputDeviceName = *name;
            setOutputDeviceAtIndex(found);
            return;
        }
    }
    const int index = defaultDeviceIndex();
    if (index >= static_cast<int>(mAudioOutputSourceArray.size())) {
        // No device at all: nothing to route to, and no name that could be saved.
        mOutputDeviceName.clear();
        return;
    }
    mOutputDeviceName = mAudioOutputSourceArray[index].name;
    setOutputDeviceAtIndex(index);
}

void OutputDeviceSelection::setOutputDeviceAtIndex(int index) {
    if (index < 0 || index >= static_cast<int>(mAudioOutputSourceArray.size())) {
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

void OutputDeviceSelection::selectItemWithTitle(const std::optional<std::string>& title,
                                                DevicePopUp& popUp) {
    if (!title || mAudioOutputSourceArray.empty()) {
        return;
    }
    const int found = indexOfName(*title);
    popUp.selectItemAtIndex(found >= 0 ? found : 0);
}

void OutputDeviceSelection::setupPopUpButton(DevicePopUp& popUp,
                                             const std::vector<OutputSourceEntry>& sources) {
    popUp.removeAllItems();
    if (sources.empty()) {
        popUp.showEmpty();
        return;
    }
    for (size_t i = 0; i < sources.size(); ++i) {
        // Count the earlier entries of the same name: the item's title tells them apart, the
        // entry's name stays as it is.
        int occurrence = 1;
        for (size_t j = 0; j < i; ++j) {
            if (sources[j].name == sources[i].name) {
                ++occurrence;
            }
        }
        std::string title = sources[i].name;
        if (occurrence > 1) {
            title += " (" + std::to_string(occurrence) + ")";
        }
        popUp.insertItem(title, static_cast<int>(i));
    }
    popUp.setEnabled(true);
}

void OutputDeviceSelection::connectPopUp(DevicePopUp& popUp) {
    mAudioOutputPopUpButton = &popUp;
    setupPopUpButton(popUp, mAudioOutputSourceArray);
    if (!mOutputDeviceName.empty()) {
        selectItemWithTitle(mOutputDeviceName, popUp);
    }
}

void OutputDeviceSelection::audioOutputPopUpButton() {
    if (!mAudioOutputPopUpButton) {
        return;
    }
    const int index = mAudioOutputPopUpButton->indexOfSelectedItem();
    if (index < 0 || index >= static_cast<int>(mAudioOutputSourceArray.size())) {
        return;  // the placeholder of an empty list, or nothing selected
    }
    setOutputDeviceAtIndex(index);
    // The entry's own name, not the item's title, which may carry a number to tell equal names
    // apart.
    mOutputDeviceName = mAudioOutputSourceArray[index].name;
}

void OutputDeviceSelection::selectCurrentDevice() {
    if (!mAudioOutputPopUpButton) {
        return;
    }
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
    if (mAudioOutputSourceArray.empty()) {
        return;
    }
    // The entry of the device and source actually played to, so that of two entries with equal
    // names the right one shows; else by title as usual.
    for (size_t i = 0; i < mAudioOutputSourceArray.size(); ++i) {
        const OutputSourceEntry& entry = mAudioOutputSourceArray[i];
        if (entry.deviceID == mOutputDevice &&
            entry.dataSource.value_or(kNoDataSource) == mOutputDataSourceID) {
            mAudioOutputPopUpButton->selectItemAtIndex(static_cast<int>(i));
            return;
        }
    }
    selectItemWithTitle(mOutputDeviceName, *mAudioOutputPopUpButton);
}

void OutputDeviceSelection::rebuildPopUp() {
    if (!mAudioOutputPopUpButton) {
        return;
    }
    removeListeners(false);
    mAudioOutputSourceArray.clear();
    setupAudioSource(mAudioOutputSourceArray, false);
    addListeners(false);
    setupPopUpButton(*mAudioOutputPopUpButton, mAudioOutputSourceArray);
    selectCurrentDevice();
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
    schedulePending(kRebuild);
}

void OutputDeviceSelection::audioDevicePropertyListenerDispatch(AudioDeviceID device, uint32_t,
                                                                bool, HardwareProperty property) {
    lastNotifiedDevice_.store(device, std::memory_order_relaxed);
    switch (property) {
        case HardwareProperty::DataSources:
            schedulePending(kRebuild);
            break;
        case HardwareProperty::DataSource:
            schedulePending(kReselect);
            break;
        case HardwareProperty::Devices:
            break;
    }
}

void OutputDeviceSelection::schedulePending(uint32_t what) {
    pending_.fetch_or(what, std::memory_order_acq_rel);
    if (posted_.exchange(true, std::memory_order_acq_rel)) {
        return;  // a task is on its way and will see this too
    }
    std::weak_ptr<OutputDeviceSelection*> alive = alive_;
    mainThread_.postToMainThread(
        [alive] {
            if (auto self = alive.lock()) {
                (*self)->handlePending();
            }
        },
        kCoalesceDelay);
}

void OutputDeviceSelection::handlePending() {
    // Cleared before taking the pending work, so a notification arriving from here on posts again.
    posted_.store(false, std::memory_order_release);
    const uint32_t what = pending_.exchange(0, std::memory_order_acq_rel);
    if (what & kRebuild) {
        // A rebuild ends by following the current device, which covers a re-selection too.
        audioHardwarePropertyListener(HardwareProperty::Devices);
    } else if (what & kReselect) {
        DeviceNotification notification;
        notification.deviceID = lastNotifiedDevice_.load(std::memory_order_relaxed);
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
