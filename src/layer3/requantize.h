// Layer III requantisation and short-block reordering.
#ifndef ROVAZ_LAYER3_REQUANTIZE_H
#define ROVAZ_LAYER3_REQUANTIZE_H

#include <cstdint>
#include "layer3/granule_info.h"

// Requantises a granule's n^(4/3) values with its gains and scale factors.
void mpa_layer3_requantize(const mpa_granule_info *info, const uint8_t *scalefactors,
                           float *spectrum);
// mpa_layer3_requantize for a spectrum whose lines from `lines` on are zero;
// band-list entries above them are left alone.
void mpa_layer3_requantize_lines(const mpa_granule_info *info, const uint8_t *scalefactors,
                                 float *spectrum, int lines);

// Multiplies the lines of each of count band-list entries by
// mpa_gain_table[exponent], the exponent clamped to 0..255. Widths are even.
void mpa_layer3_apply_gains(float *spectrum, const int16_t *exponents, const uint8_t *widths,
                            int count);

// Reorders the short bands of a granule's spectrum into line order.
void mpa_layer3_reorder(const uint8_t *widths, int short_band_count, int band_count,
                        float *spectrum);
// Interleaves one short band: source holds width lines of window 0, then of
// window 1, then of window 2; destination gets them as w0[l], w1[l], w2[l] for
// each line l. width is even.
void mpa_reorder_band(const float *source, float *destination, int width);

#endif
