// SPDX-License-Identifier: GPL-3.0-or-later
#include "MainWindowView.h"

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
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QTextEdit>
#include <QTimeEdit>
#include <algorithm>
#include <cmath>

#include "model/Schedule.h"
#include "platform/Localization.h"
#include "window/HelpPanel.h"
#include "window/InterfaceLoader.h"
#include "window/ScheduleControls.h"
#include "window/WavePicture.h"
#include "window/WindowKeys.h"

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

MainWindowView::MainWindowView(WindowActions actions, Schedule& schedule, RenderTap& tap,
                               QObject* parent)
    : QObject(parent), actions_(std::move(actions)), schedule_(schedule), tap_(tap) {
    connect(&schedule_, &Schedule::textsChanged, this, &MainWindowView::showStatusLine);
}

MainWindowView::~MainWindowView() {
    delete window.data();
}

bool MainWindowView::load() {
    QWidget* root = loadInterface(QStringLiteral("MainWindow"));
    window = qobject_cast<QMainWindow*>(root);
    playStopButton = outlet<QPushButton>(root, "playStopButton");
    if (!window || !playStopButton) {
        delete root;
        return false;
    }
    volumeSlider = outlet<QSlider>(root, "volumeSlider");
    presetChoice = outlet<QComboBox>(root, "presetChoice");
    minutesText = outlet<QSpinBox>(root, "minutesText");
    dateText = outlet<QDateEdit>(root, "dateText");
    timeText = outlet<QTimeEdit>(root, "timeText");
    startCheckbox = outlet<QCheckBox>(root, "startCheckbox");
    stopCheckbox = outlet<QCheckBox>(root, "stopCheckbox");
    repeatCheckbox = outlet<QCheckBox>(root, "repeatCheckbox");
    timeLeftText = outlet<QLabel>(root, "timeLeftText");
    statusText = outlet<QLabel>(root, "statusText");
    fadeChoice = outlet<QComboBox>(root, "fadeChoice");
    riseChoice = outlet<QComboBox>(root, "riseChoice");
    wavesFrame = outlet<QWidget>(root, "wavesFrame");
    showWavesAction = root->findChild<QAction*>(QStringLiteral("showWavesAction"));
    if (wavesFrame && wavesFrame->layout()) {
        wavePicture = new WavePicture(wavesFrame);
        wavePicture->setTap(&tap_);
        wavesFrame->layout()->addWidget(wavePicture);
        wavesFrame->layout()->addWidget(new WaveLegend(wavesFrame));
    }
    playStopAction = root->findChild<QAction*>(QStringLiteral("playStopAction"));
    exportAction = root->findChild<QAction*>(QStringLiteral("exportAction"));
    preferencesAction = root->findChild<QAction*>(QStringLiteral("preferencesAction"));
    nightProgrammeAction = root->findChild<QAction*>(QStringLiteral("nightProgrammeAction"));
    helpAction = root->findChild<QAction*>(QStringLiteral("helpAction"));
    aboutAction = root->findChild<QAction*>(QStringLiteral("aboutAction"));
    quitAction = root->findChild<QAction*>(QStringLiteral("quitAction"));
    window->setWindowIcon(applicationIcon());
    playStopButton->setText(Texts::tr("Start Brinesong"));
    scheduleControls = new ScheduleControls(schedule_, dateText, timeText, minutesText,
                                            startCheckbox, stopCheckbox, timeLeftText, fadeChoice,
                                            riseChoice, repeatCheckbox, window);
    HelpPanel::sharedInstance().parentWindow = window;
    return true;
}

void MainWindowView::connectActions() {
    connect(playStopButton, &QPushButton::clicked, this, [this] { actions_.playStop(); });
    if (volumeSlider) {
        connect(volumeSlider, &QSlider::valueChanged, this, [this] {
            if (!updating_) {
                volumeSliderChanged();
            }
        });
    }
    auto connectAction = [this](QAction* action, std::function<void()> slot) {
        if (action) {
            connect(action, &QAction::triggered, this, [slot = std::move(slot)] { slot(); });
        }
    };
    connectAction(playStopAction, actions_.playStop);
    connectAction(exportAction, actions_.saveAs);
    connectAction(preferencesAction, actions_.showPreferences);
    connectAction(nightProgrammeAction, actions_.showNightProgramme);
    connectAction(helpAction, [this] { showHelp(); });
    connectAction(aboutAction, [this] { showAbout(); });
    connectAction(quitAction,
                  actions_.quit ? actions_.quit : std::function<void()>(&QCoreApplication::quit));
    if (showWavesAction) {
        connect(showWavesAction, &QAction::toggled, this, &MainWindowView::setShowWaves);
    }
    window->installEventFilter(this);
    // Escape and Space reach the sound only when nothing in the window took them first (an open
    // pop-up, a text field or a button keeps its own keys).
    new WindowKeys(window, [this](const QKeyEvent& key) { return windowKey(key); });
    for (QMenu* menu : window->findChildren<QMenu*>()) {
        connect(menu, &QMenu::aboutToShow, this, &MainWindowView::validateMenus);
    }
}

bool MainWindowView::validateMenuItem(QAction* item) {
    if (!item) {
        return false;
    }
    bool enabled = true;
    if (item == playStopAction) {
        item->setText(actions_.isPlaying() ? Texts::tr("Stop") : Texts::tr("Start"));
        enabled = !actions_.isSaving();
    } else if (item == exportAction) {
        enabled = !actions_.isSaving() && !actions_.isPlaying();
    }
    item->setEnabled(enabled);
    return enabled;
}

void MainWindowView::validateMenus() {
    // Shortcuts act on an action's enabled state, so the actions follow every change of state, not
    // only the opening of their menu.
    for (QAction* item :
         {playStopAction, exportAction, preferencesAction, helpAction, quitAction}) {
        validateMenuItem(item);
    }
}

bool MainWindowView::eventFilter(QObject* watched, QEvent* event) {
    // Only the user's close, through the window system: a quit closes every window first, and
    // that close must go through.
    if (watched != window || event->type() != QEvent::Close || !event->spontaneous()) {
        return false;
    }
    if (!actions_.closesToTray || !actions_.closesToTray()) {
        if (!actions_.quit) {
            return false;
        }
        // The user's Quit, as the command's: the window stays until the program quits, which it
        // may not (see askQuitAnyway).
        event->ignore();
        actions_.quit();
        return true;
    }
    // The sound plays on, and the program with it: its tray icon and its player on the bus stay.
    // Refused, the close does not count as the last window's, so nothing quits.
    event->ignore();
    for (QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow() && child->isVisible()) {
            child->hide();
        }
    }
    window->hide();
    return true;
}

bool MainWindowView::windowKey(const QKeyEvent& key) {
    const bool plain = (key.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && key.key() == Qt::Key_Escape) {
        actions_.cancel();
        return true;
    }
    if (plain && key.key() == Qt::Key_Space && !textFieldFocused()) {
        // A held key would start and stop the sound over and over.
        if (!key.isAutoRepeat()) {
            actions_.playStop();
        }
        return true;
    }
    return false;
}

bool MainWindowView::textFieldFocused() {
    const QWidget* focus = QApplication::focusWidget();
    return qobject_cast<const QLineEdit*>(focus) || qobject_cast<const QAbstractSpinBox*>(focus) ||
           qobject_cast<const QTextEdit*>(focus) || qobject_cast<const QPlainTextEdit*>(focus);
}

void MainWindowView::volumeSliderChanged() {
    if (volumeSlider) {
        actions_.volumeChanged(volumeSlider->value() / 100.0);
    }
}

void MainWindowView::setVolume(double volume) {
    // From outside (the media player on the bus): a value that is not a number would mute the
    // sound, and the mute would be saved.
    if (std::isfinite(volume)) {
        volume = std::clamp(volume, 0.0, 1.0);
        showVolume(volume);
        actions_.volumeChanged(volume);
    }
}

void MainWindowView::showVolume(double volume) {
    if (volumeSlider) {
        updating_ = true;
        volumeSlider->setValue(static_cast<int>(std::lround(100.0 * volume)));
        updating_ = false;
    }
}

void MainWindowView::setShowWaves(bool show) {
    showWaves_ = show;
    if (wavesFrame && wavesFrame->isVisibleTo(window) != show) {
        const int height = window->height();
        wavesFrame->setVisible(show);
        // Nothing else in the window takes more height than it asks for: the window gives up the
        // picture's height with it, rather than leave a blank area, and takes it back with it.
        if (!(window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) {
            // The size hints and the least height count the picture as it was until the
            // layouts run again.
            wavesFrame->parentWidget()->updateGeometry();
            window->layout()->activate();
            if (show) {
                window->resize(window->width(),
                               std::max(height + wavesHeight_, window->minimumHeight()));
            } else {
                const int natural = window->sizeHint().height();
                wavesHeight_ = std::max(0, height - natural);
                window->resize(window->width(), natural);
            }
        }
    }
    if (showWavesAction && showWavesAction->isChecked() != show) {
        showWavesAction->setChecked(show);
    }
}

void MainWindowView::showHelp() {
    HelpPanel::showHelpPanel();
}

void MainWindowView::showAbout() {
    if (!aboutBox) {
        aboutBox = showAboutBox(window);
    }
    aboutBox->raise();
    aboutBox->activateWindow();
}

void MainWindowView::showPlayState(bool playing) {
    playStopButton->setText(playing ? Texts::tr("Stop Brinesong") : Texts::tr("Start Brinesong"));
    validateMenus();
}

void MainWindowView::showWindow() {
    if (!window) {
        return;
    }
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

void MainWindowView::showSoundStatus(const QString& text) {
    soundStatus_ = text;
    showStatusLine();
    validateMenus();
}

void MainWindowView::fitToScreen() {
    const QScreen* screen = window->screen();
    if (!screen) {
        return;
    }
    const QRect available = screen->availableGeometry();
    QRect frame = window->geometry();
    frame.setSize(frame.size().boundedTo(available.size()));
    frame.moveLeft(std::clamp(frame.left(), available.left(),
                              available.left() + available.width() - frame.width()));
    frame.moveTop(std::clamp(frame.top(), available.top(),
                             available.top() + available.height() - frame.height()));
    window->setGeometry(frame);
}

bool MainWindowView::askQuitAnyway(const QString& fileName, const QString& reason) {
    QMessageBox box(QMessageBox::Warning, Texts::tr("Quit Brinesong"),
                    Texts::tr("The settings cannot be saved: %1 cannot be written (%2).\nIf you "
                              "quit now, the settings changed since the launch are lost.")
                        .arg(QDir::toNativeSeparators(fileName), reason),
                    QMessageBox::NoButton, window);
    QPushButton* quit = box.addButton(Texts::tr("Quit Anyway"), QMessageBox::DestructiveRole);
    box.setDefaultButton(box.addButton(Texts::tr("Cancel"), QMessageBox::RejectRole));
    box.exec();
    return box.clickedButton() == quit;
}

void MainWindowView::setUnwritableSettingsFile(const QString& fileName) {
    unwritableSettingsFile_ = fileName;
}

void MainWindowView::showStatusLine() {
    QString line = soundStatus_;
    const QString schedule = schedule_.statusText();
    if (!schedule.isEmpty()) {
        line = QStringLiteral("%1 · %2").arg(line, schedule);
    }
    if (statusText) {
        if (!unwritableSettingsFile_.isEmpty()) {
            // Said before the quit that would lose them, without a dialog in the way.
            statusText->setText(Texts::tr("%1 · Settings will not be saved").arg(line));
            statusText->setToolTip(Texts::tr("The settings cannot be saved: %1 cannot be written.")
                                       .arg(QDir::toNativeSeparators(unwritableSettingsFile_)));
        } else {
            statusText->setText(line);
        }
    }
    emit statusLineChanged(line);
}

}  // namespace brinesong
