// SPDX-License-Identifier: GPL-3.0-or-later
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>
#include <vector>

#include "support/StderrCapture.h"
#include "synth/Renderer.h"
#include "window/InterfaceLoader.h"
#include "window/PreferencesPanel.h"

using namespace brinesong;

class PreferencesPanelTest : public QObject {
    Q_OBJECT
private slots:
    void init() { setInterfaceDirectory(QString()); }

    void showPanel_settingsLoadedBefore_fillsEveryControl() {
        Preferences preferences;
        PreferencesPanel panel(preferences);
        preferences.setLightWave(62);
        preferences.setHeavyWave(37.9);
        preferences.setAscent(10);
        preferences.setDescent(0);
        preferences.setWaveInterval(100);
        preferences.setBoostSoundLevel(true);
        preferences.setAmplitudeGenerator(false);
        QVERIFY(!panel.isLoaded());

        panel.showPanel();
        QVERIFY(panel.isLoaded());
        QVERIFY(panel.panelWindow()->isVisible());
        QCOMPARE(panel.lightWaveSlider->value(), 620);
        QCOMPARE(panel.heavyWaveSlider->value(), 379);
        QCOMPARE(panel.ascentSlider->value(), 100);
        QCOMPARE(panel.descentSlider->value(), 0);
        QCOMPARE(panel.waveIntervalSlider->value(), 1000);
        QCOMPARE(panel.lightWaveText->text(), QStringLiteral("62"));
        QCOMPARE(panel.heavyWaveText->text(), QStringLiteral("37"));
        QCOMPARE(panel.waveIntervalText->text(), QStringLiteral("100"));
        QVERIFY(panel.boostSoundLevelCheckbox->isChecked());
        QVERIFY(!panel.amplitudeGeneratorCheckbox->isChecked());
        QVERIFY(!panel.ascentSlider->isEnabled());
        QVERIFY(!panel.descentSlider->isEnabled());
        QVERIFY(!panel.waveIntervalSlider->isEnabled());
        QVERIFY(panel.lightWaveSlider->isEnabled());
        QVERIFY(panel.ascentText->isEnabled());
        // Loading did not write the settings back through the sliders.
        QCOMPARE(preferences.heavyWave(), 37.9);
        // The device list fills the pop-up later; until then it is there and empty.
        QVERIFY(panel.mAudioOutputPopUpButton);
        QCOMPARE(panel.mAudioOutputPopUpButton->count(), 0);
    }

    void sliderMoved_fraction_storesValueAndShowsWholeNumber() {
        Preferences preferences;
        PreferencesPanel panel(preferences);
        panel.showPanel();
        panel.lightWaveSlider->setValue(749);
        QCOMPARE(preferences.lightWave(), 74.9);
        QCOMPARE(panel.lightWaveText->text(), QStringLiteral("74"));
        panel.waveIntervalSlider->triggerAction(QAbstractSlider::SliderToMaximum);
        QCOMPARE(preferences.waveInterval(), 100.0);
        QCOMPARE(panel.waveIntervalText->text(), QStringLiteral("100"));
        panel.descentSlider->triggerAction(QAbstractSlider::SliderToMinimum);
        QCOMPARE(preferences.descent(), 0.0);
        QCOMPARE(panel.descentText->text(), QStringLiteral("0"));
    }

    void amplitudeGeneratorToggled_followsWithThreeSlidersOnly() {
        Preferences preferences;
        PreferencesPanel panel(preferences);
        panel.showPanel();
        panel.amplitudeGeneratorCheckbox->click();
        QVERIFY(!preferences.amplitudeGenerator());
        for (QSlider* slider :
             {panel.ascentSlider, panel.descentSlider, panel.waveIntervalSlider}) {
            QVERIFY(!slider->isEnabled());
        }
        QVERIFY(panel.lightWaveSlider->isEnabled());
        QVERIFY(panel.heavyWaveSlider->isEnabled());
        QCOMPARE(panel.ascentText->text(), QStringLiteral("50"));
        panel.amplitudeGeneratorCheckbox->click();
        QVERIFY(preferences.amplitudeGenerator());
        for (QSlider* slider :
             {panel.ascentSlider, panel.descentSlider, panel.waveIntervalSlider}) {
            QVERIFY(slider->isEnabled());
        }
        panel.boostSoundLevelCheckbox->click();
        QVERIFY(preferences.boostSoundLevel());
    }

    // That the output device stays is seen against the real device list, in output_devices_test.
    void restoreDefaults_afterChanges_showsTheDefaults() {
        Preferences preferences;
        PreferencesPanel panel(preferences);
        panel.showPanel();
        panel.lightWaveSlider->setValue(10);
        panel.heavyWaveSlider->setValue(20);
        panel.ascentSlider->setValue(30);
        panel.boostSoundLevelCheckbox->click();
        panel.amplitudeGeneratorCheckbox->click();

        panel.resetToDefaultButton->click();
        QCOMPARE(preferences.lightWave(), 75.0);
        QCOMPARE(preferences.heavyWave(), 100.0);
        QCOMPARE(preferences.ascent(), 50.0);
        QVERIFY(!preferences.boostSoundLevel());
        QVERIFY(preferences.amplitudeGenerator());
        QCOMPARE(panel.lightWaveSlider->value(), 750);
        QCOMPARE(panel.heavyWaveText->text(), QStringLiteral("100"));
        QCOMPARE(panel.ascentText->text(), QStringLiteral("50"));
        QVERIFY(!panel.boostSoundLevelCheckbox->isChecked());
        QVERIFY(panel.amplitudeGeneratorCheckbox->isChecked());
        QVERIFY(panel.ascentSlider->isEnabled());
    }

    // Keys as the window system delivers them: F1 asks for the help; Escape closes an open
    // pop-up first, then the panel; Ctrl+W and the Close button close it too.
    void keysAndCloseButton_closeThePanel_f1AsksForHelp() {
        Preferences preferences;
        PreferencesPanel panel(preferences);
        QSignalSpy help(&panel, &PreferencesPanel::helpRequested);
        panel.showPanel();
        QWidget* window = panel.panelWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window->windowHandle(), Qt::Key_F1);
        QCOMPARE(help.size(), 1);

        panel.mAudioOutputPopUpButton->addItems({QStringLiteral("Speakers")});
        panel.mAudioOutputPopUpButton->showPopup();
        QTRY_VERIFY(QApplication::activePopupWidget());
        QTest::keyClick(window->windowHandle(), Qt::Key_Escape);
        QTRY_VERIFY(!QApplication::activePopupWidget());
        QVERIFY(window->isVisible());
        QTest::keyClick(window->windowHandle(), Qt::Key_Escape);
        QVERIFY(!window->isVisible());

        for (const bool byButton : {false, true}) {
            panel.showPanel();
            QVERIFY(QTest::qWaitForWindowActive(window));
            if (byButton) {
                panel.closeButton->click();
            } else {
                QTest::keyClick(window->windowHandle(), Qt::Key_W, Qt::ControlModifier);
            }
            QVERIFY(!window->isVisible());
        }
    }

    // "Start at login" installs the autostart entry, which starts the program in the tray, and
    // unticked removes it. Where the entry cannot be written the panel says why, and the box
    // stays as it was.
    void startAtLogin_entryInstalledAndRemoved_failureSaidInThePanel() {
        Preferences preferences;
        PreferencesPanel panel(preferences);
        QSignalSpy changed(&panel, &PreferencesPanel::startAtLoginChanged);
        panel.showPanel();
        const QString folder =
            qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart");
        const QString entry = folder + QStringLiteral("/org.kelvane.Brinesong.desktop");

        panel.startAtLoginCheckbox->click();
        QCOMPARE(changed.size(), 1);
        QFile written(entry);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(written.readAll());
        QVERIFY2(text.contains(QStringLiteral("\nExec=\"%1\" --hidden\n")
                                   .arg(QCoreApplication::applicationFilePath())),
                 qPrintable(text));
        panel.startAtLoginCheckbox->click();
        QCOMPARE(changed.size(), 2);
        QVERIFY(!changed.last().at(0).toBool());
        QVERIFY(!QFile::exists(entry));

        // A file stands where the folder goes.
        QVERIFY(QDir(folder).removeRecursively());
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        panel.startAtLoginCheckbox->click();
        QCOMPARE(changed.size(), 2);
        QVERIFY(!panel.startAtLoginCheckbox->isChecked());
        QVERIFY(panel.startAtLoginProblem->isVisible());
        QVERIFY2(panel.startAtLoginProblem->text().contains(folder),
                 qPrintable(panel.startAtLoginProblem->text()));
        QVERIFY(blocker.remove());
    }

    void showPanel_descriptionMissing_logsAndRetriesLater() {
        QTemporaryDir folder;
        setInterfaceDirectory(folder.path());
        Preferences preferences;
        PreferencesPanel panel(preferences);
        StderrCapture log;
        panel.showPanel();
        QCOMPARE(log.text(), QStringLiteral("Failed to load Preferences.nib\n"));
        QVERIFY(!panel.isLoaded());
        QVERIFY(!panel.panelWindow());

        QVERIFY(QFile::copy(QStringLiteral(":/interfaces/Preferences.ui"),
                            folder.filePath(QStringLiteral("Preferences.ui"))));
        panel.showPanel();
        QVERIFY(panel.isLoaded());
        QVERIFY(panel.panelWindow()->isVisible());
    }

    // The renderer reads the settings at every buffer: a slider moved between two buffers changes
    // the second. Both levels at 0 leave nothing to hear.
    void slidersAtZero_betweenBuffers_nextBufferIsSilent() {
        Preferences preferences;
        PreferencesPanel panel(preferences);
        panel.showPanel();
        RandomSource random(7);
        Renderer renderer(preferences, random);
        renderer.volume.store(1.0);
        RenderRun run(renderer, Renderer::kLiveFade);
        constexpr uint32_t kFrames = 4410;
        auto render = [&] {
            std::vector<int16_t> left(kFrames), right(kFrames);
            AudioBufferList list{2,
                                 {{1, kFrames * 2, left.data()}, {1, kFrames * 2, right.data()}}};
            RendererData request{nullptr, nullptr, 0, kFrames, &list};
            run.renderWave(&request);
            int peak = 0;
            for (uint32_t i = 0; i < kFrames; ++i) {
                peak = std::max({peak, std::abs(int(left[i])), std::abs(int(right[i]))});
            }
            return peak;
        };
        render();  // past the fade-in
        QVERIFY(render() > 0);
        panel.lightWaveSlider->setValue(0);
        panel.heavyWaveSlider->setValue(0);
        QCOMPARE(render(), 0);
    }
};

QTEST_MAIN(PreferencesPanelTest)
#include "preferences_panel_test.moc"
