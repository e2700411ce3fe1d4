// SPDX-License-Identifier: GPL-3.0-or-later
// What a harness checks of what it read. A broken check names itself before the abort, so that
// an input the fuzzer finds says at once which promise it breaks.
#pragma once

#include <cstdio>
#include <cstdlib>

#define REQUIRE(condition)                                                               \
    do {                                                                                 \
        if (!(condition)) {                                                              \
            std::fprintf(stderr, "%s:%d: not so: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                \
        }                                                                                \
    } while (false)
