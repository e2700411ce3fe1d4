// SPDX-License-Identifier: GPL-3.0-or-later
#include "export/AiffWriter.h"

#include <fcntl.h>
#include <malloc.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/Files.h"

namespace brinesong {
namespace {

namespace fs = std::filesystem;

using testing::bigEndian16;
using testing::bigEndian32;
using testing::readFile;

// The AIFF encoder behind the export loop, as an export runs them, into `path` (created or
// truncated); returns the loop's result, errno set by it.
bool encodeAiff(Renderer& renderer, const char* path, float seconds, const ExportHooks& hooks = {},
                const ExportOptions& options = {}) {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    EXPECT_GE(fd, 0) << path;
    ExportOutput output(fd, hooks.abortSave);
    const std::unique_ptr<BlockEncoder> encoder = makeAiffEncoder(output);
    const bool result = runExportLoop(renderer, seconds, *encoder, hooks, options);
    const int error = errno;
    ::close(fd);
    errno = error;
    return result;
}

class AiffWriterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch_.valid()); }

    // Writes `seconds` with a renderer seeded `seed`; returns the export loop's result.
    bool write(const fs::path& path, float seconds, uint32_t seed, const ExportHooks& hooks = {},
               const ExportOptions& options = {}) {
        RandomSource random(seed);
        Renderer renderer(prefs_, random);
        renderer.volume = 0.7;
        return encodeAiff(renderer, path.c_str(), seconds, hooks, options);
    }

    Preferences prefs_;
    testing::ScratchDir scratch_{"brinesong-aiff"};
    const fs::path& dir_ = scratch_.path();
};

TEST(AiffHeaderTest, dtox80_givesTheExtendedBytes) {
    uint8_t out[10];
    dtox80(44100.0, out);
    const uint8_t expected[10] = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(out, expected, 10));
    dtox80(1.0, out);
    const uint8_t one[10] = {0x3F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(out, one, 10));
    dtox80(-0.75, out);
    const uint8_t minusThreeQuarters[10] = {0xBF, 0xFE, 0xC0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(out, minusThreeQuarters, 10));
    dtox80(0.0, out);
    const uint8_t zero[10] = {};
    EXPECT_EQ(0, std::memcmp(out, zero, 10));
}

TEST(AiffHeaderTest, sizesAtTheFourHundredMinuteCap_areUnsigned32Bit) {
    EXPECT_EQ(exportFrameCount(24000.0f), 1'058'400'000u);
    uint8_t header[kAiffHeaderBytes];
    buildAiffHeader(header, 1'058'400'000u, 44100);
    const std::string_view h(reinterpret_cast<const char*>(header), kAiffHeaderBytes);
    EXPECT_EQ(bigEndian32(h, 4), 4'233'600'046u);
    EXPECT_EQ(bigEndian32(h, 22), 1'058'400'000u);
    EXPECT_EQ(bigEndian32(h, 42), 4'233'600'008u);
    EXPECT_EQ(exportFrameCount(-1.0f), 0u);
    EXPECT_EQ(exportFrameCount(std::nanf("")), 0u);
}

TEST_F(AiffWriterTest, zeroLength_writesTheHeaderOnly) {
    int reports = 0;
    ExportHooks hooks;
    hooks.setProgress = [&](int) { ++reports; };
    ASSERT_TRUE(write(dir_ / "empty.aif", 0.0f, 1, hooks));
    const auto bytes = readFile(dir_ / "empty.aif");
    ASSERT_EQ(bytes.size(), 54u);
    EXPECT_EQ(bytes.substr(0, 4), "FORM");
    EXPECT_EQ(bigEndian32(bytes, 4), 46u);
    EXPECT_EQ(bytes.substr(8, 8), "AIFFCOMM");
    EXPECT_EQ(bigEndian32(bytes, 16), 18u);
    EXPECT_EQ(bigEndian16(bytes, 20), 2);
    EXPECT_EQ(bigEndian32(bytes, 22), 0u);
    EXPECT_EQ(bigEndian16(bytes, 26), 16);
    EXPECT_EQ(bytes.substr(38, 4), "SSND");
    EXPECT_EQ(bigEndian32(bytes, 42), 8u);
    EXPECT_EQ(bigEndian32(bytes, 46), 0u);
    EXPECT_EQ(bigEndian32(bytes, 50), 0u);
    EXPECT_EQ(reports, 0);
}

// libsndfile, an independent reader, sees the format and exactly the samples the renderer made.
TEST_F(AiffWriterTest, oneSecond_readsBackAsTheRenderedSamples) {
    ASSERT_TRUE(write(dir_ / "one.aif", 1.0f, 77));
    const auto bytes = readFile(dir_ / "one.aif");
    ASSERT_EQ(bytes.size(), 176'454u);
    EXPECT_EQ(bigEndian32(bytes, 4), 176'446u);
    EXPECT_EQ(bigEndian32(bytes, 42), 176'408u);

    SF_INFO info{};
    SNDFILE* sf = sf_open((dir_ / "one.aif").c_str(), SFM_READ, &info);
    ASSERT_NE(sf, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.frames, 44100);
    EXPECT_EQ(info.format, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    std::vector<int16_t> read(2 * 44100);
    EXPECT_EQ(sf_readf_short(sf, read.data(), 44100), 44100);
    sf_close(sf);

    RandomSource random(77);
    Renderer renderer(prefs_, random);
    renderer.volume = 0.7;
    RenderRun run(renderer, 2.0, 1.0);
    std::vector<int16_t> left(44100), right(44100);
    AudioBufferList list{2, {{1, 88200, left.data()}, {1, 88200, right.data()}}};
    RendererData request{nullptr, nullptr, 0, 44100, &list};
    run.renderWave(&request);
    EXPECT_EQ(read[0], 0);
    EXPECT_EQ(read[1], 0);
    for (size_t i = 0; i < 44100; ++i) {
        ASSERT_EQ(read[2 * i], left[i]) << i;
        ASSERT_EQ(read[2 * i + 1], right[i]) << i;
    }
    EXPECT_NE(read[2 * 44099], 0);  // the last frame's gain is small, not zero
}

// The export renders its two channels on two threads; one thread must give the same file, byte for
// byte, with the envelope on and off.
TEST_F(AiffWriterTest, twoCores_writeTheBytesOfOne) {
    for (const bool envelope : {true, false}) {
        prefs_.setAmplitudeGenerator(envelope);
        ExportOptions oneCore;
        oneCore.parallelChannels = false;
        ASSERT_TRUE(write(dir_ / "one.aif", 7.0f, 41, {}, oneCore));
        ASSERT_TRUE(write(dir_ / "two.aif", 7.0f, 41));
        const auto one = readFile(dir_ / "one.aif");
        ASSERT_EQ(one.size(), 54u + 4u * 7u * 44100u);
        EXPECT_TRUE(one == readFile(dir_ / "two.aif")) << "envelope " << envelope;
    }
}

TEST_F(AiffWriterTest, blockBoundaries_lastBlockCarriesTheRemainder) {
    // Lengths whose frame counts land exactly on and just past one block.
    for (const uint32_t frames : {kExportBlockFrames, kExportBlockFrames + 1}) {
        float seconds = static_cast<float>(frames) / 44100.0f;
        while (exportFrameCount(seconds) < frames)
            seconds = std::nextafter(seconds, 1e9f);
        while (exportFrameCount(seconds) > frames)
            seconds = std::nextafter(seconds, 0.0f);
        ASSERT_EQ(exportFrameCount(seconds), frames);
        // Appended rather than `"b" + std::to_string(...)`: g++ 12 at -O3 takes that prepend for
        // an overlapping copy and warns (-Wrestrict), a false positive.
        const fs::path path = dir_ / std::string("b").append(std::to_string(frames)).append(".aif");
        ASSERT_TRUE(write(path, seconds, 5));
        EXPECT_EQ(fs::file_size(path), 54u + 4u * frames);
        SF_INFO info{};
        SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(sf, nullptr);
        EXPECT_EQ(info.frames, frames);
        sf_close(sf);
    }
}

TEST_F(AiffWriterTest, progress_isReportedPerBlockAndLagsOneBlock) {
    std::vector<int> reports;
    ExportHooks hooks;
    hooks.setProgress = [&](int percent) { reports.push_back(percent); };
    ASSERT_TRUE(write(dir_ / "p.aif", 30.0f, 2, hooks));  // 1,323,000 frames: 11 blocks
    // done / N before each block: 0 (not reported), then 9, 18, ... 92 percent.
    const std::vector<int> expected = {9, 18, 27, 37, 46, 55, 65, 74, 83, 92};
    EXPECT_EQ(reports, expected);
}

TEST_F(AiffWriterTest, abortSetBeforehand_writesExactlyOneBlock) {
    ExportAbort abort;
    abort.request();
    ExportHooks hooks;
    hooks.abortSave = &abort;
    EXPECT_FALSE(write(dir_ / "a.aif", 10.0f, 1, hooks));
    EXPECT_EQ(fs::file_size(dir_ / "a.aif"), 54u + 4u * kExportBlockFrames);
}

// Runs only inside the child started below, a fresh process whose heap holds no free blocks left
// by other tests: with its address space almost used up, the writer's blocks cannot be had.
TEST(AiffWriterMemoryChild, writeWithoutMemory) {
    if (!std::getenv("BRINESONG_MEMORY_CHILD")) {
        GTEST_SKIP() << "runs in the child of noWorkingMemory_failsCleanlyInsteadOfCrashing";
    }
    Preferences prefs;
    Renderer renderer(prefs);
    malloc_trim(0);
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0;
    statm >> pages;
    rlimit limit{};
    getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = pages * sysconf(_SC_PAGESIZE) + 64 * 1024;
    setrlimit(RLIMIT_AS, &limit);
    errno = 0;
    const bool ok = encodeAiff(renderer, "/dev/null", 10.0f);
    const int error = errno;
    _exit(!ok && error == ENOMEM ? 0 : 1);
}

TEST_F(AiffWriterTest, noWorkingMemory_failsCleanlyInsteadOfCrashing) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "an address-space limit cannot be combined with a sanitizer's shadow memory";
#endif
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("BRINESONG_MEMORY_CHILD", "1", 1);
        execl("/proc/self/exe", "export_tests", "--gtest_filter=AiffWriterMemoryChild.*",
              static_cast<char*>(nullptr));
        _exit(2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the writer crashed";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the writer did not report missing memory";
}

}  // namespace
}  // namespace brinesong
