// Layer III scale-factor tables.
#ifndef ROVAZ_LAYER3_SCALEFACTOR_TABLES_H
#define ROVAZ_LAYER3_SCALEFACTOR_TABLES_H

#include <cstdint>

// MPEG-1 bit widths of the two scale-factor groups, by scalefac_compress.
extern const uint8_t mpa_slen1[16];
extern const uint8_t mpa_slen2[16];
// MPEG-1 scale factors read with slen1 and with slen2, by block kind.
extern const uint8_t mpa_scalefac_counts[3][2];
// MPEG-1 scale factors in each of the four scfsi bands (long blocks).
extern const uint8_t mpa_scfsi_band_sizes[4];
// LSF scale factors per part: [row][block index: long, short, mixed][part]
// (nr_of_sfb_block of ISO/IEC 13818-3).
extern const uint8_t mpa_nr_of_sfb[6][3][4];
// {i / 3, i mod 3} for i = 0..17.
extern const uint8_t mpa_div3[18][2];

#endif
