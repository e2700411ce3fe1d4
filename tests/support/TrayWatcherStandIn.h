// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for a desktop's D-Bus tray (the StatusNotifierWatcher with a tray registered on it).
// No desktop shell runs on the test machine, so this one answers on the test's private bus and
// records the icons that register with it.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>

namespace brinesong::testing {

class TrayWatcherStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems MEMBER items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    TrayWatcherStandIn()
        : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                             QStringLiteral("tray-stand-in"))) {}
    ~TrayWatcherStandIn() override {
        bus_.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
        QDBusConnection::disconnectFromBus(bus_.name());
    }

    // The tray comes: the watcher takes its name, with a tray registered unless `hostRegistered`
    // was set false before.
    bool appear() {
        return bus_.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                                   QDBusConnection::ExportAllContents) &&
               bus_.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    }

    bool hostRegistered() const {
        ++hostQueries;
        return host;
    }
    int protocolVersion() const { return 0; }

    // A tray registers with the watcher that is already there, and says so on the bus.
    void registerHost() {
        host = true;
        emit StatusNotifierHostRegistered();
    }

    QStringList items;            // the services of the icons that registered
    bool host = true;             // a tray is registered
    mutable int hostQueries = 0;  // how often a program asked whether one is

public slots:
    void RegisterStatusNotifierItem(const QString& service) { items.append(service); }
    void RegisterStatusNotifierHost(const QString&) {}

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    QDBusConnection bus_;
};

}  // namespace brinesong::testing
