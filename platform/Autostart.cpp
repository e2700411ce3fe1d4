// SPDX-License-Identifier: GPL-3.0-or-later
#include "Autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <optional>

#include "platform/Localization.h"

namespace brinesong {

namespace {

// `program` as one argument of a desktop entry's Exec key: quoted, with the characters the quotes
// do not protect escaped, then escaped again as the key's string value is. None for a path that
// no Exec key can hold.
std::optional<QString> execArgument(const QString& program) {
    if (program.contains(QLatin1Char('\n')) || program.contains(QLatin1Char('\r'))) {
        return std::nullopt;
    }
    QString quoted;
    for (const QChar c : program) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\')) {
            quoted += QLatin1Char('\\');
        }
        quoted += c;
    }
    // A field code begins with '%'; a backslash of the quoting is itself escaped in the value.
    quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    quoted.replace(QLatin1Char('%'), QLatin1String("%%"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

}  // namespace

QString autostartEntryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/org.kelvane.Brinesong.desktop");
}

QString setAutostartEntry(bool installed, const QString& program) {
    const QString path = autostartEntryPath();
    const QString shown = QDir::toNativeSeparators(path);
    if (!installed) {
        QFile entry(path);
        if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) {
            return {};
        }
        return entry.remove()
                   ? QString()
                   : Texts::tr("%1 cannot be removed: %2").arg(shown, entry.errorString());
    }
    const std::optional<QString> exec = execArgument(program);
    if (!exec) {
        return Texts::tr("the program's path cannot be written into %1").arg(shown);
    }
    if (!QDir().mkpath(QFileInfo(path).path())) {
        return Texts::tr("%1 cannot be written: its folder cannot be made")
            .arg(QDir::toNativeSeparators(QFileInfo(path).path()));
    }
    QSaveFile entry(path);
    if (entry.open(QIODevice::WriteOnly)) {
        entry.write(QStringLiteral("[Desktop Entry]\n"
                                   "Type=Application\n"
                                   "Name=Brinesong\n"
                                   "Comment=Ocean surf in the tray, started at login\n"
                                   "Exec=%1 --hidden\n"
                                   "Icon=org.kelvane.Brinesong\n"
                                   "Terminal=false\n")
                        .arg(*exec)
                        .toUtf8());
        if (entry.commit()) {
            return {};
        }
    }
    return Texts::tr("%1 cannot be written: %2").arg(shown, entry.errorString());
}

}  // namespace brinesong
