// SPDX-License-Identifier: GPL-3.0-or-later
// What is happening with the sound, in one line: the window's status line, the tray icon's
// tooltip and the command line's messages all say it in these words.
#pragma once

#include <QString>
#include <string>

#include "audio/PlaybackEngine.h"

namespace brinesong {

// Translated, for the window and the tray.
QString playbackStatusText(PlaybackStatus status, const std::string& reason);

// Tells standard error what happens to the sound, once per change (untranslated, as log lines
// are): a trouble once its reason is known (not the moment of a first connection), and the sound
// coming back after one; not every start and stop.
class PlaybackStatusLog {
public:
    void update(PlaybackStatus status, const std::string& reason);

private:
    PlaybackStatus status_ = PlaybackStatus::Stopped;
    bool reasonLogged_ = false;
    bool troubleLogged_ = false;
};

}  // namespace brinesong
