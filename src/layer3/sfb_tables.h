// Layer III scale-factor band lists.
#ifndef ROVAZ_LAYER3_SFB_TABLES_H
#define ROVAZ_LAYER3_SFB_TABLES_H

#include <cstdint>

// Band lists: 36 entries of 41 bytes, indexed by
// (version * 4 + sampling_index) * 3 + block_kind, version the id or 2 for
// MPEG 2.5; byte 0 = band count, byte 1 = short band count, bytes 2..40 = widths.
extern const uint8_t mpa_sfb_bands[36][41];
// Per entry the first line of each band of the list, in bitstream order, then
// 576 (the list's end) in the remaining places: [b + 1] - [b] is width b.
extern const uint16_t mpa_sfb_band_starts[36][40];

#endif
