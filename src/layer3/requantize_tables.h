// Constant tables of the Layer III requantisation.
#ifndef ROVAZ_LAYER3_REQUANTIZE_TABLES_H
#define ROVAZ_LAYER3_REQUANTIZE_TABLES_H

#include <cstdint>

// 2^((e - 150) / 4) for e = 0..255 (entry 150 is 1.0, entry 210 is 32768).
extern const float mpa_gain_table[256];
// Pre-emphasis by long scale-factor band, zero past band 21.
extern const uint8_t mpa_pretab[39];

#endif
