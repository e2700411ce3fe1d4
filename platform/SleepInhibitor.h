// Keeps the computer from suspending while the sound plays: the XDG desktop portal's Inhibit
// (suspend only, so the screen may still blank) where a portal answers on the session bus, else
// logind's sleep inhibitor on the system bus. Released when the sound stops, when the preference
// is turned off, and when the program quits. Where neither service answers nothing fails: the
// sound plays, only the machine is not held awake.
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

    // The preference "Keep the computer awake while playing" (on unless turned off).
    void setEnabled(bool enabled);
    // Follows the play state.
    void setPlaying(bool playing);
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
    bool wanted() const { return enabled_ && playing_; }

    bool enabled_ = true;
    bool playing_ = false;
    bool asking_ = false;  // a request is on its way; its answer decides what to do
    QString portalHandle_;
    QDBusUnixFileDescriptor logindLock_;
};

}  // namespace brinesong
