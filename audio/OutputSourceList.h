// SPDX-License-Identifier: GPL-3.0-or-later
// The list of output devices as the user chooses among them: one entry per output device, or, for
// a device whose output path can be switched, one entry per data source; each named
// "manufacturer : device" or "manufacturer : data source", in the hardware's order. A plain value:
// built from the hardware at one moment, then only read.
//
// Choices where the hardware gives little to go on:
// - A name part that cannot be read, or that the device does not have (many devices name no
//   manufacturer), is left out together with its " : ". A device of which nothing can be read has
//   in practice just gone away, and its removal notification follows: it gets no entry.
// - Equal names: the pop-up gets one item per entry all the same, the second and later ones with
//   " (2)", " (3)" ... added to the item's title only; the entry's name stays as it is, so choosing
//   by name takes the first of equal entries.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "audio/AudioHardware.h"

namespace brinesong {

struct OutputSourceEntry {
    std::string name;
    AudioDeviceID deviceID = kNoAudioDevice;
    std::optional<DataSourceID> dataSource;  // only for devices whose data source can be set

    bool operator==(const OutputSourceEntry&) const = default;
};

class OutputSourceList {
public:
    OutputSourceList() = default;
    explicit OutputSourceList(std::vector<OutputSourceEntry> entries)
        : entries_(std::move(entries)) {}

    // The entries of every device of that direction, as the hardware has them now. Names that
    // cannot be read are logged with the hardware operation's name and status.
    static OutputSourceList setupAudioSource(AudioHardware& hardware, bool isInput);

    const std::vector<OutputSourceEntry>& entries() const { return entries_; }
    bool empty() const { return entries_.empty(); }
    int size() const { return static_cast<int>(entries_.size()); }
    const OutputSourceEntry& operator[](int index) const { return entries_[index]; }

    // The first entry with exactly that name (case-sensitive), or -1.
    int indexOfName(const std::string& name) const;
    // The entry of that device and data source (kNoDataSource for a device without), or -1.
    int indexOfEntry(AudioDeviceID device, DataSourceID source) const;
    // The entry of the system's default output device with its current data source, else 0.
    int defaultDeviceIndex(AudioHardware& hardware) const;
    // One pop-up title per entry, in list order, equal names told apart by a number.
    std::vector<std::string> titles() const;

    // The name of a device in its present state, by the same rule as the entries; empty when
    // nothing of it can be read.
    static std::string deviceName(AudioHardware& hardware, AudioDeviceID device, bool isInput);
    // "manufacturer : part", or whichever of the two is not empty.
    static std::string composeName(const std::string& manufacturer, const std::string& part);

    bool operator==(const OutputSourceList&) const = default;

private:
    std::vector<OutputSourceEntry> entries_;
};

}  // namespace brinesong
