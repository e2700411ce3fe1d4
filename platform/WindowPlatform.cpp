// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowPlatform.h"

#include <QByteArray>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace brinesong {

namespace {

struct HeldMessage {
    QtMsgType type;
    QString text;
    QByteArray file, function, category;
    int line;
};

QList<HeldMessage>& heldMessages() {
    static QList<HeldMessage> messages;
    return messages;
}
QtMessageHandler previousHandler = nullptr;

void holdOrFail(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", noDisplayMessage());
        std::_Exit(1);
    }
    heldMessages().append(
        {type, text, context.file, context.function, context.category, context.line});
}

// The value of `-name VALUE`, `--name VALUE`, `-name=VALUE` or `--name=VALUE`, or nothing.
QByteArray optionValue(int argc, char** argv, const char* name) {
    const QByteArray single = QByteArray("-") + name;
    const QByteArray twice = QByteArray("--") + name;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if ((argument == single || argument == twice) && i + 1 < argc) {
            return QByteArray(argv[i + 1]);
        }
        for (const QByteArray& prefix : {single + '=', twice + '='}) {
            if (argument.startsWith(prefix)) {
                return argument.mid(prefix.size());
            }
        }
    }
    return {};
}

bool environmentNames(const char* variable) {
    return !qEnvironmentVariableIsEmpty(variable);
}

}  // namespace

const char* noDisplayMessage() {
    return "brinesong: the window needs a graphical display (X11 or Wayland) and none was found; "
           "--export and --play work without one";
}

bool displayNamed(int argc, char** argv) {
    QByteArray platform = optionValue(argc, argv, "platform");
    if (platform.isEmpty()) {
        platform = qgetenv("QT_QPA_PLATFORM");
    }
    const bool x11 = environmentNames("DISPLAY") || !optionValue(argc, argv, "display").isEmpty();
    // Without WAYLAND_DISPLAY a Wayland client tries the compositor's usual socket.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const bool wayland =
        environmentNames("WAYLAND_DISPLAY") ||
        (!runtime.isEmpty() && QFileInfo::exists(QString::fromLocal8Bit(runtime + "/wayland-0")));
    if (platform.isEmpty()) {
        return x11 || wayland;
    }
    // A list of platforms is tried in its order: one that can start is enough.
    for (const QByteArray& entry : platform.split(';')) {
        const QByteArray name = entry.split(':').constFirst().trimmed();
        if (name == "xcb") {
            if (x11) {
                return true;
            }
        } else if (name.startsWith("wayland")) {
            if (wayland) {
                return true;
            }
        } else if (!name.isEmpty()) {
            return true;
        }
    }
    return false;
}

PlatformStartGuard::PlatformStartGuard() {
    previousHandler = qInstallMessageHandler(holdOrFail);
}

PlatformStartGuard::~PlatformStartGuard() {
    qInstallMessageHandler(previousHandler);
    for (HeldMessage& held : heldMessages()) {
        const QMessageLogContext context(
            held.file.isEmpty() ? nullptr : held.file.constData(), held.line,
            held.function.isEmpty() ? nullptr : held.function.constData(),
            held.category.isEmpty() ? "default" : held.category.constData());
        qt_message_output(held.type, context, held.text);
    }
    heldMessages().clear();
}

}  // namespace brinesong
