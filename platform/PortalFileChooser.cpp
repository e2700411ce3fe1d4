// SPDX-License-Identifier: GPL-3.0-or-later
#include "PortalFileChooser.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QFile>
#include <QTimer>
#include <QUrl>
#include <optional>

namespace brinesong {

using namespace Qt::StringLiterals;

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.FileChooser");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
// SaveFile returns as soon as the dialog is up; a portal that takes longer is not answering.
constexpr int kCallTimeoutMs = 5000;

// A value of a Response's results as `T`: as it came over the bus only when it has the signature
// of a T, so that a value of another type is not read as one; else none.
template <typename T>
std::optional<T> resultAs(const QVariant& value, QLatin1StringView signature) {
    if (value.userType() == qMetaTypeId<QDBusArgument>()) {
        const auto argument = value.value<QDBusArgument>();
        if (argument.currentSignature() != signature) {
            return std::nullopt;
        }
        return qdbus_cast<T>(argument);
    }
    if (value.userType() == qMetaTypeId<T>()) {
        return value.value<T>();
    }
    return std::nullopt;
}

}  // namespace

QDBusArgument& operator<<(QDBusArgument& out, const PortalFilterRule& rule) {
    out.beginStructure();
    out << rule.type << rule.pattern;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, PortalFilterRule& rule) {
    in.beginStructure();
    in >> rule.type >> rule.pattern;
    in.endStructure();
    return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const PortalFilter& filter) {
    out.beginStructure();
    out << filter.name << filter.rules;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, PortalFilter& filter) {
    in.beginStructure();
    in >> filter.name >> filter.rules;
    in.endStructure();
    return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const PortalChoiceOption& option) {
    out.beginStructure();
    out << option.id << option.label;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, PortalChoiceOption& option) {
    in.beginStructure();
    in >> option.id >> option.label;
    in.endStructure();
    return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const PortalChoice& choice) {
    out.beginStructure();
    out << choice.id << choice.label << choice.options << choice.selected;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, PortalChoice& choice) {
    in.beginStructure();
    in >> choice.id >> choice.label >> choice.options >> choice.selected;
    in.endStructure();
    return in;
}

void registerPortalTypes() {
    qDBusRegisterMetaType<PortalFilterRule>();
    qDBusRegisterMetaType<QList<PortalFilterRule>>();
    qDBusRegisterMetaType<PortalFilter>();
    qDBusRegisterMetaType<QList<PortalFilter>>();
    qDBusRegisterMetaType<PortalChoiceOption>();
    qDBusRegisterMetaType<QList<PortalChoiceOption>>();
    qDBusRegisterMetaType<PortalChoice>();
    qDBusRegisterMetaType<QList<PortalChoice>>();
}

PortalFileChooser::PortalFileChooser(QObject* parent) : QObject(parent) {
    registerPortalTypes();
}

PortalFileChooser::~PortalFileChooser() {
    close();
}

void PortalFileChooser::probe() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kInterface << QStringLiteral("version");
    auto* call = new QDBusPendingCallWatcher(bus.asyncCall(get, kCallTimeoutMs), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *w;
        // A portal without a file chooser (no desktop backend offers one) does not know the
        // interface.
        available_ = !reply.isError() && reply.value().variant().toUInt() >= 1;
    });
    if (!watcher_) {
        // A portal that leaves the bus takes its open dialog with it.
        watcher_ = new QDBusServiceWatcher(kService, bus,
                                           QDBusServiceWatcher::WatchForUnregistration, this);
        connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
            available_ = false;
            if (isOpen()) {
                fail();
            }
        });
    }
}

void PortalFileChooser::saveFile(const SaveRequest& request) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (isOpen() || !bus.isConnected()) {
        QTimer::singleShot(0, this, &PortalFileChooser::failed);
        return;
    }
    // The request's path is known before the call, so its answer cannot come before it is
    // listened for.
    const QString token = QStringLiteral("brinesong%1").arg(++requests_);
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    listen(QStringLiteral("%1/request/%2/%3").arg(kPath, sender, token));

    QByteArray folder = QFile::encodeName(request.currentFolder);
    folder.append('\0');  // a file name as bytes, ended as the portal expects
    QVariantMap options{
        {QStringLiteral("handle_token"), token},
        {QStringLiteral("modal"), true},
        {QStringLiteral("current_name"), request.currentName},
        {QStringLiteral("current_folder"), folder},
        {QStringLiteral("filters"), QVariant::fromValue(request.filters)},
        {QStringLiteral("choices"), QVariant::fromValue(request.choices)},
    };
    if (request.currentFilter >= 0 && request.currentFilter < request.filters.size()) {
        options.insert(QStringLiteral("current_filter"),
                       QVariant::fromValue(request.filters[request.currentFilter]));
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("SaveFile"));
    call << request.parentWindow << request.title << options;
    auto* pending = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), this);
    const QString path = requestPath_;
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, path](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                if (requestPath_ != path) {
                    return;  // closed meanwhile
                }
                const QDBusPendingReply<QDBusObjectPath> reply = *w;
                if (reply.isError()) {
                    fail();
                } else if (reply.value().path() != path) {
                    listen(reply.value().path());  // a portal that chose its own path
                }
            });
}

void PortalFileChooser::close() {
    if (!isOpen()) {
        return;
    }
    QDBusConnection::sessionBus().send(QDBusMessage::createMethodCall(
        kService, requestPath_, kRequestInterface, QStringLiteral("Close")));
    stopListening();
}

void PortalFileChooser::response(uint code, const QVariantMap& results) {
    stopListening();
    Answer answer;
    switch (readResponse(code, results, answer)) {
        case Ending::Chosen:
            emit chosen(answer);
            break;
        case Ending::Cancelled:
            emit cancelled();
            break;
        case Ending::Failed:
            emit failed();
            break;
    }
}

PortalFileChooser::Ending PortalFileChooser::readResponse(uint code, const QVariantMap& results,
                                                          Answer& answer) {
    if (code == 1) {
        return Ending::Cancelled;
    }
    const QUrl uri(resultAs<QStringList>(results.value(QStringLiteral("uris")), "as"_L1)
                       .value_or(QStringList())
                       .value(0));
    if (code != 0 || !uri.isLocalFile()) {
        return Ending::Failed;
    }
    const QString path = uri.toLocalFile();
    // Qt takes ":/..." for an absolute path into its resources; the file system does not.
    if (!path.startsWith(QLatin1Char('/')) || path.contains(QChar(0))) {
        return Ending::Failed;
    }
    answer = Answer{};
    answer.path = path;
    if (const auto filter = resultAs<PortalFilter>(results.value(QStringLiteral("current_filter")),
                                                   "(sa(us))"_L1)) {
        answer.filter = filter->name;
    }
    if (const auto choices = resultAs<QList<PortalChoiceOption>>(
            results.value(QStringLiteral("choices")), "a(ss)"_L1)) {
        for (const PortalChoiceOption& choice : *choices) {
            answer.choices.insert(choice.id, choice.label);
        }
    }
    return Ending::Chosen;
}

void PortalFileChooser::listen(const QString& path) {
    stopListening();
    requestPath_ = path;
    // Qt's bus signals reach only slots named by their signature.
    QDBusConnection::sessionBus().connect(kService, requestPath_, kRequestInterface,
                                          QStringLiteral("Response"), this,
                                          SLOT(response(uint, QVariantMap)));
}

void PortalFileChooser::stopListening() {
    if (requestPath_.isEmpty()) {
        return;
    }
    QDBusConnection::sessionBus().disconnect(kService, requestPath_, kRequestInterface,
                                             QStringLiteral("Response"), this,
                                             SLOT(response(uint, QVariantMap)));
    requestPath_.clear();
}

void PortalFileChooser::fail() {
    stopListening();
    emit failed();
}

}  // namespace brinesong
