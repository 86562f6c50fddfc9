// The kernels of each stage that has more than one, chosen once per process
// from the processor's features: the one place that knows every stage's
// variants, from the filterbank up to the stream layer's output. Every kernel of a stage gives the same
// output, bit for bit, as the plain one (tests/test_dispatch.cpp).
#ifndef ROVAZ_CORE_KERNELS_H
#define ROVAZ_CORE_KERNELS_H

#include <cstdint>

struct mpa_synth_state;
struct mpa_layer1_lanes;
struct mpa_layer2_lanes;

struct mpa_kernels {
    // Polyphase synthesis of count slots of one channel (layer12/synthesis.cpp).
    void (*synth_slots)(const float *in, int in_stride, float *out, int count, int channel,
                        mpa_synth_state *state);
    // Layer I dequantisation of one frame (layer12/layer1_dequantise.cpp).
    void (*layer1_dequantise)(const mpa_layer1_lanes *k, const int32_t (*codes)[64], int lanes, float *out);
    // Layer II dequantisation of one granule (layer12/layer2_dequantise.cpp).
    void (*layer2_dequantise)(const mpa_layer2_lanes *k, const float *scale, const int32_t (*codes)[64],
                              int lanes, float *out);
    // Layer III mid/side stereo over count lines (layer3/stereo.cpp).
    void (*ms_stereo)(float *left, float *right, int count);
    // Layer III alias-reduction butterflies at the lowest `boundaries` subband boundaries (layer3/hybrid.cpp).
    void (*alias_butterflies)(float *x, int boundaries);
    // Layer III IMDCT, windowing and overlap of `active` groups of four subbands (layer3/hybrid.cpp).
    void (*imdct_groups)(const float *spectrum, float *overlap, float *output, int block_type,
                         int long_subbands, int active);
    // 16-bit stores of mono and of two channels interleaved (core/pcm_output.cpp).
    void (*store_s16_packed)(const float *src, uint8_t *dst, int count);
    void (*store_s16_stereo)(const float *left, const float *right, uint8_t *dst, int count);
    // The stream layer's conversion to its output formats (stream/sample_convert.cpp).
    void (*convert_samples)(const float *pcm, int src_channels, int from, int count, int out_channels,
                            int format, bool planar, uint8_t *const dest[2]);
    uint32_t features;  // the MPA_CPU_* features these kernels use
};

// The kernels for a processor with these features (MPA_CPU_*); 0 gives the plain ones.
mpa_kernels mpa_kernels_for(uint32_t features);

// The kernels of this process: mpa_kernels_for(mpa_cpu_features()), built on first use.
const mpa_kernels &mpa_kernels_active(void);

#endif
