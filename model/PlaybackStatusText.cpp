// SPDX-License-Identifier: GPL-3.0-or-later
#include "PlaybackStatusText.h"

#include <cstdio>

#include "platform/Localization.h"

namespace brinesong {

QString playbackStatusText(PlaybackStatus status, const std::string& reason) {
    switch (status) {
        case PlaybackStatus::Stopped:
            return Texts::tr("Stopped");
        case PlaybackStatus::Playing:
            return Texts::tr("Playing");
        case PlaybackStatus::WaitingForServer:
            return Texts::tr("Waiting for the sound server");
        case PlaybackStatus::NoOutputDevice:
            return Texts::tr("No output device");
        case PlaybackStatus::CannotPlay:
            return Texts::tr("Cannot play: %1").arg(QString::fromStdString(reason));
    }
    return {};
}

void PlaybackStatusLog::update(PlaybackStatus status, const std::string& reason) {
    // One line per status, with the reason of its first moment that has one: a server that stays
    // away is not reported again at every attempt.
    if (status == status_ && (reasonLogged_ || reason.empty())) {
        return;
    }
    status_ = status;
    reasonLogged_ = false;
    const std::string because = reason.empty() ? std::string() : " (" + reason + ")";
    std::string line;
    switch (status) {
        case PlaybackStatus::WaitingForServer:
        case PlaybackStatus::NoOutputDevice:
            if (reason.empty()) {
                return;  // the first connection is under way, or the route is being set
            }
            line = status == PlaybackStatus::WaitingForServer ? "waiting for the sound server"
                                                              : "no output device";
            line += because;
            break;
        case PlaybackStatus::CannotPlay:
            line = "cannot play: " + reason;
            break;
        case PlaybackStatus::Playing:
            if (!troubleLogged_) {
                return;
            }
            line = "playing again";
            break;
        case PlaybackStatus::Stopped:
            if (!troubleLogged_) {
                return;
            }
            line = "the sound output is back";
            break;
    }
    troubleLogged_ = status != PlaybackStatus::Playing && status != PlaybackStatus::Stopped;
    reasonLogged_ = true;
    std::fprintf(stderr, "brinesong: %s\n", line.c_str());
}

}  // namespace brinesong
