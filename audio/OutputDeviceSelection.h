// The list of output devices behind the preferences panel's pop-up, the routing of the output to
// the chosen one, and following the hardware while the program runs.
//
// One entry per output device, or, for a device whose output path can be switched, one entry per
// data source; each named "manufacturer : device" or "manufacturer : data source". The name of the
// selection is what the program saves at quit and applies at the next launch.
//
// Threads: everything runs on the main thread except the two dispatch methods, which the hardware
// calls on its own thread; they only note what changed and post one task to the main thread. A
// burst of notifications (a device being plugged in sends several) is handled by one rebuild.
//
// Choices where the hardware gives little to go on:
// - No output device at all: the list is empty, the pop-up shows one disabled placeholder item, no
//   routing call is made and the selection has no name, so nothing is saved for it.
// - A name part that cannot be read, or that the device does not have (many devices name no
//   manufacturer), is left out together with its " : ". A device of which nothing can be read has
//   in practice just gone away, and its removal notification follows: it gets no entry, and a
//   display name that cannot be read leaves the stored name as it was.
// - Equal names: the pop-up gets one item per entry all the same, the second and later ones with
//   " (2)", " (3)" ... added to the item's title only; the saved name is always the entry's own
//   name, so selecting by name takes the first of equal entries.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/AudioHardware.h"
#include "audio/DevicePopUp.h"
#include "audio/MainThreadQueue.h"

namespace brinesong {

struct OutputSourceEntry {
    std::string name;
    AudioDeviceID deviceID = kNoAudioDevice;
    std::optional<DataSourceID> dataSource;  // only for devices whose data source can be set

    bool operator==(const OutputSourceEntry&) const = default;
};

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
    void setAudioOutput(OutputRouting* unit) { gOutputUnit = unit; }
    // Applies the name saved at the last quit (none when nothing was saved).
    void setOutputDeviceName(const std::optional<std::string>& name) {
        setOutputDeviceWithName(name);
    }
    // The name to save at quit; empty when there is no selection.
    const std::string& outputDeviceName() const { return mOutputDeviceName; }

    // The first entry with exactly that name, else the default device's entry.
    void setOutputDeviceWithName(const std::optional<std::string>& name);
    // Routes the output to an entry; an index outside the list does nothing.
    void setOutputDeviceAtIndex(int index);
    // The entry of the system's default output device (with its current data source), else 0.
    int defaultDeviceIndex();

    // The display name of a device in its present state, by the list's naming rule; empty when
    // nothing of it can be read.
    std::string deviceName(AudioDeviceID device, bool isInput);
    std::optional<std::string> deviceNameWithDataSourceID(AudioDeviceID device, DataSourceID source,
                                                          bool isInput);

    // Makes the selection fields and the pop-up follow the device the unit plays to, without
    // routing anything. Nothing happens while there is no pop-up.
    void selectCurrentDevice();
    // Rebuilds the list, the listeners and the pop-up. Nothing happens while there is no pop-up.
    void rebuildPopUp();

    // Appends the entries of every device of that direction to `sources`.
    void setupAudioSource(std::vector<OutputSourceEntry>& sources, bool isInput);
    // Fills a pop-up with one item per entry, in list order.
    static void setupPopUpButton(DevicePopUp& popUp, const std::vector<OutputSourceEntry>& sources);
    // Selects the first entry with that title; none: item 0; no title: nothing.
    void selectItemWithTitle(const std::optional<std::string>& title, DevicePopUp& popUp);

    // The panel has loaded its pop-up: fill it from the list as it stands and select the stored
    // name. From now on hardware changes are followed.
    void connectPopUp(DevicePopUp& popUp);
    // The panel's pop-up is going away: stop following hardware changes.
    void disconnectPopUp() { mAudioOutputPopUpButton = nullptr; }
    DevicePopUp* connectedPopUp() const { return mAudioOutputPopUpButton; }
    // The pop-up's action: route to the chosen entry at once and remember its name.
    void audioOutputPopUpButton();

    void addListeners(bool isInput);
    void removeListeners(bool isInput);

    // Hardware thread.
    void audioHardwarePropertyListenerDispatch(HardwareProperty property);
    void audioDevicePropertyListenerDispatch(AudioDeviceID device, uint32_t channel, bool isInput,
                                             HardwareProperty property);
    // Main thread.
    void audioHardwarePropertyListener(HardwareProperty property);
    void audioDevicePropertyListener(const DeviceNotification& notification);

    const std::vector<OutputSourceEntry>& outputSources() const { return mAudioOutputSourceArray; }
    AudioDeviceID outputDevice() const { return mOutputDevice; }
    DataSourceID outputDataSourceID() const { return mOutputDataSourceID; }

    // "manufacturer : part", or whichever of the two is not empty.
    static std::string composeName(const std::string& manufacturer, const std::string& part);

private:
    enum Pending : uint32_t { kRebuild = 1, kReselect = 2 };

    void schedulePending(uint32_t what);
    void handlePending();
    int indexOfName(const std::string& name) const;

    AudioHardware& hardware_;
    MainThreadQueue& mainThread_;
    std::vector<OutputSourceEntry> mAudioOutputSourceArray;
    AudioDeviceID mOutputDevice = kNoAudioDevice;
    DataSourceID mOutputDataSourceID = kNoDataSource;
    std::string mOutputDeviceName;
    OutputRouting* gOutputUnit = nullptr;
    DevicePopUp* mAudioOutputPopUpButton = nullptr;

    // Shared with the hardware thread.
    std::atomic<uint32_t> pending_{0};
    std::atomic<bool> posted_{false};
    std::atomic<AudioDeviceID> lastNotifiedDevice_{kNoAudioDevice};
    // Posted tasks hold this weakly, so a task that runs after destruction does nothing.
    std::shared_ptr<OutputDeviceSelection*> alive_;
};

}  // namespace brinesong
