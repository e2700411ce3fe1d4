// SPDX-License-Identifier: GPL-3.0-or-later
#include "MprisPlayer.h"

#include <QCollator>
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QMetaProperty>
#include <QStringList>
#include <algorithm>
#include <cmath>

#include "Localization.h"
#include "SingleInstance.h"

namespace brinesong {

// A playlist as MPRIS marshals it, (oss): object path, name, icon URI (none here).
struct MprisPlaylist {
    QDBusObjectPath id;
    QString name;
    QString icon;
};

// The active playlist, (b(oss)): whether there is one, and which.
struct MprisMaybePlaylist {
    bool valid = false;
    MprisPlaylist playlist;
};

}  // namespace brinesong

Q_DECLARE_METATYPE(brinesong::MprisPlaylist)
Q_DECLARE_METATYPE(brinesong::MprisMaybePlaylist)

namespace brinesong {

QDBusArgument& operator<<(QDBusArgument& argument, const MprisPlaylist& playlist) {
    argument.beginStructure();
    argument << playlist.id << playlist.name << playlist.icon;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, MprisPlaylist& playlist) {
    argument.beginStructure();
    argument >> playlist.id >> playlist.name >> playlist.icon;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const MprisMaybePlaylist& maybe) {
    argument.beginStructure();
    argument << maybe.valid << maybe.playlist;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, MprisMaybePlaylist& maybe) {
    argument.beginStructure();
    argument >> maybe.valid >> maybe.playlist;
    argument.endStructure();
    return argument;
}

namespace {
const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kRootInterface = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kPlaylistsInterface = QStringLiteral("org.mpris.MediaPlayer2.Playlists");
// Playlist paths are made of a number: a preset's name may hold anything, a path may not.
const QString kPlaylistPath = QStringLiteral("/org/kelvane/Brinesong/Preset/%1");
const QString kAlphabetical = QStringLiteral("Alphabetical");
const QString kUserDefined = QStringLiteral("UserDefined");
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
    bool canRaise() const { return bool(player_->actions().raise); }
    bool hasTrackList() const { return false; }
    QString identity() const { return QStringLiteral("Brinesong"); }
    QString desktopEntry() const { return QString::fromLatin1(kApplicationId); }
    QStringList supportedUriSchemes() const { return {}; }
    QStringList supportedMimeTypes() const { return {}; }

public slots:
    void Raise() {
        if (player_->actions().raise) {
            player_->actions().raise();
        }
    }
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
        // every later one (the window saves the volume).
        if (std::isfinite(volume)) {
            player_->actions().setVolume(qBound(0.0, volume, 1.0));
        }
    }
    qlonglong position() const { return 0; }  // an endless sound has no position
    bool yes() const { return true; }
    bool no() const { return false; }

public slots:
    void Play() { player_->actions().play(); }
    void Pause() { Stop(); }
    void PlayPause() {
        if (player_->actions().isPlaying()) {
            Stop();
        } else {
            Play();
        }
    }
    void Stop() { player_->actions().stop(); }
    void Next() {}
    void Previous() {}
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath&, qlonglong) {}
    void OpenUri(const QString&) {}

private:
    MprisPlayer* player_;
};

// org.mpris.MediaPlayer2.Playlists: the presets.
class MprisPlaylistsAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Playlists")
    Q_PROPERTY(uint PlaylistCount READ playlistCount)
    Q_PROPERTY(QStringList Orderings READ orderings)
    Q_PROPERTY(brinesong::MprisMaybePlaylist ActivePlaylist READ activePlaylist)
public:
    explicit MprisPlaylistsAdaptor(MprisPlayer* player)
        : QDBusAbstractAdaptor(player), player_(player) {
        connect(player, &MprisPlayer::playlistRetitled, this,
                [this](const QString& path, const QString& title) {
                    emit PlaylistChanged({QDBusObjectPath(path), title, QString()});
                });
    }

    uint playlistCount() const { return uint(player_->playlists().size()); }
    // In the program's own order (the shipped presets, then the user's as they were made), or
    // by title.
    QStringList orderings() const { return {kAlphabetical, kUserDefined}; }
    MprisMaybePlaylist activePlaylist() const {
        const QString active = player_->activePath();
        for (const MprisPlayer::Listed& listed : player_->playlists()) {
            if (listed.path == active) {
                return {true, {QDBusObjectPath(listed.path), listed.playlist.title, QString()}};
            }
        }
        // None: MPRIS asks for a valid path all the same.
        return {false, {QDBusObjectPath(QStringLiteral("/")), QString(), QString()}};
    }

public slots:
    void ActivatePlaylist(const QDBusObjectPath& id) {
        for (const MprisPlayer::Listed& listed : player_->playlists()) {
            if (listed.path == id.path()) {
                if (player_->actions().activatePlaylist(listed.playlist.name)) {
                    player_->presetsChanged();
                    return;
                }
                break;
            }
        }
        player_->refuseCall(QDBusError::InvalidArgs,
                            QStringLiteral("no playlist %1 (see GetPlaylists)").arg(id.path()));
    }

    QList<brinesong::MprisPlaylist> GetPlaylists(uint index, uint maxCount, const QString& order,
                                                 bool reverseOrder) {
        if (!orderings().contains(order)) {
            player_->refuseCall(QDBusError::InvalidArgs,
                                QStringLiteral("no ordering '%1' (see Orderings)").arg(order));
            return {};
        }
        std::vector<MprisPlayer::Listed> listed = player_->playlists();
        if (order == kAlphabetical) {
            QCollator collator;
            collator.setCaseSensitivity(Qt::CaseInsensitive);
            std::stable_sort(listed.begin(), listed.end(),
                             [&collator](const auto& a, const auto& b) {
                                 return collator.compare(a.playlist.title, b.playlist.title) < 0;
                             });
        }
        if (reverseOrder) {
            std::reverse(listed.begin(), listed.end());
        }
        QList<MprisPlaylist> page;
        for (size_t i = index; i < listed.size() && uint(page.size()) < maxCount; ++i) {
            page.append({QDBusObjectPath(listed[i].path), listed[i].playlist.title, QString()});
        }
        return page;
    }

signals:
    void PlaylistChanged(const brinesong::MprisPlaylist& playlist);

private:
    MprisPlayer* player_;
};

// org.freedesktop.DBus.Properties, answered here rather than by QtDBus, which converts a value of
// another type where it can (a boolean to a volume of 1.0) and answers one it cannot convert with
// an internal error. Here a value must have the property's own D-Bus type.
class MprisPropertiesAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.DBus.Properties")
    // QtDBus describes this standard interface in every object's introspection itself: a
    // description of its own here would list it twice.
    Q_CLASSINFO("D-Bus Introspection", " ")
public:
    explicit MprisPropertiesAdaptor(MprisPlayer* player)
        : QDBusAbstractAdaptor(player), player_(player) {}

public slots:
    QDBusVariant Get(const QString& interface, const QString& name) {
        const QMetaProperty property = find(interface, name);
        if (!property.isValid()) {
            return {};
        }
        return QDBusVariant(property.read(player_->adaptor(interface)));
    }

    QVariantMap GetAll(const QString& interface) {
        QDBusAbstractAdaptor* adaptor = player_->adaptor(interface);
        if (!adaptor) {
            player_->refuseCall(QDBusError::UnknownInterface,
                                QStringLiteral("no interface %1 here").arg(interface));
            return {};
        }
        QVariantMap all;
        const QMetaObject* meta = adaptor->metaObject();
        for (int i = QDBusAbstractAdaptor::staticMetaObject.propertyCount();
             i < meta->propertyCount(); ++i) {
            all.insert(QString::fromLatin1(meta->property(i).name()),
                       meta->property(i).read(adaptor));
        }
        return all;
    }

    void Set(const QString& interface, const QString& name, const QDBusVariant& value) {
        const QMetaProperty property = find(interface, name);
        if (!property.isValid()) {
            return;
        }
        if (!property.isWritable()) {
            player_->refuseCall(QDBusError::PropertyReadOnly,
                                QStringLiteral("%1 cannot be set").arg(name));
            return;
        }
        const QVariant given = value.variant();
        if (given.metaType() != property.metaType()) {
            const QString type =
                given.metaType() == QMetaType::fromType<QDBusArgument>()
                    ? given.value<QDBusArgument>().currentSignature()
                    : QString::fromLatin1(QDBusMetaType::typeToSignature(given.metaType()));
            player_->refuseCall(
                QDBusError::InvalidArgs,
                QStringLiteral("%1 takes a value of D-Bus type '%2', not '%3'")
                    .arg(name,
                         QString::fromLatin1(QDBusMetaType::typeToSignature(property.metaType())),
                         type));
            return;
        }
        property.write(player_->adaptor(interface), given);
    }

private:
    // The property, or an invalid one after the error reply.
    QMetaProperty find(const QString& interface, const QString& name) {
        QDBusAbstractAdaptor* adaptor = player_->adaptor(interface);
        if (!adaptor) {
            player_->refuseCall(QDBusError::UnknownInterface,
                                QStringLiteral("no interface %1 here").arg(interface));
            return {};
        }
        const int index = adaptor->metaObject()->indexOfProperty(name.toLatin1().constData());
        if (index < QDBusAbstractAdaptor::staticMetaObject.propertyCount()) {
            player_->refuseCall(QDBusError::UnknownProperty,
                                QStringLiteral("%1 has no property %2").arg(interface, name));
            return {};
        }
        return adaptor->metaObject()->property(index);
    }

    MprisPlayer* player_;
};

MprisPlayer::MprisPlayer(MediaPlayerActions actions, QObject* parent)
    : QObject(parent), actions_(std::move(actions)) {
    qDBusRegisterMetaType<MprisPlaylist>();
    qDBusRegisterMetaType<MprisMaybePlaylist>();
    qDBusRegisterMetaType<QList<MprisPlaylist>>();
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this);
    new MprisPlaylistsAdaptor(this);
    new MprisPropertiesAdaptor(this);
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
    if (!bus.isConnected()) {
        failure_ = QStringLiteral("no session bus (%1)").arg(bus.lastError().message());
        return false;
    }
    if (!bus.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors)) {
        failure_ = QStringLiteral("%1 is taken on the session bus").arg(kObjectPath);
        return false;
    }
    const QString instance =
        QStringLiteral("%1.instance%2").arg(service).arg(QCoreApplication::applicationPid());
    for (const QString& name : {service, instance}) {
        if (bus.registerService(name)) {
            service_ = name;
            registered_ = true;
            lastStatus_ = playbackStatus();
            lastTitle_ = title();
            refreshPlaylists();
            lastActive_ = activeKey();
            return true;
        }
    }
    bus.unregisterObject(kObjectPath);
    failure_ = QStringLiteral("neither %1 nor %2 could be had on the session bus (%3)")
                   .arg(service, instance, bus.lastError().message());
    return false;
}

QDBusAbstractAdaptor* MprisPlayer::adaptor(const QString& interface) const {
    // The properties interface itself has none.
    if (interface == kRootInterface || interface == kPlayerInterface ||
        interface == kPlaylistsInterface) {
        for (QDBusAbstractAdaptor* child : findChildren<QDBusAbstractAdaptor*>()) {
            const QMetaObject* meta = child->metaObject();
            if (interface ==
                QLatin1String(meta->classInfo(meta->indexOfClassInfo("D-Bus Interface")).value())) {
                return child;
            }
        }
    }
    return nullptr;
}

QString MprisPlayer::playbackStatus() const {
    return actions_.isPlaying() ? QStringLiteral("Playing") : QStringLiteral("Stopped");
}

QString MprisPlayer::title() const {
    const QString shown = actions_.title();
    return shown.isEmpty() ? Texts::tr("Ocean surf") : shown;
}

QVariantMap MprisPlayer::metadata() const {
    return {
        {QStringLiteral("mpris:trackid"),
         QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/kelvane/Brinesong/Surf")))},
        {QStringLiteral("xesam:title"), title()},
    };
}

const std::vector<MprisPlayer::Listed>& MprisPlayer::playlists() {
    if (refreshPlaylists()) {
        propertiesChanged(kPlaylistsInterface,
                          {{QStringLiteral("PlaylistCount"), uint(listed_.size())}});
    }
    return listed_;
}

bool MprisPlayer::refreshPlaylists() {
    const std::vector<MediaPlaylist> now = actions_.playlists();
    // One name gone and one come in its place, the rest as they were: the preset was renamed, and
    // keeps its path.
    std::vector<size_t> moved;
    for (size_t i = 0; i < now.size() && now.size() == listed_.size(); ++i) {
        if (now[i].name != listed_[i].playlist.name) {
            moved.push_back(i);
        }
    }
    std::vector<Listed> next;
    for (size_t i = 0; i < now.size(); ++i) {
        const auto kept = std::find_if(listed_.begin(), listed_.end(), [&](const Listed& listed) {
            return listed.playlist.name == now[i].name;
        });
        QString path;
        if (kept != listed_.end()) {
            path = kept->path;
        } else if (moved.size() == 1 && moved[0] == i) {
            path = listed_[i].path;
        } else {
            path = kPlaylistPath.arg(nextPlaylist_++);
        }
        next.push_back({path, now[i]});
    }
    const bool resized = next.size() != listed_.size();
    std::swap(listed_, next);
    if (registered_) {
        for (const Listed& listed : listed_) {
            const auto before = std::find_if(next.begin(), next.end(), [&](const Listed& old) {
                return old.path == listed.path;
            });
            if (before != next.end() && before->playlist.title != listed.playlist.title) {
                emit playlistRetitled(listed.path, listed.playlist.title);
            }
        }
    }
    return resized && registered_;
}

QString MprisPlayer::activePath() {
    const QString active = actions_.activePlaylist();
    for (const Listed& listed : playlists()) {
        if (!active.isEmpty() && listed.playlist.name == active) {
            return listed.path;
        }
    }
    return {};
}

QString MprisPlayer::activeKey() {
    const QString path = activePath();
    for (const Listed& listed : listed_) {
        if (listed.path == path) {
            return path + QLatin1Char('\n') + listed.playlist.title;
        }
    }
    return {};
}

void MprisPlayer::playStateChanged() {
    const QString status = playbackStatus();
    if (status != lastStatus_) {
        lastStatus_ = status;
        propertiesChanged(kPlayerInterface, {{QStringLiteral("PlaybackStatus"), status}});
    }
}

void MprisPlayer::volumeChanged() {
    propertiesChanged(kPlayerInterface, {{QStringLiteral("Volume"), actions_.volume()}});
}

void MprisPlayer::presetsChanged() {
    if (!registered_) {
        return;
    }
    // Refreshes the list first, announcing what changed there.
    if (const QString active = activeKey(); active != lastActive_) {
        lastActive_ = active;
        propertiesChanged(
            kPlaylistsInterface,
            {{QStringLiteral("ActivePlaylist"),
              QVariant::fromValue(static_cast<MprisPlaylistsAdaptor*>(adaptor(kPlaylistsInterface))
                                      ->activePlaylist())}});
    }
    if (const QString shown = title(); shown != lastTitle_) {
        lastTitle_ = shown;
        propertiesChanged(kPlayerInterface, {{QStringLiteral("Metadata"), metadata()}});
    }
}

void MprisPlayer::propertiesChanged(const QString& interface, const QVariantMap& changed) {
    if (!registered_) {
        return;
    }
    QDBusMessage signal =
        QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << interface << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

}  // namespace brinesong

#include "MprisPlayer.moc"
