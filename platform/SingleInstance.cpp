// SPDX-License-Identifier: GPL-3.0-or-later
#include "SingleInstance.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace brinesong {

namespace {

constexpr int kActivateTimeoutMs = 5000;

// The object path of an application id: "org.kelvane.Brinesong" -> "/org/kelvane/Brinesong".
QString objectPath(const QString& service) {
    return QLatin1Char('/') + QString(service).replace(QLatin1Char('.'), QLatin1Char('/'));
}

}  // namespace

// The part of org.freedesktop.Application a window with no documents answers.
class ApplicationAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    explicit ApplicationAdaptor(SingleInstance* owner)
        : QDBusAbstractAdaptor(owner), owner_(owner) {}

public slots:
    void Activate(const QVariantMap& platformData) { owner_->activate(platformData); }
    // The call's message comes last, so an action the program lacks is answered with an error.
    void ActivateAction(const QString& name, const QVariantList& parameter,
                        const QVariantMap& platformData, const QDBusMessage& call) {
        QString error;
        if (!parameter.isEmpty()) {
            error = QStringLiteral("The action '%1' takes no parameter").arg(name);
        } else if (!owner_->activateAction(name, platformData)) {
            error = QStringLiteral("There is no action '%1'").arg(name);
        }
        if (!error.isEmpty()) {
            call.setDelayedReply(true);
            QDBusConnection::sessionBus().send(
                call.createErrorReply(QDBusError::InvalidArgs, error));
        }
    }

private:
    SingleInstance* owner_;
};

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {
    new ApplicationAdaptor(this);
}

SingleInstance::~SingleInstance() {
    if (registered_) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(service_);
        bus.unregisterObject(path_);
    }
}

SingleInstance::Claim SingleInstance::claim(const QString& action, const QString& service) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return Claim::Alone;
    }
    service_ = service;
    path_ = objectPath(service);
    // The object is there before the name, so a launch that finds the name can be answered.
    if (!bus.registerObject(path_, this, QDBusConnection::ExportAdaptors)) {
        return Claim::Alone;
    }
    if (bus.registerService(service_)) {
        registered_ = true;
        return Claim::First;
    }
    bus.unregisterObject(path_);

    QVariantMap platformData;
    const QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN");
    if (!token.isEmpty()) {
        platformData.insert(QStringLiteral("activation-token"), QString::fromUtf8(token));
    }
    const QByteArray startupId = qgetenv("DESKTOP_STARTUP_ID");
    if (!startupId.isEmpty()) {
        platformData.insert(QStringLiteral("desktop-startup-id"), QString::fromUtf8(startupId));
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        service_, path_, QStringLiteral("org.freedesktop.Application"),
        action.isEmpty() ? QStringLiteral("Activate") : QStringLiteral("ActivateAction"));
    if (!action.isEmpty()) {
        call << action << QVariant::fromValue(QVariantList());
    }
    call << platformData;
    const QDBusMessage reply = bus.call(call, QDBus::Block, kActivateTimeoutMs);
    // An owner that does not answer (it hangs, or is just quitting) is no reason to stay closed.
    return reply.type() == QDBusMessage::ReplyMessage ? Claim::Activated : Claim::Alone;
}

void SingleInstance::activate(const QVariantMap& platformData) {
    const QString token = platformData.value(QStringLiteral("activation-token")).toString();
    if (!token.isEmpty()) {
        // Qt's Wayland backend hands this token to the compositor at the next activation.
        qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
    }
    emit activationRequested();
}

bool SingleInstance::activateAction(const QString& name, const QVariantMap& platformData) {
    if (!actionNames().contains(name)) {
        return false;
    }
    const QString token = platformData.value(QStringLiteral("activation-token")).toString();
    if (!token.isEmpty()) {
        qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
    }
    emit actionRequested(name);
    return true;
}

QStringList SingleInstance::actionNames() {
    return {QString::fromLatin1(kPlayAction), QString::fromLatin1(kStopAction)};
}

}  // namespace brinesong

#include "SingleInstance.moc"
