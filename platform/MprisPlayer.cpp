// SPDX-License-Identifier: GPL-3.0-or-later
#include "MprisPlayer.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QStringList>
#include <cmath>

#include "Localization.h"
#include "SingleInstance.h"

namespace brinesong {

namespace {
const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
}  // namespace

// org.mpris.MediaPlayer2: the application itself.
class MprisRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)
public:
    explicit MprisRootAdaptor(MprisPlayer* player)
        : QDBusAbstractAdaptor(player), player_(player) {}

    bool canQuit() const { return true; }
    bool canRaise() const { return true; }
    bool hasTrackList() const { return false; }
    QString identity() const { return QStringLiteral("Brinesong"); }
    QString desktopEntry() const { return QString::fromLatin1(kApplicationId); }
    QStringList supportedUriSchemes() const { return {}; }
    QStringList supportedMimeTypes() const { return {}; }

public slots:
    void Raise() { player_->actions().raise(); }
    void Quit() { player_->actions().quit(); }

private:
    MprisPlayer* player_;
};

// org.mpris.MediaPlayer2.Player: play and stop, the status, the volume.
class MprisPlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ no)
    Q_PROPERTY(bool CanGoPrevious READ no)
    Q_PROPERTY(bool CanPlay READ yes)
    Q_PROPERTY(bool CanPause READ yes)
    Q_PROPERTY(bool CanSeek READ no)
    Q_PROPERTY(bool CanControl READ yes)
public:
    explicit MprisPlayerAdaptor(MprisPlayer* player)
        : QDBusAbstractAdaptor(player), player_(player) {}

    QString playbackStatus() const { return player_->playbackStatus(); }
    double rate() const { return 1.0; }
    void setRate(double) {}  // the surf has one speed: any rate, a number or not, is ignored
    QVariantMap metadata() const { return player_->metadata(); }
    double volume() const { return player_->actions().volume(); }
    void setVolume(double volume) {
        // Not a number, or infinite: ignored, rather than muting the sound for this session and
        // every later one (the volume is saved).
        if (std::isfinite(volume)) {
            player_->actions().setVolume(qBound(0.0, volume, 1.0));
        }
    }
    qlonglong position() const { return 0; }  // an endless sound has no position
    bool yes() const { return true; }
    bool no() const { return false; }

public slots:
    void Play() {
        if (!player_->actions().isPlaying()) {
            player_->actions().playStop();
        }
    }
    void Pause() { Stop(); }
    void PlayPause() { player_->actions().playStop(); }
    void Stop() {
        if (player_->actions().isPlaying()) {
            player_->actions().playStop();
        }
    }
    void Next() {}
    void Previous() {}
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath&, qlonglong) {}
    void OpenUri(const QString&) {}

private:
    MprisPlayer* player_;
};

MprisPlayer::MprisPlayer(MediaPlayerActions actions, QObject* parent)
    : QObject(parent), actions_(std::move(actions)) {
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this);
}

MprisPlayer::~MprisPlayer() {
    if (registered_) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(service_);
        bus.unregisterObject(kObjectPath);
    }
}

bool MprisPlayer::registerOnBus(const QString& service) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() ||
        !bus.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors)) {
        return false;
    }
    if (!bus.registerService(service)) {
        bus.unregisterObject(kObjectPath);
        return false;
    }
    service_ = service;
    registered_ = true;
    lastStatus_ = playbackStatus();
    return true;
}

QString MprisPlayer::playbackStatus() const {
    return actions_.isPlaying() ? QStringLiteral("Playing") : QStringLiteral("Stopped");
}

QVariantMap MprisPlayer::metadata() const {
    return {
        {QStringLiteral("mpris:trackid"),
         QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/kelvane/Brinesong/Surf")))},
        {QStringLiteral("xesam:title"), Texts::tr("Ocean surf")},
    };
}

void MprisPlayer::playStateChanged() {
    const QString status = playbackStatus();
    if (status != lastStatus_) {
        lastStatus_ = status;
        propertiesChanged({{QStringLiteral("PlaybackStatus"), status}});
    }
}

void MprisPlayer::volumeChanged() {
    propertiesChanged({{QStringLiteral("Volume"), actions_.volume()}});
}

void MprisPlayer::propertiesChanged(const QVariantMap& changed) {
    if (!registered_) {
        return;
    }
    QDBusMessage signal =
        QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

}  // namespace brinesong

#include "MprisPlayer.moc"
