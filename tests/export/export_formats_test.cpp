// SPDX-License-Identifier: GPL-3.0-or-later
// Every format the export writes, read back by real decoders (libsndfile, ffmpeg): the lossless
// ones give exactly the AIFF's samples, the lossy ones the right length and level. And the loop
// option's join.
#include <sndfile.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "export/ExportFormat.h"
#include "export/ExportJob.h"
#include "support/ExportBlocks.h"
#include "support/Program.h"
#include "support/Recording.h"

namespace brinesong {
namespace {

using testing::Recording;

// What `path` holds as libsndfile reads it.
struct FileInfo {
    int format = 0, channels = 0, rate = 0;
    sf_count_t frames = 0;
};
FileInfo infoOf(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        return {};
    }
    sf_close(file);
    return {info.format, info.channels, info.samplerate, info.frames};
}

// Root mean square of interleaved stereo samples above 20 Hz (a one-pole high-pass at `rate`).
// The surf's rumble reaches below 3 Hz, where Opus cuts by design; what is heard is compared.
double audibleRms(const std::vector<int16_t>& interleaved, int rate) {
    const double a = 1.0 / (1.0 + 2.0 * M_PI * 20.0 / rate);
    double sum = 0;
    for (size_t channel = 0; channel < 2; ++channel) {
        double previousIn = 0, out = 0;
        for (size_t i = channel; i < interleaved.size(); i += 2) {
            out = a * (out + interleaved[i] - previousIn);
            previousIn = interleaved[i];
            sum += out * out;
        }
    }
    return interleaved.empty() ? 0.0 : std::sqrt(sum / double(interleaved.size()));
}

std::vector<int16_t> interleave(const Recording& r) {
    std::vector<int16_t> out;
    for (size_t i = 0; i < r.frames(); ++i) {
        out.push_back(r.left[i]);
        out.push_back(r.right[i]);
    }
    return out;
}

// ffmpeg's own decoder: the frames of 16-bit stereo it decodes, and their audible level.
struct Decoded {
    size_t frames = 0;
    double level = 0;
};
Decoded decodeWithFfmpeg(const std::string& path, int rate = 44100) {
    const testing::ProgramRun run =
        testing::runProgram({"ffmpeg", "-v", "error", "-i", path, "-f", "s16le", "-ac", "2", "-"});
    EXPECT_EQ(run.status, 0) << run.err;
    const auto* samples = reinterpret_cast<const int16_t*>(run.out.data());
    const std::vector<int16_t> interleaved(samples, samples + run.out.size() / 2);
    return {interleaved.size() / 2, audibleRms(interleaved, rate)};
}

class ExportFormatsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.valid()); }

    // Exports `seconds` with seed `seed` to `name` in `format`; returns the path.
    std::string write(const std::string& name, const ExportFormat& format, float seconds,
                      uint32_t seed, const ExportOptions& options = {}) {
        RandomSource random(seed);
        Renderer renderer(prefs_, random);
        renderer.volume = 0.8;
        const std::string path = dir_.file(name);
        const ExportOutcome outcome = exportToFile(renderer, path, seconds, {}, format, options);
        EXPECT_TRUE(outcome.saved) << name << ": " << std::strerror(outcome.error);
        return path;
    }

    Preferences prefs_;
    testing::ScratchDir dir_{"brinesong-formats"};
};

TEST_F(ExportFormatsTest, losslessFormats_decodeToExactlyTheAiffSamples) {
    constexpr float kSeconds = 3.5f;  // two blocks
    const Recording aiff = testing::readRecording(write("s.aif", aiffFormat(), kSeconds, 29));
    ASSERT_EQ(aiff.frames(), 154'350u);
    for (const char* name : {"wav", "flac"}) {
        const ExportFormat& format = *formatNamed(name);
        const std::string path = write(std::string("s.") + name, format, kSeconds, 29);
        const FileInfo info = infoOf(path);
        EXPECT_EQ(info.format, name == std::string("wav") ? (SF_FORMAT_WAV | SF_FORMAT_PCM_16)
                                                          : (SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
        EXPECT_EQ(info.channels, 2);
        EXPECT_EQ(info.rate, 44100);
        const Recording read = testing::readRecording(path);
        EXPECT_TRUE(read.left == aiff.left && read.right == aiff.right) << name;
        // A second decoder agrees on the length.
        EXPECT_EQ(decodeWithFfmpeg(path).frames, 154'350u) << name;
    }
}

TEST_F(ExportFormatsTest, lossyFormats_decodeToTheRightLengthAndLevel) {
    constexpr float kSeconds = 3.0f;
    prefs_.setAmplitudeGenerator(false);  // a steady level to compare
    const double level = audibleRms(
        interleave(testing::readRecording(write("s.aif", aiffFormat(), kSeconds, 5))), 44100);
    ASSERT_GT(level, 500.0);

    // MP3 at the sound's rate; the encoder's delay and padding are undone by the decoders.
    const std::string mp3 = write("s.mp3", *formatNamed("mp3"), kSeconds, 5);
    EXPECT_EQ(infoOf(mp3).format & SF_FORMAT_TYPEMASK, SF_FORMAT_MPEG);
    EXPECT_EQ(infoOf(mp3).rate, 44100);
    EXPECT_EQ(infoOf(mp3).channels, 2);
    const Recording mp3Read = testing::readRecording(mp3);
    EXPECT_EQ(mp3Read.frames(), 132'300u);
    EXPECT_NEAR(audibleRms(interleave(mp3Read), 44100), level, level * 0.05);
    const Decoded mp3Decoded = decodeWithFfmpeg(mp3);
    EXPECT_EQ(mp3Decoded.frames, 132'300u);
    EXPECT_NEAR(mp3Decoded.level, level, level * 0.05);

    // Opus at 48,000 frames a second: the same three seconds.
    const std::string opus = write("s.opus", *formatNamed("opus"), kSeconds, 5);
    EXPECT_EQ(infoOf(opus).format, SF_FORMAT_OGG | SF_FORMAT_OPUS);
    EXPECT_EQ(infoOf(opus).rate, 48000);
    EXPECT_EQ(infoOf(opus).channels, 2);
    const Recording opusRead = testing::readRecording(opus);
    EXPECT_EQ(opusRead.frames(), 144'000u);
    EXPECT_NEAR(audibleRms(interleave(opusRead), 48000), level, level * 0.05);
    const Decoded opusDecoded = decodeWithFfmpeg(opus, 48000);
    EXPECT_EQ(opusDecoded.frames, 144'000u);
    EXPECT_NEAR(opusDecoded.level, level, level * 0.05);
}

// Only the formats with 32-bit sizes stop short of the 400-minute cap's neighbourhood; the others
// take any length. The cap itself (1,058,400,000 frames) fits every format.
TEST_F(ExportFormatsTest, limits_followTheFormat) {
    ExportOutput sink(-1, nullptr);  // nothing is written
    for (const ExportFormat* format : exportFormats()) {
        const uint64_t limit = format->makeEncoder(sink)->maxFrames();
        EXPECT_GE(limit, 1'058'400'000u) << format->name;
        const bool sized32 = format->name == "aiff" || format->name == "wav";
        EXPECT_EQ(limit < (uint64_t(1) << 30), sized32) << format->name;
    }
}

// A loop's end flows into its start: the step from the last frame to the first is no larger than
// the noise's own steps within the file, and the level does not dip there, as it does where an
// ordinary export fades out and in.
TEST_F(ExportFormatsTest, loop_joinsItsEndToItsStartWithoutASeam) {
    // A steady level of broad noise, so that a dip would show in a short stretch.
    prefs_.setAmplitudeGenerator(false);
    prefs_.setLightWave(100);
    prefs_.setHeavyWave(0);
    ExportOptions loop;
    loop.loop = true;
    const Recording looped =
        testing::readRecording(write("loop.flac", *formatNamed("flac"), 8.0f, 13, loop));
    const Recording plain =
        testing::readRecording(write("plain.flac", *formatNamed("flac"), 8.0f, 13));
    ASSERT_EQ(looped.frames(), 352'800u);
    ASSERT_EQ(plain.frames(), 352'800u);

    const auto joinLevel = [](const std::vector<int16_t>& s) {
        const size_t quarter = 11025, n = s.size();
        std::vector<int16_t> join(s.end() - quarter, s.end());
        join.insert(join.end(), s.begin(), s.begin() + quarter);
        return testing::rms(join) / testing::rms(s, n / 4, 3 * n / 4);
    };
    for (const auto* channel : {&looped.left, &looped.right}) {
        const std::vector<int16_t>& s = *channel;
        int largest = 0;
        for (size_t i = 1; i < s.size(); ++i) {
            largest = std::max(largest, std::abs(s[i] - s[i - 1]));
        }
        EXPECT_LE(std::abs(s.front() - s.back()), largest);
        EXPECT_NEAR(joinLevel(s), 1.0, 0.15);
    }
    // The ordinary export goes through silence at the join: the measure sees a seam there.
    EXPECT_LT(joinLevel(plain.left), 0.5);

    // Exactly: the file is cut from the one sound the renderer makes at full level, block by
    // block as the export renders it (first the 4 seconds before the file's start); the file's
    // last frame is the frame of that sound just before its first, and its cross-fade begins just
    // after the frame before it.
    RandomSource random(13);
    Renderer renderer(prefs_, random);
    renderer.volume = 0.8;
    RenderRun run(renderer, 0.0, 0.0);
    const uint32_t lead = loopCrossfadeFrames(352'800);
    ASSERT_EQ(lead, 176'400u);
    Recording sound;
    testing::renderExportBlocks(run, lead, sound);
    testing::renderExportBlocks(run, 352'800, sound);
    for (const auto& [file, made] :
         {std::pair{&looped.left, &sound.left}, std::pair{&looped.right, &sound.right}}) {
        EXPECT_EQ(file->back(), (*made)[lead - 1]);
        EXPECT_EQ(file->front(), (*made)[lead]);
        EXPECT_TRUE(std::equal(file->begin(), file->end() - lead, made->begin() + lead));
    }
}

}  // namespace
}  // namespace brinesong
