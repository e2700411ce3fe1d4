// SPDX-License-Identifier: GPL-3.0-or-later
// The time of day typed for --at: whatever the bytes, they read as a valid time on the 24-hour
// clock or as none, and a time that reads is the one its text writes, digit for digit.
#include <QTime>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz/Require.h"
#include "model/WallClock.h"

using namespace brinesong;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<QTime> time = parseTimeOfDay(text);
    if (!time) {
        return 0;
    }
    REQUIRE(time->isValid() && time->msec() == 0);
    // Written back in the one form it takes, with or without its seconds.
    const QString format = text.size() == 5 ? QStringLiteral("HH:mm") : QStringLiteral("HH:mm:ss");
    REQUIRE(time->toString(format).toStdString() == text);
    return 0;
}
