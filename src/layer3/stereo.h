// Layer III joint stereo: mid/side and intensity stereo (MPEG-1 and LSF).
#ifndef ROVAZ_LAYER3_STEREO_H
#define ROVAZ_LAYER3_STEREO_H

#include <cstdint>
#include "core/frame_ctx.h"
#include "layer3/granule_info.h"

// Intensity position marking a band-list entry that is not intensity coded.
// Equals the illegal position of a 5-bit LSF part, above every legal one.
enum { MPA_IS_NONE = 31 };

// Mid/side stereo over count lines of both channels, by the kernel of this
// process (core/kernels.h); the plain and AVX kernels give the same bits.
void mpa_layer3_ms_stereo(float *left, float *right, int count);
void mpa_layer3_ms_stereo_plain(float *left, float *right, int count);
#if defined(__x86_64__) || defined(__i386__)
void mpa_layer3_ms_stereo_avx(float *left, float *right, int count);
#endif
// Intensity stereo of one granule; info is channel 1's record, scalefactors
// its intensity positions.
void mpa_layer3_intensity_stereo(const mpa_frame_ctx *ctx, const mpa_granule_info *info,
                                 float *left, float *right, const uint8_t *scalefactors);

// Top-down scan of count bands of `windows` consecutive entries each (3 for
// short bands, 1 for long). positions and widths point at the group's first
// entry, right_end one past the group's last line of channel 1. In every
// window, the highest entry with a non-zero line and all entries below it
// are set to MPA_IS_NONE; windows start with their flag equal to found.
// Returns 1 if a non-zero entry was seen, else found.
int mpa_layer3_is_bound(uint8_t *positions, const uint8_t *widths, const float *right_end,
                        int windows, int count, int found);

// Sets positions that are illegal in their scale-factor part to MPA_IS_NONE.
// LSF: 2^slen - 1 in parts with slen > 0. MPEG-1 (id 1): 7 and above in
// parts 0 and 1, whatever their slen (a 4-bit part can carry 8..15, which
// have no ratio; they are treated like 7).
void mpa_layer3_is_illegal(const mpa_granule_info *info, uint8_t *positions, int id);

// Intensity stereo over count lines with one position: right = left * kR,
// left = left * kL.
void mpa_layer3_is_band(float *left, float *right, int is_pos, int count, int id,
                        int intensity_scale);

// Sum of squares of count values.
double mpa_band_energy(const float *values, int count);

#endif
