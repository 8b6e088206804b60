// What a fuzz target does when a property it checks does not hold: print where and
// why, then abort, so that libFuzzer keeps the input as a crash and the replay of a
// corpus fails. Sanitizers report memory and undefined-behaviour faults on their own.
#pragma once

#include <cstdio>
#include <cstdlib>

#define ORBEL_FUZZ_CHECK(condition, what)                                                                   \
    do {                                                                                                   \
        if (!(condition)) {                                                                                \
            std::fprintf(stderr, "%s:%d: property failed: %s (%s)\n", __FILE__, __LINE__, what, #condition); \
            std::abort();                                                                                  \
        }                                                                                                  \
    } while (false)
