// SPDX-License-Identifier: GPL-3.0-or-later
#include "ResumeWatcher.h"

#include <QDBusConnection>

namespace brinesong {

ResumeWatcher::ResumeWatcher(QObject* parent) : QObject(parent) {
    // Only logind's own signal: the match names its bus name, so no other client of the system
    // bus can make the program believe the computer woke.
    listening_ = QDBusConnection::systemBus().connect(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
        SLOT(prepareForSleep(bool)));
}

void ResumeWatcher::prepareForSleep(bool goingToSleep) {
    if (!goingToSleep) {
        emit resumed();
    }
}

}  // namespace brinesong
