// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/NightProgramme.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>

#include "model/Presets.h"
#include "model/Settings.h"
#include "platform/SettingsStore.h"

namespace brinesong {
namespace {

// The programme in the settings file: read back in order of its minutes, with what it does not
// know; what cannot be read is left out with a note, and all of it is written back as read. A
// step naming a preset that is gone stays, and is skipped when the night runs. The wander and the
// change-over beside it keep a value that reads and replace one that does not only when changed.
TEST(NightProgrammeTest, storageRoundTrip_keepsOrderUnknownKeysAndWhatCannotBeRead) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Brinesong.ini"));
    {
        QFile ini(file);
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(
            "[General]\nKelvane.Brinesong.WanderKey=lots\n"
            "Kelvane.Brinesong.ChangeOverSecondsKey=30\n"
            "[Night]\nenabled=false\ncolour=blue\n"
            "1\\preset=Storm\n1\\minute=90\n1\\glide=2.5\n1\\mood=wild\n"
            "2\\preset=Calm cove\n2\\minute=30\n"
            "3\\preset=Rain\n3\\minute=abc\n"
            "4\\minute=5\n"
            "5\\preset=Rain\n5\\minute=400\n5\\glide=0\n");
    }
    SettingsStore store(file);
    Settings settings;
    settings.load(store);
    const NightProgramme& programme = settings.programme;
    ASSERT_EQ(programme.steps().size(), 3u);
    EXPECT_EQ(programme.steps()[0].preset, QStringLiteral("Calm cove"));
    EXPECT_EQ(programme.steps()[0].glideMinutes, NightProgramme::kDefaultGlideMinutes);
    EXPECT_EQ(programme.steps()[1].minute, 90.0);
    EXPECT_EQ(programme.steps()[1].glideMinutes, 2.5);
    EXPECT_EQ(programme.steps()[1].unknown.value(QStringLiteral("mood")), QStringLiteral("wild"));
    EXPECT_FALSE(programme.enabled());
    EXPECT_EQ(settings.changeOverSeconds, 30);
    EXPECT_EQ(settings.wander, 0.0);
    ASSERT_EQ(settings.nightNotes.size(), 3) << settings.nightNotes.join('\n').toStdString();
    EXPECT_TRUE(settings.nightNotes[0].contains(QStringLiteral("Night/3")));
    EXPECT_TRUE(settings.nightNotes[1].contains(QStringLiteral("Night/4")));
    EXPECT_TRUE(settings.nightNotes[2].contains(QStringLiteral("WanderKey")));

    PresetBook presets;
    QStringList notes;
    settings.programme.setEnabled(true);
    const Night night = settings.programme.night(presets, notes);
    ASSERT_EQ(night.steps().size(), 2u);
    EXPECT_EQ(night.steps()[1].startFrame, 90 * 60 * 44100);
    EXPECT_EQ(night.steps()[1].glideFrames, 150 * 44100);
    EXPECT_TRUE(NightProgramme::presetMissing(programme.steps()[2], presets));
    ASSERT_EQ(notes.size(), 1);
    EXPECT_TRUE(notes[0].contains(QStringLiteral("'Rain'")));

    settings.programme.setEnabled(false);
    ASSERT_EQ(settings.save(store), QString());
    SettingsStore again(file);
    Settings reread;
    reread.load(again);
    EXPECT_EQ(reread.nightNotes.size(), 3);
    ASSERT_EQ(reread.programme.steps().size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(reread.programme.steps()[i].preset, programme.steps()[i].preset);
        EXPECT_EQ(reread.programme.steps()[i].minute, programme.steps()[i].minute);
        EXPECT_EQ(reread.programme.steps()[i].unknown, programme.steps()[i].unknown);
    }
    EXPECT_EQ(again.stringForKey(QStringLiteral("Night/colour")), QStringLiteral("blue"));
    EXPECT_EQ(again.stringForKey(QStringLiteral("Kelvane.Brinesong.WanderKey")),
              QStringLiteral("lots"));

    reread.wander = 12.5;
    std::vector<ProgrammeStep> many(NightProgramme::kMostSteps + 1, programme.steps()[0]);
    EXPECT_FALSE(reread.programme.setSteps(many));
    many.pop_back();
    EXPECT_TRUE(reread.programme.setSteps(many));
    ASSERT_EQ(reread.save(again), QString());
    SettingsStore last(file);
    Settings changed;
    changed.load(last);
    EXPECT_EQ(changed.wander, 12.5);
    EXPECT_EQ(changed.programme.steps().size(), NightProgramme::kMostSteps);
}

}  // namespace
}  // namespace brinesong
