// SPDX-License-Identifier: GPL-3.0-or-later
// The help panel: one shared instance, loaded at its first showing and then only hidden and shown.
// Beside it, the About box of the Help menu.
#pragma once

#include <QPointer>
#include <QWidget>

class QMessageBox;

namespace brinesong {

// Shows the About box on `parent`: the program's name and version, what it is, its licence.
// Returns the box, which deletes itself when closed; it does not wait for it.
QMessageBox* showAboutBox(QWidget* parent);

class HelpPanel {
public:
    // Creates the shared instance on the first call, then shows its panel.
    static void showHelpPanel();
    static HelpPanel& sharedInstance();

    // Loads the panel if needed (a failure is logged and beeped, and the next call tries again),
    // centres it when it is not on screen, and brings it to the front.
    void showPanel();

    // Empty until the description "Help" is loaded.
    QPointer<QWidget> window;
    // The window the panel belongs to: closing that one quits, whether the panel is open or not.
    QPointer<QWidget> parentWindow;

private:
    HelpPanel() = default;
};

}  // namespace brinesong
