// SPDX-License-Identifier: GPL-3.0-or-later
// The program as a media player on the session bus (MPRIS: org.mpris.MediaPlayer2 and its Player
// interface), so media keys, the desktop's media controls and tools such as playerctl start and
// stop the sound. There is no pause and no track list: Play, Pause, PlayPause and Stop all go to
// the one play/stop action (Play only when stopped, Pause and Stop only when playing), the status
// is "Playing" or "Stopped", and the one "track" is the endless surf.
#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>

namespace brinesong {

inline constexpr const char* kMprisServiceName = "org.mpris.MediaPlayer2.brinesong";

// What the bus may ask of the program; every member is set.
struct MediaPlayerActions {
    std::function<bool()> isPlaying;
    std::function<void()> playStop;  // starts, or requests the stop
    std::function<void()> raise;     // brings the window to the front
    std::function<void()> quit;      // the usual termination
    std::function<double()> volume;  // 0.0 to 1.0
    std::function<void(double)> setVolume;
};

class MprisPlayer : public QObject {
    Q_OBJECT
public:
    explicit MprisPlayer(MediaPlayerActions actions, QObject* parent = nullptr);
    ~MprisPlayer() override;

    // Exports the player and takes its name; false without a session bus or when the name is
    // taken. `service` is kMprisServiceName outside of tests.
    bool registerOnBus(const QString& service = QString::fromLatin1(kMprisServiceName));

    // Tell the bus's listeners that the play state or the volume changed.
    void playStateChanged();
    void volumeChanged();

    // For the adaptors.
    const MediaPlayerActions& actions() const { return actions_; }
    QString playbackStatus() const;
    QVariantMap metadata() const;

private:
    void propertiesChanged(const QVariantMap& changed);

    MediaPlayerActions actions_;
    QString service_;
    bool registered_ = false;
    QString lastStatus_;
};

}  // namespace brinesong
