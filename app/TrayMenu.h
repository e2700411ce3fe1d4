// The tray icon and its menu, the desktop's equivalent of a dock menu: the item that starts or
// stops the sound, rebuilt each time the menu opens so its title and enabled state are those of
// that moment, then the two a dock always offers: show the window, and quit. A click on the icon
// shows and raises the window.
//
// The icon is shown also when the tray comes after the program: an X11 tray is docked into when it
// appears, and a D-Bus tray is waited for before Qt is first asked about trays (it asks only once).
#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

class QAction;
class QMenu;

namespace brinesong {

class StatusNotifierHost;

struct TrayActions {
    std::function<bool()> isPlaying;
    std::function<bool()> isSaving;
    std::function<void()> playStop;
    std::function<void()> showWindow;
    std::function<void()> quit;  // the usual termination
};

class TrayMenu : public QObject {
    Q_OBJECT
public:
    explicit TrayMenu(TrayActions actions, QObject* parent = nullptr);
    ~TrayMenu() override;

    // Shows the icon now, or as soon as a tray is there.
    void showIcon(const QIcon& icon);
    QSystemTrayIcon* trayIcon() const { return trayIcon_; }
    void setToolTip(const QString& text);

    // The menu, created at the first call and refilled at every call.
    QMenu* applicationDockMenu();

    // A new item with `title`, running `action` when chosen, enabled as given, owned by the menu.
    QAction* constructMenuItem(const QString& title, std::function<void()> action, bool enabled);

private:
    void createIcon();

    TrayActions actions_;
    std::unique_ptr<QMenu> menu_;
    QPointer<QSystemTrayIcon> trayIcon_;
    QIcon icon_;
    QString toolTip_;
    StatusNotifierHost* host_ = nullptr;
};

}  // namespace brinesong
