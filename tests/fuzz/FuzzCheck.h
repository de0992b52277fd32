#pragma once

#include <cstdio>
#include <cstdlib>

// A check of a fuzz program: a failed one names itself and aborts, and libFuzzer saves the input
// that made it fail.
#define FUZZ_CHECK(condition) FuzzCheckAt((condition), #condition, __FILE__, __LINE__)

inline void FuzzCheckAt(bool condition, const char* text, const char* file, int line) {
    if (condition)
        return;
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, text);
    std::abort();
}
