// SPDX-License-Identifier: GPL-3.0-or-later
// Whether a tray that speaks the StatusNotifierItem protocol (the D-Bus tray of current desktops)
// is there, and word when one comes. Qt decides once, at the first tray icon, whether to use such a
// tray; a program started before its desktop's tray must wait for it to be asked at the right time.
#pragma once

#include <QObject>

class QDBusServiceWatcher;

namespace brinesong {

class StatusNotifierHost : public QObject {
    Q_OBJECT
public:
    explicit StatusNotifierHost(QObject* parent = nullptr);

    // True when the session bus has a StatusNotifierWatcher with a tray registered on it.
    static bool isRegistered();

signals:
    // A tray registered with the watcher, or a watcher came that has one.
    void registered();

private slots:
    // A slot: the watcher's D-Bus signal can only be connected by name.
    void watcherChanged();

private:
    QDBusServiceWatcher* serviceWatcher_ = nullptr;
};

}  // namespace brinesong
