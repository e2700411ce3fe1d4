// SPDX-License-Identifier: GPL-3.0-or-later
#include "CommandLine.h"

#include <QStringList>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>

#include "export/ExportFormat.h"
#include "export/ExportJob.h"
#include "model/ProgramTexts.h"
#include "model/WallClock.h"

namespace brinesong {

namespace {

const char* const kPercentOptions[][2] = {
    {"volume", "Volume"}, {"light-wave", "Light wave"}, {"heavy-wave", "Heavy wave"},
    {"ascent", "Ascent"}, {"descent", "Descent"},       {"wave-interval", "Wave interval"},
};

const char* const kSwitchOptions[][2] = {
    {"boost-sound-level", "Boost sound level"},
    {"amplitude-generator", "Amplitude generator"},
};

// Qt's standard options for the window (QGuiApplication's and QApplication's), with whether each
// takes a value. QApplication takes them out of the arguments itself; here they are only let
// through, and refused beside the commands that open no window.
struct QtWindowOption {
    const char* name;
    bool takesValue;
};
const QtWindowOption kQtWindowOptions[] = {
    {"platform", true},        {"platformpluginpath", true},
    {"platformtheme", true},   {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowtitle", true},
    {"qwindowicon", true},     {"geometry", true},
    {"title", true},           {"icon", true},
    {"display", true},         {"session", true},
    {"style", true},           {"stylesheet", true},
    {"qmljsdebugger", true},   {"reverse", false},
    {"widgetcount", false},    {"nograb", false},
    {"dograb", false},         {"sync", false},
};

bool isQtWindowOption(const std::string& name) {
    return std::any_of(std::begin(kQtWindowOptions), std::end(kQtWindowOptions),
                       [&name](const QtWindowOption& option) { return name == option.name; });
}

// Every option of ours and of Qt's window, with whether it takes a value.
struct OptionSpec {
    std::string name;
    bool takesValue;
};

std::vector<OptionSpec> optionSpecs() {
    std::vector<OptionSpec> specs{
        {"help", false},         {"h", false},      {"version", false},
        {"export", true},        {"play", false},   {"list-devices", false},
        {"device", true},        {"minutes", true}, {"seed", true},
        {"fade-out", true},      {"format", true},  {"loop", false},
        {"start", false},        {"stop", false},   {"preset", true},
        {"list-presets", false}, {"fade-in", true}, {"serve", false},
        {"then", true},          {"drift", true},
    };
    specs.insert(specs.end(), {{"at", true}, {"hidden", false}});
    for (const auto& option : kPercentOptions) {
        specs.push_back({option[0], true});
    }
    for (const auto& option : kSwitchOptions) {
        specs.push_back({option[0], true});
    }
    for (const QtWindowOption& option : kQtWindowOptions) {
        specs.push_back({option.name, option.takesValue});
    }
    return specs;
}

// An argument that is an option: one or two dashes and a name. A lone "-" and a negative number
// ("-5", "-.5") are values; no option's name begins with a digit or a point.
bool looksLikeOption(const std::string& argument) {
    if (argument.size() < 2 || argument[0] != '-') {
        return false;
    }
    const unsigned char next = static_cast<unsigned char>(argument[1]);
    return !std::isdigit(next) && next != '.';
}

// The options as given, each with its value as the bytes of the argument (the last one counts
// when an option is given twice; `every` has them all, as --then is repeated). "--name=value" and
// "-name value" are taken too, as Qt's window options are written with one dash. A value is never
// taken greedily: an argument that looks like an option after one that takes a value is refused, so
// "--export --loop" cannot write a file named "--loop.aif"; "--export=--loop" or "./--loop" say
// that such a name is meant.
class ParsedOptions {
public:
    bool parse(const std::vector<std::string>& arguments, QString& error) {
        const std::vector<OptionSpec> specs = optionSpecs();
        for (size_t i = 0; i < arguments.size(); ++i) {
            const std::string& argument = arguments[i];
            if (!looksLikeOption(argument)) {
                error = QStringLiteral("unexpected argument '%1' (see --help)").arg(text(argument));
                return false;
            }
            std::string name = argument.substr(argument[1] == '-' ? 2 : 1);
            std::optional<std::string> value;
            if (const size_t equals = name.find('='); equals != std::string::npos) {
                value = name.substr(equals + 1);
                name.resize(equals);
            }
            const auto known =
                std::find_if(specs.begin(), specs.end(),
                             [&name](const OptionSpec& s) { return s.name == name; });
            if (name.empty() || known == specs.end()) {
                error = QStringLiteral("unknown option '%1' (see --help)").arg(text(argument));
                return false;
            }
            if (name == "h") {
                name = "help";
            }
            if (!known->takesValue) {
                if (value) {
                    error = QStringLiteral("--%1 takes no value").arg(text(name));
                    return false;
                }
            } else if (!value) {
                if (i + 1 == arguments.size()) {
                    error = QStringLiteral("--%1: expected a value").arg(text(name));
                    return false;
                }
                const std::string& next = arguments[++i];
                if (looksLikeOption(next)) {
                    error = QStringLiteral(
                                "--%1: expected a value, got the option '%2' (write --%1=%2 if "
                                "it is meant as the value)")
                                .arg(text(name), text(next));
                    return false;
                }
                value = next;
            }
            if (std::find(names_.begin(), names_.end(), name) == names_.end()) {
                names_.push_back(name);
            }
            values_[name] = value.value_or(std::string());
            every_[name].push_back(values_[name]);
        }
        return true;
    }

    bool isSet(const std::string& name) const { return values_.count(name) != 0; }
    const std::vector<std::string>& names() const { return names_; }
    const std::string& bytes(const std::string& name) const { return values_.at(name); }
    QString value(const std::string& name) const { return text(bytes(name)); }
    QStringList every(const std::string& name) const {
        QStringList values;
        if (const auto found = every_.find(name); found != every_.end()) {
            for (const std::string& value : found->second) {
                values << text(value);
            }
        }
        return values;
    }

private:
    // For messages and for values that are text; paths stay bytes.
    static QString text(const std::string& bytes) {
        return QString::fromLocal8Bit(bytes.data(), qsizetype(bytes.size()));
    }

    std::vector<std::string> names_;  // in the order first given
    std::map<std::string, std::string> values_;
    std::map<std::string, std::vector<std::string>> every_;
};

QString refusal(const QString& option, const QString& expected, const QString& given) {
    return QStringLiteral("--%1: expected %2, got '%3'").arg(option, expected, given);
}

bool parsePercent(const QString& option, const QString& text, std::optional<double>& out,
                  QString& error) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !(value >= 0.0 && value <= 100.0)) {
        error = refusal(option, QStringLiteral("a percentage from 0 to 100"), text);
        return false;
    }
    out = value;
    return true;
}

bool parseSwitch(const QString& option, const QString& text, std::optional<bool>& out,
                 QString& error) {
    if (text == QLatin1String("on")) {
        out = true;
    } else if (text == QLatin1String("off")) {
        out = false;
    } else {
        error = refusal(option, QStringLiteral("on or off"), text);
        return false;
    }
    return true;
}

bool parseMinutes(const QString& text, bool play, std::optional<float>& out, QString& error) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !(value >= 0.0 && value <= std::numeric_limits<float>::max())) {
        error = refusal(QStringLiteral("minutes"), QStringLiteral("a number of minutes, 0 or more"),
                        text);
        return false;
    }
    if (play && value > kMaxPlayMinutes) {
        error = refusal(QStringLiteral("minutes"),
                        QStringLiteral("at most %1 minutes of play (about 190 years)")
                            .arg(kMaxPlayMinutes, 0, 'f', 0),
                        text);
        return false;
    }
    out = static_cast<float>(value);
    return true;
}

bool parseSeed(const QString& text, std::optional<uint32_t>& out, QString& error) {
    bool ok = false;
    const uint value = text.trimmed().toUInt(&ok, 10);
    if (!ok || text.trimmed().startsWith(QLatin1Char('+'))) {
        error = refusal(QStringLiteral("seed"),
                        QStringLiteral("a whole number from 0 to 4294967295"), text);
        return false;
    }
    out = value;
    return true;
}

// A step of --then, "NAME@MINUTE[/GLIDE]": the name up to the last "@", as --preset takes it.
bool parseStep(const QString& text, ProgrammeStep& step, QString& error) {
    error = refusal(QStringLiteral("then"),
                    QStringLiteral("NAME@MINUTE[/GLIDE] (a preset, the minutes from the start "
                                   "and the glide's minutes)"),
                    text);
    const qsizetype at = text.lastIndexOf(QLatin1Char('@'));
    if (at < 0) {
        return false;
    }
    step.preset = text.left(at).trimmed();
    const QString when = text.mid(at + 1);
    const qsizetype slash = when.indexOf(QLatin1Char('/'));
    const auto minutes = [](const QString& number, double& out) {
        bool ok = false;
        out = number.trimmed().toDouble(&ok);
        return ok && out >= 0.0 && out <= kMaxPlayMinutes;
    };
    step.glideMinutes = NightProgramme::kDefaultGlideMinutes;
    if (step.preset.isEmpty() || !minutes(slash < 0 ? when : when.left(slash), step.minute) ||
        (slash >= 0 && !minutes(when.mid(slash + 1), step.glideMinutes))) {
        return false;
    }
    error.clear();
    return true;
}

// The formats' names as --format takes them: "aiff, wav, ...".
QString formatNames() {
    QStringList names;
    for (const ExportFormat* format : exportFormats()) {
        names << QString::fromUtf8(format->name.data(), qsizetype(format->name.size()));
    }
    return names.join(QStringLiteral(", "));
}

}  // namespace

QString usageText() {
    return QStringLiteral(
               "Usage:\n"
               "  brinesong [--start | --stop] [--hidden]     open the window\n"
               "  brinesong --export FILE [--format F] [--loop] [--minutes M] [--seed N] "
               "[NIGHT]\n"
               "                   [SETTINGS]\n"
               "  brinesong --play [--at HH:MM[:SS]] [--minutes M [--fade-out F]] [--fade-in F]\n"
               "                   [--device NAME] [--seed N] [NIGHT] [SETTINGS]\n"
               "  brinesong --serve [--at HH:MM[:SS]] [--fade-in F] [--device NAME] [NIGHT] "
               "[SETTINGS]\n"
               "  brinesong --list-devices | --list-presets\n"
               "  brinesong --help | --version\n"
               "A second window is never opened: the running one comes to the front.\n"
               "--start       the window starts the sound: the running one, else a new one\n"
               "--stop        the running window stops the sound (else a new one opens, "
               "silent)\n"
               "--hidden      start in the tray without showing the window, as \"Start at "
               "login\" does\n"
               "              (default: the window shows)\n"
               "--export FILE write the sound to FILE; needs neither a display nor a sound "
               "server\n"
               "--play        play the sound without a window, until interrupted (default) or "
               "for M\n"
               "              minutes; a media player on the session bus, like the window\n"
               "--serve       a media player without a window that waits, silent, for Play from "
               "media\n"
               "              keys, the desktop or a remote (MPRIS), and ends on Quit or a "
               "signal\n"
               "--list-devices  print the names of the output devices, one a line\n"
               "--list-presets  print the names of the presets, one a line: those that come "
               "with\n"
               "              Brinesong, then your own\n"
               "--preset NAME the wave settings of a preset, as --list-presets names it (case "
               "does not\n"
               "              count; SETTINGS given beside it take precedence; default: none)\n"
               "NIGHT: [--preset NAME] [--then NAME@MINUTE[/GLIDE]]... [--drift P]\n"
               "--then NAME@MINUTE[/GLIDE]  MINUTE minutes from the start, glide over GLIDE "
               "minutes\n"
               "              (default 10) to the preset NAME (named as --preset takes it, up to "
               "the\n"
               "              last \"@\"); repeat it for more steps, in order of their minutes "
               "(fractions\n"
               "              allowed; not past --minutes; default: none, the sound stays as it "
               "starts)\n"
               "--drift P     let light wave, heavy wave, ascent, descent and wave interval "
               "wander\n"
               "              slowly, up to P points about their values (0 to 50; default: as "
               "the\n"
               "              window saved it, else 0)\n"
               "  A night:    brinesong --play --preset \"Steady surf\" --then \"Slow "
               "swell@60/20\"\n"
               "                  --then \"Calm cove@420/30\" --drift 10\n"
               "SETTINGS: --volume P --light-wave P --heavy-wave P --ascent P --descent P\n"
               "          --wave-interval P --boost-sound-level on|off --amplitude-generator "
               "on|off\n"
               "          (P in percent, 0 to 100; default: each as the window saved it, else "
               "volume 50,\n"
               "          light wave 75, heavy wave 100, ascent, descent and wave interval 50, "
               "boost off,\n"
               "          amplitude generator on)\n"
               "--at HH:MM[:SS]  with --play or --serve, start the sound at the next such time "
               "of day\n"
               "              (24-hour clock; a start missed by 10 minutes or more is dropped; "
               "default:\n"
               "              --play at once, --serve at the first Play)\n"
               "--minutes M   with --export, the length in minutes, at most %2 (default: %3); "
               "with\n"
               "              --play, the minutes after which the sound fades out, at most "
               "100000000,\n"
               "              counted from the launch, or with --at from the start (default: "
               "until\n"
               "              interrupted)\n"
               "--fade-out F  with --play --minutes: fade the sound out gently over its last F "
               "minutes\n"
               "              (at most M; default: the short fade of the play/stop button)\n"
               "--fade-in F   with --play: fade the sound in gently from silence over its first F "
               "minutes\n"
               "              (at most M if given; default: the short fade of the play/stop "
               "button);\n"
               "              with --serve, at the first Play\n"
               "--format F    file format of the export: %1 (or an extension\n"
               "              of one: ogg is opus; default: the one FILE's extension names, else\n"
               "              aiff, with \".aif\" appended)\n"
               "--loop        an export whose end flows into its start, to be played repeated\n"
               "              (default: off, the file fades in and out)\n"
               "--seed N      seed of the random source, for a reproducible sound (default: "
               "a new\n"
               "              sound each time)\n"
               "--device NAME the output device to play to, as --list-devices names it (default: "
               "the\n"
               "              one chosen in the window)\n"
               "A value that begins with \"-\" is joined to its option by \"=\" "
               "(--export=-night),\n"
               "or for a file written ./-night; a negative number is taken as a value.\n"
               "The window also takes Qt's standard options (-platform NAME, -style STYLE, ...).\n")
        .arg(formatNames())
        .arg(static_cast<double>(kMaxExportMinutes))
        .arg(static_cast<double>(kExportLengthPresets[0]));
}

QString versionText() {
    return QStringLiteral("brinesong %1\n").arg(programVersion());
}

ParseOutcome parseCommandLine(const std::vector<std::string>& arguments) {
    ParseOutcome outcome;
    QString& error = outcome.error;
    ParsedOptions parser;
    if (!parser.parse(arguments, error)) {
        return outcome;
    }

    CommandLine& command = outcome.command;
    if (parser.isSet("help")) {
        command.mode = CommandLine::Mode::Help;
        outcome.ok = true;
        return outcome;
    }
    if (parser.isSet("version")) {
        command.mode = CommandLine::Mode::Version;
        outcome.ok = true;
        return outcome;
    }
    // The headless player waits for Play and ends only on Quit or a signal: it has no length, and
    // it makes no file.
    const bool serve = parser.isSet("serve");
    for (const char* other : {"play", "export", "minutes", "fade-out", "seed", "format", "loop",
                              "list-devices", "list-presets", "start", "stop"}) {
        if (serve && parser.isSet(other)) {
            error = QStringLiteral("--serve takes no --%1 (see --help)").arg(QLatin1String(other));
            return outcome;
        }
    }
    QString qtOption;
    for (const std::string& name : parser.names()) {
        if (isQtWindowOption(name)) {
            qtOption = QString::fromStdString(name);
            break;
        }
    }

    SoundOptions& sound = command.sound;
    std::optional<double>* percentTargets[] = {&sound.volume,    &sound.lightWave,
                                               &sound.heavyWave, &sound.ascent,
                                               &sound.descent,   &sound.waveInterval};
    for (size_t i = 0; i < std::size(kPercentOptions); ++i) {
        const char* name = kPercentOptions[i][0];
        if (parser.isSet(name) && !parsePercent(QString::fromLatin1(name), parser.value(name),
                                                *percentTargets[i], error)) {
            return outcome;
        }
    }
    std::optional<bool>* switchTargets[] = {&sound.boostSoundLevel, &sound.amplitudeGenerator};
    for (size_t i = 0; i < std::size(kSwitchOptions); ++i) {
        const char* name = kSwitchOptions[i][0];
        if (parser.isSet(name) &&
            !parseSwitch(QString::fromLatin1(name), parser.value(name), *switchTargets[i], error)) {
            return outcome;
        }
    }
    const bool play = parser.isSet("play");
    if (parser.isSet("minutes") &&
        !parseMinutes(parser.value("minutes"), play, sound.minutes, error)) {
        return outcome;
    }
    if (parser.isSet("seed") && !parseSeed(parser.value("seed"), sound.seed, error)) {
        return outcome;
    }

    const bool exportFile = parser.isSet("export");
    if ((parser.isSet("format") || parser.isSet("loop")) && !exportFile) {
        error =
            QStringLiteral("--%1 goes with --export")
                .arg(parser.isSet("format") ? QStringLiteral("format") : QStringLiteral("loop"));
        return outcome;
    }
    if (parser.isSet("format")) {
        const std::string name = parser.value("format").trimmed().toStdString();
        // A format's extension names it too ("ogg" is Opus), as it does in a file's name.
        const ExportFormat* format = formatNamed(name);
        if (!format && !name.empty() && name.find_first_of("./") == std::string::npos) {
            format = formatOfPath("." + name);
        }
        if (!format) {
            error = refusal(QStringLiteral("format"), QStringLiteral("one of ") + formatNames(),
                            parser.value("format"));
            return outcome;
        }
        command.format = QString::fromUtf8(format->name.data(), qsizetype(format->name.size()));
    }
    command.loop = parser.isSet("loop");
    if (exportFile && play) {
        error = QStringLiteral("--play and --export exclude each other");
        return outcome;
    }
    if (parser.isSet("fade-out")) {
        if (!play || !parser.isSet("minutes")) {
            error = QStringLiteral("--fade-out goes with --play --minutes M");
            return outcome;
        }
        bool ok = false;
        const QString text = parser.value("fade-out");
        const double value = text.trimmed().toDouble(&ok);
        if (!ok || !(value >= 0.0 && value <= *sound.minutes)) {
            error =
                refusal(QStringLiteral("fade-out"),
                        QStringLiteral("a number of minutes from 0 to the --minutes given"), text);
            return outcome;
        }
        command.fadeOutMinutes = value;
    }
    if (parser.isSet("fade-in")) {
        if (!play && !serve) {
            error = QStringLiteral("--fade-in goes with --play or --serve");
            return outcome;
        }
        bool ok = false;
        const QString text = parser.value("fade-in");
        const double value = text.trimmed().toDouble(&ok);
        const double most = sound.minutes ? double(*sound.minutes) : kMaxPlayMinutes;
        if (!ok || !(value >= 0.0 && value <= most)) {
            error = refusal(
                QStringLiteral("fade-in"),
                sound.minutes ? QStringLiteral("a number of minutes from 0 to the --minutes given")
                              : QStringLiteral("a number of minutes from 0 to 100000000"),
                text);
            return outcome;
        }
        command.fadeInMinutes = value;
    }
    if (parser.isSet("at")) {
        if (!play && !serve) {
            error = QStringLiteral("--at goes with --play or --serve");
            return outcome;
        }
        command.at = parseTimeOfDay(parser.bytes("at"));
        if (!command.at) {
            error = refusal(QStringLiteral("at"),
                            QStringLiteral("a time of day as HH:MM or HH:MM:SS (24-hour clock)"),
                            parser.value("at"));
            return outcome;
        }
    }
    const bool listDevices = parser.isSet("list-devices");
    const bool listPresets = parser.isSet("list-presets");
    const bool windowless = listDevices || listPresets || play || exportFile || serve;
    const bool start = parser.isSet("start");
    if (start || parser.isSet("stop")) {
        if (start && parser.isSet("stop")) {
            error = QStringLiteral("--start and --stop exclude each other");
            return outcome;
        }
        if (windowless) {
            error =
                QStringLiteral("--%1 is for the window; --export, --play and the lists open none")
                    .arg(start ? QStringLiteral("start") : QStringLiteral("stop"));
            return outcome;
        }
        command.windowAction =
            start ? CommandLine::WindowAction::Start : CommandLine::WindowAction::Stop;
    }
    if (parser.isSet("hidden")) {
        if (windowless) {
            error = QStringLiteral(
                "--hidden is for the window; --export, --play, --serve and the lists open none");
            return outcome;
        }
        command.hidden = true;
    }
    if (!qtOption.isEmpty() && windowless) {
        error = QStringLiteral(
                    "-%1 is an option of the window; --export, --play and the lists open "
                    "none")
                    .arg(qtOption);
        return outcome;
    }
    if (parser.isSet("then") || parser.isSet("drift")) {
        const QString option =
            parser.isSet("then") ? QStringLiteral("then") : QStringLiteral("drift");
        if (!play && !exportFile && !serve) {
            error = QStringLiteral("--%1 goes with --export, --play or --serve").arg(option);
            return outcome;
        }
        if (command.loop) {
            error = QStringLiteral(
                        "--%1 does not go with --loop: a loop's end flows into its "
                        "start, so the sound must not change on the way")
                        .arg(option);
            return outcome;
        }
    }
    if (listDevices || listPresets) {
        if (play || exportFile || (listDevices && listPresets)) {
            error = QStringLiteral("--%1 goes alone")
                        .arg(listDevices ? QStringLiteral("list-devices")
                                         : QStringLiteral("list-presets"));
            return outcome;
        }
        command.mode =
            listDevices ? CommandLine::Mode::ListDevices : CommandLine::Mode::ListPresets;
        outcome.ok = true;
        return outcome;
    }
    if (parser.isSet("preset")) {
        if (!play && !exportFile && !serve) {
            error = QStringLiteral("--preset goes with --export, --play or --serve");
            return outcome;
        }
        sound.preset = parser.value("preset").trimmed();
        if (sound.preset->isEmpty()) {
            error = QStringLiteral("--preset: expected a preset's name (see --list-presets)");
            return outcome;
        }
    }
    if (parser.isSet("drift")) {
        bool ok = false;
        const double points = parser.value("drift").trimmed().toDouble(&ok);
        if (!ok || !(points >= 0.0 && points <= Night::kMostWander)) {
            error =
                refusal(QStringLiteral("drift"), QStringLiteral("a number of points from 0 to 50"),
                        parser.value("drift"));
            return outcome;
        }
        sound.drift = points;
    }
    // The sound's length, which no step may lie past: an export's, or the minutes of a play (a
    // served one has none).
    std::optional<double> length;
    if (exportFile) {
        length = std::min(sound.minutes.value_or(kExportLengthPresets[0]), kMaxExportMinutes);
    } else if (sound.minutes) {
        length = *sound.minutes;
    }
    for (const QString& text : parser.every("then")) {
        ProgrammeStep step;
        if (!parseStep(text, step, error)) {
            return outcome;
        }
        if (!sound.then.empty() && step.minute < sound.then.back().minute) {
            error = QStringLiteral(
                        "--then: '%1' comes before the step given before it (steps go "
                        "in order of their minutes)")
                        .arg(text);
            return outcome;
        }
        if (length && step.minute > *length) {
            error = QStringLiteral("--then: '%1' lies past the %2 minutes of the sound")
                        .arg(text)
                        .arg(*length);
            return outcome;
        }
        if (sound.then.size() == NightProgramme::kMostSteps) {
            error = QStringLiteral("--then: a night has at most %1 steps")
                        .arg(NightProgramme::kMostSteps);
            return outcome;
        }
        sound.then.push_back(std::move(step));
    }
    if (parser.isSet("device")) {
        if (!play && !serve) {
            error = QStringLiteral("--device goes with --play or --serve");
            return outcome;
        }
        command.device = parser.value("device");
        if (command.device->isEmpty()) {
            error = QStringLiteral("--device: expected a device name (see --list-devices)");
            return outcome;
        }
    }
    if (play) {
        command.mode = CommandLine::Mode::Play;
    } else if (serve) {
        command.mode = CommandLine::Mode::Serve;
    } else if (exportFile) {
        command.mode = CommandLine::Mode::Export;
        // The bytes as given: a name that is not valid in the locale's encoding still names
        // exactly the file it names, and no other.
        command.exportPath = parser.bytes("export");
        if (command.exportPath.empty()) {
            error = QStringLiteral("--export: expected a file name");
            return outcome;
        }
        // A folder would otherwise become "DIR.aif" beside it, or "DIR/.aif" hidden inside.
        std::error_code ignored;
        if (command.exportPath.back() == '/' ||
            std::filesystem::is_directory(command.exportPath, ignored)) {
            error = QStringLiteral("--export: '%1' is a folder; expected a file name")
                        .arg(parser.value("export"));
            return outcome;
        }
    } else if (!std::all_of(parser.names().begin(), parser.names().end(),
                            [](const std::string& name) {
                                return isQtWindowOption(name) || name == "start" ||
                                       name == "stop" || name == "hidden";
                            })) {
        error = QStringLiteral("nothing to do: give --export FILE or --play (see --help)");
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

}  // namespace brinesong
