// SPDX-License-Identifier: GPL-3.0-or-later
// Stand-ins for the desktop's sleep services: the XDG desktop portal's Inhibit, and logind's
// Inhibit and PrepareForSleep. Neither runs on the test machine (no user session, no systemd, no
// system bus), so these answer the same calls on the test's private buses, record them, and send
// logind's signal when the test says the computer sleeps. Each is registered on a connection of
// its own, so the program's calls and signals travel over a bus as they would to and from the
// real services.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QVariantMap>
#include <memory>

namespace brinesong::testing {

// A bus of the test's own in the place of the system bus, which this machine does not run: a
// dbus-daemon of the session kind, announced in DBUS_SYSTEM_BUS_ADDRESS before anything in the
// test connects to "the system bus", so that logind's stand-in and the program's system-bus
// connections meet there and nowhere else (not on the session bus, where the portal lives).
// The daemon ends with the object.
class PrivateSystemBus {
public:
    PrivateSystemBus() {
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"),
                       QStringLiteral("--nopidfile"), QStringLiteral("--print-address")});
        // Its first line is its address, written once it listens.
        while (daemon_.waitForReadyRead(10000) && !daemon_.canReadLine()) {
        }
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        if (!address_.isEmpty()) {
            qputenv("DBUS_SYSTEM_BUS_ADDRESS", address_.toUtf8());
        }
    }
    ~PrivateSystemBus() {
        daemon_.terminate();
        daemon_.waitForFinished();
    }
    bool started() const { return !address_.isEmpty(); }

private:
    QProcess daemon_;
    QString address_;
};

// One Inhibit request of the portal, closed by org.freedesktop.portal.Request.Close.
class PortalRequest : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")
public:
    explicit PortalRequest(QStringList* closed, QString path) : closed_(closed), path_(path) {}
public slots:
    void Close() { closed_->append(path_); }

private:
    QStringList* closed_;
    QString path_;
};

class PortalStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Inhibit")
public:
    struct Call {
        uint flags;
        QString reason;
        QString handle;
    };

    // Registers as org.freedesktop.portal.Desktop on the session bus.
    explicit PortalStandIn(const QString& connectionName = QStringLiteral("portal-stand-in"))
        : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName)) {
        registered_ = bus_.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), this,
                                          QDBusConnection::ExportAllSlots) &&
                      bus_.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    }
    ~PortalStandIn() override {
        bus_.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
        QDBusConnection::disconnectFromBus(bus_.name());
    }
    bool registered() const { return registered_; }

    QList<Call> calls;
    QStringList closed;  // handles of closed requests

public slots:
    QDBusObjectPath Inhibit(const QString&, uint flags, const QVariantMap& options) {
        const QString handle =
            QStringLiteral("/org/freedesktop/portal/desktop/request/1/r%1").arg(calls.size());
        auto* request = new PortalRequest(&closed, handle);
        request->setParent(this);
        bus_.registerObject(handle, request, QDBusConnection::ExportAllSlots);
        calls.append({flags, options.value(QStringLiteral("reason")).toString(), handle});
        return QDBusObjectPath(handle);
    }

private:
    QDBusConnection bus_;
    bool registered_ = false;
};

// logind's manager on the "system bus", which the tests point at a private bus of their own
// (PrivateSystemBus): the test machine runs no logind. The lock handed out is the write end of a
// pipe: once every copy is closed the read end kept here reads end-of-file, which is how logind
// learns of the release.
class LogindStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    struct Call {
        QString what, who, why, mode;
        int readEnd;
    };

    LogindStandIn()
        : bus_(QDBusConnection::connectToBus(QDBusConnection::SystemBus,
                                             QStringLiteral("logind-stand-in"))) {
        registered_ = bus_.registerObject(QStringLiteral("/org/freedesktop/login1"), this,
                                          QDBusConnection::ExportAllSlots) &&
                      bus_.registerService(QStringLiteral("org.freedesktop.login1"));
    }
    ~LogindStandIn() override {
        for (const Call& call : calls) {
            ::close(call.readEnd);
        }
        bus_.unregisterService(QStringLiteral("org.freedesktop.login1"));
        QDBusConnection::disconnectFromBus(bus_.name());
    }
    bool registered() const { return registered_; }

    // True once every copy of the lock of call `index` has been closed.
    bool released(int index) const {
        pollfd entry{calls[index].readEnd, POLLIN, 0};
        char byte;
        return ::poll(&entry, 1, 0) == 1 && ::read(calls[index].readEnd, &byte, 1) == 0;
    }

    QList<Call> calls;

    // Announces that the computer is about to sleep (true) or has woken (false), as logind does
    // around a suspend.
    void prepareForSleep(bool goingToSleep) {
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"));
        signal << goingToSleep;
        bus_.send(signal);
    }

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                    const QString& mode) {
        int ends[2] = {-1, -1};
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            return {};
        }
        calls.append({what, who, why, mode, ends[0]});
        QDBusUnixFileDescriptor lock(ends[1]);  // a copy; the reply carries it
        ::close(ends[1]);
        return lock;
    }

private:
    QDBusConnection bus_;
    bool registered_ = false;
};

}  // namespace brinesong::testing
