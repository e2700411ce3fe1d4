// SPDX-License-Identifier: GPL-3.0-or-later
#include "SleepInhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include "Localization.h"

namespace brinesong {

namespace {

// The portal's Inhibit flag for suspending; logout, user switching and idleness stay allowed.
constexpr uint kInhibitSuspend = 4;
constexpr int kReleaseAtQuitTimeoutMs = 500;

// Said once, when the inhibitor is taken: a hold taken for a waiting start keeps its reason when
// the start begins the sound.
QString reason(bool playing) {
    return playing ? Texts::tr("Playing the sound of the surf")
                   : Texts::tr("Waiting to start the sound of the surf at a set time");
}

}  // namespace

SleepInhibitor::SleepInhibitor(QObject* parent) : QObject(parent) {}

SleepInhibitor::~SleepInhibitor() {
    release(true);
}

void SleepInhibitor::releaseAtQuit() {
    playing_ = false;
    startArmed_ = false;
    release(true);
}

void SleepInhibitor::setEnabled(bool enabled) {
    enabled_ = enabled;
    update();
}

void SleepInhibitor::setPlaying(bool playing) {
    playing_ = playing;
    update();
}

void SleepInhibitor::setStartArmed(bool armed) {
    startArmed_ = armed;
    update();
}

SleepInhibitor::Holder SleepInhibitor::holder() const {
    if (!portalHandle_.isEmpty()) {
        return Holder::Portal;
    }
    return logindLock_.isValid() ? Holder::Logind : Holder::None;
}

void SleepInhibitor::update() {
    if (asking_) {
        return;  // the answer looks at wanted() again
    }
    if (wanted() && holder() == Holder::None) {
        askPortal();
    } else if (!wanted() && holder() != Holder::None) {
        release(false);
    }
}

void SleepInhibitor::askPortal() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        askLogind();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Inhibit"), QStringLiteral("Inhibit"));
    call << QString() << kInhibitSuspend
         << QVariantMap{{QStringLiteral("reason"), reason(playing_)}};
    asking_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (reply.isError()) {
            askLogind();  // no portal here: the older way
            return;
        }
        asking_ = false;
        takePortal(reply.value().path());
    });
}

void SleepInhibitor::askLogind() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        asking_ = false;
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("Brinesong") << reason(playing_)
         << QStringLiteral("block");
    asking_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        asking_ = false;
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        if (!reply.isError()) {
            takeLogind(reply.value());
        }
    });
}

void SleepInhibitor::takePortal(const QString& handle) {
    portalHandle_ = handle;
    emit holderChanged(Holder::Portal);
    update();  // the sound may have stopped while the portal was asked
}

void SleepInhibitor::takeLogind(const QDBusUnixFileDescriptor& lock) {
    logindLock_ = lock;
    emit holderChanged(Holder::Logind);
    update();
}

void SleepInhibitor::release(bool wait) {
    if (!portalHandle_.isEmpty()) {
        const QDBusMessage close = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"), portalHandle_,
            QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close"));
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (wait) {
            bus.call(close, QDBus::Block, kReleaseAtQuitTimeoutMs);
        } else {
            bus.asyncCall(close);
        }
        portalHandle_.clear();
        emit holderChanged(Holder::None);
    }
    if (logindLock_.isValid()) {
        // logind lets go when the last copy of its descriptor is closed.
        logindLock_ = QDBusUnixFileDescriptor();
        emit holderChanged(Holder::None);
    }
}

}  // namespace brinesong
