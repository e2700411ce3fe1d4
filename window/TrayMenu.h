// SPDX-License-Identifier: GPL-3.0-or-later
// The tray icon and its menu, the desktop's equivalent of a dock menu: the item that starts or
// stops the sound, the presets and a sleep timer (each a submenu of radio items, one choice), the
// night programme, then the two a dock always offers: show the window, and quit. The menu is
// rebuilt each time it opens, so its titles, ticks and enabled states are those of that moment. A
// click on the icon shows and raises the window.
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
#include <vector>

class QAction;
class QMenu;

namespace brinesong {

class StatusNotifierHost;

// An item of a submenu: its title, whether it is ticked, what choosing it does.
struct TrayChoice {
    QString title;
    bool ticked = false;
    std::function<void()> choose;
};

struct TrayActions {
    std::function<bool()> isPlaying;
    std::function<bool()> isSaving;
    std::function<void()> playStop;
    std::function<void()> showWindow;
    std::function<void()> quit;  // the usual termination
    // The presets, the current one ticked (offered while no export runs), and the sleep timer's
    // choices. Either may be empty, and then its submenu is left out.
    std::function<std::vector<TrayChoice>()> presets;
    std::function<std::vector<TrayChoice>()> sleepTimer;
    // Opens the night programme's panel; none leaves its item out.
    std::function<void()> showNightProgramme;
};

class TrayMenu : public QObject {
    Q_OBJECT
public:
    explicit TrayMenu(TrayActions actions, QObject* parent = nullptr);
    ~TrayMenu() override;

    // Shows the icon now, or as soon as a tray is there.
    void showIcon(const QIcon& icon);
    QSystemTrayIcon* trayIcon() const { return trayIcon_; }
    // The icon is in a tray now, where it can bring the window back.
    bool isInTray() const;
    // The icon's tooltip: what is happening with the sound.
    void setToolTip(const QString& text);
    const QString& toolTip() const { return toolTip_; }

    // The menu, created at the first call and refilled at every call.
    QMenu* applicationDockMenu();

    // A new item with `title`, running `action` when chosen, enabled as given, owned by the menu.
    QAction* constructMenuItem(const QString& title, std::function<void()> action, bool enabled);

private:
    void createIcon();
    void addSubmenu(const QString& title, const std::vector<TrayChoice>& choices, bool enabled);

    TrayActions actions_;
    std::unique_ptr<QMenu> menu_;
    QPointer<QSystemTrayIcon> trayIcon_;
    QIcon icon_;
    QString toolTip_;
    StatusNotifierHost* host_ = nullptr;
};

}  // namespace brinesong
