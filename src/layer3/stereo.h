// Layer III joint stereo: mid/side and intensity stereo (MPEG-1 and LSF).
// The two entry points are declared in layer3/layer3.h.
#ifndef ROVAZ_LAYER3_STEREO_H
#define ROVAZ_LAYER3_STEREO_H

#include <stdint.h>
#include "layer3/layer3.h"

// Intensity position marking a band-list entry that is not intensity coded.
// Equals the illegal position of a 5-bit LSF part, above every legal one.
enum { MPA_IS_NONE = 31 };

extern const float mpa_is_ratio_mpeg1[7];     // tan(g pi/12) / (1 + tan(g pi/12)), T[6] = 1
extern const float mpa_is_ratio_lsf[2][16];   // 2^(-k/4), 2^(-k/2)
extern const float mpa_ms_scale;              // 1 / sqrt(2)

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
