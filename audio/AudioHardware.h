// SPDX-License-Identifier: GPL-3.0-or-later
// The audio hardware as the output-device list sees it: output devices, their names, their
// switchable output paths ("data sources"), the default device, the device a playback stream plays
// to, and notifications when any of these change.
//
// Every query returns a status: 0 on success, otherwise the underlying library's error code, which
// the caller logs and then goes on with whatever the out-parameter holds (cleared on failure).
// Queries and routing calls are made on the main thread only. Listener functions are called on the
// hardware's own thread; they must only hand work over, never call back into the hardware.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brinesong {

using AudioDeviceID = uint32_t;
using DataSourceID = uint32_t;

// No device. Device identifiers may be 0 (the first sink of a sound server has index 0), so "no
// device yet" needs a value of its own.
inline constexpr AudioDeviceID kNoAudioDevice = 0xFFFFFFFFu;
// No data source: the device's output path cannot be switched. Real data sources are never 0.
inline constexpr DataSourceID kNoDataSource = 0;

// What a notification is about.
enum class HardwareProperty : uint32_t {
    Devices,      // the list of devices
    DataSource,   // a device's current data source
    DataSources,  // a device's list of data sources
};

// Listener functions. The status they return is ignored by the hardware; they return 0.
using HardwareListenerProc = int (*)(HardwareProperty property, void* context);
using DeviceListenerProc = int (*)(AudioDeviceID device, uint32_t channel, bool isInput,
                                   HardwareProperty property, void* context);

// The playback stream whose device the hardware reports and changes.
class OutputRouting {
public:
    static constexpr uint32_t kNoStream = 0xFFFFFFFFu;
    virtual ~OutputRouting() = default;
    // The stream's identifier on the sound server, or kNoStream while it is not connected.
    virtual uint32_t streamIndex() const = 0;

    // The hardware's own key of the device the stream is to play to (empty: the default device).
    // Kept across reconnections: a stream made anew after the server came back goes straight there
    // when that device exists. Any thread.
    virtual void setPreferredDevice(const std::string& key) { (void)key; }
    virtual std::string preferredDevice() const { return {}; }
    // A device list routes this stream. Then, after every (re)connection, the stream does not play
    // until the list has looked at the devices of that connection and routed it (devicesSettled),
    // so that no sound starts on a device it is about to leave.
    virtual void setRoutedByDeviceList(bool routed) { (void)routed; }
    virtual void devicesSettled() {}
};

class AudioHardware {
public:
    virtual ~AudioHardware() = default;

    // All devices of either direction, in the hardware's order.
    virtual int getDevices(std::vector<AudioDeviceID>& devices) = 0;
    virtual int getDefaultOutputDevice(AudioDeviceID& device) = 0;
    // 0 when the device has a stream (can play or record) in that direction.
    virtual int hasStream(AudioDeviceID device, bool isInput) = 0;
    virtual int getDeviceName(AudioDeviceID device, bool isInput, std::string& name) = 0;
    // An empty text with status 0 means the device names no manufacturer.
    virtual int getManufacturer(AudioDeviceID device, bool isInput, std::string& manufacturer) = 0;
    virtual int isDataSourceSettable(AudioDeviceID device, bool isInput, bool& settable) = 0;
    virtual int getDataSource(AudioDeviceID device, bool isInput, DataSourceID& source) = 0;
    virtual int getDataSources(AudioDeviceID device, bool isInput,
                               std::vector<DataSourceID>& sources) = 0;
    virtual int getDataSourceName(AudioDeviceID device, bool isInput, DataSourceID source,
                                  std::string& name) = 0;
    virtual int setDataSource(AudioDeviceID device, bool isInput, DataSourceID source) = 0;

    // The device the unit's stream plays to, and moving it there (also while it plays). Before the
    // stream is connected, the device set last is reported and applied when it connects.
    virtual int getCurrentDevice(OutputRouting& unit, AudioDeviceID& device) = 0;
    virtual int setCurrentDevice(OutputRouting& unit, AudioDeviceID device) = 0;

    // Devices: the device list changed. Registered once per (proc, context).
    virtual int addHardwareListener(HardwareListenerProc proc, void* context) = 0;
    // Once this returns, `proc` is not running and will not be called again for that context.
    virtual int removeHardwareListener(HardwareListenerProc proc, void* context) = 0;
    // DataSource or DataSources of one device, for one channel and direction.
    virtual int addDeviceListener(AudioDeviceID device, uint32_t channel, bool isInput,
                                  HardwareProperty property, DeviceListenerProc proc,
                                  void* context) = 0;
    virtual int removeDeviceListener(AudioDeviceID device, uint32_t channel, bool isInput,
                                     HardwareProperty property, DeviceListenerProc proc,
                                     void* context) = 0;
    // Drops every registration made with that context, also for devices that have gone since.
    // Once this returns, no listener runs or will run with that context.
    virtual void removeAllListeners(void* context) = 0;
};

}  // namespace brinesong
