// SPDX-License-Identifier: GPL-3.0-or-later
#include "StatusNotifierHost.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <cstdio>

namespace brinesong {

namespace {
const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
constexpr int kQueryTimeoutMs = 1000;
}  // namespace

StatusNotifierHost::StatusNotifierHost(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    serviceWatcher_ = new QDBusServiceWatcher(kWatcherService, bus,
                                              QDBusServiceWatcher::WatchForRegistration, this);
    connect(serviceWatcher_, &QDBusServiceWatcher::serviceRegistered, this,
            &StatusNotifierHost::watcherChanged);
    // A tray that registers with a watcher already there announces itself only by this signal.
    if (!bus.connect(kWatcherService, kWatcherPath, kWatcherService,
                     QStringLiteral("StatusNotifierHostRegistered"), this,
                     SLOT(watcherChanged()))) {
        std::fprintf(stderr, "brinesong: cannot follow the trays that register: %s\n",
                     qPrintable(bus.lastError().message()));
    }
}

bool StatusNotifierHost::isRegistered() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kWatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(get, QDBus::Block, kQueryTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

void StatusNotifierHost::watcherChanged() {
    if (isRegistered()) {
        emit registered();
    }
}

}  // namespace brinesong
