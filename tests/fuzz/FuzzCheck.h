#ifndef SERVOPROG_FUZZ_FUZZCHECK_H
#define SERVOPROG_FUZZ_FUZZCHECK_H

// A broken rule aborts: libFuzzer reports it as a crash with the input that
// caused it, and the corpus replay test fails on that input.

#include <cstdio>
#include <cstdlib>

inline void check(bool bCondition, const char *sWhat)
{
    if (!bCondition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", sWhat);
        std::abort();
    }
}

#endif
