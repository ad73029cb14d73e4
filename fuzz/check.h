// A property a fuzz target checks: when it does not hold, say which and abort, so that libFuzzer
// reports the input as a crash and keeps it.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}
