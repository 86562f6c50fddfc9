// A property every fuzz target checks: on failure it names the line and
// aborts, which libFuzzer and the replay test both report as a crash.
#ifndef ROVAZ_FUZZ_CHECK_H
#define ROVAZ_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

#endif
