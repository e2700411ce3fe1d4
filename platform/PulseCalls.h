// SPDX-License-Identifier: GPL-3.0-or-later
// libpulse calls whose failure nobody else reports are said on standard error in one line,
// "brinesong: `call` failed: ..." with libpulse's words for its status; and the loop's timers,
// which every retry and bounded wait of the platform layer starts. Mainloop's lock held.
#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstdio>

namespace brinesong {

inline void logFailure(const char* call, int status) {
    std::fprintf(stderr, "brinesong: %s failed: %s\n", call, pa_strerror(status));
}

// A single-shot timer of the loop's that runs `callback` once `after` has passed. Null when the
// loop could not make one (libpulse gives no status then), which is said here; the caller goes on
// without it.
inline pa_time_event* startTimer(pa_mainloop_api* api, std::chrono::milliseconds after,
                                 pa_time_event_cb_t callback, void* userdata) {
    struct timeval when;
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(after.count()) * PA_USEC_PER_MSEC);
    pa_time_event* timer = api->time_new(api, &when, callback, userdata);
    if (timer == nullptr) {
        logFailure("time_new", PA_ERR_INTERNAL);
    }
    return timer;
}

}  // namespace brinesong
