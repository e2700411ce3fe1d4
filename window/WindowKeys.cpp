// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowKeys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QShortcut>
#include <QWidget>

namespace brinesong {

WindowKeys::WindowKeys(QWidget* window, std::function<bool(const QKeyEvent&)> action)
    : QObject(window), window_(window), action_(std::move(action)) {
    window_->installEventFilter(this);
    // The override goes to the pop-up, not to the window: only the application sees it.
    qApp->installEventFilter(this);
}

WindowKeys::~WindowKeys() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeEventFilter(this);
    }
}

bool WindowKeys::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride && QApplication::activePopupWidget()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        popupKey_ = key->key();
        popupKeyTime_ = key->timestamp();
    } else if (watched == window_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (popupKey_ != 0 && key->key() == popupKey_ && key->timestamp() == popupKeyTime_) {
            popupKey_ = 0;
            return true;  // it closed a pop-up
        }
        return action_(*key);
    }
    return QObject::eventFilter(watched, event);
}

void bindPanelKeys(QWidget* window, QPushButton* closeButton, std::function<void()> help) {
    if (closeButton) {
        QObject::connect(closeButton, &QPushButton::clicked, window, &QWidget::close);
    }
    QObject::connect(new QShortcut(QKeySequence::Close, window), &QShortcut::activated, window,
                     &QWidget::close);
    QObject::connect(new QShortcut(QKeySequence::HelpContents, window), &QShortcut::activated,
                     window, std::move(help));
    new WindowKeys(window, [window](const QKeyEvent& key) {
        if (key.key() != Qt::Key_Escape ||
            (key.modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
            return false;
        }
        window->close();
        return true;
    });
}

}  // namespace brinesong
