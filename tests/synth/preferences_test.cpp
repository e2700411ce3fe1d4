// SPDX-License-Identifier: GPL-3.0-or-later
#include "synth/Preferences.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace brinesong {
namespace {

struct CountingView : PreferencesView {
    int light = 0, heavy = 0, ascent = 0, descent = 0, interval = 0;
    void updateLightWaveText() override { ++light; }
    void updateHeavyWaveText() override { ++heavy; }
    void updateAscentText() override { ++ascent; }
    void updateDescentText() override { ++descent; }
    void updateWaveIntervalText() override { ++interval; }
};

TEST(PreferencesTest, percentSetters_outOfRangeOrNaN_keepValueAndStillRefreshText) {
    Preferences prefs;
    CountingView view;
    prefs.setView(&view);
    prefs.setLightWave(100.0);
    EXPECT_EQ(prefs.lightWave(), 100.0);
    for (const double bad : {100.5, -1.0, std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity()}) {
        prefs.setLightWave(bad);
        EXPECT_EQ(prefs.lightWave(), 100.0) << bad;
    }
    EXPECT_EQ(view.light, 5);

    prefs.setAscent(-0.0);  // not below zero
    EXPECT_EQ(prefs.ascent(), 0.0);
    prefs.setHeavyWave(37.25);
    prefs.setDescent(0.0);
    prefs.setWaveInterval(101.0);
    EXPECT_EQ(prefs.heavyWave(), 37.25);
    EXPECT_EQ(prefs.descent(), 0.0);
    EXPECT_EQ(prefs.waveInterval(), 50.0);
    EXPECT_EQ(view.ascent + view.heavy + view.descent + view.interval, 4);
}

TEST(PreferencesTest, setDeafaultValue_afterChanges_restoresAllSeven) {
    Preferences prefs;
    prefs.setLightWave(1);
    prefs.setHeavyWave(2);
    prefs.setAscent(3);
    prefs.setDescent(4);
    prefs.setWaveInterval(5);
    prefs.setBoostSoundLevel(true);
    prefs.setAmplitudeGenerator(false);
    prefs.setDeafaultValue();
    EXPECT_EQ(prefs.lightWave(), 75.0);
    EXPECT_EQ(prefs.heavyWave(), 100.0);
    EXPECT_EQ(prefs.ascent(), 50.0);
    EXPECT_EQ(prefs.descent(), 50.0);
    EXPECT_EQ(prefs.waveInterval(), 50.0);
    EXPECT_FALSE(prefs.boostSoundLevel());
    EXPECT_TRUE(prefs.amplitudeGenerator());
}

TEST(PreferencesTest, sharedInstance_isOneObject) {
    Preferences& a = Preferences::sharedInstance();
    a.setLightWave(12.0);
    EXPECT_EQ(&a, &Preferences::sharedInstance());
    EXPECT_EQ(Preferences::sharedInstance().lightWave(), 12.0);
    a.setDeafaultValue();
}

}  // namespace
}  // namespace brinesong
