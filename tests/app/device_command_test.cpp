// `brinesong --list-devices` and `brinesong --play --device` against the private sound server,
// with a second null sink loaded beside its own; the sound is recorded from both sinks' monitors.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "MonitorRecorder.h"
#include "ServerTools.h"
#include "app/Settings.h"
#include "platform/SettingsStore.h"

namespace brinesong {
namespace {

using namespace std::chrono_literals;
using testing::LoadedSink;
using testing::MonitorRecorder;

constexpr const char* kTestSinkName = "Brinesong Tests : Brinesong Test Sink";
constexpr const char* kSecondName = "Kelvane Labs : Second Sink";

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string errors;
};

// Runs the program with its settings in `configHome`.
ProgramRun runBrinesong(const std::vector<std::string>& arguments, const std::string& configHome) {
    const std::string outPath = configHome + "/out.txt";
    const std::string errorPath = configHome + "/errors.txt";
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv{const_cast<char*>(BRINESONG_BINARY)};
        for (const std::string& a : arguments) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        execv(BRINESONG_BINARY, argv.data());
        _exit(127);
    }
    ProgramRun run;
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    auto slurp = [](const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    run.out = slurp(outPath);
    run.errors = slurp(errorPath);
    return run;
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

    // Plays 1.2 s with the arguments given and records both sinks meanwhile.
    ProgramRun playAndRecord(const std::vector<std::string>& extra,
                             std::vector<int16_t>& onTestSink, std::vector<int16_t>& onSecond) {
        MonitorRecorder first("brinesong_test", configHome + "/first.wav");
        MonitorRecorder second("brinesong_second", configHome + "/second.wav");
        std::this_thread::sleep_for(300ms);
        // The wave envelope off keeps the level steady.
        std::vector<std::string> arguments{"--play", "--minutes", "0.02", "--seed",
                                           "5",      "--volume",  "50",   "--amplitude-generator",
                                           "off"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        ProgramRun run = runBrinesong(arguments, configHome);
        std::this_thread::sleep_for(300ms);
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
        const ProgramRun run = runBrinesong({"--list-devices"}, configHome);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, std::string(kTestSinkName) + "\n" + kSecondName + "\n");
        EXPECT_EQ(run.errors, "");
    }
    const ProgramRun run = runBrinesong({"--list-devices"}, configHome);
    EXPECT_EQ(run.out, std::string(kTestSinkName) + "\n");
}

TEST_F(DeviceCommandTest, playDevice_theSoundArrivesOnTheChosenSinkOnly) {
    LoadedSink second("brinesong_second", "Second Sink", "Kelvane Labs");
    ASSERT_TRUE(second.loaded());
    std::vector<int16_t> onTestSink;
    std::vector<int16_t> onSecond;
    const ProgramRun run = playAndRecord({"--device", kSecondName}, onTestSink, onSecond);
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    ASSERT_GT(onTestSink.size(), 44100u);
    EXPECT_EQ(testing::soundingSamples(onTestSink), 0u);
    // 1.2 s were played: most of it arrives, at a level well above the noise floor.
    EXPECT_GT(testing::soundingSamples(onSecond), 44100u);
    EXPECT_GT(testing::rms(onSecond), 800.0);  // about 1800 with the silence around it
}

TEST_F(DeviceCommandTest, playUnknownDevice_saysSoAndPlaysToTheDefault) {
    LoadedSink second("brinesong_second", "Second Sink", "Kelvane Labs");
    ASSERT_TRUE(second.loaded());
    std::vector<int16_t> onTestSink;
    std::vector<int16_t> onSecond;
    const ProgramRun run =
        playAndRecord({"--device", "kelvane labs : second sink"}, onTestSink, onSecond);
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.errors,
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
    const ProgramRun run = playAndRecord({}, onTestSink, onSecond);
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(testing::soundingSamples(onTestSink), 0u);
    EXPECT_GT(testing::soundingSamples(onSecond), 44100u);
}

}  // namespace
}  // namespace brinesong
