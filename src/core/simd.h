// Vector types and helpers shared by the four-lane kernels (GCC/Clang vector
// extensions): four lanes map to SSE on x86 and NEON on ARM, eight to AVX
// inside functions compiled for it. Values pass by reference so that no
// eight-lane vector crosses a call boundary of code built without AVX. Loads
// and stores take any float address.
#ifndef ROVAZ_CORE_SIMD_H
#define ROVAZ_CORE_SIMD_H

#include <cstring>

// x86 builds carry AVX variants of some kernels, compiled for AVX alone and
// chosen at run time (core/kernels.h).
#if defined(__x86_64__) || defined(__i386__)
#define MPA_HAVE_AVX_KERNELS 1
#include <immintrin.h>
#else
#define MPA_HAVE_AVX_KERNELS 0
#endif

namespace mpa_simd {

typedef float v2f __attribute__((vector_size(8)));
typedef float v4f __attribute__((vector_size(16)));
typedef float v8f __attribute__((vector_size(32)));
typedef float v4f_u __attribute__((vector_size(16), aligned(4), may_alias));
typedef float v8f_u __attribute__((vector_size(32), aligned(4), may_alias));

inline void load(v4f &v, const float *p)
{
    v = *reinterpret_cast<const v4f_u *>(p);
}

inline void load(v8f &v, const float *p)
{
    v = *reinterpret_cast<const v8f_u *>(p);
}

inline void store(float *p, const v4f &v)
{
    *reinterpret_cast<v4f_u *>(p) = v;
}

inline void store(float *p, const v8f &v)
{
    *reinterpret_cast<v8f_u *>(p) = v;
}

inline v4f load4(const float *p)
{
    v4f v;
    load(v, p);
    return v;
}

inline void store4(float *p, v4f v)
{
    store(p, v);
}

inline v2f load2(const float *p)
{
    v2f v;
    memcpy(&v, p, sizeof v);
    return v;
}

inline v4f reverse4(v4f a)
{
    return __builtin_shufflevector(a, a, 3, 2, 1, 0);
}

// Rows v[0..3] become columns.
inline void transpose4(v4f *v)
{
    const v4f t0 = __builtin_shufflevector(v[0], v[1], 0, 4, 1, 5);
    const v4f t1 = __builtin_shufflevector(v[0], v[1], 2, 6, 3, 7);
    const v4f t2 = __builtin_shufflevector(v[2], v[3], 0, 4, 1, 5);
    const v4f t3 = __builtin_shufflevector(v[2], v[3], 2, 6, 3, 7);
    v[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
    v[1] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
    v[2] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
    v[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

#if MPA_HAVE_AVX_KERNELS
// Rows r[0..7] become columns; for kernels compiled for AVX.
__attribute__((target("avx"), always_inline)) inline void transpose8(__m256 *r)
{
    const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
    const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
    const __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
    const __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
    const __m256 u0 = _mm256_shuffle_ps(t0, t2, 0x44), u1 = _mm256_shuffle_ps(t0, t2, 0xee);
    const __m256 u2 = _mm256_shuffle_ps(t1, t3, 0x44), u3 = _mm256_shuffle_ps(t1, t3, 0xee);
    const __m256 u4 = _mm256_shuffle_ps(t4, t6, 0x44), u5 = _mm256_shuffle_ps(t4, t6, 0xee);
    const __m256 u6 = _mm256_shuffle_ps(t5, t7, 0x44), u7 = _mm256_shuffle_ps(t5, t7, 0xee);
    r[0] = _mm256_permute2f128_ps(u0, u4, 0x20);
    r[1] = _mm256_permute2f128_ps(u1, u5, 0x20);
    r[2] = _mm256_permute2f128_ps(u2, u6, 0x20);
    r[3] = _mm256_permute2f128_ps(u3, u7, 0x20);
    r[4] = _mm256_permute2f128_ps(u0, u4, 0x31);
    r[5] = _mm256_permute2f128_ps(u1, u5, 0x31);
    r[6] = _mm256_permute2f128_ps(u2, u6, 0x31);
    r[7] = _mm256_permute2f128_ps(u3, u7, 0x31);
}
#endif

}  // namespace mpa_simd

#endif
