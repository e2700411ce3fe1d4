// The audio hardware over a PulseAudio server: sinks are the devices (the sink's index is the
// identifier, its description the name, its "device.vendor.name" the manufacturer), a sink's ports
// are its data sources (the port's description is the name, the active port the current one), the
// server's default sink is the default output device, and the device a stream plays to is the sink
// its sink input is on.
//
// A connection of its own on a pa_threaded_mainloop. Queries and routing calls take the mainloop's
// lock and wait for the server's answer; they are made on the main thread. Server events arrive on
// the mainloop's thread and are forwarded to the registered listeners there:
//   sink new or removed                      -> the device list changed
//   sink changed, other active port          -> that device's data source changed
//   sink changed, other list of ports        -> that device's list of data sources changed
// Events come in any order (a new sink is announced "changed" before "new"); a changed sink is
// compared with what was last seen of it, so only real changes go out.
//
// Statuses are PulseAudio error codes (PA_ERR_*), 0 for success.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "audio/AudioHardware.h"
#include "audio/ListenerRegistry.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_operation;

namespace brinesong {

class PulseHardware : public AudioHardware {
public:
    PulseHardware();
    ~PulseHardware() override;
    PulseHardware(const PulseHardware&) = delete;
    PulseHardware& operator=(const PulseHardware&) = delete;

    // Connects to the server the environment names (PULSE_SERVER, else the user's). Until it has
    // succeeded every query fails with PA_ERR_BADSTATE.
    int connect();
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
    // Main thread. Each takes the lock, starts the operation and waits for it to finish.
    int await(pa_operation* operation);
    int querySink(AudioDeviceID device, Sink& sink);
    int checkConnected() const;
    DataSourceID portID(const std::string& portName);
    std::string portName(DataSourceID source) const;

    // Mainloop thread.
    friend struct PulseHardwareEvents;
    void notifyDevices();
    void notifyDevice(AudioDeviceID device, HardwareProperty property);

    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    bool connected_ = false;

    // Mainloop thread only: what was last seen of each sink, to tell real changes.
    std::map<AudioDeviceID, Sink> seen_;

    // Main thread only: port names get small numbers of their own, never reused, never 0.
    std::map<std::string, DataSourceID> portIDs_;

    // Where a stream that is not connected yet is to go once it is.
    std::mutex pendingMutex_;
    OutputRouting* pendingUnit_ = nullptr;
    AudioDeviceID pendingDevice_ = kNoAudioDevice;

    ListenerRegistry listeners_;
};

}  // namespace brinesong
