// SPDX-License-Identifier: GPL-3.0-or-later
// Interface descriptions (.ui files) loaded at run time by name. They ship inside the program as
// resources; tests point the loader at a folder of their own to see what a missing or broken
// description does.
#pragma once

#include <QString>

class QWidget;

namespace brinesong {

// Builds the widget tree of "<name>.ui" with `parent` as its parent. Returns nullptr when the
// description cannot be read or built; the caller logs and beeps as the failing panel requires.
QWidget* loadInterface(const QString& name, QWidget* parent = nullptr);

// Where descriptions are looked for; the built-in resources unless changed. An empty folder
// restores the built-in one.
QString interfaceDirectory();
void setInterfaceDirectory(const QString& directory);

// The child of `root` named `objectName` and of type T, or nullptr: outlets stay empty when a
// description lacks them, and calls on an empty outlet do nothing.
template <typename T>
T* outlet(QWidget* root, const char* objectName);

}  // namespace brinesong

#include <QWidget>

template <typename T>
T* brinesong::outlet(QWidget* root, const char* objectName) {
    if (!root) {
        return nullptr;
    }
    if (root->objectName() == QLatin1String(objectName)) {
        if (auto* self = qobject_cast<T*>(root)) {
            return self;
        }
    }
    return root->findChild<T*>(QLatin1String(objectName));
}
