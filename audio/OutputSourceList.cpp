// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/OutputSourceList.h"

#include <cstdio>

namespace brinesong {

namespace {

// Log lines keep the names of the hardware operations whose role each call plays.
void logStatus(const char* format, int status) {
    std::fprintf(stderr, format, status);
    std::fputc('\n', stderr);
}

}  // namespace

std::string OutputSourceList::composeName(const std::string& manufacturer,
                                          const std::string& part) {
    if (manufacturer.empty()) {
        return part;
    }
    if (part.empty()) {
        return manufacturer;
    }
    return manufacturer + " : " + part;
}

OutputSourceList OutputSourceList::setupAudioSource(AudioHardware& hardware, bool isInput) {
    std::vector<OutputSourceEntry> sources;
    std::vector<AudioDeviceID> devices;
    if (int status = hardware.getDevices(devices)) {
        logStatus("  AudioHardwareGetProperty( Devices ): %d", status);
    }
    for (AudioDeviceID device : devices) {
        if (hardware.hasStream(device, isInput) != 0) {
            continue;
        }
        std::string name;
        std::string manufacturer;
        if (int status = hardware.getDeviceName(device, isInput, name)) {
            logStatus("  AudioDeviceGetProperty( DeviceName ): %d", status);
        }
        if (int status = hardware.getManufacturer(device, isInput, manufacturer)) {
            logStatus("  AudioDeviceGetProperty( DeviceManufacturer ): %d", status);
        }
        bool settable = false;
        if (hardware.isDataSourceSettable(device, isInput, settable) != 0) {
            settable = false;
        }
        if (!settable) {
            std::string entryName = composeName(manufacturer, name);
            if (!entryName.empty()) {
                sources.push_back({std::move(entryName), device, std::nullopt});
            }
            continue;
        }
        std::vector<DataSourceID> dataSources;
        if (int status = hardware.getDataSources(device, isInput, dataSources)) {
            logStatus("    AudioDeviceGetProperty( DataSources ): %d", status);
        }
        for (DataSourceID source : dataSources) {
            std::string sourceName;
            if (int status = hardware.getDataSourceName(device, isInput, source, sourceName)) {
                logStatus("    AudioDeviceGetProperty( DataSourceNameForIDCFString ): %d", status);
            }
            std::string entryName = composeName(manufacturer, sourceName);
            if (!entryName.empty()) {
                sources.push_back({std::move(entryName), device, source});
            }
        }
    }
    return OutputSourceList(std::move(sources));
}

int OutputSourceList::indexOfName(const std::string& name) const {
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int OutputSourceList::indexOfEntry(AudioDeviceID device, DataSourceID source) const {
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].deviceID == device &&
            entries_[i].dataSource.value_or(kNoDataSource) == source) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int OutputSourceList::defaultDeviceIndex(AudioHardware& hardware) const {
    AudioDeviceID device = kNoAudioDevice;
    if (int status = hardware.getDefaultOutputDevice(device)) {
        logStatus("  AudioHardwareGetProperty( DefaultOutputDevice ): %d", status);
        device = kNoAudioDevice;
    }
    if (device == kNoAudioDevice) {
        return 0;
    }
    bool settable = false;
    if (hardware.isDataSourceSettable(device, false, settable) != 0) {
        settable = false;
    }
    DataSourceID current = kNoDataSource;
    if (settable) {
        if (int status = hardware.getDataSource(device, false, current)) {
            logStatus("    AudioDeviceGetProperty( DataSource ): %d", status);
        }
    }
    for (size_t i = 0; i < entries_.size(); ++i) {
        const OutputSourceEntry& entry = entries_[i];
        if (entry.deviceID != device) {
            continue;
        }
        if (!settable || !entry.dataSource || *entry.dataSource == current) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

std::vector<std::string> OutputSourceList::titles() const {
    std::vector<std::string> out;
    out.reserve(entries_.size());
    for (size_t i = 0; i < entries_.size(); ++i) {
        // Count the earlier entries of the same name: the item's title tells them apart, the
        // entry's name stays as it is.
        int occurrence = 1;
        for (size_t j = 0; j < i; ++j) {
            if (entries_[j].name == entries_[i].name) {
                ++occurrence;
            }
        }
        std::string title = entries_[i].name;
        if (occurrence > 1) {
            title += " (" + std::to_string(occurrence) + ")";
        }
        out.push_back(std::move(title));
    }
    return out;
}

std::string OutputSourceList::deviceName(AudioHardware& hardware, AudioDeviceID device,
                                         bool isInput) {
    std::string manufacturer;
    if (hardware.getManufacturer(device, isInput, manufacturer) != 0) {
        manufacturer.clear();
    }
    bool settable = false;
    if (hardware.isDataSourceSettable(device, isInput, settable) != 0) {
        settable = false;
    }
    if (settable) {
        DataSourceID source = kNoDataSource;
        std::string sourceName;
        if (hardware.getDataSource(device, isInput, source) != 0 ||
            hardware.getDataSourceName(device, isInput, source, sourceName) != 0) {
            sourceName.clear();
        }
        return composeName(manufacturer, sourceName);
    }
    std::string name;
    if (hardware.getDeviceName(device, isInput, name) != 0) {
        name.clear();
    }
    return composeName(manufacturer, name);
}

}  // namespace brinesong
