// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps the computer from suspending while the sound plays, and while a scheduled start waits for
// its time (a computer asleep at that time would start the sound late or not at all): the XDG
// desktop portal's Inhibit (suspend only, so the screen may still blank) where a portal answers on
// the session bus, else logind's sleep inhibitor on the system bus. One inhibitor serves both, so
// a start that begins the sound hands the computer over without letting go. Released when neither
// holds any more, when the preference is turned off, and when the program quits. Where neither
// service answers nothing fails: the sound plays, only the machine is not held awake. (A closed
// lid may suspend the computer all the same: the scheduler looks again when it wakes.)
//
// Every call is asynchronous: a slow or frozen desktop service never holds up the window.
#pragma once

#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

namespace brinesong {

class SleepInhibitor : public QObject {
    Q_OBJECT
public:
    explicit SleepInhibitor(QObject* parent = nullptr);
    // Releases what is still held, waiting briefly for the portal to take note.
    ~SleepInhibitor() override;

    // The preference "Keep the computer awake while playing or waiting to start" (on unless
    // turned off).
    void setEnabled(bool enabled);
    // Follows the play state.
    void setPlaying(bool playing);
    // Follows the scheduled start: armed, it waits for its time.
    void setStartArmed(bool armed);
    // At quit: gives back what is held and waits briefly until the portal has it, so the release
    // is not lost with the process's bus connection.
    void releaseAtQuit();

    enum class Holder { None, Portal, Logind };
    Q_ENUM(Holder)
    Holder holder() const;
    // A request is on its way to a desktop service.
    bool isAsking() const { return asking_; }

signals:
    // An inhibitor was taken, or given back (None).
    void holderChanged(brinesong::SleepInhibitor::Holder holder);

private:
    void update();
    void askPortal();
    void askLogind();
    void takePortal(const QString& handle);
    void takeLogind(const QDBusUnixFileDescriptor& lock);
    void release(bool wait);
    bool wanted() const { return enabled_ && (playing_ || startArmed_); }

    bool enabled_ = true;
    bool playing_ = false;
    bool startArmed_ = false;
    bool asking_ = false;  // a request is on its way; its answer decides what to do
    QString portalHandle_;
    QDBusUnixFileDescriptor logindLock_;
};

}  // namespace brinesong
