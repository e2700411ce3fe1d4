// The sinks of the private sound server as audio hardware: names, the default, a stream moved
// between sinks, and the notifications of sinks loaded and unloaded. The list and pop-up over them
// are tested in the window (tests/app/output_devices_test.cpp).
#include "platform/PulseHardware.h"

#include <gtest/gtest.h>
#include <pulse/def.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "support/ServerTools.h"

namespace brinesong {
namespace {

using namespace std::chrono_literals;
using testing::LoadedSink;
using testing::PlayingStream;

constexpr const char* kTestSink = "brinesong_test";  // the server's own sink, its default

struct FixedStream : OutputRouting {
    uint32_t index = kNoStream;
    uint32_t streamIndex() const override { return index; }
};

class PulseHardwareTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testing::haveServer()) {
            GTEST_SKIP() << testing::kNoServer;
        }
        ASSERT_EQ(hardware.connect(), 0);
        testSink = testing::sinkIndex(kTestSink);
        ASSERT_NE(testSink, UINT32_MAX);
    }

    bool contains(AudioDeviceID device) {
        std::vector<AudioDeviceID> devices;
        EXPECT_EQ(hardware.getDevices(devices), 0);
        return std::find(devices.begin(), devices.end(), device) != devices.end();
    }

    PulseHardware hardware;
    uint32_t testSink = UINT32_MAX;
};

TEST_F(PulseHardwareTest, sinks_areDevicesNamedByDescriptionAndVendor_defaultIsTheDefaultSink) {
    EXPECT_TRUE(contains(testSink));
    std::string text;
    EXPECT_EQ(hardware.getDeviceName(testSink, false, text), 0);
    EXPECT_EQ(text, "Brinesong Test Sink");
    EXPECT_EQ(hardware.getManufacturer(testSink, false, text), 0);
    EXPECT_EQ(text, "Brinesong Tests");
    EXPECT_EQ(hardware.hasStream(testSink, false), 0);
    EXPECT_NE(hardware.hasStream(testSink, true), 0);
    bool settable = true;
    EXPECT_EQ(hardware.isDataSourceSettable(testSink, false, settable), 0);
    EXPECT_FALSE(settable);  // null sinks have no ports
    AudioDeviceID device = kNoAudioDevice;
    EXPECT_EQ(hardware.getDefaultOutputDevice(device), 0);
    EXPECT_EQ(device, testSink);

    LoadedSink plain("brinesong_plain", "Plain Sink", "");
    ASSERT_TRUE(plain.loaded());
    EXPECT_EQ(hardware.getManufacturer(plain.index, false, text), 0);
    EXPECT_EQ(text, "");  // names no vendor: not a failure

    const uint32_t gone = plain.index;
    plain.unload();
    EXPECT_EQ(hardware.getDeviceName(gone, false, text), PA_ERR_NOENTITY);
    EXPECT_EQ(hardware.hasStream(gone, false), PA_ERR_NOENTITY);
    EXPECT_NE(hardware.setDataSource(testSink, false, 1), 0);  // no such port
}

TEST_F(PulseHardwareTest, routing_movesThePlayingStreamAndReportsWhereItPlays) {
    PlayingStream stream;
    ASSERT_NE(stream.index, UINT32_MAX) << "pacat did not connect";
    FixedStream unit;
    unit.index = stream.index;
    LoadedSink second("brinesong_second", "Second Sink", "Brinesong Tests");
    ASSERT_TRUE(second.loaded());

    AudioDeviceID device = kNoAudioDevice;
    EXPECT_EQ(hardware.getCurrentDevice(unit, device), 0);
    EXPECT_EQ(device, testSink);
    EXPECT_EQ(hardware.setCurrentDevice(unit, second.index), 0);
    EXPECT_EQ(stream.sink(), second.index);
    EXPECT_EQ(hardware.getCurrentDevice(unit, device), 0);
    EXPECT_EQ(device, second.index);

    // Its sink goes: the server moves the stream back, and a move to the gone sink is refused.
    const uint32_t gone = second.index;
    second.unload();
    EXPECT_EQ(hardware.getCurrentDevice(unit, device), 0);
    EXPECT_EQ(device, testSink);
    EXPECT_NE(hardware.setCurrentDevice(unit, gone), 0);

    // A stream not connected yet: the choice is kept for it.
    FixedStream later;
    EXPECT_EQ(hardware.setCurrentDevice(later, testSink), 0);
    EXPECT_EQ(hardware.getCurrentDevice(later, device), 0);
    EXPECT_EQ(device, testSink);
    FixedStream never;
    EXPECT_EQ(hardware.getCurrentDevice(never, device), PA_ERR_NOENTITY);
}

struct Counter {
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;
    static int onDevices(HardwareProperty, void* self) {
        auto* counter = static_cast<Counter*>(self);
        std::lock_guard lock(counter->mutex);
        ++counter->count;
        counter->changed.notify_all();
        return 0;
    }
    bool waitFor(int atLeast) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 3s, [&] { return count >= atLeast; });
    }
};

TEST_F(PulseHardwareTest, notifications_loadAndUnloadTellTheDeviceListChanged) {
    Counter counter;
    ASSERT_EQ(hardware.addHardwareListener(&Counter::onDevices, &counter), 0);
    LoadedSink second("brinesong_second", "Second Sink", "Brinesong Tests");
    ASSERT_TRUE(second.loaded());
    ASSERT_TRUE(counter.waitFor(1));
    EXPECT_TRUE(contains(second.index));
    const int afterLoad = counter.count;
    second.unload();
    ASSERT_TRUE(counter.waitFor(afterLoad + 1));
    hardware.removeAllListeners(&counter);
}

}  // namespace
}  // namespace brinesong
