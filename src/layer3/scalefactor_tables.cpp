// Layer III scale-factor tables (ISO/IEC 11172-3 2.4.2.7, ISO/IEC 13818-3 2.4.3.2).
#include "layer3/scalefactor_tables.h"

const uint8_t mpa_slen1[16] = {0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4};
const uint8_t mpa_slen2[16] = {0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3};

// Long: bands 0..10 and 11..20. Short: bands 0..5 and 6..11, three windows.
// Mixed: 8 long bands and short bands 3..5, then short bands 6..11.
const uint8_t mpa_scalefac_counts[3][2] = {{11, 10}, {18, 18}, {17, 18}};

// scfsi bands: long bands 0..5, 6..10, 11..15, 16..20.
const uint8_t mpa_scfsi_band_sizes[4] = {6, 5, 5, 5};

const uint8_t mpa_nr_of_sfb[6][3][4] = {
    {{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},
    {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
    {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}},
    {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
    {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}},
    {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}},
};

const uint8_t mpa_div3[18][2] = {
    {0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}, {2, 0}, {2, 1}, {2, 2},
    {3, 0}, {3, 1}, {3, 2}, {4, 0}, {4, 1}, {4, 2}, {5, 0}, {5, 1}, {5, 2},
};
