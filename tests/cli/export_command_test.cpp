// SPDX-License-Identifier: GPL-3.0-or-later
// `brinesong --export` run as a user would run it, its files read back by independent readers.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include "export/ExportJob.h"
#include "model/Presets.h"
#include "support/Eventually.h"
#include "support/ExportBlocks.h"
#include "support/Files.h"
#include "support/Program.h"
#include "support/Recording.h"
#include "synth/Renderer.h"

namespace brinesong {
namespace {

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// Whether the process has handlers for SIGINT and SIGTERM in place, as /proc shows it; waits for
// that (with a limit against a hang).
bool catchesInterrupts(pid_t pid) {
    const uint64_t wanted = (uint64_t(1) << (SIGINT - 1)) | (uint64_t(1) << (SIGTERM - 1));
    return testing::eventually(
        [&] {
            const std::string status =
                testing::readFile("/proc/" + std::to_string(pid) + "/status");
            const size_t at = status.find("SigCgt:");
            return at != std::string::npos &&
                   (std::stoull(status.substr(at + 7, 17), nullptr, 16) & wanted) == wanted;
        },
        std::chrono::seconds(30), std::chrono::milliseconds(5));
}

using testing::Program;
using testing::ProgramRun;

class ExportCommandTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    QString path(const QString& name) const { return dir_.filePath(name); }

    testing::RunOptions options() const {
        return {{"XDG_CONFIG_HOME=" + path(QStringLiteral("config")).toStdString(),
                 "XDG_CACHE_HOME=" + path(QStringLiteral("cache")).toStdString(), "LANG=C.UTF-8"}};
    }

    static std::vector<std::string> arguments(const QStringList& args) {
        std::vector<std::string> out;
        for (const QString& a : args) {
            out.push_back(a.toStdString());
        }
        return out;
    }

    ProgramRun run(const QStringList& args) {
        return testing::runProgram(testing::brinesong(arguments(args)), options());
    }

    void writeStore(const QByteArray& ini) {
        QDir().mkpath(path(QStringLiteral("config/Kelvane")));
        QFile file(path(QStringLiteral("config/Kelvane/Brinesong.ini")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(ini);
    }

    static void writeFile(const QString& file, const QByteArray& bytes) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << file.toStdString();
        f.write(bytes);
    }

    // Every name in `folder`, hidden ones included, sorted.
    static QStringList names(const QString& folder) {
        return QDir(folder).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }

    // The file that the export run by `pid` is writing in the test's folder (it has no name
    // there), as a path through /proc that reads it; empty while it has none open.
    QString fileBeingWritten(pid_t pid) const {
        const std::string fds = "/proc/" + std::to_string(pid) + "/fd/";
        for (int fd = 3; fd < 64; ++fd) {
            char target[4096];
            const std::string link = fds + std::to_string(fd);
            const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
            if (length > 0 &&
                std::string(target, size_t(length)).rfind(dir_.path().toStdString() + "/", 0) ==
                    0) {
                return QString::fromStdString(link);
            }
        }
        return {};
    }

    // Waits until the export run by `pid` has written `bytes` to its file (the limit only guards
    // against a hang); that file, as fileBeingWritten gives it.
    QString waitForBytes(pid_t pid, qint64 bytes) const {
        QString file;
        testing::eventually(
            [&] {
                file = fileBeingWritten(pid);
                return !file.isEmpty() && QFileInfo(file).size() >= bytes;
            },
            std::chrono::minutes(1), std::chrono::milliseconds(5));
        return file;
    }

    static QByteArray readAll(const QString& file) {
        EXPECT_TRUE(QFileInfo::exists(file)) << file.toStdString();
        return QByteArray::fromStdString(testing::readFile(QFile::encodeName(file).toStdString()));
    }

    // Runs a reader and returns what it printed, trimmed.
    static QString tool(const QString& program, const QStringList& args) {
        std::vector<std::string> command = arguments(args);
        command.insert(command.begin(), program.toStdString());
        const ProgramRun run = testing::runProgram(command);
        EXPECT_EQ(run.status, 0) << program.toStdString() << ": " << run.err;
        return QString::fromStdString(run.out).trimmed();
    }

    QTemporaryDir dir_;
};

// What the renderer makes for an export of `minutes` with these settings (and night). The length
// is minutes x 60 in single precision, as the export computes it.
testing::Recording expectedSamples(const Preferences& prefs, double volume, uint32_t seed,
                                   float minutes, const Night* night = nullptr) {
    const float seconds = minutes * 60.0f;
    const auto frames = static_cast<uint32_t>(static_cast<double>(seconds) * 44100.0);
    RandomSource random(seed);
    Renderer renderer(prefs, random);
    renderer.volume = volume;
    RenderRun run(renderer, Renderer::kExportFade, seconds);
    run.setNight(night);
    testing::Recording out;
    testing::renderExportBlocks(run, frames, out);
    return out;
}

// Sample for sample the same sound.
::testing::AssertionResult sameSound(const testing::Recording& a, const testing::Recording& b) {
    if (a.left == b.left && a.right == b.right) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "the sounds differ (" << a.frames() << " and " << b.frames() << " frames)";
}

testing::Recording readSamples(const QString& file) {
    return testing::readRecording(file.toStdString());
}

TEST_F(ExportCommandTest, export_isReadByEveryReaderAsTheRendererMadeIt) {
    // 0.05 minutes are 3 seconds: 132,300 frames.
    const ProgramRun r = run({"--export", path("surf"), "--minutes", "0.05", "--seed", "31"});
    ASSERT_EQ(r.status, 0) << r.err;
    const QString file = path("surf.aif");
    ASSERT_TRUE(QFileInfo::exists(file));
    EXPECT_EQ(QFileInfo(file).size(), 54 + 4 * 132300);

    EXPECT_EQ(tool("soxi", {"-c", file}), "2");
    EXPECT_EQ(tool("soxi", {"-r", file}), "44100");
    EXPECT_EQ(tool("soxi", {"-b", file}), "16");
    EXPECT_EQ(tool("soxi", {"-s", file}), "132300");
    EXPECT_EQ(tool("ffprobe", {"-v", "error", "-show_entries",
                               "stream=codec_name,channels,sample_rate,duration_ts", "-of",
                               "default=noprint_wrappers=1", file}),
              "codec_name=pcm_s16be\nsample_rate=44100\nchannels=2\nduration_ts=132300");

    const testing::Recording samples = readSamples(file);
    EXPECT_EQ(samples.frames(), 132300u);
    Preferences defaults;
    EXPECT_TRUE(sameSound(samples, expectedSamples(defaults, 0.5, 31, 0.05f)));
}

// The format comes from --format, else from the file's extension; each file is what a decoder
// expects of its kind, and the lossless ones hold the AIFF's samples.
TEST_F(ExportCommandTest, formats_byOptionOrExtension_readBackAsTheirKind) {
    const QStringList common = {"--minutes", "0.02", "--seed", "12"};
    ASSERT_EQ(run(QStringList{"--export", path("a")} + common).status, 0);
    ASSERT_EQ(run(QStringList{"--export", path("b.WAV")} + common).status, 0);
    ASSERT_EQ(run(QStringList{"--export", path("c"), "--format", "flac"} + common).status, 0);
    ASSERT_EQ(run(QStringList{"--export", path("d.aif"), "--format", "mp3"} + common).status, 0);
    ASSERT_EQ(run(QStringList{"--export", path("e.opus")} + common).status, 0);
    ASSERT_EQ(run(QStringList{"--export", path("f"), "--format", "ogg"} + common).status, 0);
    EXPECT_EQ(names(dir_.path()),
              (QStringList{"a.aif", "b.WAV", "c.flac", "d.aif.mp3", "e.opus", "f.opus"}));
    const auto probe = [](const QString& file) {
        return tool("ffprobe", {"-v", "error", "-show_entries",
                                "stream=codec_name,channels,sample_rate", "-of", "csv=p=0", file});
    };
    EXPECT_EQ(probe(path("b.WAV")), "pcm_s16le,44100,2");
    EXPECT_EQ(probe(path("c.flac")), "flac,44100,2");
    EXPECT_EQ(probe(path("d.aif.mp3")), "mp3,44100,2");
    EXPECT_EQ(probe(path("e.opus")), "opus,48000,2");
    EXPECT_EQ(probe(path("f.opus")), "opus,48000,2");
    const testing::Recording aiff = readSamples(path("a.aif"));
    EXPECT_EQ(aiff.frames(), exportFrameCount(exportSeconds(0.02f)));
    EXPECT_TRUE(sameSound(readSamples(path("b.WAV")), aiff));
    EXPECT_TRUE(sameSound(readSamples(path("c.flac")), aiff));
}

TEST_F(ExportCommandTest, sameSeedAndSettings_giveTheSameBytes) {
    ASSERT_EQ(run({"--export", path("a.aif"), "--minutes", "0.1", "--seed", "5"}).status, 0);
    ASSERT_EQ(run({"--export", path("b.aif"), "--minutes", "0.1", "--seed", "5"}).status, 0);
    ASSERT_EQ(run({"--export", path("c.aif"), "--minutes", "0.1", "--seed", "6"}).status, 0);
    EXPECT_EQ(readAll(path("a.aif")), readAll(path("b.aif")));
    EXPECT_NE(readAll(path("a.aif")), readAll(path("c.aif")));
}

TEST_F(ExportCommandTest, savedSettings_applyWhereNoOptionIsGiven_andAreNeverWritten) {
    const QByteArray ini =
        "[General]\nVolumeKey=150\nLightWaveKey=0\nHeavyWaveKey=100\nAscentKey=250\n"
        "Kelvane.Brinesong.AmplitudeGeneratorKey=false\n";
    writeStore(ini);
    ASSERT_EQ(run({"--export", path("s.aif"), "--minutes", "0.02", "--seed", "8"}).status, 0);
    ASSERT_EQ(run({"--export", path("o.aif"), "--minutes", "0.02", "--seed", "8", "--volume", "25",
                   "--light-wave", "50"})
                  .status,
              0);
    EXPECT_EQ(readAll(path("config/Kelvane/Brinesong.ini")), ini);

    Preferences stored;  // a volume above 100 % is held to 1.0; an ascent of 250 is ignored
    stored.setLightWave(0);
    stored.setAmplitudeGenerator(false);
    EXPECT_TRUE(sameSound(readSamples(path("s.aif")), expectedSamples(stored, 1.0, 8, 0.02f)));
    stored.setLightWave(50);
    EXPECT_TRUE(sameSound(readSamples(path("o.aif")), expectedSamples(stored, 0.25, 8, 0.02f)));
}

// A preset gives its seven settings, exactly as the options would; options beside it override
// them. The user's presets come from the settings file, found by any case of their names, listed
// after the shipped ones in their order; an entry that cannot be read is said on standard error
// and listed nowhere.
TEST_F(ExportCommandTest, presets_giveTheirSettingsAsTheOptionsWould_userPresetsListedLast) {
    writeStore(
        "[Presets]\n1\\name=\"B: night/rain = [x] #\u00e4\"\n1\\lightWave=10\n1\\heavyWave=90\n"
        "1\\ascent=20\n1\\descent=30\n1\\waveInterval=70\n1\\boostSoundLevel=false\n"
        "1\\amplitudeGenerator=true\n2\\name=Broken\n2\\lightWave=10\n0\\name=A first\n"
        "0\\lightWave=1\n0\\heavyWave=2\n0\\ascent=3\n0\\descent=4\n0\\waveInterval=5\n"
        "0\\boostSoundLevel=true\n0\\amplitudeGenerator=false\n");
    // The unreadable entry is said by the first run that takes a preset, not by every one.
    const QStringList once{"--export", path("n.aif"), "--minutes", "0.01", "--preset", "storm"};
    EXPECT_TRUE(contains(run(once).err, "Presets/2"));
    EXPECT_EQ(run(once).err, "");
    const auto same = [this](const QStringList& preset, const QStringList& values) {
        const QStringList common{"--minutes", "0.05", "--seed", "11"};
        ASSERT_EQ(run(QStringList{"--export", path("p.aif")} + preset + common).status, 0);
        ASSERT_EQ(run(QStringList{"--export", path("v.aif")} + values + common).status, 0);
        EXPECT_EQ(readAll(path("p.aif")), readAll(path("v.aif"))) << preset.join(' ').toStdString();
    };
    same({"--preset", "storm"},
         {"--light-wave", "100", "--heavy-wave", "100", "--ascent", "100", "--descent", "85",
          "--wave-interval", "0", "--boost-sound-level", "on", "--amplitude-generator", "on"});
    same({"--preset", "Calm cove", "--heavy-wave", "80", "--boost-sound-level", "on"},
         {"--light-wave", "50", "--heavy-wave", "80", "--ascent", "70", "--descent", "70",
          "--wave-interval", "5", "--boost-sound-level", "on", "--amplitude-generator", "on"});
    same({"--preset", QStringLiteral("b: NIGHT/RAIN = [X] #\u00c4")},
         {"--light-wave", "10", "--heavy-wave", "90", "--ascent", "20", "--descent", "30",
          "--wave-interval", "70", "--boost-sound-level", "off", "--amplitude-generator", "on"});

    const ProgramRun list = run({"--list-presets"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(QString::fromStdString(list.out),
              QStringLiteral("Calm cove\nSteady surf\nStorm\nDistant breakers\nSlow swell\n"
                             "A first\nB: night/rain = [x] #\u00e4\n"));
    EXPECT_TRUE(contains(list.err, "Presets/2")) << list.err;
    EXPECT_EQ(std::count(list.err.begin(), list.err.end(), '\n'), 1) << list.err;

    // A settings file that cannot be read (a folder in its place) is said, not taken for one
    // without presets of the user's.
    ASSERT_TRUE(QFile::remove(path("config/Kelvane/Brinesong.ini")));
    ASSERT_TRUE(QDir().mkpath(path("config/Kelvane/Brinesong.ini")));
    const ProgramRun unread = run({"--list-presets"});
    EXPECT_EQ(unread.status, 1);
    EXPECT_EQ(std::count(unread.out.begin(), unread.out.end(), '\n'), 5) << unread.out;
    EXPECT_TRUE(contains(unread.err, "cannot be read")) << unread.err;
    const ProgramRun mine = run({"--export", path("m.aif"), "--preset", "A first"});
    EXPECT_EQ(mine.status, 2);
    EXPECT_TRUE(contains(mine.err, "cannot be read")) << mine.err;
}

// A night's export: up to its first step it is the plain preset's export, byte for byte; after
// the step's glide its level is the new preset's; throughout it is what the renderer makes of the
// same night, frame for frame (the same each time, and what --play plays of it).
TEST_F(ExportCommandTest, night_isThePlainExportUpToItsStep_thenAtTheNewPresetsLevel) {
    const QStringList common{"--minutes", "0.25", "--seed", "21", "--volume", "50"};
    ASSERT_EQ(
        run(QStringList{"--export", path("cove.aif"), "--preset", "Calm cove"} + common).status, 0);
    ASSERT_EQ(run(QStringList{"--export", path("storm.aif"), "--preset", "Storm"} + common).status,
              0);
    const ProgramRun night = run(QStringList{"--export", path("night.aif"), "--preset", "Calm cove",
                                             "--then", "storm@0.05/0.02"} +
                                 common);
    ASSERT_EQ(night.status, 0) << night.err;
    const testing::Recording cove = readSamples(path("cove.aif"));
    const testing::Recording storm = readSamples(path("storm.aif"));
    const testing::Recording changed = readSamples(path("night.aif"));

    constexpr size_t kStep = 132300, kGlided = kStep + 52920, kFadeOut = 661500 - 88200;
    ASSERT_EQ(changed.frames(), 661500u);
    EXPECT_TRUE(std::equal(cove.left.begin(), cove.left.begin() + kStep, changed.left.begin()));
    EXPECT_TRUE(std::equal(cove.right.begin(), cove.right.begin() + kStep, changed.right.begin()));
    EXPECT_FALSE(std::equal(cove.left.begin() + kStep, cove.left.begin() + kGlided,
                            changed.left.begin() + kStep));
    const auto decibels = [](const testing::Recording& r, size_t from, size_t to) {
        return 20 * std::log10(testing::rms(r.left, from, to) / 32767);
    };
    const double after = decibels(changed, kGlided, kFadeOut);
    std::printf("level after the step %.1f dB; the storm %.1f dB, the cove %.1f dB\n", after,
                decibels(storm, 88200, kFadeOut), decibels(cove, kGlided, kFadeOut));
    EXPECT_NEAR(after, decibels(storm, 88200, kFadeOut), 4.0);
    EXPECT_GT(after, decibels(cove, kGlided, kFadeOut) + 7.0);

    Preferences calm;
    shippedPresets()[0].values.applyTo(calm);  // Calm cove
    const Night steps({{kStep, 52920, NightPoint::of(100, 100, 100, 85, 0, true, true)}});
    EXPECT_TRUE(sameSound(changed, expectedSamples(calm, 0.5, 21, 0.25f, &steps)));
}

// Run in the test's folder, so that a refused option that wrote anything at all, a file named
// after an option taken for FILE included, would leave it there.
TEST_F(ExportCommandTest, refusedOptions_exitTwoBeforeAnyFileIsTouched) {
    const QStringList bad[] = {
        {"--export", path("x"), "--minutes", "-2"},
        {"--export", path("x"), "--minutes", "ten"},
        {"--export", path("x"), "--volume", "101"},
        {"--export", path("x"), "--no-such-option"},
        {"--export", path("x"), "--amplitude-generator", "maybe"},
        {"--export", path("x"), "--format", "vorbis"},
        {"--play", "--loop"},
        {"--export", "--loop", "--minutes", "0.01"},
        {"--minutes", "0.01", "--export", "-x.wav"},
        {"--export", path("x"), "--preset", "No such preset"},
        {"--play", "--preset", "No such preset"},
        {"--export", path("x"), "--then", "No such preset@1"},
        {"--play", "--then", "Storm@1", "--then", "No such preset@2/1"},
    };
    testing::RunOptions here = options();
    here.directory = dir_.path().toStdString();
    for (const QStringList& args : bad) {
        const ProgramRun r = testing::runProgram(testing::brinesong(arguments(args)), here);
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(names(dir_.path()), QStringList()) << args.join(' ').toStdString();
    }
}

// A name is written with exactly the bytes given, also where they are no text in the locale's
// encoding; a name that looks like an option is taken when written so.
TEST_F(ExportCommandTest, fileNames_keepTheirBytes_optionLikeOnesWhenWrittenSo) {
    testing::RunOptions here = options();
    here.directory = dir_.path().toStdString();
    const std::string undecodable = "bad\xff\xfe.aif";
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--export", undecodable},
                                                 std::vector<std::string>{"--export=--loop"},
                                                 std::vector<std::string>{"--export", "./-x"}}) {
        std::vector<std::string> command = testing::brinesong(args);
        command.insert(command.end(), {"--minutes", "0.01"});
        const ProgramRun r = testing::runProgram(command, here);
        EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
    }
    std::vector<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path().toStdString())) {
        written.push_back(entry.path().filename().string());
    }
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"--loop.aif", "-x.aif", undecodable}));
}

TEST_F(ExportCommandTest, folder_isRefusedBeforeAnythingIsWritten) {
    ASSERT_TRUE(QDir().mkpath(path("takes")));
    for (const QString& target : {path("takes"), path("takes/"), path("new/")}) {
        const ProgramRun r = run({"--export", target, "--minutes", "0.01"});
        EXPECT_EQ(r.status, 2) << target.toStdString();
        EXPECT_EQ(r.err, "brinesong: --export: '" + target.toStdString() +
                             "' is a folder; expected a file name\n");
    }
    EXPECT_EQ(names(path("takes")), QStringList());
    EXPECT_EQ(names(dir_.path()), QStringList{"takes"});
}

// A device is written in place: a failed write fails the export in every format (some encoders
// do not report one themselves), says why and removes nothing. A WAV, whose header is completed
// at the end, is refused before the device is opened.
TEST_F(ExportCommandTest, deviceThroughALink_writtenInPlace_failureSaysWhyAndRemovesNothing) {
    for (const char* name : {"full.aif", "full.flac", "full.opus", "full.mp3", "full.wav"}) {
        ASSERT_EQ(::symlink("/dev/full", path(name).toLocal8Bit().constData()), 0);
        const ProgramRun r = run({"--export", path(name), "--minutes", "0.1"});
        if (QString::fromLatin1(name).endsWith(QStringLiteral(".wav"))) {
            EXPECT_EQ(r.status, 2);
            EXPECT_TRUE(contains(r.err, "is a FIFO or a device, and a WAV file cannot be written"))
                << r.err;
        } else {
            EXPECT_EQ(r.status, 1) << name;
            EXPECT_TRUE(contains(r.err, "No space left on device")) << r.err;
        }
        EXPECT_TRUE(QFileInfo(path(name)).isSymLink());
    }
    EXPECT_EQ(names(dir_.path()).size(), 5);
    struct stat info {};
    ASSERT_EQ(::stat("/dev/full", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

// A socket is no file to export to, and a WAV cannot go into a FIFO: both are refused at once,
// like a bad option, and left as they were. (Neither waits for a reader.)
TEST_F(ExportCommandTest, socketOrWavIntoAFifo_refusedAtOnce_andLeftAsTheyWere) {
    const QString socketPath = path("listening.aif");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketName = socketPath.toLocal8Bit();
    ASSERT_LT(size_t(socketName.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketName.constData(), size_t(socketName.size()));
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    const QString fifo = path("pipe.wav");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0666), 0);

    ProgramRun r = run({"--export", socketPath, "--minutes", "0.1"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "brinesong: --export: '" + socketPath.toStdString() +
                         "' is neither a file, a FIFO nor a device: nothing can be exported to "
                         "it.\n");
    r = run({"--export", fifo, "--minutes", "0.1"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "brinesong: --export: '" + fifo.toStdString() +
                         "' is a FIFO or a device, and a WAV file cannot be written to one: its "
                         "header is completed at the end, which needs a file that can seek.\n");
    ::close(listener);
    struct stat info {};
    ASSERT_EQ(::lstat(socketName.constData(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    ASSERT_EQ(::lstat(fifo.toLocal8Bit().constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(names(dir_.path()), (QStringList{"listening.aif", "pipe.wav"}));

    // A disk is a device too, but one an export would overwrite. This node names a device of no
    // driver, so nothing could be written through it whatever happened.
    const QByteArray disk = path("disk.aif").toLocal8Bit();
    if (::mknod(disk.constData(), S_IFBLK | 0600, makedev(240, 0)) == 0) {
        r = run({"--export", path("disk.aif"), "--minutes", "0.1"});
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(contains(r.err, "is a block device")) << r.err;
        ASSERT_EQ(::lstat(disk.constData(), &info), 0);
        EXPECT_TRUE(S_ISBLK(info.st_mode));
    }
}

// Into a FIFO an MP3 is the stream a file gets, less the frame that holds the stream's tag (which
// is written last, by seeking back): no empty frame is left in its place to play as silence.
TEST_F(ExportCommandTest, mp3IntoAFifo_isTheFilesStreamLessItsTagFrame) {
    const QString fifo = path("pipe.mp3");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0666), 0);
    Program reader({"cat", fifo.toStdString()});
    const ProgramRun r = run({"--export", fifo, "--minutes", "0.05", "--seed", "3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(reader.wait(), 0);
    ASSERT_EQ(run({"--export", path("file.mp3"), "--minutes", "0.05", "--seed", "3"}).status, 0);
    const QByteArray file = readAll(path("file.mp3"));
    const QByteArray streamed = QByteArray::fromStdString(reader.out());
    EXPECT_EQ(file.size() - streamed.size(), 417);  // one frame of 128 kbit/s at 44,100 Hz
    EXPECT_TRUE(file.endsWith(streamed));
}

// Any name the file system allows can be exported, new or replaced, and an export ended by
// SIGKILL, which no program can catch, leaves nothing behind: the file being written has no name
// until it is complete.
TEST_F(ExportCommandTest, longestName_exports_andAKilledExportLeavesNothing) {
    const QString name = QString(251, QLatin1Char('n')) + QStringLiteral(".aif");  // 255 bytes
    for (int pass = 0; pass < 2; ++pass) {  // a new file, then the same replaced
        const ProgramRun r = run({"--export", path(name), "--minutes", "0.01", "--seed", "4"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(names(dir_.path()), QStringList{name});
    }
    EXPECT_EQ(QFileInfo(path(name)).size(),
              54 + 4 * qint64(exportFrameCount(exportSeconds(0.01f))));

    const int probe = ::open(dir_.path().toLocal8Bit().constData(), O_TMPFILE | O_WRONLY, 0600);
    if (probe < 0) {
        GTEST_SKIP() << "the test folder's file system has no unnamed files (O_TMPFILE): an "
                        "export there writes under a short hidden name, which a SIGKILL leaves";
    }
    ::close(probe);
    Program program(testing::brinesong(arguments({"--export", path("killed"), "--minutes", "400"})),
                    options());
    ASSERT_FALSE(waitForBytes(program.pid(), 54 + 4 * 122880).isEmpty());
    program.signal(SIGKILL);
    EXPECT_EQ(program.wait(), 128 + SIGKILL);
    EXPECT_EQ(names(dir_.path()), QStringList{name});
}

TEST_F(ExportCommandTest, unopenablePath_printsTheReason_andExitsOne) {
    const ProgramRun r = run({"--export", path("no/such/dir/x"), "--minutes", "0.1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "No such file or directory")) << r.err;
}

// An export of 500 minutes is capped at 400, and says so: its header announces 1,058,400,000
// frames. It is interrupted long before the end; the file it was replacing stays as it was.
TEST_F(ExportCommandTest, signal_stopsAfterTheBlock_leavesTheFileAsItWas) {
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        const QString file = path("long.aif");
        writeFile(file, "an earlier export");
        Program program(testing::brinesong(arguments({"--export", file, "--minutes", "500"})),
                        options());
        // Until the first block is in the file being written beside it.
        const std::string header = testing::readFile(
            QFile::encodeName(waitForBytes(program.pid(), 54 + 4 * 122880)).toStdString(), 54);
        ASSERT_EQ(header.size(), 54u);
        EXPECT_EQ(testing::bigEndian32(header, 22), 1'058'400'000u);
        EXPECT_EQ(testing::bigEndian32(header, 4), 4'233'600'046u);
        program.signal(signalNumber);
        EXPECT_EQ(program.wait(), 128 + signalNumber) << program.err();
        EXPECT_EQ(program.err(),
                  "brinesong: --minutes 500 is more than 400; capped to 400\n"
                  "brinesong: export interrupted; " +
                      file.toStdString() + " left as it was\n");
        EXPECT_EQ(readAll(file), QByteArray("an earlier export"));
        EXPECT_EQ(names(dir_.path()), QStringList{"long.aif"});
    }
}

// The program as a user who is not root, so that permissions bite: CI runs as root, which passes
// every permission check, so as root it drops to nobody with setpriv (as another user it runs as
// that user). The test's folder belongs to that user, and the binary is copied into it, so the
// user can run it wherever the build tree lies.
class UnprivilegedExportTest : public ExportCommandTest {
protected:
    void SetUp() override {
        ExportCommandTest::SetUp();
        if (::geteuid() == 0) {
            ASSERT_EQ(::chown(dir_.path().toLocal8Bit().constData(), testing::kUnprivilegedUid,
                              testing::kUnprivilegedGid),
                      0);
        }
        binary_ = path("bin/brinesong").toStdString();
        ASSERT_TRUE(QDir().mkpath(path("bin")));
        ASSERT_TRUE(QFile::copy(QStringLiteral(BRINESONG_BINARY), path("bin/brinesong")));
        ASSERT_TRUE(QFile::setPermissions(path("bin/brinesong"),
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadOther | QFile::ExeOther));
    }

    std::vector<std::string> asUser(const QStringList& args) const {
        std::vector<std::string> command = arguments(args);
        command.insert(command.begin(), binary_);
        return testing::unprivileged(command);
    }
    ProgramRun runAsUser(const QStringList& args) const {
        return testing::runProgram(asUser(args), options());
    }
    // Hands a file the test made to the user the program runs as.
    void giveToUser(const QString& file) const {
        if (::geteuid() == 0) {
            ASSERT_EQ(::lchown(file.toLocal8Bit().constData(), testing::kUnprivilegedUid,
                               testing::kUnprivilegedGid),
                      0);
        }
    }
    // The folder's names less the copied binary.
    QStringList files() const {
        QStringList found = names(dir_.path());
        found.removeAll(QStringLiteral("bin"));
        return found;
    }

    std::string binary_;
};

TEST_F(UnprivilegedExportTest, writeProtectedFile_isRefusedAndKept) {
    const QString old = path("old.aif");
    writeFile(old, "an export the user protected");
    giveToUser(old);
    ASSERT_TRUE(QFile::setPermissions(old, QFile::ReadOwner | QFile::ReadOther));
    const ProgramRun r = runAsUser({"--export", old, "--minutes", "0.01"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "Permission denied")) << r.err;
    EXPECT_EQ(readAll(old), QByteArray("an export the user protected"));
    EXPECT_EQ(files(), QStringList{"old.aif"});
}

// Through a link the link's target is replaced, the link stays; an interrupted export leaves the
// target as it was.
TEST_F(UnprivilegedExportTest, throughALink_targetReplacedOnlyWhenComplete_linkStays) {
    const QString target = path("notes.txt");
    const QByteArray text = QByteArray("a line of the user's own text\n").repeated(14000);
    writeFile(target, text);
    giveToUser(target);
    const QString link = path("surf.aif");
    ASSERT_TRUE(QFile::link(QStringLiteral("notes.txt"), link));
    giveToUser(link);

    Program program(asUser({"--export", link, "--minutes", "400"}), options());
    waitForBytes(program.pid(), 54 + 4 * 122880);
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(), 128 + SIGTERM) << program.err();
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readAll(target), text);
    EXPECT_EQ(files(), (QStringList{"notes.txt", "surf.aif"}));

    const ProgramRun r = runAsUser({"--export", link, "--minutes", "0.01", "--seed", "3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), target);
    EXPECT_EQ(QFileInfo(target).size(), 54 + 4 * qint64(exportFrameCount(exportSeconds(0.01f))));
    EXPECT_EQ(files(), (QStringList{"notes.txt", "surf.aif"}));
}

// A full disk while an export replaces a file: the file it was replacing stays whole. The disk is
// a small tmpfs of the test's own, which only root may mount.
TEST_F(UnprivilegedExportTest, diskFull_whileReplacing_keepsTheOldFile) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "a full disk needs a small tmpfs of the test's own, which only root may "
                        "mount here";
    }
    const QString disk = path("disk");
    ASSERT_TRUE(QDir().mkpath(disk));
    const std::string options =
        "size=1m,mode=0755,uid=" + std::to_string(testing::kUnprivilegedUid) +
        ",gid=" + std::to_string(testing::kUnprivilegedGid);
    ASSERT_EQ(
        testing::runProgram({"mount", "-t", "tmpfs", "-o", options, "tmpfs", disk.toStdString()})
            .status,
        0);
    struct Unmount {
        std::string at;
        ~Unmount() { testing::runProgram({"umount", at}); }
    } unmount{disk.toStdString()};

    // 900 KB of the disk's 1 MB are taken; 0.3 minutes are more than the rest in every format
    // (the smallest, Opus, is about 280 KB), so each export fails part way.
    const QByteArray before = QByteArray("an export worth keeping ").repeated(37500);
    for (const char* name : {"old.aif", "old.wav", "old.flac", "old.opus", "old.mp3"}) {
        const QString old = disk + "/" + name;
        writeFile(old, before);
        giveToUser(old);
        const ProgramRun r = runAsUser({"--export", old, "--minutes", "0.3"});
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_TRUE(contains(r.err, "No space left on device")) << r.err;
        EXPECT_EQ(readAll(old), before) << name;
        EXPECT_EQ(names(disk), QStringList{name});
        QFile::remove(old);
    }
}

// A FIFO is written in place and never removed: waiting for its reader ends with a signal, so
// does waiting for room while a reader holds it open but does not read (whichever writer writes:
// ours for AIFF, libsndfile's for MP3), and a reader that goes away early is a failure with a
// message, not a death by SIGPIPE.
TEST_F(UnprivilegedExportTest, fifo_waitsEndWithASignal_closedReaderIsAFailure) {
    const QString fifo = path("pipe.aif");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0666), 0);
    giveToUser(fifo);
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        Program program(asUser({"--export", fifo, "--minutes", "1"}), options());
        // Once its handlers are in place (no reader will come), the signal must end the wait.
        ASSERT_TRUE(catchesInterrupts(program.pid()));
        program.signal(signalNumber);
        EXPECT_EQ(program.wait(), 128 + signalNumber) << program.err();
        EXPECT_EQ(program.err(), "brinesong: export to " + fifo.toStdString() + " interrupted\n");
    }
    for (const auto& [signalNumber, name] :
         {std::pair{SIGTERM, "stalled.aif"}, {SIGINT, "stalled.mp3"}}) {
        const QString stalled = path(QString::fromLatin1(name));
        ASSERT_EQ(::mkfifo(stalled.toLocal8Bit().constData(), 0666), 0);
        giveToUser(stalled);
        const int reader = ::open(stalled.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        Program program(asUser({"--export", stalled, "--minutes", "10"}), options());
        ASSERT_TRUE(testing::fillsAndStops(reader)) << name;
        program.signal(signalNumber);
        // A bound on its ending at all: the reader is still there, never to read.
        EXPECT_EQ(program.wait(std::chrono::seconds(30)), 128 + signalNumber) << name;
        EXPECT_EQ(program.err(),
                  "brinesong: export to " + stalled.toStdString() + " interrupted\n");
        ::close(reader);
        struct stat info {};
        ASSERT_EQ(::lstat(stalled.toLocal8Bit().constData(), &info), 0);
        EXPECT_TRUE(S_ISFIFO(info.st_mode));
    }

    Program reader({"head", "-c", "1000", fifo.toStdString()});
    const ProgramRun r = runAsUser({"--export", fifo, "--minutes", "1"});
    EXPECT_EQ(reader.wait(), 0);
    EXPECT_EQ(reader.out().size(), 1000u);
    EXPECT_EQ(reader.out().substr(0, 4), "FORM");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "Broken pipe")) << r.err;
    struct stat info {};
    ASSERT_EQ(::lstat(fifo.toLocal8Bit().constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

}  // namespace
}  // namespace brinesong
