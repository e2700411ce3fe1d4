// SPDX-License-Identifier: GPL-3.0-or-later
// `brinesong --play` and `brinesong --serve`: live playback without a window, as a media player on
// the session bus. --play starts at once and ends when the minutes run out, on Quit over the bus or
// on a signal; --serve starts stopped, waits for Play and ends only on Quit or a signal. Between,
// media keys, the desktop and remotes pause it (Pause and Stop fade out and keep the program), play
// it again (with the short fade-in), set its volume (with the glide) and change its preset.
// Every stop is requested exactly as the play/stop button requests it, and the program leaves only
// once the wait thread has ended the playback, so the fade-out is heard to the end.
//
// It runs on the same event loop and the same connection to the sound server as the window: a
// server that is not there yet, or that goes away, is waited for (and said so on standard error);
// the sound starts, or starts again with its fade-in, when the server is back. The minutes count
// from the launch, outages and pauses included; minutes that run out before the sound ever reached
// a server are a failure. Nothing here waits for the server, so a signal is always answered at
// once.
//
// With --at the sound starts at the next time the wall clock shows that time of day, by the rules
// of the window's scheduled start (the same ScheduledStart): a time the clocks skip comes when
// they jump past it, a wake from sleep decides it at once, and a start found 10 minutes late or
// more is dropped (--play then ends with status 1; --serve goes on waiting for Play). Meanwhile
// the player is Stopped on the bus, keeps the computer awake as the window's armed start does,
// and a Play drops the armed start and starts at once. The minutes count from that start.
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
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "audio/OutputDeviceSelection.h"
#include "audio/PlaybackEngine.h"
#include "cli/CommandLine.h"
#include "cli/DeviceCommand.h"
#include "model/PlaybackStatusText.h"
#include "model/Presets.h"
#include "model/ScheduledStart.h"
#include "model/Settings.h"
#include "model/SoundSetup.h"
#include "platform/MprisPlayer.h"
#include "platform/PulseConnection.h"
#include "platform/PulseHardware.h"
#include "platform/PulseOutputUnit.h"
#include "platform/QtMainThreadQueue.h"
#include "platform/ResumeWatcher.h"
#include "platform/SleepInhibitor.h"
#include "platform/TerminationSignals.h"
#include "synth/Preferences.h"
#include "synth/Renderer.h"

namespace brinesong {

namespace {

// The longest single wait of the minutes' timer.
constexpr std::chrono::milliseconds kLongestStep = std::chrono::hours(1);

// The player without a window: what the command line asks (the start of --play, the end of the
// minutes, a signal) and what the bus asks (Play, Pause, Stop, Quit) meet here, on the command
// line's main thread, which is the event loop's: tasks posted by the wait thread and the sound
// server's thread run there too.
class HeadlessPlayer : public PlaybackHost {
public:
    // `riseSeconds`: the first start rises from silence over them (0: the short fade-in).
    HeadlessPlayer(bool serve, double riseSeconds) : serve_(serve), riseSeconds_(riseSeconds) {}

    // Sound plays, or is wanted and waits for the server.
    bool isPlaying() const { return engine->isPlaying() || engine->isWaitingToPlay(); }
    bool ending() const { return ending_; }

    // Starts the sound; after a pause whose fade-out still runs, once it has ended. A start armed
    // for later is dropped: it has come early.
    void play() {
        if (ending_) {
            return;
        }
        if (armedStart) {
            armedStart->disarm();
        }
        if (pausing_) {
            resumeAfterPause_ = true;
            return;
        }
        if (isPlaying()) {
            return;
        }
        if (!begun_) {
            begun_ = true;
            if (firstStart) {
                firstStart();
            }
        }
        // Starts now, or as soon as the server has its devices routed; a rise begins with the
        // sound.
        if (const double rise = std::exchange(riseSeconds_, 0.0); rise > 0.0) {
            engine->startRising(rise);
        } else {
            engine->playStop();
        }
    }

    // The stop request, as the button makes it, or the end of a wait; the program goes on.
    void pause() {
        resumeAfterPause_ = false;
        if (ending_ || pausing_ || !isPlaying()) {
            return;
        }
        pausing_ = true;
        engine->playStop();
    }

    // The end of the run: the sound fades out, then the event loop ends with `status`.
    void end(int status) {
        if (ending_) {
            return;
        }
        ending_ = true;
        exitStatus_ = status;
        if (!isPlaying()) {
            exitLater();
        } else if (!pausing_) {  // else the pause's fade-out already runs, and its end is the end
            engine->playStop();
        }
    }

    // PlaybackHost.
    void postToMainThread(std::function<void()> task) override {
        QMetaObject::invokeMethod(&receiver_, std::move(task), Qt::QueuedConnection);
    }
    void didStart() override { player->playStateChanged(); }
    void didStop() override {
        if (!std::exchange(pausing_, false) && !ending_) {
            // Not asked for: the sound cannot be started at all. A server waiting for Play stays.
            std::fprintf(stderr, "brinesong: cannot start the sound: %s\n",
                         engine->failureText().c_str());
            if (!serve_) {
                ending_ = true;
                exitStatus_ = kExitFailure;
            }
        }
        if (ending_) {
            exitLater();
            return;
        }
        player->playStateChanged();
        if (std::exchange(resumeAfterPause_, false)) {
            play();
        }
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
        player->playStateChanged();
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

    // Set before anything starts.
    PlaybackEngine* engine = nullptr;
    MprisPlayer* player = nullptr;
    ScheduledStart* armedStart = nullptr;  // --at; none without it
    // Runs once, just before the first start asks for the sound.
    std::function<void()> firstStart;
    bool sounded = false;     // a playback has started on the server at least once
    std::string lastTrouble;  // the server's words for the latest trouble
    PlaybackStatusLog log;

private:
    // Queued: a start refused at once comes before the event loop runs.
    void exitLater() {
        QMetaObject::invokeMethod(
            &receiver_, [status = exitStatus_] { QCoreApplication::exit(status); },
            Qt::QueuedConnection);
    }

    const bool serve_;
    double riseSeconds_;
    bool pausing_ = false;           // a pause's stop was requested, and has not ended yet
    bool resumeAfterPause_ = false;  // Play came while it had not
    bool ending_ = false;
    bool begun_ = false;  // the sound has been asked for once
    int exitStatus_ = kExitOk;
    QObject receiver_;
};

}  // namespace

int runPlayCommand(const CommandLine& command) {
    const bool serve = command.mode == CommandLine::Mode::Serve;
    const bool report = std::getenv("BRINESONG_PLAY_REPORT") != nullptr;

    Preferences& preferences = Preferences::sharedInstance();
    Renderer renderer(preferences);
    Night night;
    PresetChoice presets;
    if (!prepareSound(command.sound, preferences, renderer, night, &presets)) {
        return kExitBadUsage;
    }

    PulseConnection connection;
    PulseOutputUnit unit(connection);
    PulseHardware hardware(connection);
    QtMainThreadQueue queue;
    OutputDeviceSelection selection(hardware, queue);
    const CommandLineOutputDevice device(selection, unit, command.device);
    HeadlessPlayer host(serve, command.fadeInMinutes.value_or(0.0) * 60.0);
    PlaybackEngine engine(renderer, unit, host);
    host.engine = &engine;
    engine.setNight(std::move(night));  // its minutes count from the first sound

    double latency = -1;
    const auto endRun = [&](int status) {
        if (report && !host.ending() && engine.isPlaying()) {
            latency = unit.latencySeconds();
        }
        host.end(status);
    };
    // Before the player's name is on the bus, so a signal sent as soon as it can be seen is
    // answered.
    onTerminationSignals(*QCoreApplication::instance(), [&](int signalNumber) {
        if (host.ending()) {
            std::fprintf(stderr, "brinesong: interrupted again; quitting without the fade-out\n");
            std::_Exit(128 + signalNumber);
        }
        endRun(128 + signalNumber);
    });

    const auto currentPreset = [&presets]() -> const Preset* {
        return presets.current.isEmpty() ? nullptr : presets.book.find(presets.current);
    };
    MprisPlayer player(MediaPlayerActions{
        [&host] { return host.isPlaying(); },
        [&host] { host.play(); },
        [&host] { host.pause(); },
        {},  // no window to raise
        [&endRun] { endRun(kExitOk); },
        [&renderer] { return renderer.volume.load(); },
        [&](double volume) {
            renderer.setVolume(volume);
            engine.soundChanged();
            host.player->volumeChanged();
        },
        [&] {
            const Preset* preset = currentPreset();
            return preset ? preset->markedTitle(WaveValues::of(preferences)) : QString();
        },
        [&presets] {
            std::vector<MediaPlaylist> playlists;
            for (const Preset& preset : presets.book.all()) {
                playlists.push_back({preset.name, elidedName(preset.title())});
            }
            return playlists;
        },
        [&] {
            const Preset* preset = currentPreset();
            return preset ? preset->name : QString();
        },
        [&](const QString& name) {
            const Preset* preset = presets.book.find(name);
            if (!preset) {
                return false;
            }
            changeSeaTo(preset->values, preferences, engine, presets.changeOverSeconds);
            presets.current = preset->name;
            return true;
        }});
    host.player = &player;
    // Before the sound output opens: a --serve that nothing could start touches no device.
    if (!player.registerOnBus()) {
        if (serve) {
            std::fprintf(stderr, "brinesong: --serve waits for Play over the session bus: %s\n",
                         player.failure().toLocal8Bit().constData());
            return kExitFailure;
        }
        std::fprintf(stderr, "brinesong: nothing but a signal can control this playback: %s\n",
                     player.failure().toLocal8Bit().constData());
    }

    engine.openAudioOutput();
    if (!engine.isOutputOpen() || !connection.start()) {
        std::fprintf(stderr, "brinesong: cannot open the sound output\n");
        return kExitFailure;
    }

    // The end of the minutes on the steady clock, counted from the first start. A timer waits at
    // most kLongestStep at a time (its interval is an int of milliseconds) and measures what is
    // left anew at each step.
    using Steady = std::chrono::steady_clock;
    Steady::time_point end{};
    QTimer minutes;
    bool minutesRanOut = false;
    host.firstStart = [&] {
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
            QObject::connect(&minutes, &QTimer::timeout, [&, nextStep] {
                if (Steady::now() < end) {
                    minutes.start(nextStep());
                } else {
                    minutesRanOut = true;
                    endRun(kExitOk);
                }
            });
            minutes.start(nextStep());
        }
        if (command.fadeOutMinutes && *command.fadeOutMinutes > 0.0 && command.sound.minutes) {
            // Planned before the start, so the first buffer already knows where the fade lies;
            // it ends where the play time does, and the stop request then finds silence to end.
            engine.setSleepFade(*command.sound.minutes * 60.0, *command.fadeOutMinutes * 60.0);
        }
    };

    // --at: armed for its time, the computer kept awake meanwhile (unless the window's preference
    // says not to) and a wake from sleep heard, as for the window's schedule.
    ScheduledStart start(systemClock());
    std::unique_ptr<SleepInhibitor> inhibitor;
    std::unique_ptr<ResumeWatcher> resume;
    if (command.at) {
        host.armedStart = &start;
        QObject::connect(&start, &ScheduledStart::due, [&host] { host.play(); });
        QObject::connect(&start, &ScheduledStart::missed, [&](const QDateTime& at) {
            std::fprintf(stderr,
                         "brinesong: the start at %s was missed while the computer slept or its "
                         "clock was set past it; it is dropped\n",
                         qPrintable(at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
            if (!serve) {
                endRun(kExitFailure);
            }
        });
        SettingsStore store;
        Settings saved;
        saved.load(store);
        inhibitor = std::make_unique<SleepInhibitor>();
        inhibitor->setEnabled(saved.keepAwake);
        QObject::connect(&start, &ScheduledStart::armedChanged, inhibitor.get(),
                         &SleepInhibitor::setStartArmed);
        resume = std::make_unique<ResumeWatcher>();
        QObject::connect(resume.get(), &ResumeWatcher::resumed, &start, &ScheduledStart::resumed);
        start.armNext(*command.at);
        std::fprintf(stderr, "brinesong: waiting to start the sound at %s\n",
                     qPrintable(start.at().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    } else if (!serve) {
        // --serve waits for Play.
        host.play();
    }
    int status = QCoreApplication::exec();
    engine.waitForWaitThreads();
    if (status == kExitOk && minutesRanOut && !host.sounded &&
        command.sound.minutes.value_or(0.0f) > 0.0f) {
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
