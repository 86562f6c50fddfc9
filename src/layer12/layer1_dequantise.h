// Layer I dequantisation of a frame's twelve blocks: the kernels behind the
// stage (core/kernels.h picks one).
#ifndef ROVAZ_LAYER12_LAYER1_DEQUANTISE_H
#define ROVAZ_LAYER12_LAYER1_DEQUANTISE_H

#include <cstdint>

// A code of a + 1 bits, its top bit inverted and read as a two's-complement
// fraction, is requantised as 2^nb / (2^nb - 1) * (s + 2^(1 - nb)), which is
// (code - (2^a - 1)) * 2 / (2^(a+1) - 1): an integer of at most 15 bits
// times the step, so converting it loses nothing. By lane (ch * 32 + sb).
struct mpa_layer1_lanes {
    int32_t bias[64];  // 2^a - 1
    float scale[64];
    float step[64];    // 0 without allocation: such lanes give +0
};

// (codes[b][lane] - bias) * scale * step for blocks b = 0..11 and lanes
// 0..lanes-1 (a multiple of eight), into out[64 b + lane]. Both kernels give
// the same output.
void mpa_layer1_dequantise_plain(const mpa_layer1_lanes *k, const int32_t (*codes)[64], int lanes,
                                 float *out);
#if defined(__x86_64__) || defined(__i386__)
void mpa_layer1_dequantise_avx(const mpa_layer1_lanes *k, const int32_t (*codes)[64], int lanes,
                               float *out);
#endif

#endif
