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

#include "support/Program.h"
#include "support/Recording.h"
#include "synth/Renderer.h"

namespace brinesong {
namespace {

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
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
    renderer.fadeInOut = Renderer::kExportFade;
    renderer.runLength = seconds;
    // Block by block as the writer renders: each block draws for its left, then its right channel.
    constexpr uint32_t kBlock = 122880;
    std::vector<int16_t> left(kBlock), right(kBlock);
    testing::Recording out;
    AudioBufferList list{2, {{1, kBlock * 2, left.data()}, {1, kBlock * 2, right.data()}}};
    for (uint32_t done = 0; done < frames; done += kBlock) {
        const uint32_t n = std::min(kBlock, frames - done);
        RendererData request{nullptr, nullptr, 0, n, &list};
        renderer.renderWave(&request);
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
    };
    for (const QStringList& args : bad) {
        const ProgramRun r = run(args);
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(QFileInfo::exists(path("x.aif")));
        EXPECT_FALSE(QFileInfo::exists(path("config")));
    }
}

TEST_F(ExportCommandTest, fullDisk_printsTheReason_removesTheFile_andExitsOne) {
    ASSERT_EQ(::symlink("/dev/full", path("full.aif").toLocal8Bit().constData()), 0);
    const ProgramRun r = run({"--export", path("full.aif"), "--minutes", "0.1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "Failed to save an AIFF file.")) << r.err;
    EXPECT_TRUE(contains(r.err, "No space left on device")) << r.err;
    EXPECT_FALSE(QFileInfo(path("full.aif")).isSymLink());
    struct stat info {};
    ASSERT_EQ(::stat("/dev/full", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST_F(ExportCommandTest, unopenablePath_printsTheReason_andExitsOne) {
    const ProgramRun r = run({"--export", path("no/such/dir/x"), "--minutes", "0.1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "No such file or directory")) << r.err;
}

// An export of 500 minutes is capped at 400: its header announces 1,058,400,000 frames. It is
// interrupted long before the end, and the partial file goes.
TEST_F(ExportCommandTest, signal_stopsAfterTheBlock_removesThePartialFile) {
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        const QString file = path("long.aif");
        Program program(testing::brinesong(arguments({"--export", file, "--minutes", "500"})),
                        options());
        // Until the first block is on disk (the limit only guards against a hang).
        for (int i = 0; i < 12000 && QFileInfo(file).size() < 54 + 4 * 122880; ++i) {
            QThread::msleep(5);
        }
        const QByteArray header = readAll(file).left(54);
        ASSERT_EQ(header.size(), 54);
        const auto be32 = [&](int at) {
            return uint32_t(uint8_t(header[at])) << 24 | uint32_t(uint8_t(header[at + 1])) << 16 |
                   uint32_t(uint8_t(header[at + 2])) << 8 | uint8_t(header[at + 3]);
        };
        EXPECT_EQ(be32(22), 1'058'400'000u);
        EXPECT_EQ(be32(4), 4'233'600'046u);
        program.signal(signalNumber);
        ProgramRun r;
        r.status = program.wait();
        r.err = program.err();
        EXPECT_EQ(r.status, 128 + signalNumber) << r.err;
        EXPECT_FALSE(QFileInfo::exists(file));
    }
}

}  // namespace
}  // namespace brinesong
