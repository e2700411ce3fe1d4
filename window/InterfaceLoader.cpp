// SPDX-License-Identifier: GPL-3.0-or-later
#include "InterfaceLoader.h"

#include <QFile>
#include <QUiLoader>

namespace brinesong {

namespace {
const QString kBuiltInDirectory = QStringLiteral(":/interfaces");
QString& currentDirectory() {
    static QString directory = kBuiltInDirectory;
    return directory;
}
}  // namespace

QString interfaceDirectory() {
    return currentDirectory();
}

void setInterfaceDirectory(const QString& directory) {
    currentDirectory() = directory.isEmpty() ? kBuiltInDirectory : directory;
}

QWidget* loadInterface(const QString& name, QWidget* parent) {
    QFile file(currentDirectory() + QLatin1Char('/') + name + QStringLiteral(".ui"));
    if (!file.open(QIODevice::ReadOnly)) {
        return nullptr;
    }
    QUiLoader loader;
    QWidget* root = loader.load(&file, parent);
    if (!root) {
        qWarning("%s: %s", qPrintable(file.fileName()), qPrintable(loader.errorString()));
    }
    return root;
}

}  // namespace brinesong
