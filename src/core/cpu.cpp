#include "core/cpu.h"

#include <cstdlib>
#include <cstring>

uint32_t mpa_cpu_detect(void)
{
    uint32_t f = 0;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("sse2"))
        f |= MPA_CPU_SSE2;
    if (__builtin_cpu_supports("avx"))
        f |= MPA_CPU_AVX;
    if (__builtin_cpu_supports("avx2"))
        f |= MPA_CPU_AVX2;
#elif defined(__aarch64__) || defined(__ARM_NEON)
    f |= MPA_CPU_NEON;  // part of every AArch64 processor
#endif
    return f;
}

uint32_t mpa_cpu_parse_disabled(const char *list)
{
    static const struct {
        const char *name;
        uint32_t bit;
    } kNames[] = {{"sse2", MPA_CPU_SSE2}, {"avx", MPA_CPU_AVX}, {"avx2", MPA_CPU_AVX2},
                   {"neon", MPA_CPU_NEON}, {"all", ~0u}};
    uint32_t off = 0;
    while (list && *list) {
        const char *end = std::strchr(list, ',');
        const size_t n = end ? static_cast<size_t>(end - list) : std::strlen(list);
        for (const auto &k : kNames)
            if (n == std::strlen(k.name) && std::strncmp(list, k.name, n) == 0)
                off |= k.bit;
        list = end ? end + 1 : nullptr;
    }
    return off;
}

uint32_t mpa_cpu_features(void)
{
    static const uint32_t features =
        mpa_cpu_detect() & ~mpa_cpu_parse_disabled(std::getenv("ROVAZ_CPU_DISABLE"));
    return features;
}
