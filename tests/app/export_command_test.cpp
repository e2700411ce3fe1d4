// `brinesong --export` run as a user would run it, its files read back by independent readers.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <vector>

#include "export/ExportJob.h"
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
    for (int i = 0; i < 6000; ++i) {
        const std::string status = testing::readText("/proc/" + std::to_string(pid) + "/status");
        const size_t at = status.find("SigCgt:");
        if (at != std::string::npos &&
            (std::stoull(status.substr(at + 7, 17), nullptr, 16) & wanted) == wanted) {
            return true;
        }
        QThread::msleep(5);
    }
    return false;
}

using testing::Program;
using testing::ProgramRun;

class ExportCommandTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    QString path(const QString& name) const { return dir_.filePath(name); }

    testing::RunOptions options() const {
        return {
            {"XDG_CONFIG_HOME=" + path(QStringLiteral("config")).toStdString(), "LANG=C.UTF-8"}};
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

    // The hidden file an export of `name` writes beside it, or empty.
    QString partialFile(const QString& name) const {
        const QStringList found = QDir(dir_.path())
                                      .entryList({QLatin1Char('.') + name + QStringLiteral(".*")},
                                                 QDir::Files | QDir::Hidden);
        return found.isEmpty() ? QString() : path(found.first());
    }

    QByteArray readAll(const QString& file) {
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << file.toStdString();
        return f.readAll();
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

// What the renderer makes for an export of `minutes` with these settings. The length is
// minutes x 60 in single precision, as the export computes it.
testing::Recording expectedSamples(const Preferences& prefs, double volume, uint32_t seed,
                                   float minutes) {
    const float seconds = minutes * 60.0f;
    const auto frames = static_cast<uint32_t>(static_cast<double>(seconds) * 44100.0);
    RandomSource random(seed);
    Renderer renderer(prefs, random);
    renderer.volume = volume;
    RenderRun run(renderer, Renderer::kExportFade, seconds);
    // Block by block as the writer renders: each block draws for its left, then its right channel.
    constexpr uint32_t kBlock = 122880;
    std::vector<int16_t> left(kBlock), right(kBlock);
    testing::Recording out;
    AudioBufferList list{2, {{1, kBlock * 2, left.data()}, {1, kBlock * 2, right.data()}}};
    for (uint32_t done = 0; done < frames; done += kBlock) {
        const uint32_t n = std::min(kBlock, frames - done);
        RendererData request{nullptr, nullptr, 0, n, &list};
        run.renderWave(&request);
        out.left.insert(out.left.end(), left.begin(), left.begin() + n);
        out.right.insert(out.right.end(), right.begin(), right.begin() + n);
    }
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
    EXPECT_EQ(names(dir_.path()), (QStringList{"a.aif", "b.WAV", "c.flac", "d.aif.mp3", "e.opus"}));
    const auto probe = [](const QString& file) {
        return tool("ffprobe", {"-v", "error", "-show_entries",
                                "stream=codec_name,channels,sample_rate", "-of", "csv=p=0", file});
    };
    EXPECT_EQ(probe(path("b.WAV")), "pcm_s16le,44100,2");
    EXPECT_EQ(probe(path("c.flac")), "flac,44100,2");
    EXPECT_EQ(probe(path("d.aif.mp3")), "mp3,44100,2");
    EXPECT_EQ(probe(path("e.opus")), "opus,48000,2");
    const testing::Recording aiff = readSamples(path("a.aif"));
    EXPECT_EQ(aiff.frames(), aiffFrameCount(exportSeconds(0.02f)));
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

TEST_F(ExportCommandTest, refusedOptions_exitTwoBeforeAnyFileIsTouched) {
    const QStringList bad[] = {
        {"--export", path("x"), "--minutes", "-2"},
        {"--export", path("x"), "--minutes", "ten"},
        {"--export", path("x"), "--volume", "101"},
        {"--export", path("x"), "--no-such-option"},
        {"--export", path("x"), "--amplitude-generator", "maybe"},
        {"--export", path("x"), "--format", "ogg"},
        {"--play", "--loop"},
    };
    for (const QStringList& args : bad) {
        const ProgramRun r = run(args);
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(QFileInfo::exists(path("x.aif")));
        EXPECT_FALSE(QFileInfo::exists(path("config")));
    }
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

TEST_F(ExportCommandTest, deviceThroughALink_writtenInPlace_failureSaysWhyAndRemovesNothing) {
    ASSERT_EQ(::symlink("/dev/full", path("full.aif").toLocal8Bit().constData()), 0);
    const ProgramRun r = run({"--export", path("full.aif"), "--minutes", "0.1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "Failed to save an AIFF file.")) << r.err;
    EXPECT_TRUE(contains(r.err, "No space left on device")) << r.err;
    EXPECT_TRUE(QFileInfo(path("full.aif")).isSymLink());
    struct stat info {};
    ASSERT_EQ(::stat("/dev/full", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
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
        // Until the first block is in the file being written beside it (the limit only guards
        // against a hang).
        QString partial;
        for (int i = 0; i < 12000; ++i) {
            partial = partialFile(QStringLiteral("long.aif"));
            if (!partial.isEmpty() && QFileInfo(partial).size() >= 54 + 4 * 122880) {
                break;
            }
            QThread::msleep(5);
        }
        const QByteArray header = readAll(partial).left(54);
        ASSERT_EQ(header.size(), 54);
        const auto be32 = [&](int at) {
            return uint32_t(uint8_t(header[at])) << 24 | uint32_t(uint8_t(header[at + 1])) << 16 |
                   uint32_t(uint8_t(header[at + 2])) << 8 | uint8_t(header[at + 3]);
        };
        EXPECT_EQ(be32(22), 1'058'400'000u);
        EXPECT_EQ(be32(4), 4'233'600'046u);
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
    for (int i = 0;
         i < 12000 && QFileInfo(partialFile(QStringLiteral("notes.txt"))).size() < 54 + 4 * 122880;
         ++i) {
        QThread::msleep(5);
    }
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(), 128 + SIGTERM) << program.err();
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readAll(target), text);
    EXPECT_EQ(files(), (QStringList{"notes.txt", "surf.aif"}));

    const ProgramRun r = runAsUser({"--export", link, "--minutes", "0.01", "--seed", "3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), target);
    EXPECT_EQ(QFileInfo(target).size(), 54 + 4 * qint64(aiffFrameCount(exportSeconds(0.01f))));
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

    const QString old = disk + "/old.aif";
    const QByteArray before = QByteArray("an export worth keeping ").repeated(25000);  // 600 KB
    writeFile(old, before);
    giveToUser(old);
    // 0.05 minutes are 529 KB: the new file does not fit beside the old one.
    const ProgramRun r = runAsUser({"--export", old, "--minutes", "0.05"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "No space left on device")) << r.err;
    EXPECT_EQ(readAll(old), before);
    EXPECT_EQ(names(disk), QStringList{"old.aif"});
}

// A FIFO is written in place and never removed: waiting for its reader ends with a signal, and a
// reader that goes away early is a failure with a message, not a death by SIGPIPE.
TEST_F(UnprivilegedExportTest, fifo_waitEndsWithASignal_closedReaderIsAFailure) {
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
