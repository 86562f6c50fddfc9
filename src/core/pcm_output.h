// Conversion of a decoded frame's float samples (16-bit scale) to integer PCM.
#ifndef ROVAZ_CORE_PCM_OUTPUT_H
#define ROVAZ_CORE_PCM_OUTPUT_H

#include <cstdint>

// Each routine converts count floats in source order: 16-bit truncates toward
// zero and saturates to [-32768, 32767]; 24-bit (also the 32-bit layout)
// does the same with x * 256 and [-8388608, 8388607]. NaN stores 0.
// stride is the distance in bytes between successive outputs.
void mpa_store_s16(const float *src, uint8_t *dst, int count, int stride);  // native order
void mpa_store_s24(const float *src, uint8_t *dst, int count, int stride);  // 3 bytes, MSB first
void mpa_store_s32(const float *src, uint8_t *dst, int count, int stride);  // native int32
// Each value twice, to left and right: 4, 6 or 8 bytes per sample period.
void mpa_store_s16_dup(const float *src, uint8_t *dst, int count);
void mpa_store_s24_dup(const float *src, uint8_t *dst, int count);
void mpa_store_s32_dup(const float *src, uint8_t *dst, int count);

// The 16-bit layouts of most callers: contiguous (one channel) and
// left/right interleaved.
void mpa_store_s16_packed(const float *src, uint8_t *dst, int count);
void mpa_store_s16_stereo(const float *left, const float *right, uint8_t *dst, int count);
// The kernels behind them (core/kernels.h picks one): plain C, and SSE2 on x86.
void mpa_store_s16_packed_plain(const float *src, uint8_t *dst, int count);
void mpa_store_s16_stereo_plain(const float *left, const float *right, uint8_t *dst, int count);
#ifdef __SSE2__
void mpa_store_s16_packed_sse2(const float *src, uint8_t *dst, int count);
void mpa_store_s16_stereo_sse2(const float *left, const float *right, uint8_t *dst, int count);
#endif

#endif
