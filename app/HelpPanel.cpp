#include "HelpPanel.h"

#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <cstdio>

#include "InterfaceLoader.h"

namespace brinesong {

HelpPanel& HelpPanel::sharedInstance() {
    // Kept for the life of the process, like the panel it holds.
    static HelpPanel* instance = new HelpPanel;
    return *instance;
}

void HelpPanel::showHelpPanel() {
    sharedInstance().showPanel();
}

void HelpPanel::showPanel() {
    if (!window) {
        QWidget* root = loadInterface(QStringLiteral("Help"), parentWindow);
        if (!root) {
            std::fprintf(stderr, "Failed to load Help.nib\n");
            QApplication::beep();
            return;
        }
        root->setWindowFlag(Qt::Window);
        if (auto* close = outlet<QPushButton>(root, "closeButton")) {
            QObject::connect(close, &QPushButton::clicked, root, &QWidget::close);
        }
        window = root;
    }
    if (!window->isVisible()) {
        if (QScreen* screen = window->screen()) {
            QRect frame = window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            window->move(frame.topLeft());
        }
    }
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace brinesong
