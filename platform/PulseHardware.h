// SPDX-License-Identifier: GPL-3.0-or-later
// The audio hardware over a PulseAudio server: sinks are the devices (the sink's index is the
// identifier, its description the name, its "device.vendor.name" the manufacturer), a sink's ports
// are its data sources (the port's description is the name, the active port the current one), the
// server's default sink is the default output device, and the device a stream plays to is the sink
// its sink input is on.
//
// A client of the program's one connection (PulseConnection). When the connection is ready it
// takes stock of the sinks and the default sink; from then on the server's events keep that stock
// up to date, and every query answers from it at once, without a round trip. Only the routing
// calls (moving the stream, switching a port) and asking where a stream plays go to the server,
// each waiting a bounded time for its answer. While there is no server the stock is empty.
//
// Server events arrive on the mainloop's thread and are forwarded to the registered listeners
// there:
//   the stock taken, the connection lost, a sink new or removed -> the device list changed
//   sink changed, other active port                             -> its data source changed
//   sink changed, other list of ports or names                  -> its list of data sources changed
// Events come in any order (a new sink is announced "changed" before "new"); a changed sink is
// compared with what was last seen of it, so only real changes go out.
//
// Left out: module-always-sink's "auto_null" ("Dummy Output"), which a server with no other sink
// puts up (PipeWire's PulseAudio server by default); it plays nowhere, and following the sound
// there would lose the user's choice.
//
// Statuses are PulseAudio error codes (PA_ERR_*), 0 for success.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "audio/AudioHardware.h"
#include "audio/ListenerRegistry.h"
#include "platform/PulseConnection.h"

struct pa_context;
struct pa_operation;
struct pa_sink_info;
struct pa_server_info;

namespace brinesong {

class PulseHardware : public AudioHardware, private PulseConnection::Client {
public:
    static constexpr std::chrono::milliseconds kAnswerLimit{500};

    explicit PulseHardware(PulseConnection& connection);
    ~PulseHardware() override;
    PulseHardware(const PulseHardware&) = delete;
    PulseHardware& operator=(const PulseHardware&) = delete;

    // For one-shot commands: waits until the stock of sinks has been taken (0), or the connection
    // attempt failed (its error), or `limit` passed (PA_ERR_TIMEOUT).
    int waitUntilListed(std::chrono::milliseconds limit);
    // The server's words for a status.
    static const char* errorText(int status);

    int getDevices(std::vector<AudioDeviceID>& devices) override;
    int getDefaultOutputDevice(AudioDeviceID& device) override;
    int hasStream(AudioDeviceID device, bool isInput) override;
    int getDeviceName(AudioDeviceID device, bool isInput, std::string& name) override;
    int getManufacturer(AudioDeviceID device, bool isInput, std::string& manufacturer) override;
    int isDataSourceSettable(AudioDeviceID device, bool isInput, bool& settable) override;
    int getDataSource(AudioDeviceID device, bool isInput, DataSourceID& source) override;
    int getDataSources(AudioDeviceID device, bool isInput,
                       std::vector<DataSourceID>& sources) override;
    int getDataSourceName(AudioDeviceID device, bool isInput, DataSourceID source,
                          std::string& name) override;
    int setDataSource(AudioDeviceID device, bool isInput, DataSourceID source) override;
    int getCurrentDevice(OutputRouting& unit, AudioDeviceID& device) override;
    int setCurrentDevice(OutputRouting& unit, AudioDeviceID device) override;

    int addHardwareListener(HardwareListenerProc proc, void* context) override;
    int removeHardwareListener(HardwareListenerProc proc, void* context) override;
    int addDeviceListener(AudioDeviceID device, uint32_t channel, bool isInput,
                          HardwareProperty property, DeviceListenerProc proc,
                          void* context) override;
    int removeDeviceListener(AudioDeviceID device, uint32_t channel, bool isInput,
                             HardwareProperty property, DeviceListenerProc proc,
                             void* context) override;
    void removeAllListeners(void* context) override;

    // A sink as seen at one moment.
    struct Sink {
        std::string name;
        std::string description;
        std::string vendor;
        std::vector<std::string> ports;             // port names, in the server's order
        std::vector<std::string> portDescriptions;  // same order
        std::string activePort;
        bool operator==(const Sink&) const = default;
    };

private:
    friend struct PulseHardwareEvents;

    // PulseConnection::Client: mainloop thread, lock held.
    void connectionReady(pa_context* context) override;
    void connectionLost() override;
    void serverEvent(pa_context* context, uint32_t facility, uint32_t type,
                     uint32_t index) override;
    void changesMissed(pa_context* context) override;

    // Mainloop thread, lock held.
    void takeStock(pa_context* context);
    void track(pa_context* context, pa_operation* operation, const char* query);
    void sinkSeen(const pa_sink_info* info);
    void stockTaken();

    // Main thread.
    int findSink(AudioDeviceID device, Sink& sink);
    DataSourceID portID(const std::string& portName);
    std::string portName(DataSourceID source) const;

    PulseConnection& connection_;

    // Mainloop thread only.
    std::set<pa_operation*> pending_;
    std::map<AudioDeviceID, Sink> stock_;  // being taken
    bool taking_ = false;

    // What the subscription has seen: written on the mainloop thread, read on the main thread.
    mutable std::mutex seenMutex_;
    std::condition_variable listedChanged_;
    std::map<AudioDeviceID, Sink> seen_;
    std::string defaultSinkName_;
    bool listed_ = false;
    bool attemptFailed_ = false;

    // Main thread only: port names get small numbers of their own, never reused, never 0.
    std::map<std::string, DataSourceID> portIDs_;

    ListenerRegistry listeners_;
};

}  // namespace brinesong
