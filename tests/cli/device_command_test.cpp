// SPDX-License-Identifier: GPL-3.0-or-later
// `brinesong --list-devices` and `brinesong --play --device` against the private sound server,
// with a second null sink loaded beside its own; the sound is recorded from both sinks' monitors.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "model/Settings.h"
#include "platform/SettingsStore.h"
#include "support/MonitorRecorder.h"
#include "support/ServerTools.h"

namespace brinesong {
namespace {

using testing::LoadedSink;
using testing::MonitorRecorder;

constexpr const char* kTestSinkName = "Brinesong Tests : Brinesong Test Sink";
constexpr const char* kSecondName = "Kelvane Labs : Second Sink";
constexpr size_t kQuarterSecond = 44100 / 4;

// Runs the program with its settings in `configHome`.
testing::ProgramRun runBrinesong(const std::vector<std::string>& arguments,
                                 const std::string& configHome) {
    return testing::runProgram(testing::brinesong(arguments),
                               {{"XDG_CONFIG_HOME=" + configHome, testing::kNoSessionBus}});
}

class DeviceCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testing::haveServer()) {
            GTEST_SKIP() << testing::kNoServer;
        }
        ASSERT_TRUE(folder.isValid());
        configHome = folder.path().toStdString();
    }

    // Plays for 3 s from the launch (the connection and the routing come out of them) with the
    // arguments given, and records both sinks meanwhile.
    testing::ProgramRun playAndRecord(const std::vector<std::string>& extra,
                                      std::vector<int16_t>& onTestSink,
                                      std::vector<int16_t>& onSecond) {
        MonitorRecorder first("brinesong_test", configHome + "/first.wav");
        MonitorRecorder second("brinesong_second", configHome + "/second.wav");
        // Both record before the sound begins, and go on until its end has passed both sinks.
        EXPECT_TRUE(first.waitForMoreFrames(kQuarterSecond));
        EXPECT_TRUE(second.waitForMoreFrames(kQuarterSecond));
        // The wave envelope off keeps the level steady.
        std::vector<std::string> arguments{"--play", "--minutes", "0.05", "--seed",
                                           "5",      "--volume",  "50",   "--amplitude-generator",
                                           "off"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        testing::ProgramRun run = runBrinesong(arguments, configHome);
        EXPECT_TRUE(first.waitForMoreFrames(kQuarterSecond));
        EXPECT_TRUE(second.waitForMoreFrames(kQuarterSecond));
        first.stop();
        second.stop();
        onTestSink = first.left();
        onSecond = second.left();
        return run;
    }

    QTemporaryDir folder;
    std::string configHome;
};

TEST_F(DeviceCommandTest, listDevices_printsEverySinkInTheServersOrder_andFollowsIt) {
    {
        LoadedSink second("brinesong_second", "Second Sink", "Kelvane Labs");
        ASSERT_TRUE(second.loaded());
        const testing::ProgramRun run = runBrinesong({"--list-devices"}, configHome);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, std::string(kTestSinkName) + "\n" + kSecondName + "\n");
        EXPECT_EQ(run.err, "");
    }
    const testing::ProgramRun run = runBrinesong({"--list-devices"}, configHome);
    EXPECT_EQ(run.out, std::string(kTestSinkName) + "\n");
}

TEST_F(DeviceCommandTest, playDevice_theSoundArrivesOnTheChosenSinkOnly) {
    LoadedSink second("brinesong_second", "Second Sink", "Kelvane Labs");
    ASSERT_TRUE(second.loaded());
    std::vector<int16_t> onTestSink;
    std::vector<int16_t> onSecond;
    const testing::ProgramRun run = playAndRecord({"--device", kSecondName}, onTestSink, onSecond);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, testing::kNoSessionBusLine);
    ASSERT_GT(onTestSink.size(), 44100u);
    EXPECT_EQ(testing::soundingSamples(onTestSink), 0u);
    // Most of the 3 s arrives, at a level well above the noise floor.
    EXPECT_GT(testing::soundingSamples(onSecond), 44100u);
    EXPECT_GT(testing::rms(onSecond), 800.0);  // about 1800 with the silence around it
}

TEST_F(DeviceCommandTest, playUnknownDevice_saysSoAndPlaysToTheDefault) {
    LoadedSink second("brinesong_second", "Second Sink", "Kelvane Labs");
    ASSERT_TRUE(second.loaded());
    std::vector<int16_t> onTestSink;
    std::vector<int16_t> onSecond;
    const testing::ProgramRun run =
        playAndRecord({"--device", "kelvane labs : second sink"}, onTestSink, onSecond);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err,
              testing::kNoSessionBusLine +
                  "brinesong: there is no output device \"kelvane labs : second sink\"; playing to "
                  "the default one, \"Brinesong Tests : Brinesong Test Sink\"\n");
    EXPECT_GT(testing::soundingSamples(onTestSink), 44100u);
    EXPECT_EQ(testing::soundingSamples(onSecond), 0u);
}

TEST_F(DeviceCommandTest, playWithoutDevice_takesTheDeviceSavedByTheWindow) {
    LoadedSink second("brinesong_second", "Second Sink", "Kelvane Labs");
    ASSERT_TRUE(second.loaded());
    {
        SettingsStore seed(QString::fromStdString(configHome + "/Kelvane/Brinesong.ini"));
        seed.setString(QString::fromLatin1(kSecondName), keys::kOutputSourceName);
        ASSERT_TRUE(seed.synchronize());
    }
    std::vector<int16_t> onTestSink;
    std::vector<int16_t> onSecond;
    const testing::ProgramRun run = playAndRecord({}, onTestSink, onSecond);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(testing::soundingSamples(onTestSink), 0u);
    EXPECT_GT(testing::soundingSamples(onSecond), 44100u);
}

}  // namespace
}  // namespace brinesong
