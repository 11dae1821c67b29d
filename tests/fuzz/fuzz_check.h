// What a fuzz target holds true of every input: when it is not, the line
// that says so is printed before the run ends, so a crash names its check.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void fuzz_check(bool ok, const char* file, int line) {
    if (ok)
        return;
    std::fprintf(stderr, "check failed at %s:%d\n", file, line);
    std::abort();
}

#define FUZZ_CHECK(ok) fuzz_check((ok), __FILE__, __LINE__)
