#include "TrayMenu.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

#include "platform/Localization.h"

namespace brinesong {

TrayMenu::TrayMenu(std::function<bool()> isPlaying, std::function<bool()> isSaving,
                   std::function<void()> playStop, QObject* parent)
    : QObject(parent),
      isPlaying_(std::move(isPlaying)),
      isSaving_(std::move(isSaving)),
      playStop_(std::move(playStop)) {}

TrayMenu::~TrayMenu() {
    delete trayIcon_.data();
}

bool TrayMenu::showIcon(const QIcon& icon) {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        return false;
    }
    if (!trayIcon_) {
        trayIcon_ = new QSystemTrayIcon(icon, this);
        trayIcon_->setToolTip(toolTip_);
        trayIcon_->setContextMenu(applicationDockMenu());
    }
    trayIcon_->show();
    return true;
}

void TrayMenu::setToolTip(const QString& text) {
    toolTip_ = text;
    if (trayIcon_) {
        trayIcon_->setToolTip(text);
    }
}

QMenu* TrayMenu::applicationDockMenu() {
    if (!menu_) {
        menu_ = std::make_unique<QMenu>(localized("DockMenu"));
        connect(menu_.get(), &QMenu::aboutToShow, this, &TrayMenu::applicationDockMenu);
    }
    // Remove every item: the menu holds exactly one whenever it is shown.
    for (QAction* item : menu_->actions()) {
        menu_->removeAction(item);
        item->deleteLater();
    }
    menu_->addAction(constructMenuItem(isPlaying_() ? localized("Stop") : localized("Start"),
                                       playStop_, !isSaving_()));
    return menu_.get();
}

QAction* TrayMenu::constructMenuItem(const QString& title, std::function<void()> action,
                                     bool enabled) {
    auto* item = new QAction(title, menu_.get());
    item->setEnabled(enabled);
    connect(item, &QAction::triggered, this, [action = std::move(action)] { action(); });
    return item;
}

}  // namespace brinesong
