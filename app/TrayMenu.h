// The tray icon and its menu, the desktop's equivalent of a dock menu: one item that starts or
// stops the sound, rebuilt each time the menu opens so its title and enabled state are those of
// that moment. Where the desktop has no tray, no icon is shown and the menu is never opened.
#pragma once

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

class QAction;
class QIcon;
class QMenu;

namespace brinesong {

class TrayMenu : public QObject {
    Q_OBJECT
public:
    TrayMenu(std::function<bool()> isPlaying, std::function<bool()> isSaving,
             std::function<void()> playStop, QObject* parent = nullptr);
    ~TrayMenu() override;

    // Shows the icon when the desktop has a tray; returns whether it did.
    bool showIcon(const QIcon& icon);
    QSystemTrayIcon* trayIcon() const { return trayIcon_; }
    // The icon's tooltip: what is happening with the sound.
    void setToolTip(const QString& text);
    const QString& toolTip() const { return toolTip_; }

    // The menu, created at the first call and refilled with its one item at every call.
    QMenu* applicationDockMenu();

    // A new item with `title`, running `action` when chosen, enabled as given, owned by the menu.
    QAction* constructMenuItem(const QString& title, std::function<void()> action, bool enabled);

private:
    std::function<bool()> isPlaying_;
    std::function<bool()> isSaving_;
    std::function<void()> playStop_;
    std::unique_ptr<QMenu> menu_;
    QPointer<QSystemTrayIcon> trayIcon_;
    QString toolTip_ = QStringLiteral("Brinesong");
};

}  // namespace brinesong
