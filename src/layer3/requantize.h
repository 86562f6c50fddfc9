// Layer III requantisation and short-block reordering: tables and helpers.
#ifndef ROVAZ_LAYER3_REQUANTIZE_H
#define ROVAZ_LAYER3_REQUANTIZE_H

#include <stdint.h>

// 2^((e - 150) / 4) for e = 0..255 (entry 150 is 1.0, entry 210 is 32768).
extern const float mpa_gain_table[256];
// Pre-emphasis by long scale-factor band, zero past band 21.
extern const uint8_t mpa_pretab[39];

// Multiplies the lines of each of count band-list entries by
// mpa_gain_table[exponent], the exponent clamped to 0..255. Widths are even.
void mpa_layer3_apply_gains(float *spectrum, const int16_t *exponents, const uint8_t *widths,
                            int count);

struct mpa_granule_info;

// mpa_layer3_requantize for a spectrum whose lines from `lines` on are zero;
// band-list entries above them are left alone.
void mpa_layer3_requantize_lines(const mpa_granule_info *info, const uint8_t *scalefactors,
                                 float *spectrum, int lines);

// Interleaves one short band: source holds width lines of window 0, then of
// window 1, then of window 2; destination gets them as w0[l], w1[l], w2[l] for
// each line l. width is even.
void mpa_reorder_band(const float *source, float *destination, int width);

#endif
