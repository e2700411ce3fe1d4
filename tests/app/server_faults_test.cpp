// The real program against a sound server that misbehaves: every sink unloaded mid-play, the
// server killed and started again, no server at launch, a server that is frozen. Each test starts a
// private server of its own (of the kind the test script names: PulseAudio, or PipeWire with its
// PulseAudio server), plays through `brinesong --play` or the window (under the test script's
// virtual display), records the sink's monitor, and decides from what happens: a line the program
// writes, sound on the monitor, the program's exit. Each time the program must answer SIGTERM and
// write its settings, and the sound must come back when the server or the sink does.
//
// The times it takes (the quit after SIGTERM, the sound's return after the server's) are printed
// for the record; the limits below only guard against a hang.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "ServerTools.h"

extern char** environ;

namespace brinesong {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A hang guard: nothing here is expected to take more than a few seconds.
constexpr auto kHang = 20s;

double secondsSince(Clock::time_point then) {
    return std::chrono::duration<double>(Clock::now() - then).count();
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A child process with the test's environment plus `extra` (NAME=value, replacing the same names),
// standard output and error to files when given.
class Process {
public:
    Process(std::vector<std::string> arguments, const std::map<std::string, std::string>& extra,
            const std::string& outFile = "", const std::string& errorFile = "") {
        std::vector<char*> argv;
        for (std::string& a : arguments) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::vector<std::string> environment;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            if (!extra.count(entry.substr(0, entry.find('=')))) {
                environment.push_back(entry);
            }
        }
        for (const auto& [name, value] : extra) {
            environment.push_back(name + "=" + value);
        }
        std::vector<char*> envp;
        for (std::string& e : environment) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (!outFile.empty()) {
            posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        if (!errorFile.empty()) {
            posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Process() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return pid_ > 0; }
    void signal(int number) const { kill(pid_, number); }
    // Exit status (128 + signal when killed), or -1 if it has not ended within `limit`.
    int wait(std::chrono::milliseconds limit = kHang) {
        const auto giveUp = Clock::now() + limit;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (Clock::now() > giveUp) {
                return -1;
            }
            std::this_thread::sleep_for(5ms);
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
};

// A private sound server of this test's own, in a folder of its own, driven through the test
// script's server script: start, kill (as a crash), restart, freeze, thaw, stop.
class PrivateServer {
public:
    explicit PrivateServer(const fs::path& dir) : dir_(dir) {
        const char* script = std::getenv("BRINESONG_SERVER_SCRIPT");
        script_ = script ? script : BRINESONG_SOURCE_DIR "/scripts/pulse-server.sh";
        // Where it will listen, before it runs: the program can be started first.
        const std::string output = run("env");
        const std::regex pair("([A-Z_]+)='([^']*)'");
        for (std::sregex_iterator it(output.begin(), output.end(), pair), end; it != end; ++it) {
            env_[(*it)[1]] = (*it)[2];
        }
    }
    ~PrivateServer() { stop(); }

    bool known() const { return env_.count("PULSE_SERVER") != 0; }
    bool pipewire() const { return script_.find("pipewire") != std::string::npos; }
    // The environment that makes a client use this server.
    const std::map<std::string, std::string>& env() const { return env_; }

    void start() { run("start"); }
    void kill() { run("kill"); }
    void restart() { run("restart"); }
    void freeze() { run("freeze"); }
    void thaw() { run("thaw"); }
    void stop() { run("stop"); }

    // pactl against this server.
    std::string pactl(const std::string& arguments) const {
        std::string command;
        for (const auto& [name, value] : env_) {
            command += name + "='" + value + "' ";
        }
        return testing::shellOutput(command + "pactl " + arguments + " 2>/dev/null");
    }
    void unloadEverySink() const {
        std::istringstream lines(pactl("list short modules"));
        std::string line;
        while (std::getline(lines, line)) {
            if (line.find("module-null-sink") != std::string::npos) {
                pactl("unload-module " + line.substr(0, line.find_first_of(" \t")));
            }
        }
    }
    void loadTheSink() const {
        pactl(
            "load-module module-null-sink sink_name=brinesong_test norewinds=1 "
            "\"sink_properties='device.description=\\\"Brinesong Test Sink\\\" "
            "device.vendor.name=\\\"Brinesong Tests\\\"'\"");
        pactl("set-default-sink brinesong_test");
    }

private:
    std::string run(const std::string& command) {
        return testing::shellOutput("'" + script_ + "' " + command + " '" + dir_.string() + "'");
    }

    fs::path dir_;
    std::string script_;
    std::map<std::string, std::string> env_;
};

// Records the test sink's monitor of a server into a raw file and tells when sound arrives.
class MonitorWatch {
public:
    MonitorWatch(const PrivateServer& server, const fs::path& file) : file_(file) {
        recorder_ = std::make_unique<Process>(
            std::vector<std::string>{"parec", "-d", "brinesong_test.monitor", "--latency-msec=5",
                                     "--format=s16le", "--rate=44100", "--channels=2"},
            server.env(), file.string());
    }
    ~MonitorWatch() {
        recorder_->signal(SIGINT);
        recorder_->wait();
    }

    // Waits until the monitor has recorded non-silent samples: the sound plays. Looks only at
    // what was recorded after this call.
    bool waitForSound() {
        const size_t from = fs::exists(file_) ? fs::file_size(file_) : 0;
        const auto giveUp = Clock::now() + kHang;
        while (Clock::now() < giveUp) {
            const std::string bytes = readFile(file_);
            for (size_t at = from & ~size_t(1); at + 2 <= bytes.size(); at += 2) {
                if (bytes[at] != 0 || bytes[at + 1] != 0) {
                    return true;
                }
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

private:
    fs::path file_;
    std::unique_ptr<Process> recorder_;
};

// Waits until the program has written `text` to its standard error.
bool saysSoon(const fs::path& errors, const std::string& text) {
    return testing::eventually([&] { return readFile(errors).find(text) != std::string::npos; },
                               kHang);
}

class ServerFaultsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        dir = folder.path().toStdString();
        server = std::make_unique<PrivateServer>(dir / "server");
        ASSERT_TRUE(server->known()) << "the server script printed no environment";
        errors = dir / "errors.txt";
        env = server->env();
        env["XDG_CONFIG_HOME"] = (dir / "config").string();
        fs::create_directories(dir / "config" / "Kelvane");
    }

    // The window program on the test display.
    std::unique_ptr<Process> startWindow() {
        auto display = env;
        display["DISPLAY"] = std::getenv("BRINESONG_XVFB_DISPLAY");
        display["QT_QPA_PLATFORM"] = "xcb";
        return std::make_unique<Process>(std::vector<std::string>{BRINESONG_BINARY}, display, "",
                                         errors.string());
    }
    // The main window's id once it shows; the window program answers at once, whatever the
    // server does.
    std::string waitForWindow() const {
        std::string command =
            "DISPLAY=" + std::string(std::getenv("BRINESONG_XVFB_DISPLAY")) +
            " timeout 20 xdotool search --sync --onlyvisible --name '^Brinesong$'";
        std::string id = testing::shellOutput(command);
        return id.substr(0, id.find('\n'));
    }
    void typeInto(const std::string& window, const std::string& keys) const {
        const std::string display =
            "DISPLAY=" + std::string(std::getenv("BRINESONG_XVFB_DISPLAY")) + " ";
        // No window manager runs on the display: focus the window by hand, then type.
        testing::shellOutput(display + "xdotool windowfocus " + window);
        testing::shellOutput(display + "xdotool key " + keys);
    }
    // SIGTERM, and the program's exit: the quit is timed for the record.
    void quitBySignal(Process& program) {
        const auto asked = Clock::now();
        program.signal(SIGTERM);
        EXPECT_EQ(program.wait(), 128 + SIGTERM) << readFile(errors);
        std::printf("[ figures  ] quit %.3f s after SIGTERM\n", secondsSince(asked));
    }
    // The sound is back once the server or its sink is, timed for the record.
    void expectSoundBack(const char* after, Clock::time_point since, const char* file) {
        MonitorWatch monitor(*server, dir / file);
        EXPECT_TRUE(monitor.waitForSound()) << after << ": " << readFile(errors);
        std::printf("[ figures  ] sound back %.3f s after %s\n", secondsSince(since), after);
    }
    // Every sink goes, and comes back: on PulseAudio the stream dies and the program says so;
    // PipeWire's server moves it to a stand-in sink of its own meanwhile.
    void unloadEverySinkAndLoadOneAgain() {
        server->unloadEverySink();
        if (!server->pipewire()) {
            EXPECT_TRUE(saysSoon(errors, "brinesong: no output device")) << readFile(errors);
        }
        server->loadTheSink();
        expectSoundBack("the sink is back", Clock::now(), "sink-back.raw");
    }
    void killAndRestartTheServer() {
        server->kill();
        EXPECT_TRUE(saysSoon(errors, "brinesong: waiting for the sound server ("))
            << readFile(errors);
        server->restart();
        expectSoundBack("the server is back", Clock::now(), "server-back.raw");
    }
    QSettings savedSettings() const {
        return QSettings(QString::fromStdString((dir / "config/Kelvane/Brinesong.ini").string()),
                         QSettings::IniFormat);
    }

    QTemporaryDir folder;
    fs::path dir;
    fs::path errors;
    std::unique_ptr<PrivateServer> server;
    std::map<std::string, std::string> env;
};

TEST_F(ServerFaultsTest, play_sinksUnloadedThenServerKilled_soundComesBackEachTime) {
    server->start();
    Process player({BRINESONG_BINARY, "--play"}, env, "", errors.string());
    {
        MonitorWatch monitor(*server, dir / "first.raw");
        ASSERT_TRUE(monitor.waitForSound()) << readFile(errors);
    }
    unloadEverySinkAndLoadOneAgain();
    killAndRestartTheServer();
    quitBySignal(player);
}

TEST_F(ServerFaultsTest, play_noServerAtLaunch_waits_playsWhenOneStarts_minutesCountFromLaunch) {
    // Three minutes' worth of hundredths: the stop comes 3 s after the launch, not after the
    // server's start.
    auto report = env;
    report["BRINESONG_PLAY_REPORT"] = "1";
    const auto launched = Clock::now();
    Process player({BRINESONG_BINARY, "--play", "--minutes", "0.05"}, report, "", errors.string());
    ASSERT_TRUE(saysSoon(errors, "brinesong: waiting for the sound server ("));
    // Some time without a server, so that the two ways of counting differ by far.
    std::this_thread::sleep_for(1s);
    server->start();
    expectSoundBack("the server started", Clock::now(), "late.raw");
    EXPECT_EQ(player.wait(), 0) << readFile(errors);
    const std::string said = readFile(errors);
    const size_t at = said.find("played ");
    ASSERT_NE(at, std::string::npos) << said;
    const double played = std::strtod(said.c_str() + at + 7, nullptr) / 44100.0;
    std::printf("[ figures  ] %.2f s played of 3 s since the launch %.2f s ago\n", played,
                secondsSince(launched));
    EXPECT_LT(played, 2.5);
    EXPECT_GT(played, 0.5);
}

TEST_F(ServerFaultsTest, play_frozenServer_atLaunchAndMidPlay_sigtermEndsItAtOnce) {
    server->start();
    server->freeze();
    {
        Process player({BRINESONG_BINARY, "--play"}, env, "", errors.string());
        // It is running and stays so, connecting; the signal ends it.
        std::this_thread::sleep_for(500ms);
        quitBySignal(player);
    }
    server->thaw();
    Process player({BRINESONG_BINARY, "--play"}, env, "", errors.string());
    {
        MonitorWatch monitor(*server, dir / "before-freeze.raw");
        ASSERT_TRUE(monitor.waitForSound()) << readFile(errors);
    }
    server->freeze();
    quitBySignal(player);  // the stop's fade-out has no buffer to happen in
    server->thaw();
}

TEST_F(ServerFaultsTest, window_sinksUnloadedThenServerKilled_soundBack_quitWritesSettings) {
    if (!std::getenv("BRINESONG_XVFB_DISPLAY")) {
        GTEST_SKIP() << "BRINESONG_XVFB_DISPLAY is not set: run under scripts/test.sh";
    }
    server->start();
    auto program = startWindow();
    const std::string window = waitForWindow();
    ASSERT_FALSE(window.empty()) << readFile(errors);
    typeInto(window, "ctrl+p");  // Playback > Start
    {
        MonitorWatch monitor(*server, dir / "first.raw");
        ASSERT_TRUE(monitor.waitForSound()) << readFile(errors);
    }
    unloadEverySinkAndLoadOneAgain();
    killAndRestartTheServer();
    quitBySignal(*program);
    QSettings saved = savedSettings();
    EXPECT_EQ(saved.value(QStringLiteral("VolumeKey")).toString(), QStringLiteral("50"));
    EXPECT_EQ(saved.value(QStringLiteral("Kelvane.Brinesong.OutputSourceNameKey")).toString(),
              QStringLiteral("Brinesong Tests : Brinesong Test Sink"));
}

TEST_F(ServerFaultsTest, window_noServerAtLaunch_startWaitsForIt_savedDeviceKept) {
    if (!std::getenv("BRINESONG_XVFB_DISPLAY")) {
        GTEST_SKIP() << "BRINESONG_XVFB_DISPLAY is not set: run under scripts/test.sh";
    }
    {
        QSettings seed = savedSettings();
        seed.setValue(QStringLiteral("VolumeKey"), 64);
        seed.setValue(QStringLiteral("Kelvane.Brinesong.OutputSourceNameKey"),
                      QStringLiteral("Kelvane Labs : Headphones"));
    }
    auto program = startWindow();
    const std::string window = waitForWindow();
    ASSERT_FALSE(window.empty()) << readFile(errors);
    EXPECT_TRUE(saysSoon(errors, "brinesong: waiting for the sound server ("));
    typeInto(window, "ctrl+p");
    server->start();
    expectSoundBack("the server started", Clock::now(), "late.raw");
    quitBySignal(*program);
    // The device chosen before, not there in this run, is not lost.
    QSettings saved = savedSettings();
    EXPECT_EQ(saved.value(QStringLiteral("VolumeKey")).toString(), QStringLiteral("64"));
    EXPECT_EQ(saved.value(QStringLiteral("Kelvane.Brinesong.OutputSourceNameKey")).toString(),
              QStringLiteral("Kelvane Labs : Headphones"));
}

TEST_F(ServerFaultsTest, window_frozenServer_windowAtOnce_quitAtOnce) {
    if (!std::getenv("BRINESONG_XVFB_DISPLAY")) {
        GTEST_SKIP() << "BRINESONG_XVFB_DISPLAY is not set: run under scripts/test.sh";
    }
    server->start();
    server->freeze();
    const auto launched = Clock::now();
    auto program = startWindow();
    const std::string window = waitForWindow();
    ASSERT_FALSE(window.empty()) << readFile(errors);
    std::printf("[ figures  ] window shown %.3f s after the launch\n", secondsSince(launched));
    typeInto(window, "ctrl+p");
    quitBySignal(*program);
    EXPECT_TRUE(savedSettings().contains(QStringLiteral("VolumeKey")));
    server->thaw();
}

}  // namespace
}  // namespace brinesong
