#pragma once

#include <unistd.h>

#include <cstdlib>
#include <cstring>

// A broken invariant: says which on standard error and aborts, so that
// libFuzzer keeps the input that broke it.
[[noreturn]] inline void fuzzFailure(const char* what) {
    (void)!::write(STDERR_FILENO, what, std::strlen(what));
    (void)!::write(STDERR_FILENO, "\n", 1);
    std::abort();
}

inline void fuzzCheck(bool holds, const char* what) {
    if (!holds) fuzzFailure(what);
}
