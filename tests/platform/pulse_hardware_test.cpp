// SPDX-License-Identifier: GPL-3.0-or-later
// The sinks of the private sound server as audio hardware: names, the default, a stream moved
// between sinks, and the notifications of sinks loaded and unloaded, after which the hardware's
// stock has the change. The list and pop-up over them
// are tested in the window (tests/app/output_devices_test.cpp).
#include "platform/PulseHardware.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pulse/def.h>
#include <pulse/subscribe.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "support/ServerTools.h"

// No server refuses a subscription on request: while this is set, the program's go to the server
// with a facility no server knows, which it refuses.
static std::atomic<bool> refuseSubscriptions{false};
extern "C" pa_operation* pa_context_subscribe(pa_context* context, pa_subscription_mask_t mask,
                                              pa_context_success_cb_t callback, void* userdata) {
    static const auto real =
        reinterpret_cast<decltype(&pa_context_subscribe)>(dlsym(RTLD_NEXT, "pa_context_subscribe"));
    const auto unknown = static_cast<pa_subscription_mask_t>(refuseSubscriptions ? 0x10000 : 0);
    return real(context, static_cast<pa_subscription_mask_t>(mask | unknown), callback, userdata);
}

namespace brinesong {
namespace {

using namespace std::chrono_literals;
using testing::LoadedSink;
using testing::PlayingStream;

constexpr const char* kTestSink = "brinesong_test";  // the server's own sink, its default

struct FixedStream : OutputRouting {
    uint32_t index = kNoStream;
    std::string preferred;
    uint32_t streamIndex() const override { return index; }
    void setPreferredDevice(const std::string& key) override { preferred = key; }
    std::string preferredDevice() const override { return preferred; }
};

// Counts the device-list notifications, which come once the hardware's stock has the change.
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
    int now() {
        std::lock_guard lock(mutex);
        return count;
    }
    // A hang guard, not a timing check.
    bool waitFor(int atLeast) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return count >= atLeast; });
    }
};

class PulseHardwareTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testing::haveServer()) {
            GTEST_SKIP() << testing::kNoServer;
        }
        ASSERT_EQ(hardware.addHardwareListener(&Counter::onDevices, &counter), 0);
        ASSERT_TRUE(connection.start());
        ASSERT_EQ(hardware.waitUntilListed(10s), 0);
        testSink = testing::sinkIndex(kTestSink);
        ASSERT_NE(testSink, UINT32_MAX);
    }
    void TearDown() override { hardware.removeAllListeners(&counter); }

    bool contains(AudioDeviceID device) {
        std::vector<AudioDeviceID> devices;
        EXPECT_EQ(hardware.getDevices(devices), 0);
        return std::find(devices.begin(), devices.end(), device) != devices.end();
    }

    PulseConnection connection;
    PulseHardware hardware{connection};
    Counter counter;
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

    const int before = counter.now();
    LoadedSink plain("brinesong_plain", "Plain Sink", "");
    ASSERT_TRUE(plain.loaded());
    ASSERT_TRUE(counter.waitFor(before + 1));
    EXPECT_EQ(hardware.getManufacturer(plain.index, false, text), 0);
    EXPECT_EQ(text, "");  // names no vendor: not a failure

    const uint32_t gone = plain.index;
    plain.unload();
    ASSERT_TRUE(counter.waitFor(before + 2));
    EXPECT_EQ(hardware.getDeviceName(gone, false, text), PA_ERR_NOENTITY);
    EXPECT_EQ(hardware.hasStream(gone, false), PA_ERR_NOENTITY);
    EXPECT_NE(hardware.setDataSource(testSink, false, 1), 0);  // no such port
}

TEST_F(PulseHardwareTest, routing_movesThePlayingStreamAndReportsWhereItPlays) {
    PlayingStream stream;
    ASSERT_NE(stream.index, UINT32_MAX) << "pacat did not connect";
    FixedStream unit;
    unit.index = stream.index;
    const int before = counter.now();
    LoadedSink second("brinesong_second", "Second Sink", "Brinesong Tests");
    ASSERT_TRUE(second.loaded());
    ASSERT_TRUE(counter.waitFor(before + 1));

    AudioDeviceID device = kNoAudioDevice;
    EXPECT_EQ(hardware.getCurrentDevice(unit, device), 0);
    EXPECT_EQ(device, testSink);
    EXPECT_EQ(hardware.setCurrentDevice(unit, second.index), 0);
    // PipeWire's server answers the move before its graph has relinked the stream, and now and then
    // the stream's listing still names the old sink for a moment.
    EXPECT_TRUE(testing::eventually([&] { return stream.sink() == second.index; }));
    EXPECT_EQ(unit.preferred, "brinesong_second");  // kept for a stream made anew
    EXPECT_EQ(hardware.getCurrentDevice(unit, device), 0);
    EXPECT_EQ(device, second.index);

    // Its sink goes: the server moves the stream back (PipeWire's session manager takes a moment
    // for it), and a move to the gone sink is refused.
    const uint32_t gone = second.index;
    second.unload();
    ASSERT_TRUE(counter.waitFor(before + 2));
    ASSERT_TRUE(testing::eventually([&] { return stream.sink() == testSink; }));
    EXPECT_EQ(hardware.getCurrentDevice(unit, device), 0);
    EXPECT_EQ(device, testSink);
    EXPECT_NE(hardware.setCurrentDevice(unit, gone), 0);

    // A stream not connected yet plays to the device it was routed to, else to the default.
    LoadedSink third("brinesong_third", "Third Sink", "Brinesong Tests");
    ASSERT_TRUE(third.loaded());
    ASSERT_TRUE(counter.waitFor(before + 3));
    FixedStream later;
    EXPECT_EQ(hardware.setCurrentDevice(later, third.index), 0);
    EXPECT_EQ(later.preferred, "brinesong_third");
    EXPECT_EQ(hardware.getCurrentDevice(later, device), 0);
    EXPECT_EQ(device, third.index);
    FixedStream never;
    EXPECT_EQ(hardware.getCurrentDevice(never, device), 0);
    EXPECT_EQ(device, testSink);
}

TEST_F(PulseHardwareTest, notifications_loadAndUnloadTellTheDeviceListChanged_stockFollows) {
    const int before = counter.now();
    LoadedSink second("brinesong_second", "Second Sink", "Brinesong Tests");
    ASSERT_TRUE(second.loaded());
    ASSERT_TRUE(counter.waitFor(before + 1));
    EXPECT_TRUE(contains(second.index));
    std::string name;
    EXPECT_EQ(hardware.getDeviceName(second.index, false, name), 0);
    EXPECT_EQ(name, "Second Sink");
    second.unload();
    ASSERT_TRUE(counter.waitFor(before + 2));
    EXPECT_FALSE(contains(second.index));
}

// Refused, the subscription is said once and asked for again; once granted, what was missed is
// read.
TEST_F(PulseHardwareTest, refusedSubscription_saidOnce_whatWasMissedIsReadOnceGranted) {
    PulseConnection refused;
    PulseHardware devices(refused);
    ::testing::internal::CaptureStderr();
    refuseSubscriptions = true;
    EXPECT_TRUE(refused.start());
    EXPECT_EQ(devices.waitUntilListed(10s), 0);
    LoadedSink second("brinesong_second", "Second Sink", "Brinesong Tests");
    refuseSubscriptions = false;
    EXPECT_TRUE(testing::eventually([&] { return devices.hasStream(second.index, false) == 0; }));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "brinesong: pa_context_subscribe failed: Invalid argument\n");
}

}  // namespace
}  // namespace brinesong
