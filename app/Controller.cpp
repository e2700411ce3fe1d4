#include "Controller.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTextEdit>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <QVersionNumber>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "HelpPanel.h"
#include "InterfaceLoader.h"
#include "PlaybackStatusText.h"
#include "WindowKeys.h"
#include "audio/OutputDeviceSelection.h"
#include "platform/Localization.h"
#include "platform/SettingsStore.h"
#include "synth/RandomSource.h"

namespace brinesong {

QIcon applicationIcon() {
    const QString name = QStringLiteral("org.kelvane.Brinesong");
    if (QIcon::hasThemeIcon(name)) {
        return QIcon::fromTheme(name);
    }
    // Drawn at the sizes installed beside the SVG, by the same rule: the simplified drawing up to
    // 24 pixels (see resources/CMakeLists.txt).
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        QImageReader reader(size <= 24 ? QStringLiteral(":/icons/org.kelvane.Brinesong-small.svg")
                                       : QStringLiteral(":/icons/org.kelvane.Brinesong.svg"));
        reader.setScaledSize(QSize(size, size));
        icon.addPixmap(QPixmap::fromImage(reader.read()));
    }
    return icon;
}

QIcon symbolicIcon() {
    return QIcon::fromTheme(QStringLiteral("org.kelvane.Brinesong-symbolic"),
                            QIcon(QStringLiteral(":/icons/org.kelvane.Brinesong-symbolic.svg")));
}

Controller::Controller(OutputUnit& unit, SettingsStore& store, Clock clock, int minuteMs,
                       QObject* parent)
    : QObject(parent),
      renderer_(Preferences::sharedInstance()),
      engine_(renderer_, unit, *this),
      scheduler_(std::move(clock),
                 SchedulerHost{[this] { playStop(); }, [this] { return isPlaying(); },
                               [this] { return isSaving(); },
                               [this](double secondsToEnd, double seconds) {
                                   if (seconds > 0.0) {
                                       engine_.setSleepFade(secondsToEnd, seconds);
                                   } else {
                                       engine_.clearSleepFade();
                                   }
                               }},
                 minuteMs),
      exportFlow_(renderer_, engine_.renderLock, [this] { return isPlaying(); }),
      trayMenu_(TrayActions{[this] { return isPlaying(); }, [this] { return isSaving(); },
                            [this] { playStop(); }, [this] { showWindow(); },
                            [] { QCoreApplication::quit(); }}),
      preferencesPanel_(Preferences::sharedInstance()),
      store_(store) {
    engine_.setRenderTap(&renderTap_);
    connect(&exportFlow_, &ExportFlow::savingChanged, this, &Controller::validateMenus);
    // The first to hear of a change: the button and the menus are right before anyone else looks.
    connect(this, &Controller::playStateChanged, this, &Controller::showPlayState);
    // An armed stop counts from the start of the sound.
    connect(this, &Controller::playStateChanged, &scheduler_, &Scheduler::playStateChanged);
    connect(&scheduler_, &Scheduler::startTextChanged, this, &Controller::showStatusLine);
    // A change is heard at once: a playback renders what it has queued again.
    connect(&preferencesPanel_, &PreferencesPanel::soundSettingsChanged, this,
            [this] { engine_.soundChanged(); });
    connect(&preferencesPanel_, &PreferencesPanel::helpRequested, this, &Controller::showHelp);
    connect(&preferencesPanel_, &PreferencesPanel::keepAwakeChanged, this, [this](bool keepAwake) {
        settings_.keepAwake = keepAwake;
        emit keepAwakeChanged(keepAwake);
    });
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
    delete window.data();
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
    if (!loadMainWindow()) {
        std::fprintf(stderr, "Failed to load MainWindow.ui\n");
        QApplication::beep();
        return false;
    }
    if (!exportFlow_.load(window)) {
        std::fprintf(stderr, "Failed to load the export sheets\n");
    }
    engine_.openAudioOutput();
    loadSettings();
    sharedRandomSource().seedFromEntropy();
    connectActions();
    validateMenus();
    trayMenu_.showIcon(symbolicIcon());
    statusChanged();
    window->show();
    window->raise();
    window->activateWindow();
    return true;
}

bool Controller::loadMainWindow() {
    QWidget* root = loadInterface(QStringLiteral("MainWindow"));
    window = qobject_cast<QMainWindow*>(root);
    playStopButton = outlet<QPushButton>(root, "playStopButton");
    if (!window || !playStopButton) {
        delete root;
        return false;
    }
    volumeSlider = outlet<QSlider>(root, "volumeSlider");
    minutesText = outlet<QSpinBox>(root, "minutesText");
    dateText = outlet<QDateEdit>(root, "dateText");
    timeText = outlet<QTimeEdit>(root, "timeText");
    startCheckbox = outlet<QCheckBox>(root, "startCheckbox");
    stopCheckbox = outlet<QCheckBox>(root, "stopCheckbox");
    timeLeftText = outlet<QLabel>(root, "timeLeftText");
    statusText = outlet<QLabel>(root, "statusText");
    fadeChoice = outlet<QComboBox>(root, "fadeChoice");
    wavesFrame = outlet<QWidget>(root, "wavesFrame");
    showWavesAction = root->findChild<QAction*>(QStringLiteral("showWavesAction"));
    if (wavesFrame && wavesFrame->layout()) {
        wavePicture = new WavePicture(wavesFrame);
        wavePicture->setTap(&renderTap_);
        wavesFrame->layout()->addWidget(wavePicture);
        wavesFrame->layout()->addWidget(new WaveLegend(wavesFrame));
        connect(this, &Controller::playStateChanged, wavePicture, &WavePicture::setPlaying);
    }
    playStopAction = root->findChild<QAction*>(QStringLiteral("playStopAction"));
    exportAction = root->findChild<QAction*>(QStringLiteral("exportAction"));
    preferencesAction = root->findChild<QAction*>(QStringLiteral("preferencesAction"));
    helpAction = root->findChild<QAction*>(QStringLiteral("helpAction"));
    aboutAction = root->findChild<QAction*>(QStringLiteral("aboutAction"));
    quitAction = root->findChild<QAction*>(QStringLiteral("quitAction"));
    window->setWindowIcon(applicationIcon());
    playStopButton->setText(Texts::tr("Start Brinesong"));
    scheduler_.attach(dateText, timeText, minutesText, startCheckbox, stopCheckbox, timeLeftText,
                      fadeChoice);
    preferencesPanel_.setParentWindow(window);
    HelpPanel::sharedInstance().parentWindow = window;
    return true;
}

void Controller::connectActions() {
    connect(playStopButton, &QPushButton::clicked, this, &Controller::playStop);
    if (volumeSlider) {
        connect(volumeSlider, &QSlider::valueChanged, this, [this] {
            if (!updating_) {
                volumeSliderChanged();
            }
        });
    }
    auto connectAction = [this](QAction* action, void (Controller::*slot)()) {
        if (action) {
            connect(action, &QAction::triggered, this, slot);
        }
    };
    connectAction(playStopAction, &Controller::playStop);
    connectAction(exportAction, &Controller::saveAs);
    connectAction(preferencesAction, &Controller::showPreferences);
    connectAction(helpAction, &Controller::showHelp);
    connectAction(aboutAction, &Controller::showAbout);
    if (quitAction) {
        connect(quitAction, &QAction::triggered, qApp, &QCoreApplication::quit);
    }
    if (showWavesAction) {
        connect(showWavesAction, &QAction::toggled, this, &Controller::setShowWaves);
    }
    // Escape and Space reach the sound only when nothing in the window took them first (an open
    // pop-up, a text field or a button keeps its own keys).
    new WindowKeys(window, [this](const QKeyEvent& key) { return windowKey(key); });
    for (QMenu* menu : window->findChildren<QMenu*>()) {
        connect(menu, &QMenu::aboutToShow, this, &Controller::validateMenus);
    }
    // Closing the last window, the Quit command and the termination signals all end the event
    // loop; the termination sequence runs once it has.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &Controller::applicationWillTerminate);
}

void Controller::loadSettings() {
    settings_.load(store_);
    settingsUnwritable_ = !store_.isWritable();
    if (!settings_.windowFrame.isEmpty()) {
        window->restoreGeometry(settings_.windowFrame);
    }
    renderer_.setVolume(settings_.volume);
    scheduler_.showNextStart(settings_.startTime);
    scheduler_.setMinutes(settings_.minutes);
    scheduler_.setFadeMinutes(settings_.fadeMinutes);
    setShowWaves(settings_.showWaves);
    settings_.applyWaveSettings(Preferences::sharedInstance());
    preferencesPanel_.setKeepAwake(settings_.keepAwake);
    if (outputDevices_) {
        // The unit is open by now: route it to the saved device, else the default one.
        outputDevices_->setAudioOutput(outputRouting_);
        outputDevices_->setOutputDeviceName(
            settings_.outputDeviceName.isEmpty()
                ? std::nullopt
                : std::optional(settings_.outputDeviceName.toStdString()));
        settings_.outputDeviceName = QString::fromStdString(outputDevices_->outputDeviceName());
    }

    if (volumeSlider) {
        updating_ = true;
        volumeSlider->setValue(static_cast<int>(std::lround(100.0 * renderer_.volume.load())));
        updating_ = false;
    }
}

void Controller::applicationDidFinishLaunching() {
    if (settings_.firstLaunch) {
        showHelp();
    }
}

void Controller::applicationWillTerminate() {
    if (terminated_) {
        return;
    }
    terminated_ = true;
    // A playback waiting for the server or a device will not start now.
    engine_.cancelWaitToPlay();
    // A just-started export worker may not hold the render lock yet, so the lock alone does not
    // tell whether an export runs.
    const bool exporting = exportFlow_.workerRunning();
    if (exporting || !engine_.renderLock.try_lock()) {
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
    saveSettings();
}

void Controller::saveSettings() {
    settings_.volume = volumeSlider ? volumeSlider->value() / 100.0 : renderer_.volume.load();
    const QTime startTime = scheduler_.startTimeOfDay();
    if (startTime.isValid()) {
        settings_.startTime = startTime;
    }
    settings_.minutes = scheduler_.minutes();
    if (fadeChoice) {
        settings_.fadeMinutes = scheduler_.fadeMinutes();
    }
    settings_.takeWaveSettings(Preferences::sharedInstance());
    if (outputDevices_) {
        settings_.outputDeviceName = QString::fromStdString(outputDevices_->outputDeviceName());
    }
    if (window) {
        settings_.windowFrame = window->saveGeometry();
    }
    if (!settings_.save(store_)) {
        std::fprintf(stderr, "Failed to write the settings to %s\n", qPrintable(store_.fileName()));
    }
}

bool Controller::validateMenuItem(QAction* item) {
    if (!item) {
        return false;
    }
    bool enabled = true;
    if (item == playStopAction) {
        item->setText(isPlaying() ? Texts::tr("Stop") : Texts::tr("Start"));
        enabled = !isSaving();
    } else if (item == exportAction) {
        enabled = !isSaving() && !isPlaying();
    }
    item->setEnabled(enabled);
    return enabled;
}

void Controller::validateMenus() {
    // Shortcuts act on an action's enabled state, so the actions follow every change of state, not
    // only the opening of their menu.
    for (QAction* item :
         {playStopAction, exportAction, preferencesAction, helpAction, quitAction}) {
        validateMenuItem(item);
    }
}

void Controller::playStop() {
    // The window-modal export sheets keep the button and menu from this, but the sound and an
    // export must never be produced at once whatever asks.
    if (isSaving() && !isPlaying()) {
        return;
    }
    engine_.playStop();
    validateMenus();
}

void Controller::cancel() {
    if (isPlaying()) {
        playStop();
    }
}

bool Controller::windowKey(const QKeyEvent& key) {
    const bool plain = (key.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && key.key() == Qt::Key_Escape) {
        cancel();
        return true;
    }
    if (plain && key.key() == Qt::Key_Space && !textFieldFocused()) {
        // A held key would start and stop the sound over and over.
        if (!key.isAutoRepeat()) {
            playStop();
        }
        return true;
    }
    return false;
}

bool Controller::textFieldFocused() {
    const QWidget* focus = QApplication::focusWidget();
    return qobject_cast<const QLineEdit*>(focus) || qobject_cast<const QAbstractSpinBox*>(focus) ||
           qobject_cast<const QTextEdit*>(focus) || qobject_cast<const QPlainTextEdit*>(focus);
}

void Controller::volumeSliderChanged() {
    if (volumeSlider) {
        renderer_.setVolume(volumeSlider->value() / 100.0);
        engine_.soundChanged();
        emit volumeChanged();
    }
}

void Controller::setVolume(double volume) {
    // From outside (the media player on the bus): a value that is not a number would mute the
    // sound, and the mute would be saved.
    if (volumeSlider && std::isfinite(volume)) {
        volumeSlider->setValue(static_cast<int>(std::lround(100.0 * std::clamp(volume, 0.0, 1.0))));
    }
}

void Controller::setShowWaves(bool show) {
    settings_.showWaves = show;
    if (wavesFrame) {
        wavesFrame->setVisible(show);
    }
    if (showWavesAction && showWavesAction->isChecked() != show) {
        showWavesAction->setChecked(show);
    }
}

void Controller::showHelp() {
    HelpPanel::showHelpPanel();
}

void Controller::showAbout() {
    if (!aboutBox) {
        aboutBox = showAboutBox(window);
    }
    aboutBox->raise();
    aboutBox->activateWindow();
}

void Controller::showPreferences() {
    preferencesPanel_.showPanel();
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
        emit playStateChanged(true);
    }
}

void Controller::didStop() {
    if (shownPlaying_) {
        shownPlaying_ = false;
        emit playStateChanged(false);
    }
}

void Controller::showPlayState(bool playing) {
    playStopButton->setText(playing ? Texts::tr("Stop Brinesong") : Texts::tr("Start Brinesong"));
    validateMenus();
}

void Controller::showWindow() {
    if (!window) {
        return;
    }
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
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
    soundStatus_ = playbackStatusText(status, reason);
    showStatusLine();
    validateMenus();
    statusLog_.update(status, reason);
}

void Controller::showStatusLine() {
    QString line = soundStatus_;
    const QString start = scheduler_.startText();
    if (!start.isEmpty()) {
        line = QStringLiteral("%1 · %2").arg(line, start);
    }
    if (statusText) {
        if (settingsUnwritable_) {
            // Said before the quit that would lose them, without a dialog in the way.
            statusText->setText(Texts::tr("%1 · Settings will not be saved").arg(line));
            statusText->setToolTip(Texts::tr("The settings cannot be saved: %1 cannot be written.")
                                       .arg(QDir::toNativeSeparators(store_.fileName())));
        } else {
            statusText->setText(line);
        }
    }
    trayMenu_.setToolTip(QStringLiteral("Brinesong: %1").arg(line));
}

}  // namespace brinesong
