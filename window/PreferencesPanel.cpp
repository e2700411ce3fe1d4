// SPDX-License-Identifier: GPL-3.0-or-later
#include "PreferencesPanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <cmath>
#include <cstdio>

#include "model/Settings.h"
#include "platform/Autostart.h"
#include "platform/Localization.h"
#include "window/InterfaceLoader.h"
#include "window/PresetChooser.h"
#include "window/WindowKeys.h"

namespace brinesong {

PreferencesPanel::PreferencesPanel(Preferences& preferences, QObject* parent)
    : QObject(parent), preferences_(preferences) {
    preferences_.setView(this);
}

PreferencesPanel::~PreferencesPanel() {
    if (preferences_.view() == this) {
        preferences_.setView(nullptr);
    }
    delete window.data();
}

void PreferencesPanel::showPanel() {
    if (!lightWaveSlider) {
        if (!load()) {
            std::fprintf(stderr, "Failed to load Preferences.nib\n");
            QApplication::beep();
            return;
        }
        updateUI();
    }
    window->show();
    window->raise();
    window->activateWindow();
}

bool PreferencesPanel::load() {
    QWidget* root = loadInterface(QStringLiteral("Preferences"), parentWindow_);
    QSlider* slider = outlet<QSlider>(root, "lightWaveSlider");
    if (!slider) {
        delete root;
        return false;
    }
    root->setWindowFlag(Qt::Window);
    window = slider->window();
    // A failed load leaves every outlet empty again; the panel's window going away with the main
    // window does the same.
    connect(window, &QObject::destroyed, this, [this] { clearOutlets(); });
    lightWaveSlider = slider;
    heavyWaveSlider = outlet<QSlider>(root, "heavyWaveSlider");
    ascentSlider = outlet<QSlider>(root, "ascentSlider");
    descentSlider = outlet<QSlider>(root, "descentSlider");
    waveIntervalSlider = outlet<QSlider>(root, "waveIntervalSlider");
    lightWaveText = outlet<QLabel>(root, "lightWaveText");
    heavyWaveText = outlet<QLabel>(root, "heavyWaveText");
    ascentText = outlet<QLabel>(root, "ascentText");
    descentText = outlet<QLabel>(root, "descentText");
    waveIntervalText = outlet<QLabel>(root, "waveIntervalText");
    boostSoundLevelCheckbox = outlet<QCheckBox>(root, "boostSoundLevelCheckbox");
    amplitudeGeneratorCheckbox = outlet<QCheckBox>(root, "amplitudeGeneratorCheckbox");
    mAudioOutputPopUpButton = outlet<QComboBox>(root, "mAudioOutputPopUpButton");
    resetToDefaultButton = outlet<QPushButton>(root, "resetToDefaultButton");
    keepAwakeCheckbox = outlet<QCheckBox>(root, "keepAwakeCheckbox");
    keepPlayingCheckbox = outlet<QCheckBox>(root, "keepPlayingCheckbox");
    startAtLoginCheckbox = outlet<QCheckBox>(root, "startAtLoginCheckbox");
    startAtLoginProblem = outlet<QLabel>(root, "startAtLoginProblem");
    presetChoice = outlet<QComboBox>(root, "presetChoice");
    savePresetButton = outlet<QPushButton>(root, "savePresetButton");
    savePresetAsButton = outlet<QPushButton>(root, "savePresetAsButton");
    renamePresetButton = outlet<QPushButton>(root, "renamePresetButton");
    deletePresetButton = outlet<QPushButton>(root, "deletePresetButton");
    presetNotesText = outlet<QLabel>(root, "presetNotesText");
    changeOverChoice = outlet<QComboBox>(root, "changeOverChoice");
    wanderSlider = outlet<QSlider>(root, "wanderSlider");
    wanderText = outlet<QLabel>(root, "wanderText");
    if (presets_) {
        presets_->attachChoice(presetChoice);
        presets_->attachCommands(window, savePresetButton, savePresetAsButton, renamePresetButton,
                                 deletePresetButton, presetNotesText);
    }

    auto connectSlider = [this](QSlider* control, void (PreferencesPanel::*action)()) {
        if (control) {
            connect(control, &QSlider::valueChanged, this, [this, action] {
                if (!updating_) {
                    (this->*action)();
                }
            });
        }
    };
    connectSlider(lightWaveSlider, &PreferencesPanel::lightWaveChanged);
    connectSlider(heavyWaveSlider, &PreferencesPanel::heavyWaveChanged);
    connectSlider(ascentSlider, &PreferencesPanel::ascentChanged);
    connectSlider(descentSlider, &PreferencesPanel::descentChanged);
    connectSlider(waveIntervalSlider, &PreferencesPanel::waveIntervalChanged);
    connectSlider(wanderSlider, &PreferencesPanel::wanderChanged);
    if (changeOverChoice) {
        for (const int seconds : kChangeOverChoices) {
            changeOverChoice->addItem(seconds == 0   ? Texts::tr("At once")
                                      : seconds < 60 ? Texts::tr("%1 seconds").arg(seconds)
                                                     : Texts::tr("%1 minutes").arg(seconds / 60),
                                      seconds);
        }
        setChangeOverSeconds(changeOverSeconds_);
        // Only the user's choice: showing the stored one is not one.
        connect(changeOverChoice, &QComboBox::activated, this, [this](int index) {
            const int seconds = changeOverChoice->itemData(index).toInt();
            if (seconds != changeOverSeconds_) {
                changeOverSeconds_ = seconds;
                emit changeOverChosen(seconds);
            }
        });
    }
    auto connectCheckbox = [this](QCheckBox* control, void (PreferencesPanel::*action)()) {
        if (control) {
            connect(control, &QCheckBox::toggled, this, [this, action] {
                if (!updating_) {
                    (this->*action)();
                }
            });
        }
    };
    connectCheckbox(boostSoundLevelCheckbox, &PreferencesPanel::boostSoundLevelChanged);
    connectCheckbox(amplitudeGeneratorCheckbox, &PreferencesPanel::amplitudeGeneratorChanged);
    // The preferences that are no wave settings: the box shows the value held, and only the
    // user's change of it is reported.
    auto connectPreference = [this](QCheckBox* box, bool& value,
                                    void (PreferencesPanel::*changed)(bool)) {
        if (box) {
            box->setChecked(value);
            connect(box, &QCheckBox::toggled, this, [this, &value, changed](bool checked) {
                if (!updating_ && checked != value) {
                    value = checked;
                    emit(this->*changed)(checked);
                }
            });
        }
    };
    connectPreference(keepAwakeCheckbox, keepAwake_, &PreferencesPanel::keepAwakeChanged);
    connectPreference(keepPlayingCheckbox, keepPlaying_,
                      &PreferencesPanel::keepPlayingWhenClosedChanged);
    if (startAtLoginCheckbox) {
        startAtLoginCheckbox->setChecked(startAtLogin_);
        connect(startAtLoginCheckbox, &QCheckBox::toggled, this, [this](bool checked) {
            if (!updating_ && checked != startAtLogin_) {
                startAtLoginToggled(checked);
            }
        });
    }
    if (startAtLoginProblem) {
        startAtLoginProblem->hide();
    }
    if (resetToDefaultButton) {
        connect(resetToDefaultButton, &QPushButton::clicked, this,
                &PreferencesPanel::resetToDefault);
    }
    closeButton = outlet<QPushButton>(root, "closeButton");
    bindPanelKeys(window, closeButton, [this] { emit helpRequested(); });
    awakeFromNib();
    return true;
}

void PreferencesPanel::clearOutlets() {
    lightWaveSlider = heavyWaveSlider = ascentSlider = descentSlider = waveIntervalSlider = nullptr;
    lightWaveText = heavyWaveText = ascentText = descentText = waveIntervalText = nullptr;
    boostSoundLevelCheckbox = amplitudeGeneratorCheckbox = nullptr;
    mAudioOutputPopUpButton = nullptr;
    keepAwakeCheckbox = keepPlayingCheckbox = startAtLoginCheckbox = nullptr;
    startAtLoginProblem = nullptr;
    resetToDefaultButton = nullptr;
    closeButton = nullptr;
    presetChoice = nullptr;
    savePresetButton = savePresetAsButton = renamePresetButton = deletePresetButton = nullptr;
    presetNotesText = nullptr;
    changeOverChoice = nullptr;
    wanderSlider = nullptr;
    wanderText = nullptr;
}

void PreferencesPanel::awakeFromNib() {
    // The pop-up shows the device list as it stands; the owner of the list has it drawn again at
    // every change. Only the user's choice (`activated`) routes the output: drawing the list
    // never does.
    if (!outputDevices_ || !mAudioOutputPopUpButton) {
        return;
    }
    drawDeviceList();
    connect(mAudioOutputPopUpButton, &QComboBox::activated, this, [this](int index) {
        if (outputDevices_) {
            outputDevices_->audioOutputPopUpButton(index);
        }
    });
}

void PreferencesPanel::drawDeviceList() {
    if (!outputDevices_ || !mAudioOutputPopUpButton) {
        return;
    }
    // What is drawn here is never the user's choice: the box's change signals are held back.
    const QSignalBlocker blocker(mAudioOutputPopUpButton);
    mAudioOutputPopUpButton->clear();
    const OutputSourceList& list = outputDevices_->outputSources();
    if (list.empty()) {
        mAudioOutputPopUpButton->addItem(Texts::tr("No output device"));
        mAudioOutputPopUpButton->setEnabled(false);
        return;
    }
    // One item per entry, even when titles repeat: the item's index is the entry's index.
    for (const std::string& title : list.titles()) {
        mAudioOutputPopUpButton->addItem(QString::fromStdString(title));
    }
    mAudioOutputPopUpButton->setEnabled(true);
    mAudioOutputPopUpButton->setCurrentIndex(outputDevices_->selectedIndex());
}

void PreferencesPanel::setSlider(QSlider* slider, double percent) {
    if (slider) {
        slider->setValue(static_cast<int>(std::lround(percent * kSliderStepsPerPercent)));
    }
}

double PreferencesPanel::sliderPercent(const QSlider* slider) {
    return slider->value() / kSliderStepsPerPercent;
}

void PreferencesPanel::showWhole(QLabel* text, double percent) {
    if (text) {
        // Truncated toward zero, as the settings are stored.
        text->setText(QString::number(static_cast<int>(percent)));
    }
}

void PreferencesPanel::showPreference(QCheckBox* box, bool value) {
    if (box) {
        updating_ = true;
        box->setChecked(value);
        updating_ = false;
    }
}

void PreferencesPanel::setKeepAwake(bool keepAwake) {
    keepAwake_ = keepAwake;
    showPreference(keepAwakeCheckbox, keepAwake);
}

void PreferencesPanel::setKeepPlayingWhenClosed(bool keepPlaying) {
    keepPlaying_ = keepPlaying;
    showPreference(keepPlayingCheckbox, keepPlaying);
}

void PreferencesPanel::setStartAtLogin(bool start) {
    startAtLogin_ = start;
    showPreference(startAtLoginCheckbox, start);
}

void PreferencesPanel::startAtLoginToggled(bool start) {
    const QString failure = setAutostartEntry(start, QCoreApplication::applicationFilePath());
    if (failure.isEmpty()) {
        startAtLogin_ = start;
        if (startAtLoginProblem) {
            startAtLoginProblem->hide();
        }
        emit startAtLoginChanged(start);
        return;
    }
    showPreference(startAtLoginCheckbox, startAtLogin_);
    if (startAtLoginProblem) {
        startAtLoginProblem->setText(Texts::tr("Brinesong cannot start at login: %1").arg(failure));
        startAtLoginProblem->show();
    }
}

void PreferencesPanel::setChangeOverSeconds(int seconds) {
    changeOverSeconds_ = seconds;
    if (changeOverChoice) {
        const QSignalBlocker blocker(changeOverChoice);
        changeOverChoice->setCurrentIndex(changeOverChoice->findData(seconds));
    }
}

void PreferencesPanel::updateUI() {
    updating_ = true;
    setSlider(lightWaveSlider, preferences_.lightWave());
    setSlider(heavyWaveSlider, preferences_.heavyWave());
    setSlider(ascentSlider, preferences_.ascent());
    setSlider(descentSlider, preferences_.descent());
    setSlider(waveIntervalSlider, preferences_.waveInterval());
    updateLightWaveText();
    updateHeavyWaveText();
    updateWaveIntervalText();
    updateAscentText();
    updateDescentText();
    if (wanderSlider) {
        wanderSlider->setValue(static_cast<int>(std::lround(preferences_.wander())));
    }
    showWhole(wanderText, preferences_.wander());
    if (boostSoundLevelCheckbox) {
        boostSoundLevelCheckbox->setChecked(preferences_.boostSoundLevel());
    }
    if (amplitudeGeneratorCheckbox) {
        amplitudeGeneratorCheckbox->setChecked(preferences_.amplitudeGenerator());
    }
    updating_ = false;
    updateAmplitudeGenerator();
}

void PreferencesPanel::updateLightWaveText() {
    showWhole(lightWaveText, preferences_.lightWave());
}
void PreferencesPanel::updateHeavyWaveText() {
    showWhole(heavyWaveText, preferences_.heavyWave());
}
void PreferencesPanel::updateAscentText() {
    showWhole(ascentText, preferences_.ascent());
}
void PreferencesPanel::updateDescentText() {
    showWhole(descentText, preferences_.descent());
}
void PreferencesPanel::updateWaveIntervalText() {
    showWhole(waveIntervalText, preferences_.waveInterval());
}

void PreferencesPanel::updateAmplitudeGenerator() {
    const bool enabled = preferences_.amplitudeGenerator();
    for (QSlider* slider : {ascentSlider, descentSlider, waveIntervalSlider}) {
        if (slider) {
            slider->setEnabled(enabled);
        }
    }
}

// The sliders' range is 0 to 100 percent, the range the setters accept, so going through them
// stores the slider's value unchanged.
void PreferencesPanel::lightWaveChanged() {
    preferences_.setLightWave(sliderPercent(lightWaveSlider));
    emit soundSettingsChanged();
}
void PreferencesPanel::heavyWaveChanged() {
    preferences_.setHeavyWave(sliderPercent(heavyWaveSlider));
    emit soundSettingsChanged();
}
void PreferencesPanel::ascentChanged() {
    preferences_.setAscent(sliderPercent(ascentSlider));
    emit soundSettingsChanged();
}
void PreferencesPanel::descentChanged() {
    preferences_.setDescent(sliderPercent(descentSlider));
    emit soundSettingsChanged();
}
void PreferencesPanel::waveIntervalChanged() {
    preferences_.setWaveInterval(sliderPercent(waveIntervalSlider));
    emit soundSettingsChanged();
}

// Not one of the seven: it moves them about their values, so a change is no change-over.
void PreferencesPanel::wanderChanged() {
    preferences_.setWander(wanderSlider->value());
    showWhole(wanderText, preferences_.wander());
    emit wanderMoved(preferences_.wander());
}

void PreferencesPanel::boostSoundLevelChanged() {
    preferences_.setBoostSoundLevel(boostSoundLevelCheckbox->isChecked());
    emit soundSettingsChanged();
}

void PreferencesPanel::amplitudeGeneratorChanged() {
    preferences_.setAmplitudeGenerator(amplitudeGeneratorCheckbox->isChecked());
    updateAmplitudeGenerator();
    emit soundSettingsChanged();
}

void PreferencesPanel::resetToDefault() {
    preferences_.setDeafaultValue();
    updateUI();
    emit soundSettingsChanged();
}

}  // namespace brinesong
