// SPDX-License-Identifier: GPL-3.0-or-later
// `brinesong --play`: live playback without a window. The stop, whether the minutes ran out or a
// signal came, is requested exactly as the play/stop button requests it, and the program leaves
// only once the wait thread has ended the playback, so the fade-out is heard to the end.
//
// It runs on the same event loop and the same connection to the sound server as the window: a
// server that is not there yet, or that goes away, is waited for (and said so on standard error);
// the sound starts, or starts again with its fade-in, when the server is back. The minutes count
// from the launch, outages included; minutes that run out before the sound ever reached a server
// are a failure. Nothing here waits for the server, so a signal is always answered at once.
//
// BRINESONG_PLAY_REPORT=1 in the environment prints, at exit, what the stream did: frames
// played, underruns, the buffer sizes the server granted and the latency when the stop was asked;
// and how much of the minutes was left.
#include <QCoreApplication>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio/OutputDeviceSelection.h"
#include "audio/PlaybackEngine.h"
#include "cli/CommandLine.h"
#include "cli/DeviceCommand.h"
#include "model/PlaybackStatusText.h"
#include "model/SoundSetup.h"
#include "platform/PulseConnection.h"
#include "platform/PulseHardware.h"
#include "platform/PulseOutputUnit.h"
#include "platform/QtMainThreadQueue.h"
#include "platform/TerminationSignals.h"
#include "synth/Preferences.h"
#include "synth/Renderer.h"

namespace brinesong {

namespace {

// The longest single wait of the minutes' timer.
constexpr std::chrono::milliseconds kLongestStep = std::chrono::hours(1);

// The command line's main thread is the event loop's: tasks posted by the wait thread and the
// sound server's thread run there.
class CommandLineHost : public PlaybackHost {
public:
    void postToMainThread(std::function<void()> task) override {
        QMetaObject::invokeMethod(&receiver_, std::move(task), Qt::QueuedConnection);
    }
    void didStart() override {}
    void didStop() override {
        if (!stopRequested) {
            // Not asked for: the sound cannot be started at all.
            exitStatus = kExitFailure;
            std::fprintf(stderr, "brinesong: cannot start the sound: %s\n",
                         engine->failureText().c_str());
        }
        // Queued: a start refused at once comes before the event loop runs.
        const int status = exitStatus;
        QMetaObject::invokeMethod(
            &receiver_, [status] { QCoreApplication::exit(status); }, Qt::QueuedConnection);
    }
    void statusChanged() override {
        const PlaybackStatus status = engine->status();
        const std::string reason = status == PlaybackStatus::CannotPlay
                                       ? engine->failureText()
                                       : engine->outputFailureText();
        log.update(status, reason);
        if (status == PlaybackStatus::Playing && engine->isPlaying()) {
            sounded = true;
        } else if (!reason.empty()) {
            lastTrouble = reason;
        }
    }

    // Why nothing sounded, for the line at exit.
    std::string neverSounded() const {
        if (engine->status() == PlaybackStatus::NoOutputDevice) {
            return "the sound server had no output device" +
                   (lastTrouble.empty() ? std::string() : " (" + lastTrouble + ")");
        }
        if (lastTrouble.empty()) {
            return "the sound server did not answer within the minutes";
        }
        return "the sound server could not be reached (" + lastTrouble + ")";
    }

    PlaybackEngine* engine = nullptr;
    bool stopRequested = false;
    int exitStatus = kExitOk;
    bool sounded = false;     // a playback has started on the server at least once
    std::string lastTrouble;  // the server's words for the latest trouble
    PlaybackStatusLog log;

private:
    QObject receiver_;
};

}  // namespace

int runPlayCommand(const CommandLine& command) {
    const bool report = std::getenv("BRINESONG_PLAY_REPORT") != nullptr;

    Preferences& preferences = Preferences::sharedInstance();
    Renderer renderer(preferences);
    Night night;
    if (!prepareSound(command.sound, preferences, renderer, night)) {
        return kExitBadUsage;
    }

    PulseConnection connection;
    PulseOutputUnit unit(connection);
    PulseHardware hardware(connection);
    QtMainThreadQueue queue;
    OutputDeviceSelection selection(hardware, queue);
    const CommandLineOutputDevice device(selection, unit, command.device);
    CommandLineHost host;
    PlaybackEngine engine(renderer, unit, host);
    host.engine = &engine;
    engine.setNight(std::move(night));  // its minutes count from the first sound

    engine.openAudioOutput();
    if (!engine.isOutputOpen() || !connection.start()) {
        std::fprintf(stderr, "brinesong: cannot open the sound output\n");
        return kExitFailure;
    }

    double latency = -1;
    auto requestStop = [&](int signalNumber) {
        if (host.stopRequested) {
            return;
        }
        host.stopRequested = true;
        host.exitStatus = signalNumber != 0 ? 128 + signalNumber : kExitOk;
        if (report && engine.isPlaying()) {
            latency = unit.latencySeconds();
        }
        engine.playStop();  // the stop request, as the button makes it; or the end of a wait
    };
    onTerminationSignals(*QCoreApplication::instance(), [&](int signalNumber) {
        if (host.stopRequested) {
            std::fprintf(stderr, "brinesong: interrupted again; quitting without the fade-out\n");
            std::_Exit(128 + signalNumber);
        }
        requestStop(signalNumber);
    });
    // The end of the minutes on the steady clock. A timer waits at most kLongestStep at a time
    // (its interval is an int of milliseconds) and measures what is left anew at each step.
    using Steady = std::chrono::steady_clock;
    Steady::time_point end{};
    QTimer minutes;
    if (command.sound.minutes) {
        using namespace std::chrono;
        end = Steady::now() +
              duration_cast<Steady::duration>(duration<double>(*command.sound.minutes * 60.0));
        const auto nextStep = [&end] {
            return std::clamp(ceil<milliseconds>(end - Steady::now()), milliseconds(0),
                              kLongestStep);
        };
        minutes.setSingleShot(true);
        minutes.setTimerType(Qt::PreciseTimer);
        QObject::connect(&minutes, &QTimer::timeout, [&] {
            if (Steady::now() < end) {
                minutes.start(nextStep());
            } else {
                requestStop(0);
            }
        });
        minutes.start(nextStep());
    }

    if (command.fadeOutMinutes && *command.fadeOutMinutes > 0.0 && command.sound.minutes) {
        // Planned before the start, so the first buffer already knows where the fade lies; it
        // ends where the play time does, and the stop request then finds silence to end.
        engine.setSleepFade(*command.sound.minutes * 60.0, *command.fadeOutMinutes * 60.0);
    }
    // Starts now, or as soon as the server has its devices routed; a rise begins with the sound.
    if (command.fadeInMinutes && *command.fadeInMinutes > 0.0) {
        engine.startRising(*command.fadeInMinutes * 60.0);
    } else {
        engine.playStop();
    }
    int status = QCoreApplication::exec();
    engine.waitForWaitThreads();
    if (status == kExitOk && !host.sounded && command.sound.minutes.value_or(0.0f) > 0.0f) {
        // The minutes ran out without the sound ever reaching a server: that is no success
        // (unless no sound was asked for).
        std::fprintf(stderr, "brinesong: no sound was played: %s\n", host.neverSounded().c_str());
        status = kExitFailure;
    }

    if (report) {
        const PulseOutputUnit::BufferSizes sizes = unit.bufferSizes();
        std::fprintf(
            stderr,
            "brinesong: played %llu frames, underruns %llu, target %u bytes, request %u "
            "bytes, latency at the stop request %.1f ms\n",
            static_cast<unsigned long long>(
                engine.rendering() ? engine.rendering()->runLength.load() * Renderer::kSampleRate
                                   : 0.0),
            static_cast<unsigned long long>(unit.underruns()), sizes.targetBytes,
            sizes.requestBytes, latency * 1000.0);
        if (command.sound.minutes) {
            const double left = std::chrono::duration<double>(end - Steady::now()).count();
            std::fprintf(stderr, "brinesong: %.1f s of the minutes were left\n",
                         std::max(0.0, left));
        }
        // The fade's place in the sound's own frames: the minutes count from the launch, so
        // where it falls after the first frame depends on how long the connection took.
        if (const SleepFade fade = engine.sleepFade(); fade.active()) {
            std::fprintf(stderr, "brinesong: the fade-out ran over frames %lld to %lld\n",
                         static_cast<long long>(fade.beginFrame()),
                         static_cast<long long>(fade.endFrame));
        }
    }
    engine.closeAudioOutput();
    connection.close();
    return status;
}

}  // namespace brinesong
