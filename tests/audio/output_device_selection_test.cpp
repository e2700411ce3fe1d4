// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/OutputDeviceSelection.h"

#include <gtest/gtest.h>

#include <thread>

#include "MemoryAudioHardware.h"
#include "SelectionDoubles.h"

namespace brinesong {
namespace {

using testing::ManualQueue;
using testing::MemoryAudioHardware;
using Device = MemoryAudioHardware::Device;

struct Stream : OutputRouting {
    uint32_t streamIndex() const override { return 7; }
    void setRoutedByDeviceList(bool routed) override { routedByList = routed; }
    void devicesSettled() override { ++settled; }
    bool routedByList = false;
    int settled = 0;
};

// Device 0 exists on purpose: sound servers number their first device 0.
Device speakers() {
    return {0, "Speaker Box", "Acme", true, false, {}, kNoDataSource};
}
Device card() {
    return {4, "Brine Card", "Brine Audio", true, true, {{11, "Line Out"}, {12, "Headphones"}}, 12};
}
Device microphone() {
    return {5, "Mic", "Acme", false, false, {}, kNoDataSource};
}
Device portless() {
    return {6, "Empty Card", "Brine Audio", true, true, {}, kNoDataSource};
}
Device nullSink() {
    return {9, "Null Output", "", true, false, {}, kNoDataSource};
}

class OutputDeviceSelectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        hardware.devices = {speakers(), card(), microphone(), portless(), nullSink()};
        hardware.defaultDevice = 4;
    }
    std::unique_ptr<OutputDeviceSelection> make() {
        auto selection = std::make_unique<OutputDeviceSelection>(hardware, queue);
        selection->setAudioOutput(&stream);
        return selection;
    }
    static std::vector<std::string> names(const OutputDeviceSelection& s) {
        std::vector<std::string> out;
        for (const auto& e : s.outputSources().entries()) {
            out.push_back(e.name);
        }
        return out;
    }

    MemoryAudioHardware hardware;
    ManualQueue queue;
    Stream stream;
};

TEST_F(OutputDeviceSelectionTest, list_namesEntriesInHardwareOrderAndLeavesOutWhatCannotPlay) {
    auto selection = make();
    const std::vector<OutputSourceEntry> expected = {
        {"Acme : Speaker Box", 0, std::nullopt},
        {"Brine Audio : Line Out", 4, 11},
        {"Brine Audio : Headphones", 4, 12},
        {"Null Output", 9, std::nullopt},  // no manufacturer: no " : "
    };
    EXPECT_EQ(selection->outputSources().entries(), expected);
    EXPECT_TRUE(stream.routedByList);
    // Building the list selects nothing.
    EXPECT_EQ(selection->outputDevice(), kNoAudioDevice);
    EXPECT_EQ(selection->outputDeviceName(), "");
    EXPECT_TRUE(hardware.routingCalls.empty());
}

TEST_F(OutputDeviceSelectionTest, listeners_everyDeviceIncludingInputOnly_twoOutputRegistrations) {
    auto selection = make();
    using T = std::tuple<uint32_t, bool, HardwareProperty>;
    const std::vector<T> both = {{0, false, HardwareProperty::DataSource},
                                 {0, false, HardwareProperty::DataSources}};
    for (AudioDeviceID id : {0u, 4u, 5u, 6u, 9u}) {
        EXPECT_EQ(hardware.deviceListenersOf(id), both) << "device " << id;
    }
    EXPECT_EQ(hardware.hardwareListenerCount(), 1u);

    selection.reset();
    EXPECT_EQ(hardware.hardwareListenerCount(), 0u);
    EXPECT_TRUE(hardware.deviceListenersOf(5).empty());
}

TEST_F(OutputDeviceSelectionTest, list_unreadableNames_areLoggedAndNamedFromWhatWasRead) {
    hardware.failures["getManufacturer"] = -50;
    hardware.failures["getDataSourceName"] = 7;
    ::testing::internal::CaptureStderr();
    auto selection = make();
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(names(*selection), (std::vector<std::string>{"Speaker Box", "Null Output"}));
    EXPECT_NE(log.find("  AudioDeviceGetProperty( DeviceManufacturer ): -50\n"), std::string::npos);
    EXPECT_NE(log.find("    AudioDeviceGetProperty( DataSourceNameForIDCFString ): 7\n"),
              std::string::npos);
    // The display name follows the same rule as the list.
    EXPECT_EQ(selection->deviceName(0, false), "Speaker Box");
}

TEST_F(OutputDeviceSelectionTest, defaultIndex_followsDefaultDeviceAndItsCurrentSource) {
    auto selection = make();
    EXPECT_EQ(selection->defaultDeviceIndex(), 2);  // card, headphones
    hardware.find(4)->current = 11;
    EXPECT_EQ(selection->defaultDeviceIndex(), 1);
    hardware.defaultDevice = 9;
    EXPECT_EQ(selection->defaultDeviceIndex(), 3);
    hardware.defaultDevice = 5;  // not in the list
    EXPECT_EQ(selection->defaultDeviceIndex(), 0);

    hardware.failures["getDefaultOutputDevice"] = 42;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(selection->defaultDeviceIndex(), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "  AudioHardwareGetProperty( DefaultOutputDevice ): 42\n");
}

TEST_F(OutputDeviceSelectionTest, byName_exactMatchRoutesThere_elseDefault_anAbsentNameIsKept) {
    auto selection = make();
    selection->setOutputDeviceName(std::string("Acme : Speaker Box"));
    EXPECT_EQ(selection->outputDeviceName(), "Acme : Speaker Box");
    EXPECT_EQ(selection->outputDevice(), 0u);
    // Device 0 is routed to although 0 is also what "nothing selected" would read as.
    EXPECT_EQ(hardware.routingCalls, std::vector<std::string>{"setCurrentDevice 0"});
    EXPECT_EQ(hardware.streams[7], 0u);
    EXPECT_EQ(stream.settled, 1);

    hardware.routingCalls.clear();
    selection->setOutputDeviceWithName(std::string("brine audio : line out"));  // case differs
    EXPECT_EQ(selection->selectedName(), "Brine Audio : Headphones");
    EXPECT_EQ(hardware.routingCalls,
              (std::vector<std::string>{"setCurrentDevice 4", "setDataSource 4 12"}));

    // A name no entry has (its device unplugged) plays to the default meanwhile, but is what is
    // saved: a launch without the device does not lose the user's choice.
    hardware.defaultDevice = 5;
    selection->setOutputDeviceWithName(std::string("Gone : Away"));
    EXPECT_EQ(selection->selectedName(), "Acme : Speaker Box");
    EXPECT_EQ(selection->outputDevice(), 0u);
    EXPECT_EQ(selection->outputDeviceName(), "Gone : Away");
}

TEST_F(OutputDeviceSelectionTest, equalNames_nameTakesFirst_titlesKeepOneItemEach) {
    Device twin = speakers();
    twin.id = 2;
    hardware.devices.insert(hardware.devices.begin() + 1, twin);
    auto selection = make();
    selection->setOutputDeviceName(std::string("Acme : Speaker Box"));
    EXPECT_EQ(selection->outputDevice(), 0u);

    EXPECT_EQ(selection->outputSources().titles(),
              (std::vector<std::string>{"Acme : Speaker Box", "Acme : Speaker Box (2)",
                                        "Brine Audio : Line Out", "Brine Audio : Headphones",
                                        "Null Output"}));
    EXPECT_EQ(selection->selectedIndex(), 0);

    selection->audioOutputPopUpButton(1);
    EXPECT_EQ(selection->outputDevice(), 2u);
    EXPECT_EQ(hardware.streams[7], 2u);
    EXPECT_EQ(selection->outputDeviceName(), "Acme : Speaker Box");  // never the item's title
    // Following the hardware shows the twin actually played to, not the first of the name.
    selection->selectCurrentDevice();
    EXPECT_EQ(selection->selectedIndex(), 1);
}

TEST_F(OutputDeviceSelectionTest, routing_portOfCurrentDeviceSwitchesPortOnly_sameEntryNothing) {
    auto selection = make();
    selection->setOutputDeviceName(std::string("Brine Audio : Line Out"));
    EXPECT_EQ(selection->selectedIndex(), 1);
    hardware.routingCalls.clear();

    selection->audioOutputPopUpButton(2);
    EXPECT_EQ(hardware.routingCalls, std::vector<std::string>{"setDataSource 4 12"});
    EXPECT_EQ(selection->outputDataSourceID(), 12u);
    EXPECT_EQ(selection->outputDeviceName(), "Brine Audio : Headphones");

    hardware.routingCalls.clear();
    selection->audioOutputPopUpButton(2);
    EXPECT_TRUE(hardware.routingCalls.empty());

    selection->audioOutputPopUpButton(0);
    EXPECT_EQ(hardware.routingCalls, std::vector<std::string>{"setCurrentDevice 0"});
    EXPECT_EQ(selection->outputDataSourceID(), kNoDataSource);
}

TEST_F(OutputDeviceSelectionTest, routing_failedCallsAreLoggedAndTheChoiceStillRecorded) {
    auto selection = make();
    hardware.failures["setCurrentDevice"] = -10851;
    hardware.failures["setDataSource"] = 3;
    ::testing::internal::CaptureStderr();
    selection->audioOutputPopUpButton(1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "  AudioUnitSetProperty( CurrentDevice ): -10851\n"
              "  AudioDeviceSetProperty( DataSource ): 3\n");
    EXPECT_EQ(selection->outputDevice(), 4u);
    EXPECT_EQ(selection->outputDataSourceID(), 11u);
    EXPECT_EQ(selection->outputDeviceName(), "Brine Audio : Line Out");
}

TEST_F(OutputDeviceSelectionTest, selectCurrent_followsTheHardwareFromTheStartWithoutRouting) {
    auto selection = make();
    int changes = 0;
    selection->setChangeHandler([&] { ++changes; });
    selection->setOutputDeviceName(std::nullopt);  // the card's headphones
    EXPECT_EQ(selection->selectedIndex(), 2);
    hardware.find(4)->current = 11;  // the hardware switches by itself
    hardware.routingCalls.clear();
    changes = 0;

    // No panel has been shown: the selection follows all the same.
    hardware.notifyDevice(4, HardwareProperty::DataSource);
    queue.runAll();
    EXPECT_EQ(selection->outputDeviceName(), "Brine Audio : Line Out");
    EXPECT_EQ(selection->outputDataSourceID(), 11u);
    EXPECT_EQ(selection->selectedIndex(), 1);
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(hardware.routingCalls.empty());

    // The unit plays to a device that is not listed: item 0, routing untouched.
    hardware.streams[7] = 5;
    selection->selectCurrentDevice();
    EXPECT_EQ(selection->outputDeviceName(), "Acme : Mic");
    EXPECT_EQ(selection->selectedIndex(), 0);
    EXPECT_TRUE(hardware.routingCalls.empty());

    hardware.failures["getCurrentDevice"] = 9;
    ::testing::internal::CaptureStderr();
    selection->selectCurrentDevice();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "  AudioUnitGetProperty( CurrentDevice ): 9\n");
}

TEST_F(OutputDeviceSelectionTest, hotPlug_followedFromTheStart_theGoneDeviceIsLeftWithoutRouting) {
    auto selection = make();
    selection->setOutputDeviceName(std::nullopt);
    Device usb = {12, "Dongle", "Kelp", true, false, {}, kNoDataSource};

    // Plugged in before any panel is shown: the list has it when the panel first draws it.
    hardware.devices.push_back(usb);
    hardware.notifyDevicesChanged();
    queue.runAll();
    EXPECT_EQ(names(*selection).back(), "Kelp : Dongle");
    EXPECT_EQ(selection->selectedIndex(), 2);
    EXPECT_EQ(hardware.deviceListenersOf(12).size(), 2u);

    // The device played to goes away; the hardware moves the stream to the default device and
    // the selection follows it without a routing call of ours.
    selection->audioOutputPopUpButton(4);
    hardware.routingCalls.clear();
    hardware.unplug(12);
    hardware.notifyDevicesChanged();
    queue.runAll();
    EXPECT_EQ(selection->outputSources().size(), 4);
    EXPECT_EQ(selection->outputDevice(), 4u);
    EXPECT_EQ(selection->selectedIndex(), 2);
    EXPECT_EQ(selection->outputDeviceName(), "Brine Audio : Headphones");
    EXPECT_TRUE(hardware.routingCalls.empty());
}

TEST_F(OutputDeviceSelectionTest, notifications_aBurstFromAnotherThreadRebuildsOnce_inAnyOrder) {
    auto selection = make();
    selection->setOutputDeviceName(std::nullopt);
    int changes = 0;
    selection->setChangeHandler([&] { ++changes; });
    const int listsBefore = hardware.getDevicesCalls;
    Device second = card();
    second.id = 20;
    second.manufacturer = "Kelp";
    hardware.devices.push_back(second);

    // A new device's own change notifications may come before the list's.
    std::thread hardwareThread([&] {
        for (int i = 0; i < 20; ++i) {
            hardware.notifyDevice(4, HardwareProperty::DataSource);
            hardware.notifyDevice(4, HardwareProperty::DataSources);
            hardware.notifyDevicesChanged();
        }
    });
    hardwareThread.join();
    EXPECT_EQ(queue.size(), 1u);
    EXPECT_EQ(queue.delays.back(), OutputDeviceSelection::kCoalesceDelay);
    queue.runAll();
    EXPECT_EQ(changes, 1);
    // One rebuild: the list read once, and once each to drop and renew the listeners.
    EXPECT_EQ(hardware.getDevicesCalls, listsBefore + 3);
    EXPECT_EQ(selection->outputSources().size(), 6);
    EXPECT_EQ(selection->outputSources()[4].name, "Kelp : Line Out");

    // Once handled, the next notification is posted again.
    hardware.notifyDevice(20, HardwareProperty::DataSource);
    EXPECT_EQ(queue.size(), 1u);
    queue.runAll();
    EXPECT_EQ(hardware.getDevicesCalls, listsBefore + 3);  // a re-selection only
}

TEST_F(OutputDeviceSelectionTest, destroyed_postedWorkIsDroppedAndNoListenerRemains) {
    auto selection = make();
    int changes = 0;
    selection->setChangeHandler([&] { ++changes; });
    hardware.notifyDevicesChanged();
    selection.reset();
    queue.runAll();
    EXPECT_EQ(changes, 0);
    hardware.notifyDevicesChanged();
    EXPECT_EQ(queue.size(), 0u);
}

TEST_F(OutputDeviceSelectionTest, noDeviceAtLaunch_nothingRouted_theSavedNameKeptAndRoutedToLater) {
    hardware.devices.clear();
    hardware.defaultDevice = kNoAudioDevice;
    auto selection = make();
    selection->setOutputDeviceName(std::string("Brine Audio : Line Out"));
    EXPECT_EQ(selection->outputDeviceName(), "Brine Audio : Line Out");
    EXPECT_EQ(selection->selectedIndex(), -1);
    EXPECT_EQ(selection->outputDevice(), kNoAudioDevice);
    selection->audioOutputPopUpButton(0);  // the placeholder: nothing
    EXPECT_TRUE(hardware.routingCalls.empty());
    EXPECT_EQ(stream.settled, 0);

    // Another device comes first: played to meanwhile; the saved name stays.
    hardware.devices.push_back(speakers());
    hardware.defaultDevice = 0;
    hardware.notifyDevicesChanged();
    queue.runAll();
    EXPECT_EQ(selection->selectedName(), "Acme : Speaker Box");
    EXPECT_EQ(hardware.routingCalls, std::vector<std::string>{"setCurrentDevice 0"});
    EXPECT_EQ(selection->outputDeviceName(), "Brine Audio : Line Out");
    EXPECT_EQ(stream.settled, 1);

    // The saved device arrives: the sound goes there.
    hardware.devices.push_back(card());
    hardware.notifyDevicesChanged();
    queue.runAll();
    EXPECT_EQ(selection->selectedIndex(), 1);
    EXPECT_EQ(hardware.streams[7], 4u);
    EXPECT_EQ(hardware.find(4)->current, 11u);
    EXPECT_EQ(selection->outputDeviceName(), "Brine Audio : Line Out");
}

TEST_F(OutputDeviceSelectionTest, serverGoneAndBack_theChoiceIsRoutedAgain_evenUnderOtherNumbers) {
    auto selection = make();
    selection->setOutputDeviceName(std::string("Acme : Speaker Box"));
    const std::vector<Device> before = hardware.devices;

    // The server goes: no device at all for a while.
    hardware.devices.clear();
    hardware.defaultDevice = kNoAudioDevice;
    hardware.notifyDevicesChanged();
    queue.runAll();
    EXPECT_EQ(selection->selectedIndex(), -1);
    EXPECT_EQ(selection->outputDeviceName(), "Acme : Speaker Box");

    // Back, its devices numbered anew, the card now the default.
    hardware.devices = before;
    for (Device& d : hardware.devices) {
        d.id += 100;
    }
    hardware.defaultDevice = 104;
    hardware.routingCalls.clear();
    const int settledBefore = stream.settled;
    hardware.notifyDevicesChanged();
    queue.runAll();
    EXPECT_EQ(hardware.routingCalls, std::vector<std::string>{"setCurrentDevice 100"});
    EXPECT_EQ(selection->outputDevice(), 100u);
    EXPECT_EQ(selection->outputDeviceName(), "Acme : Speaker Box");
    EXPECT_EQ(stream.settled, settledBefore + 1);

    // The user's own choice replaces a name kept for a device that is away.
    hardware.devices.erase(hardware.devices.begin());
    hardware.notifyDevicesChanged();
    queue.runAll();
    selection->audioOutputPopUpButton(0);
    EXPECT_EQ(selection->outputDeviceName(), "Brine Audio : Line Out");
}

}  // namespace
}  // namespace brinesong
