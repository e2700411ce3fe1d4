// SPDX-License-Identifier: GPL-3.0-or-later
// How the server answers a query for a list (or for one object by name or index): libpulse calls
// the callback once per item with eol 0, then once with eol > 0 at the end; or, when the server
// refused the query, once with eol < 0 and nothing after. Every list callback tells the three
// apart here and acts on each explicitly. Mainloop thread.
#pragma once

#include <pulse/pulseaudio.h>

#include "platform/PulseCalls.h"

namespace brinesong {

enum class ListStep {
    Item,   // one object of the answer
    End,    // the answer is complete (an empty one too)
    Error,  // the query failed; pa_context_errno says why, and no call follows
};

template <typename Info>
ListStep listStep(int eol, const Info* info) {
    if (eol < 0) {
        return ListStep::Error;
    }
    return eol > 0 || info == nullptr ? ListStep::End : ListStep::Item;
}

// Writes the server's words for a failed query to standard error, in one line: "brinesong:
// `query` failed: ...". Only where nobody else reports the failure, so it is told once.
inline void logListError(pa_context* context, const char* query) {
    logFailure(query, pa_context_errno(context));
}

}  // namespace brinesong
