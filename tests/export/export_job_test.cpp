// SPDX-License-Identifier: GPL-3.0-or-later
#include "export/ExportJob.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/Files.h"

namespace brinesong {
namespace {

namespace fs = std::filesystem;

// The format: the one given, else the one the extension names (in any case), else AIFF with the
// AIFF rule; the given format's extension is appended unless the name has one of its own.
TEST(ExportJobTest, exportTarget_formatFromChoiceOrExtension_elseAiff) {
    const auto target = [](const std::string& path, const char* chosen) {
        const ExportTarget t = exportTarget(path, chosen ? formatNamed(chosen) : nullptr);
        return t.path + " " + std::string(t.format->name);
    };
    EXPECT_EQ(target("/tmp/Night", nullptr), "/tmp/Night.aif aiff");
    EXPECT_EQ(target("/tmp/Night.snd", nullptr), "/tmp/Night.snd.aif aiff");
    EXPECT_EQ(target("/tmp/Night.Aiff", nullptr), "/tmp/Night.Aiff aiff");
    EXPECT_EQ(target("/tmp/Night.aif", nullptr), "/tmp/Night.aif aiff");
    EXPECT_EQ(target("Night.aifc", nullptr), "Night.aifc.aif aiff");
    EXPECT_EQ(target("/tmp/Night.FLAC", nullptr), "/tmp/Night.FLAC flac");
    EXPECT_EQ(target("/tmp/Night.wav", nullptr), "/tmp/Night.wav wav");
    EXPECT_EQ(target("/tmp/Night.ogg", nullptr), "/tmp/Night.ogg opus");
    EXPECT_EQ(target("/tmp/mp3.d/Night", nullptr), "/tmp/mp3.d/Night.aif aiff");
    EXPECT_EQ(target("/tmp/night.aif/Night", nullptr), "/tmp/night.aif/Night.aif aiff");
    EXPECT_EQ(target("/tmp/Night", "mp3"), "/tmp/Night.mp3 mp3");
    EXPECT_EQ(target("/tmp/Night.wav", "flac"), "/tmp/Night.wav.flac flac");
    EXPECT_EQ(target("/tmp/Night.aif", "aiff"), "/tmp/Night.aif aiff");
    EXPECT_EQ(formatNamed("Opus"), formatNamed("opus"));
    EXPECT_EQ(formatNamed("ogg"), nullptr);
}

TEST(ExportJobTest, exportSeconds_capsAtFourHundredMinutes) {
    EXPECT_EQ(exportSeconds(500.0f), 24000.0f);
    EXPECT_EQ(exportSeconds(400.0f), 24000.0f);
    EXPECT_EQ(exportSeconds(2.5f), 150.0f);
    EXPECT_EQ(exportSeconds(0.0f), 0.0f);
}

class ExportToFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch_.valid()); }

    // The names in the folder, hidden ones included.
    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            found.push_back(entry.path().filename().string());
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    Preferences prefs_;
    Renderer renderer_{prefs_};
    testing::ScratchDir scratch_{"brinesong-job"};
    const fs::path& dir_ = scratch_.path();
};

TEST_F(ExportToFileTest, throughALink_theTargetIsReplacedAndTheLinkStays) {
    const fs::path target = dir_ / "notes.txt";
    std::ofstream(target) << "a text of the user's";
    fs::create_symlink("notes.txt", dir_ / "surf.aif");
    const ExportOutcome outcome = exportToFile(renderer_, dir_ / "surf.aif", 1.0f, {});
    EXPECT_TRUE(outcome.saved);
    EXPECT_TRUE(fs::is_symlink(dir_ / "surf.aif"));
    EXPECT_EQ(fs::read_symlink(dir_ / "surf.aif"), "notes.txt");
    EXPECT_EQ(fs::file_size(target), 54u + 4u * 44100u);
    EXPECT_EQ(names(), (std::vector<std::string>{"notes.txt", "surf.aif"}));
}

TEST_F(ExportToFileTest, deviceThroughALink_writtenInPlace_failureRemovesNothing) {
    const fs::path link = dir_ / "full.aif";
    fs::create_symlink("/dev/full", link);
    ExportOutcome outcome = exportToFile(renderer_, link, 3.0f, {});
    EXPECT_FALSE(outcome.saved);
    EXPECT_EQ(outcome.error, ENOSPC);
    // Zero frames: only the header is written, and it fails when the stream is flushed.
    outcome = exportToFile(renderer_, link, 0.0f, {});
    EXPECT_FALSE(outcome.saved);
    EXPECT_EQ(outcome.error, ENOSPC);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    EXPECT_EQ(names(), std::vector<std::string>{"full.aif"});
}

TEST_F(ExportToFileTest, unopenablePath_reportsWhy_andTouchesNothing) {
    const ExportOutcome outcome = exportToFile(renderer_, dir_ / "missing" / "x.aif", 1.0f, {});
    EXPECT_FALSE(outcome.saved);
    EXPECT_EQ(outcome.error, ENOENT);
    fs::create_directory(dir_ / "adir.aif");
    EXPECT_EQ(exportToFile(renderer_, dir_ / "adir.aif", 1.0f, {}).error, EISDIR);
    EXPECT_TRUE(fs::is_directory(dir_ / "adir.aif"));
    EXPECT_EQ(names(), std::vector<std::string>{"adir.aif"});
}

// An abort is no failure, whether it is seen between blocks or by a write waiting for room in a
// FIFO whose reader holds it open but has stopped reading; it leaves a file as it was.
TEST_F(ExportToFileTest, abort_isNotAnError_andLeavesTheFileAsItWas) {
    std::ofstream(dir_ / "a.aif") << "an earlier export";
    ExportAbort abort;
    abort.request();
    ExportHooks hooks;
    hooks.abortSave = &abort;
    ExportOutcome outcome = exportToFile(renderer_, dir_ / "a.aif", 10.0f, hooks);
    EXPECT_FALSE(outcome.saved);
    EXPECT_EQ(outcome.error, 0);
    EXPECT_EQ(fs::file_size(dir_ / "a.aif"), 17u);
    EXPECT_EQ(names(), std::vector<std::string>{"a.aif"});

    const fs::path fifo = dir_ / "stalled.mp3";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    abort.reset();
    std::thread requester([&] {
        testing::fillsAndStops(reader);  // the writer waits for room: the abort must end that
        abort.request();
    });
    outcome = exportToFile(renderer_, fifo, 600.0f, hooks, *formatNamed("mp3"));
    requester.join();
    ::close(reader);
    EXPECT_FALSE(outcome.saved);
    EXPECT_EQ(outcome.error, 0);
    EXPECT_TRUE(fs::is_fifo(fifo));
}

}  // namespace
}  // namespace brinesong
