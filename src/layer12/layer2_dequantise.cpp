// Layer II dequantisation kernels: one loop on four lanes (SSE, NEON) and,
// on x86 with AVX, on eight. Multiply-adds are never fused
// (-ffp-contract=off), so both give the same bits.
#include "layer12/layer2_dequantise.h"

#include <cstring>

#include "core/simd.h"

namespace {

// C * (s + D) * scale, s being the code with its top bit inverted read as a
// fraction: (low bits * C / 2^(w-1) + (C * D or C * D - C)) * scale. Codes
// have w bits, so the top bit is set exactly when the code exceeds the low
// bits' mask. The codes are small integers, exact in float, so the low bits
// are taken in float (the code less its top bit) and no integer vectors are
// needed. V is the vector of the path; the selects are vector selects, which
// GCC would turn into branches in a scalar loop. Writes the granule's three
// time slots, 64 floats apart. lanes is a multiple of eight.
template <class V>
__attribute__((always_inline)) inline void dequantise(const mpa_layer2_lanes *k, const float *scale,
                                                      const int32_t (*codes)[64], int lanes, float *out)
{
    typedef int32_t VI __attribute__((vector_size(sizeof(V))));
    constexpr int kLanes = sizeof(V) / sizeof(float);
    for (int s = 0; s < 3; s++) {
        for (int i = 0; i + kLanes <= lanes; i += kLanes) {
            VI ci;
            memcpy(&ci, &codes[s][i], sizeof ci);
            V c = __builtin_convertvector(ci, V), low, top, pos, neg, step, g;
            mpa_simd::load(low, k->low + i);
            mpa_simd::load(top, k->top + i);
            mpa_simd::load(pos, k->pos + i);
            mpa_simd::load(neg, k->neg + i);
            mpa_simd::load(step, k->step + i);
            mpa_simd::load(g, scale + i);
            const auto set = c > low;
            const V low_bits = set ? c - top : c;
            const V o = set ? pos : neg;
            mpa_simd::store(out + 64 * s + i, (low_bits * step + o) * g);
        }
    }
}

}  // namespace

void mpa_layer2_dequantise_plain(const mpa_layer2_lanes *k, const float *scale,
                                 const int32_t (*codes)[64], int lanes, float *out)
{
    dequantise<mpa_simd::v4f>(k, scale, codes, lanes, out);
}

#if MPA_HAVE_AVX_KERNELS
__attribute__((target("avx"))) void mpa_layer2_dequantise_avx(const mpa_layer2_lanes *k, const float *scale,
                                                               const int32_t (*codes)[64], int lanes,
                                                               float *out)
{
    dequantise<mpa_simd::v8f>(k, scale, codes, lanes, out);
}
#endif
