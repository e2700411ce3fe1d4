#include "export/ExportJob.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace brinesong {
namespace {

namespace fs = std::filesystem;

TEST(ExportJobTest, withAiffExtension_keepsAifOrAiffInAnyCase_appendsOtherwise) {
    EXPECT_EQ(withAiffExtension("/tmp/Brinesong"), "/tmp/Brinesong.aif");
    EXPECT_EQ(withAiffExtension("/tmp/Night.aif"), "/tmp/Night.aif");
    EXPECT_EQ(withAiffExtension("/tmp/Night.AIFF"), "/tmp/Night.AIFF");
    EXPECT_EQ(withAiffExtension("/tmp/Night.Aiff"), "/tmp/Night.Aiff");
    EXPECT_EQ(withAiffExtension("/tmp/Night.snd"), "/tmp/Night.snd.aif");
    EXPECT_EQ(withAiffExtension("/tmp/dir.aif/Night"), "/tmp/dir.aif/Night.aif");
    EXPECT_EQ(withAiffExtension("Night.aifc"), "Night.aifc.aif");
}

TEST(ExportJobTest, exportSeconds_capsAtFourHundredMinutes) {
    EXPECT_EQ(exportSeconds(500.0f), 24000.0f);
    EXPECT_EQ(exportSeconds(400.0f), 24000.0f);
    EXPECT_EQ(exportSeconds(2.5f), 150.0f);
    EXPECT_EQ(exportSeconds(0.0f), 0.0f);
}

class ExportToFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("brinesong-job-" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    Preferences prefs_;
    Renderer renderer_{prefs_};
    fs::path dir_;
};

TEST_F(ExportToFileTest, fullDisk_reportsNoSpace_andRemovalKeepsTheDevice) {
    const fs::path link = dir_ / "full.aif";
    fs::create_symlink("/dev/full", link);
    const ExportOutcome outcome = exportToFile(renderer_, link, 3.0f, {});
    EXPECT_FALSE(outcome.saved);
    EXPECT_EQ(outcome.error, ENOSPC);
    removeFailedExport(link);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    removeFailedExport("/dev/full");  // a device named directly is never removed
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

TEST_F(ExportToFileTest, closeFailure_onAnEmptyExport_isAFailure) {
    // Zero frames: only the header is written, and it fails when the stream is flushed at close.
    const fs::path link = dir_ / "empty.aif";
    fs::create_symlink("/dev/full", link);
    const ExportOutcome outcome = exportToFile(renderer_, link, 0.0f, {});
    EXPECT_FALSE(outcome.saved);
    EXPECT_EQ(outcome.error, ENOSPC);
}

TEST_F(ExportToFileTest, unopenablePath_reportsWhy_andTouchesNothing) {
    const ExportOutcome outcome = exportToFile(renderer_, dir_ / "missing" / "x.aif", 1.0f, {});
    EXPECT_FALSE(outcome.saved);
    EXPECT_EQ(outcome.error, ENOENT);
    fs::create_directory(dir_ / "adir.aif");
    EXPECT_EQ(exportToFile(renderer_, dir_ / "adir.aif", 1.0f, {}).error, EISDIR);
    removeFailedExport(dir_ / "adir.aif");
    EXPECT_TRUE(fs::is_directory(dir_ / "adir.aif"));
}

TEST_F(ExportToFileTest, abort_isNotAnError) {
    std::atomic<bool> abort{true};
    ExportHooks hooks;
    hooks.abortSave = &abort;
    const ExportOutcome outcome = exportToFile(renderer_, dir_ / "a.aif", 10.0f, hooks);
    EXPECT_FALSE(outcome.saved);
    EXPECT_EQ(outcome.error, 0);
    removeFailedExport(dir_ / "a.aif");
    EXPECT_FALSE(fs::exists(dir_ / "a.aif"));
}

}  // namespace
}  // namespace brinesong
