// `brinesong --play`: live playback without a window. The stop, whether the minutes ran out or a
// signal came, is requested exactly as the play/stop button requests it, and the program leaves
// only once the wait thread has ended the playback, so the fade-out is heard to the end.
//
// BRINESONG_PLAY_REPORT=1 in the environment prints, at exit, what the stream did: frames
// played, underruns, the buffer sizes the server granted and the latency when the stop was asked.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>

#include "CommandLine.h"
#include "DeviceCommand.h"
#include "audio/PlaybackEngine.h"
#include "audio/TaskQueue.h"
#include "platform/PulseOutputUnit.h"
#include "platform/TerminationSignals.h"
#include "synth/Preferences.h"
#include "synth/Renderer.h"

namespace brinesong {

namespace {

// Written by the signal handler, read by the main thread: the signal number, then a wake-up byte.
volatile std::sig_atomic_t receivedSignal = 0;
int signalPipe[2] = {-1, -1};

extern "C" void onPlayInterrupt(int signalNumber) {
    if (receivedSignal == 0) {
        receivedSignal = signalNumber;
    }
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
}

bool installInterruptHandlers() {
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    handleInterruptSignals(onPlayInterrupt);
    return true;
}

// Waits for a signal, at most `milliseconds` (-1: without limit). True when one came.
bool waitForSignal(int milliseconds) {
    pollfd entry{signalPipe[0], POLLIN, 0};
    for (;;) {
        const int ready = poll(&entry, 1, milliseconds);
        if (ready > 0) {
            char drain[16];
            while (read(signalPipe[0], drain, sizeof drain) > 0) {
            }
            return true;
        }
        if (ready == 0) {
            return false;
        }
        // Interrupted: a signal handler ran; the byte it wrote is picked up on the next round.
    }
}

// The command line's main thread: tasks posted by the wait thread run when it pumps them.
class CommandLineHost : public PlaybackHost {
public:
    void postToMainThread(std::function<void()> task) override { queue_.post(std::move(task)); }
    void didStart() override {}
    void didStop() override { stopped_ = true; }

    // Runs posted tasks until didStop() has run. A second signal gives up on the fade at once.
    bool runUntilStopped() {
        while (!stopped_) {
            if (!queue_.runOne(std::chrono::milliseconds(50)) && waitForSignal(0)) {
                return false;
            }
        }
        return true;
    }

private:
    TaskQueue queue_;
    bool stopped_ = false;
};

// Sleeps until the minutes have passed or a signal came.
void playFor(std::optional<float> minutes) {
    if (!minutes) {
        waitForSignal(-1);
        return;
    }
    using namespace std::chrono;
    const auto deadline = steady_clock::now() +
                          duration_cast<steady_clock::duration>(duration<double>(*minutes * 60.0));
    for (;;) {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0 || waitForSignal(static_cast<int>(std::min<long long>(left + 1, 1 << 30)))) {
            return;
        }
    }
}

}  // namespace

int runPlayCommand(const CommandLine& command) {
    if (!installInterruptHandlers()) {
        std::perror("brinesong: pipe");
        return kExitFailure;
    }
    const bool report = std::getenv("BRINESONG_PLAY_REPORT") != nullptr;

    Preferences& preferences = Preferences::sharedInstance();
    Renderer renderer(preferences);
    prepareSound(command.sound, preferences, renderer);

    PulseOutputUnit unit;
    CommandLineHost host;
    PlaybackEngine engine(renderer, unit, host);

    // A failed open is told in one line with the server's reason rather than as the log line.
    const auto logLine = engine.log;
    std::string openFailure;
    engine.log = [&openFailure](const std::string& line) { openFailure = line; };
    engine.openAudioOutput();
    engine.log = logLine;
    if (!engine.isOutputOpen()) {
        const bool noServer = unit.failedOpenStep() == OutputUnit::OpenStep::Open;
        std::fprintf(stderr, "brinesong: %s: %s\n",
                     noServer ? "cannot reach the sound server" : "cannot open the sound output",
                     unit.errorText().c_str());
        return kExitFailure;
    }

    // The stream is connected now, so the move takes effect before the first sound.
    const CommandLineOutputDevice device(unit, command.device);

    if (command.fadeOutMinutes && *command.fadeOutMinutes > 0.0 && command.sound.minutes) {
        // Planned before the start, so the first buffer already knows where the fade lies; it
        // ends where the play time does, and the stop request then finds silence to end.
        engine.setSleepFade(wallClockSeconds() + *command.sound.minutes * 60.0,
                            *command.fadeOutMinutes * 60.0);
    }
    engine.playStop();
    if (!engine.isPlaying()) {
        std::fprintf(stderr, "brinesong: cannot start the sound: %s\n", unit.errorText().c_str());
        engine.closeAudioOutput();
        return kExitFailure;
    }

    playFor(command.sound.minutes);
    const double latency = report ? unit.latencySeconds() : -1;
    engine.playStop();  // the stop request, as the button makes it
    if (!host.runUntilStopped()) {
        std::fprintf(stderr, "brinesong: interrupted again; quitting without the fade-out\n");
        std::_Exit(128 + receivedSignal);
    }
    engine.waitForWaitThreads();

    if (report) {
        const PulseOutputUnit::BufferSizes sizes = unit.bufferSizes();
        std::fprintf(
            stderr,
            "brinesong: played %llu frames, underruns %llu, target %u bytes, request %u "
            "bytes, latency at the stop request %.1f ms\n",
            static_cast<unsigned long long>(renderer.runLength.load() * Renderer::kSampleRate),
            static_cast<unsigned long long>(unit.underruns()), sizes.targetBytes,
            sizes.requestBytes, latency * 1000.0);
    }
    engine.closeAudioOutput();
    return receivedSignal != 0 ? 128 + receivedSignal : kExitOk;
}

}  // namespace brinesong
