// Layer II dequantisation of one granule: the kernels behind the stage
// (core/kernels.h picks one).
#ifndef ROVAZ_LAYER12_LAYER2_DEQUANTISE_H
#define ROVAZ_LAYER12_LAYER2_DEQUANTISE_H

#include <cstdint>

// A frame's dequantisation constants by lane (ch * 32 + sb). Lanes without
// allocation hold zeros, which turn any code into +0.
struct mpa_layer2_lanes {
    float low[64];    // the largest code whose top bit is clear, 2^(w-1) - 1 for w-bit codes
    float top[64];    // the value of the top bit, 2^(w-1)
    float step[64];
    float pos[64];    // offset when the top bit is set
    float neg[64];    // and when it is clear
    float scale[3][64];  // parts 0, 1, 2: granules 0-3, 4-7, 8-11
};

// C * (s + D) * scale of codes[s][lane] for the three time slots s of a
// granule and lanes 0..lanes-1 (a multiple of eight), into out[64 s + lane];
// scale is the part's row of k->scale. Both kernels give the same output.
void mpa_layer2_dequantise_plain(const mpa_layer2_lanes *k, const float *scale,
                                 const int32_t (*codes)[64], int lanes, float *out);
#if defined(__x86_64__) || defined(__i386__)
void mpa_layer2_dequantise_avx(const mpa_layer2_lanes *k, const float *scale,
                               const int32_t (*codes)[64], int lanes, float *out);
#endif

#endif
