// SPDX-License-Identifier: GPL-3.0-or-later
// The program as a media player on the session bus (MPRIS: org.mpris.MediaPlayer2, its Player
// and Playlists interfaces), so media keys, the desktop's media controls, phone links, remotes and
// tools such as playerctl start and stop the sound, set its volume and choose its preset. The
// window is one such player, and so is the headless one of `--play` and `--serve`.
//
// There is no pause and no track list: Play starts the sound when it is stopped, Pause and Stop
// both stop it (fading out), PlayPause does the one the play state calls for; the status is
// "Playing" or "Stopped", and the one "track" is the endless surf, titled after the current preset.
// The presets are the playlists: activating one changes the sea to its settings.
//
// The standard properties interface is the player's own, so that a value of the wrong D-Bus type
// is refused with InvalidArgs instead of being converted (a boolean `true` is no full volume).
#pragma once

#include <QDBusContext>
#include <QDBusError>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <vector>

class QDBusAbstractAdaptor;

namespace brinesong {

inline constexpr const char* kMprisServiceName = "org.mpris.MediaPlayer2.brinesong";

// A preset as the bus offers it: the name the program knows it by, and its title in the user's
// language.
struct MediaPlaylist {
    QString name;
    QString title;
};

// What the bus may ask of the program. Every member is set but `raise`, which a player without a
// window leaves empty (it then cannot be raised).
struct MediaPlayerActions {
    std::function<bool()> isPlaying;  // sound plays, or is wanted and waits for the server
    std::function<void()> play;       // starts the sound, unless it plays
    std::function<void()> stop;       // fades it out and stops, if it plays
    std::function<void()> raise;      // brings the window to the front
    std::function<void()> quit;       // the usual termination
    std::function<double()> volume;   // 0.0 to 1.0
    std::function<void(double)> setVolume;
    std::function<QString()> title;  // the current preset as the program shows it; empty: none
    std::function<std::vector<MediaPlaylist>()> playlists;  // in the order the program offers them
    std::function<QString()> activePlaylist;                // its name; empty: none
    std::function<bool(const QString& name)> activatePlaylist;  // false: no such preset
};

// QtDBus keeps the call being answered on the object that carries the adaptors: this one.
class MprisPlayer : public QObject, protected QDBusContext {
    Q_OBJECT
public:
    explicit MprisPlayer(MediaPlayerActions actions, QObject* parent = nullptr);
    ~MprisPlayer() override;

    // Exports the player and takes `service`, or, where another player holds that, the name
    // `service`.instance<pid> MPRIS allows a second one. False without a session bus or when
    // neither name can be had; failure() then says why.
    bool registerOnBus(const QString& service = QString::fromLatin1(kMprisServiceName));
    QString busName() const { return service_; }
    QString failure() const { return failure_; }

    // Tell the bus's listeners that the play state, the volume, or the presets (the list, the
    // current one, whether it was changed) may have changed. Only what did change is announced.
    void playStateChanged();
    void volumeChanged();
    void presetsChanged();

    // For the adaptors.
    const MediaPlayerActions& actions() const { return actions_; }
    QString playbackStatus() const;
    QVariantMap metadata() const;
    QString title() const;

    // The playlists with their object paths, made anew from the program's presets: a preset keeps
    // its path while the program runs, and a renamed one keeps it too.
    struct Listed {
        QString path;
        MediaPlaylist playlist;
    };
    const std::vector<Listed>& playlists();
    // The active playlist's path, or empty.
    QString activePath();
    // The adaptor of a D-Bus interface, or none.
    QDBusAbstractAdaptor* adaptor(const QString& interface) const;
    // Answers the call being carried out with an error instead of its reply.
    void refuseCall(QDBusError::ErrorType type, const QString& why) const {
        sendErrorReply(type, why);
    }

signals:
    // org.mpris.MediaPlayer2.Playlists.PlaylistChanged: a playlist's title changed.
    void playlistRetitled(const QString& path, const QString& title);

private:
    void propertiesChanged(const QString& interface, const QVariantMap& changed);
    // Brings the list of playlists up to date, announcing a title that changed; true when its
    // length changed.
    bool refreshPlaylists();
    // The active playlist's path and title, to tell when ActivePlaylist changed.
    QString activeKey();

    MediaPlayerActions actions_;
    QString service_;
    QString failure_;
    bool registered_ = false;
    QString lastStatus_;
    QString lastTitle_;
    QString lastActive_;  // activeKey() as last announced
    std::vector<Listed> listed_;
    unsigned nextPlaylist_ = 0;
};

}  // namespace brinesong
