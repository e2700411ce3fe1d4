// SPDX-License-Identifier: GPL-3.0-or-later
#include "HelpPanel.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <cstdio>

#include "model/ProgramTexts.h"
#include "platform/Localization.h"
#include "window/InterfaceLoader.h"
#include "window/MainWindowView.h"

namespace brinesong {

QMessageBox* showAboutBox(QWidget* parent) {
    auto* box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(Texts::tr("About Brinesong"));
    box->setIconPixmap(applicationIcon().pixmap(64));
    box->setTextFormat(Qt::RichText);
    box->setText(QStringLiteral("<h3>Brinesong %1</h3><p>%2</p><p>%3</p>")
                     .arg(programVersion().toHtmlEscaped(),
                          Texts::tr("The sound of ocean surf, made as it plays.").toHtmlEscaped(),
                          Texts::tr("Licence: GNU GPL version 3 or later. It comes with no "
                                    "warranty.")
                              .toHtmlEscaped()));
    box->setStandardButtons(QMessageBox::Close);
    box->button(QMessageBox::Close)->setText(Texts::tr("Close"));
    box->open();
    return box;
}

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
