// SPDX-License-Identifier: GPL-3.0-or-later
// The one way tests wait for what another thread or process brings about: they look again until
// it holds. The condition decides; the limit only guards against a hang, far beyond any wait here.
#pragma once

#include <chrono>
#include <thread>

namespace brinesong::testing {

// Looks at `holds` every `every` until it is true (true), or until `limit` has passed (false).
template <typename Condition>
bool eventually(Condition holds, std::chrono::milliseconds limit = std::chrono::seconds(10),
                std::chrono::milliseconds every = std::chrono::milliseconds(10)) {
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    while (!holds()) {
        if (std::chrono::steady_clock::now() > giveUp) {
            return false;
        }
        std::this_thread::sleep_for(every);
    }
    return true;
}

}  // namespace brinesong::testing
