// Constant tables of the Layer I and Layer II decoders.
#ifndef ROVAZ_LAYER12_LAYER12_TABLES_H
#define ROVAZ_LAYER12_LAYER12_TABLES_H

#include <cstdint>

// Scale factors of ISO/IEC 11172-3 Table B.1 times 32768; [63] = 1e-20.
extern const float mpa_scalefactor_table[64];

// Layer I, by allocation a (code width a + 1 bits).
extern const uint16_t mpa_layer1_bias[15];  // 2^a - 1
extern const float mpa_layer1_factor[15];   // 2 / (2^(a+1) - 1), [0] = 0

// Layer II quantisation classes 0..16 (Table B.4 order: 3, 5, 7, 9, 15, 31, ...).
extern const uint16_t mpa_layer2_quant_low[17];  // 2^(w-1) - 1, w = sample code width
extern const float mpa_layer2_quant_c[17];       // C
extern const float mpa_layer2_quant_cd[17];      // C * D
extern const float mpa_layer2_quant_step[17];    // C / 2^(w-1)
// Valid grouped codes by degrouping slot (w >> 1) & 3: {0, 729, 27, 125}.
extern const uint16_t mpa_layer2_group_limit[4];
// By scfsi: scale factors sent (6 bits each), and per part the shift of its
// own within them read as one field.
extern const uint8_t mpa_layer2_scf_count[4];
extern const uint8_t mpa_layer2_scf_shift[4][3];

// One Layer II bit-allocation table. Rows are indexed by the allocation code
// and shared between subbands; subbands from sblimit up point to zero rows.
struct mpa_layer2_alloc_table {
    uint8_t sblimit;
    uint8_t total_bits;              // sum of nbal
    uint8_t nbal[32];                // allocation field width per subband
    const uint8_t *class_row[32];    // quantisation class per allocation code
    const int8_t *bits_row[32];      // sample code width, or -(grouped code width)
};

// 0..3: ISO/IEC 11172-3 Tables B.2a..B.2d; 4: ISO/IEC 13818-3 low sampling frequencies.
extern const mpa_layer2_alloc_table mpa_layer2_alloc_tables[5];

#endif
