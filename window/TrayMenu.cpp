// SPDX-License-Identifier: GPL-3.0-or-later
#include "TrayMenu.h"

#include <QAction>
#include <QActionGroup>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

#include "platform/Localization.h"
#include "platform/StatusNotifierHost.h"

namespace brinesong {

TrayMenu::TrayMenu(TrayActions actions, QObject* parent)
    : QObject(parent), actions_(std::move(actions)), toolTip_(QStringLiteral("Brinesong")) {}

TrayMenu::~TrayMenu() {
    delete trayIcon_.data();
}

void TrayMenu::showIcon(const QIcon& icon) {
    icon_ = icon;
    if (trayIcon_) {
        trayIcon_->setIcon(icon);
        return;
    }
    // Qt docks into an X11 tray whenever one appears; a D-Bus tray it uses only if one was there
    // at its first look, so that look waits until there is one.
    if (QGuiApplication::platformName() == QLatin1String("xcb") ||
        StatusNotifierHost::isRegistered()) {
        createIcon();
        return;
    }
    if (!host_) {
        host_ = new StatusNotifierHost(this);
        connect(host_, &StatusNotifierHost::registered, this, [this] {
            if (!trayIcon_) {
                createIcon();
            }
        });
    }
}

void TrayMenu::createIcon() {
    trayIcon_ = new QSystemTrayIcon(icon_, this);
    trayIcon_->setToolTip(toolTip_);
    trayIcon_->setContextMenu(applicationDockMenu());
    connect(trayIcon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                    actions_.showWindow();
                }
            });
    trayIcon_->show();
}

bool TrayMenu::isInTray() const {
    return trayIcon_ && trayIcon_->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayMenu::setToolTip(const QString& text) {
    toolTip_ = text;
    if (trayIcon_) {
        trayIcon_->setToolTip(text);
    }
}

QMenu* TrayMenu::applicationDockMenu() {
    if (!menu_) {
        menu_ = std::make_unique<QMenu>(Texts::tr("DockMenu"));
        connect(menu_.get(), &QMenu::aboutToShow, this, &TrayMenu::applicationDockMenu);
    }
    for (QAction* item : menu_->actions()) {
        menu_->removeAction(item);
        if (!item->menu()) {  // a submenu's item goes with the submenu
            item->deleteLater();
        }
    }
    for (QMenu* submenu : menu_->findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) {
        submenu->deleteLater();
    }
    const bool saving = actions_.isSaving();
    menu_->addAction(constructMenuItem(
        actions_.isPlaying() ? Texts::tr("Stop") : Texts::tr("Start"), actions_.playStop, !saving));
    menu_->addSeparator();
    // An export takes the settings it started with to its end.
    if (actions_.presets) {
        addSubmenu(Texts::tr("Presets"), actions_.presets(), !saving);
    }
    if (actions_.sleepTimer) {
        addSubmenu(Texts::tr("Sleep Timer"), actions_.sleepTimer(), true);
    }
    if (actions_.showNightProgramme) {
        menu_->addAction(
            constructMenuItem(Texts::tr("Night Programme..."), actions_.showNightProgramme, true));
    }
    menu_->addSeparator();
    menu_->addAction(constructMenuItem(Texts::tr("Show Brinesong"), actions_.showWindow, true));
    menu_->addAction(constructMenuItem(Texts::tr("Quit"), actions_.quit, true));
    return menu_.get();
}

void TrayMenu::addSubmenu(const QString& title, const std::vector<TrayChoice>& choices,
                          bool enabled) {
    auto* submenu = new QMenu(title, menu_.get());
    // One choice of several, so radio items; an exclusive group is what makes them so, in Qt's
    // menu and in the one a desktop's tray draws from it.
    auto* group = new QActionGroup(submenu);
    for (const TrayChoice& choice : choices) {
        QAction* item = constructMenuItem(choice.title, choice.choose, enabled);
        item->setParent(submenu);
        item->setCheckable(true);
        item->setChecked(choice.ticked);
        group->addAction(item);
        submenu->addAction(item);
    }
    submenu->menuAction()->setEnabled(enabled);
    menu_->addMenu(submenu);
}

QAction* TrayMenu::constructMenuItem(const QString& title, std::function<void()> action,
                                     bool enabled) {
    auto* item = new QAction(title, menu_.get());
    item->setEnabled(enabled);
    connect(item, &QAction::triggered, this, [action = std::move(action)] { action(); });
    return item;
}

}  // namespace brinesong
