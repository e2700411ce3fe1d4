// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's own save dialog, through the XDG desktop portal on the session bus
// (org.freedesktop.portal.FileChooser.SaveFile): where the desktop offers one, the user gets the
// dialog of the desktop, with its places and bookmarks, and a few questions of the program's own
// in it as choices (drop-down lists and check boxes). A typed value has no place there.
//
// Everything is asynchronous: an absent, slow or failing portal never holds up the window, and
// the caller keeps a dialog of its own for when none answers (failed). Main thread only.
#pragma once

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariantMap>

class QDBusArgument;
class QDBusServiceWatcher;

namespace brinesong {

// The portal's types, as they travel on the bus.
struct PortalFilterRule {  // (us): type 0 is a glob pattern, 1 a MIME type
    uint type = 0;
    QString pattern;
};
struct PortalFilter {  // (sa(us)): a name and its rules, one entry of the file-type list
    QString name;
    QList<PortalFilterRule> rules;
};
struct PortalChoiceOption {  // (ss): an option's id and label; in an answer, a choice and its id
    QString id;
    QString label;
};
struct PortalChoice {  // (ssa(ss)s): no options makes a check box, selected "true" or "false"
    QString id;
    QString label;
    QList<PortalChoiceOption> options;
    QString selected;
};

QDBusArgument& operator<<(QDBusArgument& out, const PortalFilterRule& rule);
const QDBusArgument& operator>>(const QDBusArgument& in, PortalFilterRule& rule);
QDBusArgument& operator<<(QDBusArgument& out, const PortalFilter& filter);
const QDBusArgument& operator>>(const QDBusArgument& in, PortalFilter& filter);
QDBusArgument& operator<<(QDBusArgument& out, const PortalChoiceOption& option);
const QDBusArgument& operator>>(const QDBusArgument& in, PortalChoiceOption& option);
QDBusArgument& operator<<(QDBusArgument& out, const PortalChoice& choice);
const QDBusArgument& operator>>(const QDBusArgument& in, PortalChoice& choice);

// Makes the types above known to Qt's D-Bus marshalling; called by PortalFileChooser.
void registerPortalTypes();

class PortalFileChooser : public QObject {
    Q_OBJECT
public:
    struct SaveRequest {
        QString parentWindow;  // "x11:<window id in hex>", or empty
        QString title;
        QString currentName;    // the file name offered
        QString currentFolder;  // the folder it opens in
        QList<PortalFilter> filters;
        int currentFilter = 0;  // index into filters
        QList<PortalChoice> choices;
    };
    struct Answer {
        QString path;                    // the local file chosen
        QString filter;                  // the name of the filter chosen; empty when not told
        QMap<QString, QString> choices;  // choice id to option id ("true"/"false": a check box)
    };
    // How a request ended, as its Response tells it.
    enum class Ending { Chosen, Cancelled, Failed };

    // Reads a Response: Chosen with `answer` filled, Cancelled, or Failed for any other end and
    // for an answer that names no file to write: a URI that is not a local file, a path that is
    // not absolute, or one holding a NUL ("%00" decodes to one, and the name would be cut short
    // there when the file is opened). The results may hold the bus's types or plain ones.
    static Ending readResponse(uint code, const QVariantMap& results, Answer& answer);

    explicit PortalFileChooser(QObject* parent = nullptr);
    // Closes a dialog still open.
    ~PortalFileChooser() override;

    // Asks the session bus whether a portal with a file chooser is there; available() once it has
    // said so. Until then, and where none answers, the caller's own dialog serves.
    void probe();
    bool available() const { return available_; }

    // Opens the desktop's save dialog. Ends in chosen or cancelled, or in failed when the portal
    // does not take the request, ends it some other way, or leaves the bus while it is open.
    void saveFile(const SaveRequest& request);
    bool isOpen() const { return !requestPath_.isEmpty(); }
    // Closes the dialog; nothing is answered.
    void close();

signals:
    void chosen(const brinesong::PortalFileChooser::Answer& answer);
    void cancelled();
    void failed();

private slots:
    // org.freedesktop.portal.Request.Response of the open request.
    void response(uint code, const QVariantMap& results);

private:
    void listen(const QString& path);
    void stopListening();
    void fail();

    bool available_ = false;
    int requests_ = 0;
    QString requestPath_;  // the open request's object path; empty when none is open
    QDBusServiceWatcher* watcher_ = nullptr;
};

}  // namespace brinesong

Q_DECLARE_METATYPE(brinesong::PortalFilterRule)
Q_DECLARE_METATYPE(brinesong::PortalFilter)
Q_DECLARE_METATYPE(brinesong::PortalChoiceOption)
Q_DECLARE_METATYPE(brinesong::PortalChoice)
