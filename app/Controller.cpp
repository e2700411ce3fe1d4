// SPDX-License-Identifier: GPL-3.0-or-later
#include "Controller.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QMainWindow>
#include <QMessageBox>
#include <QSessionManager>
#include <QSignalBlocker>
#include <QVersionNumber>
#include <cmath>
#include <cstdio>

#include "audio/OutputDeviceSelection.h"
#include "platform/Localization.h"
#include "platform/SettingsStore.h"
#include "synth/RandomSource.h"
#include "window/ScheduleControls.h"
#include "window/WavePicture.h"

namespace brinesong {

namespace {

// The tray's sleep timer, in minutes.
constexpr int kSleepTimerChoices[] = {15, 30, 60, 90};

}  // namespace

Controller::Controller(OutputUnit& unit, SettingsStore& store, Clock clock, int minuteMs,
                       QObject* parent)
    : QObject(parent),
      renderer_(Preferences::sharedInstance()),
      engine_(renderer_, unit, *this),
      schedule_(clock,
                ScheduleHost{[this] { playStop(); }, [this] { return isPlaying(); },
                             [this] { return isSaving(); },
                             [this](double secondsToEnd, double seconds) {
                                 if (seconds > 0.0) {
                                     engine_.setSleepFade(secondsToEnd, seconds);
                                 } else {
                                     engine_.clearSleepFade();
                                 }
                             },
                             [this](double seconds) { startRising(seconds); },
                             [this] { return engine_.riseSecondsLeft(); },
                             // The window answers: a stop check waits for its dialog or menu.
                             [] { return modalOrMenuRunning(); }},
                minuteMs),
      exportFlow_(renderer_, engine_.renderLock, [this] { return isPlaying(); }),
      trayMenu_(TrayActions{
          [this] { return isPlaying(); }, [this] { return isSaving(); }, [this] { playStop(); },
          [this] { showWindow(); }, [this] { quit(); }, [this] { return presetChoices(); },
          [this] { return sleepTimerChoices(); }, [this] { showNightProgramme(); }}),
      preferencesPanel_(Preferences::sharedInstance()),
      store_(store),
      clock_(std::move(clock)),
      presetChooser_(settings_, Preferences::sharedInstance()),
      nightPanel_(settings_.programme, settings_.presets,
                  [this] {
                      return settings_.programme.save(store_)
                                 ? QString()
                                 : Texts::tr("%1 cannot be written.")
                                       .arg(QDir::toNativeSeparators(store_.fileName()));
                  }),
      view_(WindowActions{[this] { return isPlaying(); }, [this] { return isSaving(); },
                          [this] { playStop(); }, [this] { cancel(); }, [this] { saveAs(); },
                          [this] { showPreferences(); },
                          [this](double volume) { takeVolume(volume); },
                          [this] { return closesToTray(); }, [this] { quit(); },
                          [this] { showNightProgramme(); }},
            schedule_, renderTap_) {
    engine_.setRenderTap(&renderTap_);
    connect(&exportFlow_, &ExportFlow::savingChanged, &view_, &MainWindowView::validateMenus);
    // The first to hear of a change: the button and the menus are right before anyone else looks.
    connect(this, &Controller::playStateChanged, &view_, &MainWindowView::showPlayState);
    // The sound starting or stopping is the user's next action after a missed start.
    connect(this, &Controller::playStateChanged, &schedule_, &Schedule::playStateChanged);
    connect(&view_, &MainWindowView::statusLineChanged, this, [this](const QString& line) {
        trayMenu_.setToolTip(QStringLiteral("Brinesong: %1").arg(line));
    });
    // A change is heard at once: a playback renders what it has queued again. Under a night it
    // takes over from the steps that hold the sound, at once.
    connect(&preferencesPanel_, &PreferencesPanel::soundSettingsChanged, this, [this] {
        if (!nightPlan_.steps.empty()) {
            engine_.glideSettings(0.0);
        }
        engine_.soundChanged();
    });
    connect(&preferencesPanel_, &PreferencesPanel::wanderMoved, this, [this](double points) {
        settings_.wander = points;
        settings_.wanderUnreadable = false;
        engine_.soundChanged();
    });
    connect(&preferencesPanel_, &PreferencesPanel::changeOverChosen, this,
            [this](int seconds) { settings_.changeOverSeconds = seconds; });
    // Every way of choosing a preset glides to it over the chosen change-over.
    presetChooser_.setSeaChanger([this](const WaveValues& values) {
        changeSeaTo(values, Preferences::sharedInstance(), engine_, settings_.changeOverSeconds);
    });
    // A slider that moves away from the preset's values marks it changed.
    connect(&preferencesPanel_, &PreferencesPanel::soundSettingsChanged, &presetChooser_,
            &PresetChooser::settingsChanged);
    connect(&presetChooser_, &PresetChooser::applied, &preferencesPanel_,
            &PreferencesPanel::updateUI);
    // The steps follow the presets: a renamed one is renamed in them, a deleted one shows missing.
    connect(&presetChooser_, &PresetChooser::presetsShown, &nightPanel_,
            &NightPanel::presetsChanged);
    connect(&presetChooser_, &PresetChooser::renamed, this,
            [this](const QString& from, const QString& to) {
                settings_.programme.presetRenamed(from, to);
                nightPanel_.programmeChanged();
            });
    connect(&nightPanel_, &NightPanel::helpRequested, &view_, &MainWindowView::showHelp);
    nightTimer_.setInterval(1000);
    connect(&nightTimer_, &QTimer::timeout, this, &Controller::followNight);
    preferencesPanel_.setPresetChooser(&presetChooser_);
    connect(&preferencesPanel_, &PreferencesPanel::helpRequested, &view_,
            &MainWindowView::showHelp);
    connect(&preferencesPanel_, &PreferencesPanel::keepAwakeChanged, this, [this](bool keepAwake) {
        settings_.keepAwake = keepAwake;
        emit keepAwakeChanged(keepAwake);
    });
    connect(&preferencesPanel_, &PreferencesPanel::keepPlayingWhenClosedChanged, this,
            [this](bool keepPlaying) { settings_.keepPlayingWhenClosed = keepPlaying; });
    connect(&preferencesPanel_, &PreferencesPanel::startAtLoginChanged, this,
            [this](bool start) { settings_.startAtLogin = start; });
}

Controller::~Controller() {
    if (outputDevices_) {
        outputDevices_->setChangeHandler(nullptr);
    }
    if (!terminated_) {
        // No playback may call back into a controller that is going away.
        engine_.requestStop();
        engine_.waitForWaitThreads();
    }
    // The view, the last member, goes first and takes the window with it.
}

void Controller::setOutputDevices(OutputDeviceSelection* selection, OutputRouting* routing) {
    if (outputDevices_) {
        outputDevices_->setChangeHandler(nullptr);
    }
    outputDevices_ = selection;
    outputRouting_ = routing;
    preferencesPanel_.setOutputDeviceSelection(selection);
    if (selection) {
        // The pop-up and the status line follow the list.
        selection->setChangeHandler([this] {
            preferencesPanel_.drawDeviceList();
            statusChanged();
        });
    }
}

bool Controller::awakeFromNib() {
    // The Qt found at run time must be at least the one the program was built with.
    if (QLibraryInfo::version() < QVersionNumber::fromString(QLatin1String(QT_VERSION_STR))) {
        QMessageBox::critical(nullptr, QString(),
                              QStringLiteral("Sorry, Brinesong runs only with Qt %1 or later.")
                                  .arg(QLatin1String(QT_VERSION_STR)));
        return false;
    }
    if (!view_.load()) {
        std::fprintf(stderr, "Failed to load MainWindow.ui\n");
        QApplication::beep();
        return false;
    }
    if (view_.wavePicture) {
        connect(this, &Controller::playStateChanged, view_.wavePicture, &WavePicture::setPlaying);
    }
    preferencesPanel_.setParentWindow(view_.window);
    nightPanel_.setParentWindow(view_.window);
    presetChooser_.attachChoice(view_.presetChoice);
    if (!exportFlow_.load(view_.window)) {
        std::fprintf(stderr, "Failed to load the export sheets\n");
    }
    engine_.openAudioOutput();
    loadSettings();
    sharedRandomSource().seedFromEntropy();
    view_.connectActions();
    // Closing the last window, the Quit command and the termination signals all end the event
    // loop; the termination sequence runs once it has.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &Controller::applicationWillTerminate);
    // The session ends: what can be written is written now, before the session ends the program.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] {
        if (const QString failure = saveSettings(); !failure.isEmpty()) {
            std::fprintf(stderr, "Failed to write the settings to %s: %s\n",
                         qPrintable(store_.fileName()), qPrintable(failure));
        }
    });
    view_.validateMenus();
    trayMenu_.showIcon(symbolicIcon());
    statusChanged();
    if (!startHidden_) {
        view_.window->show();
        view_.window->raise();
        view_.window->activateWindow();
    }
    return true;
}

void Controller::loadSettings() {
    settings_.load(store_);
    if (!store_.isWritable()) {
        view_.setUnwritableSettingsFile(store_.fileName());
    }
    // First, so the frame the window had when last closed is the one it opens with.
    view_.setShowWaves(settings_.showWaves);
    if (!settings_.windowFrame.isEmpty()) {
        view_.window->restoreGeometry(settings_.windowFrame);
        // Saved on a larger screen, or after a long name once widened the window.
        view_.fitToScreen();
    }
    renderer_.setVolume(settings_.volume);
    schedule_.showNextStart(settings_.startTime);
    schedule_.setMinutes(settings_.minutes);
    schedule_.setFadeMinutes(settings_.fadeMinutes);
    schedule_.setRiseMinutes(settings_.riseMinutes);
    schedule_.setRepeatsDaily(settings_.repeatStart);
    settings_.applyWaveSettings(Preferences::sharedInstance());
    Preferences::sharedInstance().setWander(settings_.wander);
    for (const QString& note : settings_.nightNotes) {
        std::fprintf(stderr, "brinesong: %s\n", qPrintable(note));
    }
    // The presets left out are said in the panel, where the user looks for them.
    presetChooser_.reload(settings_.presetNotes);
    presetChooser_.setWriter(store_.fileName(), [this] { return settings_.savePresets(store_); });
    preferencesPanel_.setKeepAwake(settings_.keepAwake);
    preferencesPanel_.setChangeOverSeconds(settings_.changeOverSeconds);
    preferencesPanel_.setKeepPlayingWhenClosed(settings_.keepPlayingWhenClosed);
    preferencesPanel_.setStartAtLogin(settings_.startAtLogin);
    exportFlow_.setLastFolder(settings_.exportFolder);
    if (settings_.exportMinutes) {
        exportFlow_.setChosenMinutes(*settings_.exportMinutes);
    }
    exportFlow_.setChosenFormat(settings_.exportFormat);
    if (outputDevices_) {
        // The unit is open by now: route it to the saved device, else the default one.
        outputDevices_->setAudioOutput(outputRouting_);
        outputDevices_->setOutputDeviceName(
            settings_.outputDeviceName.isEmpty()
                ? std::nullopt
                : std::optional(settings_.outputDeviceName.toStdString()));
        settings_.outputDeviceName = QString::fromStdString(outputDevices_->outputDeviceName());
    }
    view_.showVolume(renderer_.volume.load());
}

void Controller::applicationDidFinishLaunching() {
    if (settings_.firstLaunch && !startHidden_) {
        view_.showHelp();
    }
}

void Controller::applicationWillTerminate() {
    if (terminated_) {
        return;
    }
    terminated_ = true;
    // A playback waiting for the server or a device will not start now.
    engine_.cancelWaitToPlay();
    // A just-started export worker or playback wait thread may not hold the render lock yet, so
    // the lock alone does not tell whether sound is being produced: a playback whose wait thread
    // took the lock only after this looked would never be asked to stop, and the wait for it
    // below would last for ever.
    const bool exporting = exportFlow_.workerRunning();
    const bool playing = engine_.isPlaying();
    if (exporting || playing || !engine_.renderLock.try_lock()) {
        // A playback or an export is producing sound: end it and wait until it has ended.
        engine_.requestStop();
        exportFlow_.requestAbort();
        exportFlow_.waitForWorker();
        engine_.renderLock.lock();
    }
    engine_.renderLock.unlock();
    // The wait thread posts its last word after letting go of the lock.
    engine_.waitForWaitThreads();
    engine_.closeAudioOutput();
    if (savedAtQuit_) {
        return;  // nothing has changed since
    }
    if (const QString failure = saveSettings(); !failure.isEmpty()) {
        std::fprintf(stderr, "Failed to write the settings to %s: %s\n",
                     qPrintable(store_.fileName()), qPrintable(failure));
    }
}

bool Controller::quit() {
    if (terminated_) {
        return true;
    }
    const QString failure = saveSettings();
    if (!failure.isEmpty() && !view_.askQuitAnyway(store_.fileName(), failure)) {
        return false;
    }
    savedAtQuit_ = failure.isEmpty();
    QCoreApplication::quit();
    return true;
}

QString Controller::saveSettings() {
    // The gain itself, not the slider's whole percent: the slider changes it only when the user
    // moves it, so a stored fraction is written back as it was read.
    settings_.volume = renderer_.volume.load();
    if (view_.scheduleControls) {
        view_.scheduleControls->takeTypedText();
    }
    settings_.startTime = schedule_.startTime();
    settings_.minutes = schedule_.minutes();
    settings_.fadeMinutes = schedule_.fadeMinutes();
    settings_.riseMinutes = schedule_.riseMinutes();
    settings_.repeatStart = schedule_.repeatsDaily();
    settings_.showWaves = view_.showWaves();
    settings_.exportFolder = exportFlow_.lastFolder();
    if (const std::optional<float> minutes = exportFlow_.chosenMinutes()) {
        settings_.exportMinutes = minutes;
    }
    settings_.exportFormat = exportFlow_.chosenFormat();
    settings_.takeWaveSettings(Preferences::sharedInstance());
    if (outputDevices_) {
        settings_.outputDeviceName = QString::fromStdString(outputDevices_->outputDeviceName());
    }
    if (view_.window) {
        settings_.windowFrame = view_.window->saveGeometry();
    }
    return settings_.save(store_);
}

void Controller::playStop() {
    // The window-modal export sheets keep the button and menu from this, but the sound and an
    // export must never be produced at once whatever asks.
    if (isSaving() && !isPlaying()) {
        return;
    }
    if (!isPlaying()) {
        prepareNight();
    }
    engine_.playStop();
    view_.validateMenus();
}

void Controller::startRising(double seconds) {
    if (isSaving() || isPlaying()) {
        return;
    }
    prepareNight();
    engine_.startRising(seconds);
    view_.validateMenus();
}

bool Controller::closesToTray() const {
    // Stopped, or with nothing to bring the window back, closing quits as it always did.
    return settings_.keepPlayingWhenClosed && isPlaying() && trayMenu_.isInTray();
}

void Controller::cancel() {
    if (isPlaying()) {
        playStop();
    }
}

bool Controller::activatePreset(const QString& name) {
    const Preset* preset = settings_.presets.find(name);
    if (!preset) {
        return false;
    }
    {
        // The bus that asked hears of it through its answer.
        const QSignalBlocker quiet(presetChooser_);
        presetChooser_.choose(name);
    }
    preferencesPanel_.updateUI();
    return true;
}

void Controller::takeVolume(double volume) {
    renderer_.setVolume(volume);
    engine_.soundChanged();
    emit volumeChanged();
}

std::vector<TrayChoice> Controller::presetChoices() {
    std::vector<TrayChoice> choices;
    for (const PresetChooser::Item& item : presetChooser_.items()) {
        // The current one carries its mark, as in the window.
        choices.push_back({item.current ? presetChooser_.currentTitle() : item.title, item.current,
                           [this, name = item.name] { presetChooser_.choose(name); }});
    }
    return choices;
}

std::vector<TrayChoice> Controller::sleepTimerChoices() {
    std::vector<TrayChoice> choices;
    for (const int minutes : kSleepTimerChoices) {
        choices.push_back({Texts::tr("Stop in %1 minutes").arg(minutes),
                           schedule_.willStop() && schedule_.minutes() == minutes,
                           [this, minutes] { schedule_.stopAfter(minutes); }});
    }
    choices.push_back({Texts::tr("Don't stop"), !schedule_.willStop(),
                       [this] { schedule_.stopAfter(std::nullopt); }});
    return choices;
}

void Controller::showPreferences() {
    preferencesPanel_.showPanel();
}

void Controller::showNightProgramme() {
    nightPanel_.showPanel();
}

void Controller::prepareNight() {
    QStringList notes;
    engine_.setNight(settings_.programme.night(settings_.presets, notes));
    for (const QString& note : notes) {
        std::fprintf(stderr, "brinesong: %s\n", qPrintable(note));
    }
    nightPlan_ = settings_.programme.plan(settings_.presets);
    nightStep_ = -1;
}

void Controller::followNight() {
    if (!engine_.isPlaying()) {
        return;  // waiting for the server: the night goes on where it stands when it is back
    }
    const double seconds = engine_.nightSeconds();
    const int step = nightPlan_.stepAt(seconds);
    if (step > nightStep_) {
        nightStep_ = step;
        // The step holds the sound from its first frame on, whatever the settings say: setting
        // them to its preset is not heard, and shows where the sea is going.
        if (const Preset* preset = settings_.presets.find(nightPlan_.steps[size_t(step)].preset)) {
            settings_.presetName = preset->name;
            preset->values.applyTo(Preferences::sharedInstance());
            presetChooser_.settingsChanged();
            preferencesPanel_.updateUI();
        }
    }
    const QString text =
        nightPlan_.nextText(seconds, nightBegan_, clock_(), presetChooser_.currentTitle());
    if (text != nightText_) {
        nightText_ = text;
        showStatus();
    }
}

void Controller::showStatus() {
    view_.showSoundStatus(nightText_.isEmpty()
                              ? soundStatus_
                              : QStringLiteral("%1 · %2").arg(soundStatus_, nightText_));
}

void Controller::saveAs() {
    exportFlow_.saveAs();
}

void Controller::postToMainThread(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

// A playback that waits for the server stays "playing" to the user, so a start after such a wait
// announces nothing new.
void Controller::didStart() {
    if (!shownPlaying_) {
        shownPlaying_ = true;
        if (!nightPlan_.steps.empty()) {
            // Its steps' times of day are reckoned from here, so they stay put while it runs.
            nightBegan_ = clock_().addMSecs(-std::llround(engine_.nightSeconds() * 1000.0));
            nightTimer_.start();
            followNight();
        }
        emit playStateChanged(true);
    }
}

void Controller::didStop() {
    if (shownPlaying_) {
        shownPlaying_ = false;
        nightTimer_.stop();
        nightText_.clear();
        showStatus();
        emit playStateChanged(false);
    }
}

void Controller::statusChanged() {
    PlaybackStatus status = engine_.status();
    if ((status == PlaybackStatus::Playing || status == PlaybackStatus::Stopped) &&
        outputDevices_ && outputDevices_->outputSources().empty() && engine_.isOutputOpen()) {
        // The server plays to a stand-in of its own when it has no device (see PulseHardware).
        status = PlaybackStatus::NoOutputDevice;
    }
    const std::string reason =
        status == PlaybackStatus::CannotPlay ? engine_.failureText() : engine_.outputFailureText();
    // A start, a stop, a wait for the server: whether the sound rises, and until when.
    schedule_.followRise();
    soundStatus_ = playbackStatusText(status, reason);
    showStatus();
    // Said at each sound of a night, the first and one started again after the server came back:
    // where the night stands, and what comes next.
    const bool sounding = status == PlaybackStatus::Playing && engine_.isPlaying();
    if (sounding && !nightSounding_ && !nightPlan_.steps.empty()) {
        const double seconds = engine_.nightSeconds();
        const size_t next = static_cast<size_t>(nightPlan_.stepAt(seconds) + 1);
        std::fprintf(stderr, "brinesong: the night plays from %.1f s on; next: %s\n", seconds,
                     next < nightPlan_.steps.size()
                         ? qPrintable(QStringLiteral("%1 at minute %2")
                                          .arg(nightPlan_.steps[next].preset)
                                          .arg(nightPlan_.steps[next].startSeconds / 60.0))
                         : "nothing more");
    }
    nightSounding_ = sounding;
    statusLog_.update(status, reason);
}

}  // namespace brinesong
