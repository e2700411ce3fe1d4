// SPDX-License-Identifier: GPL-3.0-or-later
// Tells when the computer wakes from sleep: logind's PrepareForSleep(false) on the system bus.
// Qt's timers count on the monotonic clock, which stands still while the computer sleeps, so a
// wait for a time of day learns of the sleep only here, at once, rather than when its timer next
// looks at the wall clock. Where there is no system bus or no logind it never tells; what waits
// for a time of day must look at the wall clock often enough without it. Main thread only.
#pragma once

#include <QObject>

namespace brinesong {

class ResumeWatcher : public QObject {
    Q_OBJECT
public:
    explicit ResumeWatcher(QObject* parent = nullptr);

    // The system bus answered and the signal is subscribed to (logind need not run yet).
    bool isListening() const { return listening_; }

signals:
    // The computer has woken from sleep (suspend or hibernation).
    void resumed();

private slots:
    void prepareForSleep(bool goingToSleep);

private:
    bool listening_ = false;
};

}  // namespace brinesong
