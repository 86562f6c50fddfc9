// Layer I dequantisation kernels: one loop on four lanes (SSE, NEON) and, on
// x86 with AVX, on eight. The operations per lane are those of the scalar
// formula in the same order, and multiply-adds are never fused
// (-ffp-contract=off), so both give the same bits.
#include "layer12/layer1_dequantise.h"

#include <cstring>

#include "core/simd.h"

namespace {

template <class V>
__attribute__((always_inline)) inline void dequantise(const mpa_layer1_lanes *k, const int32_t (*codes)[64],
                                                      int lanes, float *out)
{
    typedef int32_t VI __attribute__((vector_size(sizeof(V))));
    constexpr int kLanes = sizeof(V) / sizeof(float);
    for (int i = 0; i + kLanes <= lanes; i += kLanes) {
        VI bias;
        memcpy(&bias, k->bias + i, sizeof bias);
        V scale, step;
        mpa_simd::load(scale, k->scale + i);
        mpa_simd::load(step, k->step + i);
        for (int b = 0; b < 12; b++) {
            VI c;
            memcpy(&c, &codes[b][i], sizeof c);
            mpa_simd::store(out + 64 * b + i, __builtin_convertvector(c - bias, V) * scale * step);
        }
    }
}

}  // namespace

void mpa_layer1_dequantise_plain(const mpa_layer1_lanes *k, const int32_t (*codes)[64], int lanes,
                                 float *out)
{
    dequantise<mpa_simd::v4f>(k, codes, lanes, out);
}

#if MPA_HAVE_AVX_KERNELS
__attribute__((target("avx"))) void mpa_layer1_dequantise_avx(const mpa_layer1_lanes *k,
                                                               const int32_t (*codes)[64], int lanes,
                                                               float *out)
{
    dequantise<mpa_simd::v8f>(k, codes, lanes, out);
}
#endif
