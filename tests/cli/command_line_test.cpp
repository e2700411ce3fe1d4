// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CommandLine.h"

#include <gtest/gtest.h>

namespace brinesong {
namespace {

ParseOutcome parse(std::initializer_list<const char*> args) {
    return parseCommandLine(std::vector<std::string>(args.begin(), args.end()));
}

TEST(CommandLineTest, export_withEverySetting_parsesValues) {
    const ParseOutcome p = parse({"--export",
                                  "out",
                                  "--minutes",
                                  "2.5",
                                  "--seed",
                                  "4294967295",
                                  "--volume",
                                  "0",
                                  "--light-wave",
                                  "100",
                                  "--heavy-wave",
                                  "37.5",
                                  "--ascent",
                                  "1",
                                  "--descent",
                                  "2",
                                  "--wave-interval",
                                  "3",
                                  "--boost-sound-level",
                                  "on",
                                  "--amplitude-generator",
                                  "off"});
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    EXPECT_EQ(p.command.mode, CommandLine::Mode::Export);
    EXPECT_EQ(p.command.exportPath, "out");
    const SoundOptions& s = p.command.sound;
    EXPECT_EQ(*s.minutes, 2.5f);
    EXPECT_EQ(*s.seed, 4294967295u);
    EXPECT_EQ(*s.volume, 0.0);
    EXPECT_EQ(*s.lightWave, 100.0);
    EXPECT_EQ(*s.heavyWave, 37.5);
    EXPECT_EQ(*s.waveInterval, 3.0);
    EXPECT_TRUE(*s.boostSoundLevel);
    EXPECT_FALSE(*s.amplitudeGenerator);
}

TEST(CommandLineTest, absentOptions_stayUnset_soSavedSettingsApply) {
    const ParseOutcome p = parse({"--export", "out"});
    ASSERT_TRUE(p.ok);
    EXPECT_FALSE(p.command.sound.minutes);
    EXPECT_FALSE(p.command.sound.volume);
    EXPECT_FALSE(p.command.sound.seed);
    EXPECT_FALSE(p.command.sound.boostSoundLevel);
}

TEST(CommandLineTest, badValues_areRefusedNamingTheOption) {
    struct Case {
        std::initializer_list<const char*> args;
        const char* mentions;
    };
    const Case cases[] = {
        {{"--export", "o", "--minutes", "-1"}, "--minutes"},
        {{"--export", "o", "--minutes", "abc"}, "--minutes"},
        {{"--export", "o", "--minutes", "nan"}, "--minutes"},
        {{"--export", "o", "--minutes", "inf"}, "--minutes"},
        {{"--export", "o", "--minutes"}, "minutes"},
        {{"--export", "o", "--volume", "100.5"}, "--volume"},
        {{"--export", "o", "--light-wave", "-0.1"}, "--light-wave"},
        {{"--export", "o", "--wave-interval", "half"}, "--wave-interval"},
        {{"--export", "o", "--boost-sound-level", "yes"}, "--boost-sound-level"},
        {{"--export", "o", "--seed", "-3"}, "--seed"},
        {{"--export", "o", "--seed", "4294967296"}, "--seed"},
        {{"--export", "o", "--frobnicate"}, "frobnicate"},
        {{"--export", "o", "stray"}, "stray"},
        {{"--export"}, "export"},
        {{"--minutes", "3"}, "--export"},
        {{"--play", "--fade-out", "1"}, "--fade-out goes with --play --minutes"},
        {{"--export", "o", "--minutes", "5", "--fade-out", "1"}, "--fade-out goes with --play"},
        {{"--list-devices", "--fade-out", "1"}, "--fade-out goes with --play"},
        {{"--play", "--minutes", "5", "--fade-out", "6"}, "--fade-out"},
        {{"--play", "--minutes", "5", "--fade-out", "-1"}, "--fade-out"},
        {{"--play", "--minutes", "5", "--fade-out", "nan"}, "--fade-out"},
        {{"--play", "--minutes", "5", "--fade-out", "soon"}, "--fade-out"},
        {{"--export", "o", "--fade-in", "1"}, "--fade-in goes with --play"},
        {{"--play", "--minutes", "5", "--fade-in", "6"}, "--fade-in"},
        {{"--play", "--fade-in", "-1"}, "--fade-in"},
        {{"--play", "--fade-in", "1e9"}, "--fade-in"},
        // Lengths past what can be honoured, and numbers that are no plain decimals.
        {{"--play", "--minutes", "1e30"}, "--minutes"},
        {{"--play", "--minutes", "100000001"}, "--minutes"},
        {{"--export", "o", "--minutes", "1e39"}, "--minutes"},
        {{"--export", "o", "--minutes", "0x1p3"}, "--minutes"},
        {{"--export", "o", "--volume", "inf"}, "--volume"},
        {{"--export", "o", "--seed", "0x10"}, "--seed"},
        // A value is never an option taken greedily; a negative number is a value.
        {{"--export", "--loop"}, "got the option '--loop'"},
        {{"--export", "o", "--minutes", "--seed", "3"}, "got the option '--seed'"},
        {{"--export", "o", "--minutes", "-inf"}, "got the option '-inf'"},
        {{"--export", "o", "--volume", "-5"}, "--volume: expected a percentage"},
        {{"--export", "o", "--loop=yes"}, "--loop takes no value"},
        // A mistyped option says where the right ones are.
        {{"--expot", "o"}, "unknown option '--expot' (see --help)"},
        {{"night.aif"}, "unexpected argument 'night.aif' (see --help)"},
        // The window's own: not beside a command that opens none, nor with each other.
        {{"--start", "--stop"}, "--start and --stop exclude each other"},
        {{"--play", "--start"}, "--start is for the window"},
        {{"--stop", "--export", "o"}, "--stop is for the window"},
        {{"--start", "--volume", "5"}, "nothing to do"},
        // A preset goes with what makes sound; the lists go alone.
        {{"--preset", "Storm"}, "--preset goes with --export, --play or --serve"},
        {{"--export", "o", "--preset", " "}, "--preset: expected a preset's name"},
        {{"--list-presets", "--play"}, "--list-presets goes alone"},
        // The headless player has no length and makes no file; its other options are --play's.
        {{"--serve", "--minutes", "5"}, "--serve takes no --minutes"},
        {{"--serve", "--export", "o"}, "--serve takes no --export"},
        {{"--export", "o", "--serve"}, "--serve takes no --export"},
        {{"--serve", "--play"}, "--serve takes no --play"},
        {{"--serve", "--seed", "3"}, "--serve takes no --seed"},
        {{"--serve", "-platform", "offscreen"}, "-platform is an option of the window"},
        {{"--serve", "--fade-in", "-1"}, "--fade-in"},
        // A night's steps: well formed, in order, inside the sound, with what makes sound.
        {{"--export", "o", "--then", "Storm"}, "--then: expected NAME@MINUTE[/GLIDE]"},
        {{"--export", "o", "--then", " @3"}, "--then: expected NAME@MINUTE[/GLIDE]"},
        {{"--export", "o", "--then", "Storm@soon"}, "--then: expected NAME@MINUTE[/GLIDE]"},
        {{"--export", "o", "--then", "Storm@1/-2"}, "--then: expected NAME@MINUTE[/GLIDE]"},
        {{"--export", "o", "--then", "Storm@nan"}, "--then: expected NAME@MINUTE[/GLIDE]"},
        {{"--export", "o", "--then", "Storm@5", "--then", "Calm cove@2"}, "comes before"},
        {{"--export", "o", "--then", "Storm@10.5"}, "lies past the 10 minutes"},
        {{"--play", "--minutes", "5", "--then", "Storm@6"}, "lies past the 5 minutes"},
        {{"--then", "Storm@1"}, "--then goes with --export, --play or --serve"},
        {{"--export", "o", "--loop", "--then", "Storm@1"}, "--then does not go with --loop"},
        {{"--export", "o", "--drift", "50.5"}, "--drift: expected a number of points"},
        {{"--list-devices", "--drift", "5"}, "--drift goes with --export, --play or --serve"},
        // A start at a time of day is the players'; the program in the tray is the window's.
        {{"--export", "o", "--at", "07:00"}, "--at goes with --play or --serve"},
        {{"--at", "07:00"}, "--at goes with --play or --serve"},
        {{"--serve", "--hidden"}, "--hidden is for the window"},
        {{"--export", "o", "--hidden"}, "--hidden is for the window"},
    };
    for (const Case& c : cases) {
        const ParseOutcome p = parse(c.args);
        EXPECT_FALSE(p.ok) << c.mentions;
        EXPECT_TRUE(p.error.contains(QString::fromLatin1(c.mentions))) << p.error.toStdString();
        EXPECT_FALSE(p.error.contains(QLatin1Char('\n')));
    }
}

// The fade-in needs no --minutes, and may overlap the fade-out.
TEST(CommandLineTest, fades_withPlay_takeFractionsUpToThePlayTime) {
    for (const char* fade : {"0", "0.05", "5"}) {
        const ParseOutcome p =
            parse({"--play", "--minutes", "5", "--fade-out", fade, "--fade-in", fade});
        ASSERT_TRUE(p.ok) << p.error.toStdString();
        EXPECT_EQ(*p.command.fadeOutMinutes, QString::fromLatin1(fade).toDouble());
        EXPECT_EQ(*p.command.fadeInMinutes, QString::fromLatin1(fade).toDouble());
    }
    EXPECT_FALSE(parse({"--play", "--minutes", "5"}).command.fadeOutMinutes);
    EXPECT_FALSE(parse({"--play", "--minutes", "5"}).command.fadeInMinutes);
    EXPECT_EQ(*parse({"--play", "--fade-in", "30"}).command.fadeInMinutes, 30.0);
    // A fade far past the old 32-bit frame range (about 27 hours) is placed like any other.
    EXPECT_TRUE(parse({"--play", "--minutes=100000", "--fade-out", "30"}).ok);
    EXPECT_EQ(*parse({"--play", "--minutes", "100000000"}).command.sound.minutes, 1e8f);
}

TEST(CommandLineTest, then_takesTheNameUpToTheLastAt_minutesAndGlidesWithFractions) {
    const ParseOutcome p = parse(
        {"--play", "--then", "Storm@0.5", "--then", "rain@dawn @ 600/0.25", "--drift", "12.5"});
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    const std::vector<ProgrammeStep>& steps = p.command.sound.then;
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].preset, QStringLiteral("Storm"));
    EXPECT_EQ(steps[0].minute, 0.5);
    EXPECT_EQ(steps[0].glideMinutes, 10.0);
    EXPECT_EQ(steps[1].preset, QStringLiteral("rain@dawn"));
    EXPECT_EQ(steps[1].minute, 600.0);
    EXPECT_EQ(steps[1].glideMinutes, 0.25);
    EXPECT_EQ(*p.command.sound.drift, 12.5);
}

TEST(CommandLineTest, optionLikeFileName_takenOnlyWhenWrittenSo) {
    EXPECT_EQ(parse({"--export=--loop"}).command.exportPath, "--loop");
    EXPECT_EQ(parse({"-export=-x", "--loop"}).command.exportPath, "-x");
    EXPECT_EQ(parse({"--export", "./--loop"}).command.exportPath, "./--loop");
    EXPECT_EQ(parse({"--export", "-"}).command.exportPath, "-");
}

TEST(CommandLineTest, serve_takesThePlayersOptions) {
    const ParseOutcome p =
        parse({"--serve", "--fade-in", "20", "--device", "Speakers", "--preset", "Storm"});
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    EXPECT_EQ(p.command.mode, CommandLine::Mode::Serve);
    EXPECT_EQ(*p.command.fadeInMinutes, 20.0);
    EXPECT_EQ(*p.command.device, QStringLiteral("Speakers"));
    EXPECT_EQ(*p.command.sound.preset, QStringLiteral("Storm"));
}

// --at takes the 24-hour clock's HH:MM or HH:MM:SS and nothing else.
TEST(CommandLineTest, at_takesOnlyATimeOfDayOnThe24HourClock) {
    EXPECT_EQ(parse({"--play", "--at", "00:00", "--minutes", "60"}).command.at, QTime(0, 0));
    EXPECT_EQ(parse({"--serve", "--at=23:59:59"}).command.at, QTime(23, 59, 59));
    for (const char* text :
         {"7:00", "24:00", "07:60", "07:00:60", "+7:00", "-07:00", " 07:00", "07:00 ", "07:00:00.5",
          "07.00", "0700", "07:00:", "07:0a", "", "07:00:00:00"}) {
        const ParseOutcome p = parse({"--play", "--at", text});
        EXPECT_FALSE(p.ok) << text;
        EXPECT_TRUE(p.error.startsWith(QStringLiteral("--at: expected a time of day")))
            << p.error.toStdString();
    }
}

TEST(CommandLineTest, noArgumentsOrTheLaunchersActions_openTheWindow) {
    const ParseOutcome p = parse({});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.command.mode, CommandLine::Mode::Window);
    EXPECT_EQ(p.command.windowAction, CommandLine::WindowAction::None);
    const ParseOutcome start = parse({"--start", "-platform", "offscreen"});
    ASSERT_TRUE(start.ok) << start.error.toStdString();
    EXPECT_EQ(start.command.mode, CommandLine::Mode::Window);
    EXPECT_EQ(start.command.windowAction, CommandLine::WindowAction::Start);
    EXPECT_EQ(parse({"--stop"}).command.windowAction, CommandLine::WindowAction::Stop);
    EXPECT_TRUE(parse({"--hidden"}).command.hidden);
}

// --help says what an absent option means, the export's 10 minutes first of all.
TEST(CommandLineTest, help_statesEachDefault) {
    const QString usage = usageText();
    EXPECT_TRUE(usage.contains(QStringLiteral("the length in minutes, at most 400 (default: 10)")))
        << usage.toStdString();
    for (const char* option : {"--minutes M", "--fade-out F", "--fade-in F", "--format F", "--loop",
                               "--seed N", "--device NAME", "--preset NAME", "--then NAME",
                               "--drift P", "--at HH:MM[:SS]", "--hidden", "SETTINGS:"}) {
        const qsizetype at = usage.indexOf(QLatin1String("\n") + QLatin1String(option));
        ASSERT_GE(at, 0) << option;
        // The option's own lines, up to the next that begins without indent.
        qsizetype end = at + 1;
        while ((end = usage.indexOf(QLatin1Char('\n'), end + 1)) >= 0 &&
               usage.mid(end + 1, 2) == QLatin1String("  ")) {
        }
        EXPECT_TRUE(usage.mid(at, end - at).contains(QLatin1String("default"))) << option;
    }
}

}  // namespace
}  // namespace brinesong
