// SPDX-License-Identifier: GPL-3.0-or-later
// "Start at login": the XDG autostart entry that has the desktop start the program at each login,
// in the tray and without its window (--hidden). Written whole or not at all, and removed again
// when the user no longer wants it.
#pragma once

#include <QString>

namespace brinesong {

// $XDG_CONFIG_HOME/autostart/org.kelvane.Brinesong.desktop (by default under ~/.config).
QString autostartEntryPath();

// Installs the entry, which starts `program` (an absolute path) with --hidden, or removes it
// (nothing to remove is no failure). Empty on success; else why it failed, in a sentence that
// names the file.
QString setAutostartEntry(bool installed, const QString& program);

}  // namespace brinesong
