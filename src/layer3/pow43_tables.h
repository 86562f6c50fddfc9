// Constant tables of the Layer III Huffman stage's n^(4/3) values.
#ifndef ROVAZ_LAYER3_POW43_TABLES_H
#define ROVAZ_LAYER3_POW43_TABLES_H

#include <cstdint>

// n^(4/3) for n = 0..8207 (15 + the largest linbits value 8191).
extern const float mpa_pow43[8208];
// +n^(4/3), -n^(4/3) for n = 0..15, indexed by 2n + sign bit.
extern const float mpa_pow43_signed[32];
// +1, -1 by sign bit.
extern const float mpa_unit_signed[2];
// Linbits of the code tables 0..31.
extern const uint8_t mpa_linbits[32];

#endif
