#include "CommandLine.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <cmath>

#include "export/ExportFormat.h"

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

bool isQtWindowOption(const QString& name) {
    for (const QtWindowOption& option : kQtWindowOptions) {
        if (name == QLatin1String(option.name)) {
            return true;
        }
    }
    return false;
}

bool onlyQtWindowOptions(const QStringList& names) {
    for (const QString& name : names) {
        if (!isQtWindowOption(name)) {
            return false;
        }
    }
    return true;
}

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

bool parseMinutes(const QString& text, std::optional<float>& out, QString& error) {
    bool ok = false;
    const float value = text.trimmed().toFloat(&ok);
    if (!ok || !std::isfinite(value) || value < 0.0f) {
        error = refusal(QStringLiteral("minutes"), QStringLiteral("a number of minutes, 0 or more"),
                        text);
        return false;
    }
    out = value;
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
               "  brinesong                                   open the window\n"
               "  brinesong --export FILE [--format F] [--loop] [--minutes M] [--seed N] "
               "[SETTINGS]\n"
               "  brinesong --play [--minutes M [--fade-out F]] [--device NAME] [--seed N] "
               "[SETTINGS]\n"
               "  brinesong --list-devices\n"
               "  brinesong --help | --version\n"
               "SETTINGS: --volume P --light-wave P --heavy-wave P --ascent P --descent P\n"
               "          --wave-interval P --boost-sound-level on|off --amplitude-generator "
               "on|off\n"
               "          (P in percent, 0 to 100; absent settings come from the saved ones)\n"
               "--minutes M   length of the export in minutes, at most 400; with --play, the "
               "minutes\n"
               "              after which the sound fades out (default: until interrupted)\n"
               "--fade-out F  with --play --minutes: fade the sound out gently over its last F "
               "minutes\n"
               "              (at most M; default: the short fade of the play/stop button)\n"
               "--format F    file format of the export: %1 (default: the one FILE's\n"
               "              extension names, else aiff, with \".aif\" appended)\n"
               "--loop        an export whose end flows into its start, to be played repeated\n"
               "--seed N      seed of the random source, for a reproducible sound\n"
               "--device NAME the output device to play to, as --list-devices names it (default: "
               "the\n"
               "              one chosen in the window)\n"
               "The window also takes Qt's standard options (-platform NAME, -style STYLE, ...).\n")
        .arg(formatNames());
}

QString versionText() {
    return QStringLiteral("brinesong " BRINESONG_VERSION "\n");
}

ParseOutcome parseCommandLine(const QStringList& arguments) {
    ParseOutcome outcome;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("help"), QStringLiteral("h")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption exportFile(QStringLiteral("export"), QString(),
                                        QStringLiteral("FILE"));
    const QCommandLineOption play(QStringLiteral("play"));
    const QCommandLineOption listDevices(QStringLiteral("list-devices"));
    const QCommandLineOption device(QStringLiteral("device"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption minutes(QStringLiteral("minutes"), QString(), QStringLiteral("M"));
    const QCommandLineOption seed(QStringLiteral("seed"), QString(), QStringLiteral("N"));
    const QCommandLineOption fadeOut(QStringLiteral("fade-out"), QString(), QStringLiteral("F"));
    const QCommandLineOption format(QStringLiteral("format"), QString(), QStringLiteral("F"));
    const QCommandLineOption loop(QStringLiteral("loop"));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(exportFile);
    parser.addOption(play);
    parser.addOption(listDevices);
    parser.addOption(device);
    parser.addOption(minutes);
    parser.addOption(seed);
    parser.addOption(fadeOut);
    parser.addOption(format);
    parser.addOption(loop);
    for (const auto& option : kPercentOptions) {
        parser.addOption(QCommandLineOption(QString::fromLatin1(option[0]),
                                            QString::fromLatin1(option[1]), QStringLiteral("P")));
    }
    for (const auto& option : kSwitchOptions) {
        parser.addOption(QCommandLineOption(QString::fromLatin1(option[0]),
                                            QString::fromLatin1(option[1]),
                                            QStringLiteral("on|off")));
    }

    for (const QtWindowOption& option : kQtWindowOptions) {
        parser.addOption(option.takesValue ? QCommandLineOption(QString::fromLatin1(option.name),
                                                                QString(), QStringLiteral("VALUE"))
                                           : QCommandLineOption(QString::fromLatin1(option.name)));
    }

    QStringList withProgram = arguments;
    withProgram.prepend(QStringLiteral("brinesong"));
    if (!parser.parse(withProgram)) {
        outcome.error = parser.errorText();
        return outcome;
    }
    if (!parser.positionalArguments().isEmpty()) {
        outcome.error =
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
        return outcome;
    }

    CommandLine& command = outcome.command;
    if (parser.isSet(help)) {
        command.mode = CommandLine::Mode::Help;
        outcome.ok = true;
        return outcome;
    }
    if (parser.isSet(version)) {
        command.mode = CommandLine::Mode::Version;
        outcome.ok = true;
        return outcome;
    }
    QString qtOption;
    for (const QString& name : parser.optionNames()) {
        if (isQtWindowOption(name)) {
            qtOption = name;
            break;
        }
    }

    SoundOptions& sound = command.sound;
    QString& error = outcome.error;
    std::optional<double>* percentTargets[] = {&sound.volume,    &sound.lightWave,
                                               &sound.heavyWave, &sound.ascent,
                                               &sound.descent,   &sound.waveInterval};
    for (size_t i = 0; i < std::size(kPercentOptions); ++i) {
        const QString name = QString::fromLatin1(kPercentOptions[i][0]);
        if (parser.isSet(name) &&
            !parsePercent(name, parser.value(name), *percentTargets[i], error)) {
            return outcome;
        }
    }
    std::optional<bool>* switchTargets[] = {&sound.boostSoundLevel, &sound.amplitudeGenerator};
    for (size_t i = 0; i < std::size(kSwitchOptions); ++i) {
        const QString name = QString::fromLatin1(kSwitchOptions[i][0]);
        if (parser.isSet(name) &&
            !parseSwitch(name, parser.value(name), *switchTargets[i], error)) {
            return outcome;
        }
    }
    if (parser.isSet(minutes) && !parseMinutes(parser.value(minutes), sound.minutes, error)) {
        return outcome;
    }
    if (parser.isSet(seed) && !parseSeed(parser.value(seed), sound.seed, error)) {
        return outcome;
    }

    if ((parser.isSet(format) || parser.isSet(loop)) && !parser.isSet(exportFile)) {
        error = QStringLiteral("--%1 goes with --export")
                    .arg(parser.isSet(format) ? QStringLiteral("format") : QStringLiteral("loop"));
        return outcome;
    }
    if (parser.isSet(format)) {
        if (!formatNamed(parser.value(format).trimmed().toStdString())) {
            error = refusal(QStringLiteral("format"), QStringLiteral("one of ") + formatNames(),
                            parser.value(format));
            return outcome;
        }
        command.format = parser.value(format).trimmed();
    }
    command.loop = parser.isSet(loop);
    if (parser.isSet(exportFile) && parser.isSet(play)) {
        error = QStringLiteral("--play and --export exclude each other");
        return outcome;
    }
    if (parser.isSet(fadeOut)) {
        if (!parser.isSet(play) || !parser.isSet(minutes)) {
            error = QStringLiteral("--fade-out goes with --play --minutes M");
            return outcome;
        }
        bool ok = false;
        const QString text = parser.value(fadeOut);
        const double value = text.trimmed().toDouble(&ok);
        if (!ok || !(value >= 0.0 && value <= *sound.minutes)) {
            error =
                refusal(QStringLiteral("fade-out"),
                        QStringLiteral("a number of minutes from 0 to the --minutes given"), text);
            return outcome;
        }
        command.fadeOutMinutes = value;
    }
    const bool windowless =
        parser.isSet(listDevices) || parser.isSet(play) || parser.isSet(exportFile);
    if (!qtOption.isEmpty() && windowless) {
        error = QStringLiteral(
                    "-%1 is an option of the window; --export, --play and "
                    "--list-devices open none")
                    .arg(qtOption);
        return outcome;
    }
    if (parser.isSet(listDevices)) {
        if (parser.isSet(play) || parser.isSet(exportFile)) {
            error = QStringLiteral("--list-devices goes alone");
            return outcome;
        }
        command.mode = CommandLine::Mode::ListDevices;
        outcome.ok = true;
        return outcome;
    }
    if (parser.isSet(device)) {
        if (!parser.isSet(play)) {
            error = QStringLiteral("--device goes with --play");
            return outcome;
        }
        command.device = parser.value(device);
        if (command.device->isEmpty()) {
            error = QStringLiteral("--device: expected a device name (see --list-devices)");
            return outcome;
        }
    }
    if (parser.isSet(play)) {
        command.mode = CommandLine::Mode::Play;
    } else if (parser.isSet(exportFile)) {
        command.mode = CommandLine::Mode::Export;
        command.exportPath = parser.value(exportFile);
        if (command.exportPath.isEmpty()) {
            error = QStringLiteral("--export: expected a file name");
            return outcome;
        }
        // A folder would otherwise become "DIR.aif" beside it, or "DIR/.aif" hidden inside.
        if (command.exportPath.endsWith(QLatin1Char('/')) ||
            QFileInfo(command.exportPath).isDir()) {
            error = QStringLiteral("--export: '%1' is a folder; expected a file name")
                        .arg(command.exportPath);
            return outcome;
        }
    } else if (!onlyQtWindowOptions(parser.optionNames())) {
        error = QStringLiteral("nothing to do: give --export FILE or --play (see --help)");
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

}  // namespace brinesong
