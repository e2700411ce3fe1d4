// SPDX-License-Identifier: GPL-3.0-or-later
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
#include <signal.h>

#include <gtest/gtest.h>

#include <QSettings>
#include <QString>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/Eventually.h"
#include "support/Program.h"
#include "support/Recording.h"
#include "support/ServerTools.h"

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

using testing::Program;
using testing::RunOptions;

// The environment a child gets on top of the test's own.
using Environment = std::map<std::string, std::string>;
RunOptions withEnvironment(const Environment& environment) {
    RunOptions options;
    for (const auto& [name, value] : environment) {
        options.environment.push_back(name + "=" + value);
    }
    return options;
}

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
    const Environment& env() const { return env_; }

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
    // Connections waiting to be taken on the server's socket (the queue of its listening socket,
    // as the kernel reports it): a frozen server takes none, so a client that has connected to it
    // waits there. -1 when it cannot be read.
    int waitingConnections() const {
        const std::string socket = env_.at("PULSE_SERVER").substr(std::string("unix:").size());
        // "u_str LISTEN <queued> <backlog> <path> ..."
        std::istringstream fields(testing::shellOutput("ss -xlH src '" + socket + "'"));
        std::string kind, state;
        int queued = -1;
        fields >> kind >> state >> queued;
        return queued;
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
    Environment env_;
};

// Records the test sink's monitor of a server into a raw file and tells when sound arrives.
class MonitorWatch {
public:
    MonitorWatch(const PrivateServer& server, const fs::path& file)
        : file_(file),
          recorder_({"sh", "-c",
                     "exec parec -d brinesong_test.monitor --latency-msec=5 --format=s16le "
                     "--rate=44100 --channels=2 > '" +
                         file.string() + "'"},
                    withEnvironment(server.env())) {}
    ~MonitorWatch() {
        recorder_.signal(SIGINT);
        recorder_.wait();
    }

    // Waits until the monitor has recorded non-silent samples: the sound plays. Looks only at
    // what was recorded after this call.
    bool waitForSound() {
        const size_t from = fs::exists(file_) ? fs::file_size(file_) : 0;
        return testing::eventually(
            [&] {
                const std::string bytes = testing::readFile(file_);
                for (size_t at = from & ~size_t(1); at + 2 <= bytes.size(); at += 2) {
                    if (bytes[at] != 0 || bytes[at + 1] != 0) {
                        return true;
                    }
                }
                return false;
            },
            kHang);
    }

private:
    fs::path file_;
    Program recorder_;
};

// Waits until the program has written `text` to its standard error.
bool saysSoon(const Program& program, const std::string& text) {
    return testing::eventually([&] { return program.err().find(text) != std::string::npos; },
                               kHang);
}

class ServerFaultsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scratch.valid());
        dir = scratch.path();
        server = std::make_unique<PrivateServer>(dir / "server");
        ASSERT_TRUE(server->known()) << "the server script printed no environment";
        env = server->env();
        env["XDG_CONFIG_HOME"] = (dir / "config").string();
        fs::create_directories(dir / "config" / "Kelvane");
    }

    // `brinesong --play ...`, the program under test from here on.
    Program& startPlay(std::vector<std::string> options, Environment extra = {}) {
        Environment environment = env;
        environment.merge(extra);
        options.insert(options.begin(), "--play");
        program =
            std::make_unique<Program>(testing::brinesong(options), withEnvironment(environment));
        return *program;
    }
    // The window program on the test display.
    Program& startWindow() {
        Environment display = env;
        display["DISPLAY"] = std::getenv("BRINESONG_XVFB_DISPLAY");
        display["QT_QPA_PLATFORM"] = "xcb";
        // No session bus: nothing of the desktop's (another instance, a media player's name) comes
        // into it, and no bus is started for the display behind the test's back.
        display["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + (dir / "no-bus").string();
        program = std::make_unique<Program>(testing::brinesong({}), withEnvironment(display));
        return *program;
    }
    std::string said() const { return program->err(); }

    // The main window's id once it shows.
    std::string waitForWindow() const {
        const std::string id = testing::shellOutput(
            "DISPLAY=" + std::string(std::getenv("BRINESONG_XVFB_DISPLAY")) +
            " timeout 20 xdotool search --sync --onlyvisible --name '^Brinesong$'");
        return id.substr(0, id.find('\n'));
    }
    // The id of the program's visible window titled `title`, or "" when there is none.
    std::string visibleWindow(const std::string& title) const {
        const std::string id =
            testing::shellOutput("DISPLAY=" + std::string(std::getenv("BRINESONG_XVFB_DISPLAY")) +
                                 " xdotool search --onlyvisible --name '^" + title + "$'");
        return id.substr(0, id.find('\n'));
    }
    void typeInto(const std::string& window, const std::string& keys) const {
        const std::string display =
            "DISPLAY=" + std::string(std::getenv("BRINESONG_XVFB_DISPLAY")) + " ";
        // No window manager runs on the display: focus the window by hand, then type.
        testing::shellOutput(display + "xdotool windowfocus " + window);
        testing::shellOutput(display + "xdotool key " + keys);
    }
    void typeTextInto(const std::string& window, const std::string& text) const {
        const std::string display =
            "DISPLAY=" + std::string(std::getenv("BRINESONG_XVFB_DISPLAY")) + " ";
        testing::shellOutput(display + "xdotool windowfocus " + window);
        testing::shellOutput(display + "xdotool type '" + text + "'");
    }
    // SIGTERM, and the program's exit: the quit is timed for the record.
    void quitBySignal() {
        const auto asked = Clock::now();
        program->signal(SIGTERM);
        EXPECT_EQ(program->wait(std::chrono::duration_cast<std::chrono::seconds>(kHang)),
                  128 + SIGTERM)
            << said();
        std::printf("[ figures  ] quit %.3f s after SIGTERM\n", secondsSince(asked));
    }
    // The sound plays (again) on the monitor; the time since `since` is printed for the record.
    void expectSound(const char* after, Clock::time_point since, const char* file) {
        MonitorWatch monitor(*server, dir / file);
        EXPECT_TRUE(monitor.waitForSound()) << after << ": " << said();
        std::printf("[ figures  ] sound %.3f s after %s\n", secondsSince(since), after);
    }
    // Opens the window and starts the sound from its Playback menu (Ctrl+P), until it is heard;
    // returns the window's id, "" when it did not show.
    std::string playInWindow() {
        startWindow();
        const std::string window = waitForWindow();
        EXPECT_FALSE(window.empty()) << said();
        if (!window.empty()) {
            typeInto(window, "ctrl+p");
            expectSound("the start", Clock::now(), "first.raw");
        }
        return window;
    }
    // Every sink goes, and comes back: on PulseAudio the stream dies and the program says so;
    // PipeWire's server moves it to a stand-in sink of its own meanwhile.
    void unloadEverySinkAndLoadOneAgain() {
        server->unloadEverySink();
        if (!server->pipewire()) {
            EXPECT_TRUE(saysSoon(*program, "brinesong: no output device")) << said();
        }
        server->loadTheSink();
        expectSound("the sink is back", Clock::now(), "sink-back.raw");
    }
    void killAndRestartTheServer() {
        server->kill();
        EXPECT_TRUE(saysSoon(*program, "brinesong: waiting for the sound server (")) << said();
        server->restart();
        expectSound("the server is back", Clock::now(), "server-back.raw");
    }
    QString settingsFile() const {
        return QString::fromStdString((dir / "config/Kelvane/Brinesong.ini").string());
    }
    bool haveDisplay() const { return std::getenv("BRINESONG_XVFB_DISPLAY") != nullptr; }

    testing::ScratchDir scratch{"brinesong-faults"};
    fs::path dir;
    std::unique_ptr<PrivateServer> server;
    Environment env;
    std::unique_ptr<Program> program;
};

constexpr const char* kNoDisplay = "BRINESONG_XVFB_DISPLAY is not set: run under scripts/test.sh";

TEST_F(ServerFaultsTest, play_sinksUnloadedThenServerKilled_soundComesBackEachTime) {
    server->start();
    startPlay({});
    expectSound("the start", Clock::now(), "first.raw");
    unloadEverySinkAndLoadOneAgain();
    killAndRestartTheServer();
    quitBySignal();
}

TEST_F(ServerFaultsTest, play_noServerAtLaunch_waits_playsWhenOneStarts_minutesCountFromLaunch) {
    // 0.2 minutes with a fade-out over all of them. The fade is planned from the launch and
    // reported in the sound's frames, so the program's own report says how long it waited for
    // the server (the fade began that many frames before the first) and whether the stop came
    // where the minutes counted from the launch end (at the fade's end), whatever this test's
    // clocks say.
    Program& player =
        startPlay({"--minutes", "0.2", "--fade-out", "0.2"}, {{"BRINESONG_PLAY_REPORT", "1"}});
    ASSERT_TRUE(saysSoon(player, "brinesong: waiting for the sound server ("));
    // The server comes a while after the launch, so that minutes counted from its start would
    // end that much later. (This makes the case; what is decided is read from the frames.)
    std::this_thread::sleep_for(2s);
    server->start();
    expectSound("the server started", Clock::now(), "late.raw");
    EXPECT_EQ(player.wait(), 0) << said();
    // "played N frames", "the fade-out ran over frames A to B".
    const std::string report = said();
    long long played = -1;
    long long fadeBegin = 0;
    long long fadeEnd = 0;
    const size_t at = report.find("brinesong: played ");
    const size_t fade = report.find("brinesong: the fade-out ran over frames ");
    ASSERT_TRUE(at != std::string::npos && fade != std::string::npos) << report;
    ASSERT_EQ(std::sscanf(report.c_str() + at, "brinesong: played %lld", &played), 1) << report;
    ASSERT_EQ(
        std::sscanf(report.c_str() + fade, "brinesong: the fade-out ran over frames %lld to %lld",
                    &fadeBegin, &fadeEnd),
        2)
        << report;
    std::printf(
        "[ figures  ] waited %.2f s for the server; played %.2f s, the minutes ended at %.2f s\n",
        double(-fadeBegin) / 44100, double(played) / 44100, double(fadeEnd) / 44100);
    ASSERT_LT(fadeBegin, -44100) << "it waited less than a second, which decides nothing";
    // Counted from the server's start, the stop would come as many frames after the fade's end
    // as the program waited; counted from the launch, it comes there (give or take the queue).
    EXPECT_GT(played, 0);
    EXPECT_LT(played - fadeEnd, -fadeBegin / 2) << report;
}

TEST_F(ServerFaultsTest, play_frozenServer_atLaunchAndMidPlay_sigtermEndsItAtOnce) {
    server->start();
    server->freeze();
    const int waiting = server->waitingConnections();
    ASSERT_GE(waiting, 0) << "ss cannot read the server's socket";
    startPlay({});
    // Connecting to a server that does not answer (its connection waits on the server's socket):
    // the signal ends it all the same.
    ASSERT_TRUE(testing::eventually([&] { return server->waitingConnections() > waiting; }, kHang));
    quitBySignal();
    server->thaw();

    startPlay({});
    expectSound("the start", Clock::now(), "before-freeze.raw");
    server->freeze();
    quitBySignal();  // the stop's fade-out has no buffer to happen in
    server->thaw();
}

// Where the night stood at each sound the window started, as it says so: seconds into it, and
// the step that comes next.
std::vector<std::pair<double, std::string>> nightSaid(const std::string& err) {
    std::vector<std::pair<double, std::string>> said;
    const std::regex line(R"(brinesong: the night plays from ([0-9.]+) s on; next: ([^\n]*))");
    for (std::sregex_iterator it(err.begin(), err.end(), line), end; it != end; ++it) {
        said.emplace_back(std::stod((*it)[1]), (*it)[2]);
    }
    return said;
}

// A night set in the window goes on where it stood after the server came back.
TEST_F(ServerFaultsTest, window_sinksUnloadedThenServerKilled_soundBack_quitWritesSettings) {
    if (!haveDisplay()) {
        GTEST_SKIP() << kNoDisplay;
    }
    {
        QSettings seed(settingsFile(), QSettings::IniFormat);
        seed.setValue(QStringLiteral("Night/1/preset"), QStringLiteral("Storm"));
        seed.setValue(QStringLiteral("Night/1/minute"), 30);
    }
    server->start();
    const std::string window = playInWindow();
    ASSERT_FALSE(window.empty());
    unloadEverySinkAndLoadOneAgain();
    killAndRestartTheServer();
    const auto night = nightSaid(said());
    ASSERT_GE(night.size(), 2u) << said();
    EXPECT_LT(night.front().first, 1.0);
    EXPECT_GT(night.back().first, night.front().first + 1.0) << said();
    for (const auto& [seconds, next] : night) {
        EXPECT_EQ(next, "Storm at minute 30");
    }
    std::printf("[ figures  ] the night went on from %.1f s after the server came back\n",
                night.back().first);
    quitBySignal();
    const QSettings saved(settingsFile(), QSettings::IniFormat);
    EXPECT_EQ(saved.value(QStringLiteral("VolumeKey")).toString(), QStringLiteral("50"));
    EXPECT_EQ(saved.value(QStringLiteral("Kelvane.Brinesong.OutputSourceNameKey")).toString(),
              QStringLiteral("Brinesong Tests : Brinesong Test Sink"));
}

TEST_F(ServerFaultsTest, window_noServerAtLaunch_startWaitsForIt_savedDeviceKept) {
    if (!haveDisplay()) {
        GTEST_SKIP() << kNoDisplay;
    }
    {
        QSettings seed(settingsFile(), QSettings::IniFormat);
        seed.setValue(QStringLiteral("VolumeKey"), 64);
        seed.setValue(QStringLiteral("Kelvane.Brinesong.OutputSourceNameKey"),
                      QStringLiteral("Kelvane Labs : Headphones"));
    }
    startWindow();
    const std::string window = waitForWindow();
    ASSERT_FALSE(window.empty()) << said();
    EXPECT_TRUE(saysSoon(*program, "brinesong: waiting for the sound server ("));
    typeInto(window, "ctrl+p");
    server->start();
    expectSound("the server started", Clock::now(), "late.raw");
    quitBySignal();
    // The device chosen before, not there in this run, is not lost.
    const QSettings saved(settingsFile(), QSettings::IniFormat);
    EXPECT_EQ(saved.value(QStringLiteral("VolumeKey")).toString(), QStringLiteral("64"));
    EXPECT_EQ(saved.value(QStringLiteral("Kelvane.Brinesong.OutputSourceNameKey")).toString(),
              QStringLiteral("Kelvane Labs : Headphones"));
}

TEST_F(ServerFaultsTest, window_frozenServer_windowAtOnce_quitAtOnce) {
    if (!haveDisplay()) {
        GTEST_SKIP() << kNoDisplay;
    }
    server->start();
    server->freeze();
    const auto launched = Clock::now();
    startWindow();
    const std::string window = waitForWindow();
    ASSERT_FALSE(window.empty()) << said();
    std::printf("[ figures  ] window shown %.3f s after the launch\n", secondsSince(launched));
    typeInto(window, "ctrl+p");
    quitBySignal();
    EXPECT_TRUE(
        QSettings(settingsFile(), QSettings::IniFormat).contains(QStringLiteral("VolumeKey")));
    server->thaw();
}

// A stop that no buffer takes up (the server is frozen) ends the playback without its fade; the
// export made next must be a whole sound all the same, not shaped by what the playback left.
TEST_F(ServerFaultsTest, window_stopWhileServerFrozen_thenExport_isSoundThroughout) {
    if (!haveDisplay()) {
        GTEST_SKIP() << kNoDisplay;
    }
    server->start();
    const std::string window = playInWindow();
    ASSERT_FALSE(window.empty());
    server->freeze();
    typeInto(window, "ctrl+p");
    // Export is offered once the playback has ended: asked until its dialog shows.
    const auto stopped = Clock::now();
    std::string dialog;
    ASSERT_TRUE(testing::eventually(
        [&] {
            typeInto(window, "ctrl+e");
            std::this_thread::sleep_for(200ms);
            return !(dialog = visibleWindow("Export Sound File")).empty();
        },
        kHang))
        << said();
    std::printf("[ figures  ] export offered %.3f s after the stop\n", secondsSince(stopped));
    server->thaw();
    const fs::path file = dir / "after-stall.aif";
    typeTextInto(dialog, file.string());
    typeInto(dialog, "Return");
    // Written beside and renamed into place when complete.
    ASSERT_TRUE(testing::eventually([&] { return fs::exists(file); }, 60s)) << said();

    const testing::Recording sound = testing::readRecording(file.string());
    ASSERT_EQ(sound.frames(), size_t{600} * 44100);  // the dialog's first length: 10 minutes
    // Between the 2-second fades (which begin and end at silence) no 10 ms are silent.
    size_t run = 0, longest = 0;
    for (size_t f = 2 * 44100; f + 2 * 44100 < sound.frames(); ++f) {
        run = sound.left[f] == 0 && sound.right[f] == 0 ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    EXPECT_LT(longest, size_t{441}) << "frames of digital silence in a row";
    quitBySignal();
}

}  // namespace
}  // namespace brinesong
