// The processor features the kernels may use, detected once per process.
#ifndef ROVAZ_CORE_CPU_H
#define ROVAZ_CORE_CPU_H

#include <cstdint>

enum {
    MPA_CPU_SSE2 = 1u << 0,  // x86: four-lane integer conversions
    MPA_CPU_AVX = 1u << 1,   // x86: three-operand forms of the four-lane kernels
    MPA_CPU_NEON = 1u << 2,  // ARM: the four-lane vectors themselves
    MPA_CPU_AVX2 = 1u << 3   // x86: eight-lane integer conversions
};

// What this processor has.
uint32_t mpa_cpu_detect(void);

// The features a ROVAZ_CPU_DISABLE value names: a comma-separated list of
// "sse2", "avx", "avx2", "neon" (or "all"); unknown names are ignored.
uint32_t mpa_cpu_parse_disabled(const char *list);

// mpa_cpu_detect() less what the environment variable ROVAZ_CPU_DISABLE
// names, read on the first call.
uint32_t mpa_cpu_features(void);

#endif
