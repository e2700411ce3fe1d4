// SPDX-License-Identifier: GPL-3.0-or-later
// Whether the window can be shown at all, known before QApplication is built: when Qt's platform
// plugin finds no display it aborts the process with a hint to reinstall the application, which
// tells a user nothing. Here the program says in one line what it needs and exits 1.
#pragma once

namespace brinesong {

// The line printed when the window finds no display.
const char* noDisplayMessage();

// False when the platform the window would use (-platform, else QT_QPA_PLATFORM, else the
// desktop's X11 or Wayland) needs a display that the environment does not name. Platforms without
// a display (offscreen, minimal, vnc, ...) always pass.
bool displayNamed(int argc, char** argv);

// While one lives, a fatal failure of the platform plugin (a display named but unreachable) prints
// noDisplayMessage() and exits 1 instead of aborting, and Qt's messages are held back; they are
// shown when the guard goes, that is when the window did start.
class PlatformStartGuard {
public:
    PlatformStartGuard();
    ~PlatformStartGuard();
    PlatformStartGuard(const PlatformStartGuard&) = delete;
    PlatformStartGuard& operator=(const PlatformStartGuard&) = delete;
};

}  // namespace brinesong
