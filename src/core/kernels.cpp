#include "core/kernels.h"

#include "core/cpu.h"
#include "core/simd.h"
#include "core/pcm_output.h"
#include "layer12/layer1_dequantise.h"
#include "layer12/layer2_dequantise.h"
#include "layer12/synthesis.h"
#include "layer3/hybrid.h"
#include "layer3/stereo.h"
#include "stream/sample_convert.h"

mpa_kernels mpa_kernels_for(uint32_t features)
{
    mpa_kernels k = {mpa_synth_slots_plain,      mpa_layer1_dequantise_plain, mpa_layer2_dequantise_plain,
                     mpa_layer3_ms_stereo_plain, mpa_alias_butterflies_plain, mpa_imdct_groups_plain,
                     mpa_store_s16_packed_plain, mpa_store_s16_stereo_plain,  mpa_convert_samples_plain,
                     0};
    (void)features;  // no variants on some targets
#ifdef __SSE2__
    if (features & MPA_CPU_SSE2) {
        k.store_s16_packed = mpa_store_s16_packed_sse2;
        k.store_s16_stereo = mpa_store_s16_stereo_sse2;
        k.convert_samples = mpa_convert_samples_sse2;
        k.features |= MPA_CPU_SSE2;
    }
#endif
#if MPA_HAVE_AVX_KERNELS
    if (features & MPA_CPU_AVX) {
        k.synth_slots = mpa_synth_slots_avx;
        k.layer1_dequantise = mpa_layer1_dequantise_avx;
        k.layer2_dequantise = mpa_layer2_dequantise_avx;
        k.ms_stereo = mpa_layer3_ms_stereo_avx;
        k.alias_butterflies = mpa_alias_butterflies_avx;
        k.imdct_groups = mpa_imdct_groups_avx;
        k.features |= MPA_CPU_AVX;
    }
    // The eight-lane conversions finish with the SSE2 ones.
    if ((features & MPA_CPU_AVX2) && (features & MPA_CPU_SSE2)) {
        k.convert_samples = mpa_convert_samples_avx2;
        k.features |= MPA_CPU_AVX2;
    }
#endif
    // On ARM the plain kernels are NEON code already: their four-lane vectors compile to it.
    return k;
}

const mpa_kernels &mpa_kernels_active(void)
{
    static const mpa_kernels active = mpa_kernels_for(mpa_cpu_features());
    return active;
}
