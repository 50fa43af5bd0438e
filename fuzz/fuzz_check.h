#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant is a finding like a crash: libFuzzer keeps the input that caused it.
#define K9_FUZZ_CHECK(condition, what)                                                           \
    do {                                                                                         \
        if (!(condition)) {                                                                      \
            std::fprintf(stderr, "%s:%d: invariant broken: %s (%s)\n", __FILE__, __LINE__, what, \
                         #condition);                                                            \
            std::abort();                                                                        \
        }                                                                                        \
    } while (false)
