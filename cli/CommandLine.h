// SPDX-License-Identifier: GPL-3.0-or-later
// The headless command line beside the window: parsing and validation of every option before
// anything is touched, and the commands themselves.
#pragma once

#include <QString>
#include <QTime>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/SoundSetup.h"

namespace brinesong {

// Exit statuses of the command line.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;   // the work failed
inline constexpr int kExitBadUsage = 2;  // an option was refused; nothing was touched

// The longest --play: the end is kept on the steady clock, in nanoseconds, which holds about 290
// years; this leaves room for the clock's own count since boot.
inline constexpr double kMaxPlayMinutes = 1e8;

struct CommandLine {
    enum class Mode { Window, Help, Version, Export, Play, Serve, ListDevices, ListPresets };
    Mode mode = Mode::Window;
    // --start or --stop: what the window (the running one, else a new one) does with the sound,
    // as the launcher's actions ask it.
    enum class WindowAction { None, Start, Stop };
    WindowAction windowAction = WindowAction::None;
    // --hidden: the window's program starts in the tray, its window not shown (as the autostart
    // entry of "Start at login" runs it).
    bool hidden = false;
    // FILE of --export as the bytes given: a name the locale cannot decode keeps its bytes.
    std::string exportPath;
    // --format for --export: a format's name as --help lists them; none to go by the extension.
    std::optional<QString> format;
    // --loop for --export: a file whose end flows into its start.
    bool loop = false;
    // --device for --play and --serve: the output device's name as --list-devices prints it.
    std::optional<QString> device;
    // --fade-out for --play --minutes: the sound fades to silence over these last minutes of
    // the play time (fractions allowed, at most the --minutes given).
    std::optional<double> fadeOutMinutes;
    // --fade-in for --play and --serve: the first start rises from silence over these minutes
    // (fractions allowed; at most the --minutes given, if any).
    std::optional<double> fadeInMinutes;
    // --at for --play and --serve: the sound starts at the next time the clock shows this time
    // of day, under the schedule's rules; --minutes then count from that start.
    std::optional<QTime> at;
    SoundOptions sound;
};

struct ParseOutcome {
    bool ok = false;
    CommandLine command;
    QString error;  // one line naming the option, when !ok
};

// `arguments` without the program name, as the bytes the program was given.
ParseOutcome parseCommandLine(const std::vector<std::string>& arguments);

QString usageText();
// "brinesong 0.1.0": the program's name and version.
QString versionText();

// Runs an export command; returns the process's exit status.
int runExportCommand(const CommandLine& command);

// --play plays until SIGINT or SIGTERM, until the minutes have passed, or until Quit over the
// bus, then stops as the play/stop button does and returns once the playback has faded out and
// ended: 0 after the minutes or Quit, 128 + the signal after a signal, 1 when there is no sound.
// --serve starts stopped, plays when asked over the bus, and ends the same way, but only on Quit
// or a signal; without a session bus it returns 1 at once. Both are media players on the bus.
int runPlayCommand(const CommandLine& command);

// Prints the output devices' names, one a line, in the order of the preferences' pop-up: 0, or 1
// when the sound server cannot be reached.
int runListDevicesCommand();

// Prints the presets' names, one a line: the shipped ones (by their English names), then the
// user's own. 0.
int runListPresetsCommand();

}  // namespace brinesong
