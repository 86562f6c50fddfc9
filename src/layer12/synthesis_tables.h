// Constant tables of the polyphase synthesis filterbank.
#ifndef ROVAZ_LAYER12_SYNTHESIS_TABLES_H
#define ROVAZ_LAYER12_SYNTHESIS_TABLES_H

extern const float mpa_synthesis_window[264];
extern const float mpa_dct_factors[31];
// Each DCT factor eight times over, for vectors that multiply all their lanes
// by one factor, read straight from memory.
alignas(32) extern const float mpa_dct_factors_x8[31][8];

// The synthesis window by term m = 0..15 of the windowing sums: [m][j] is the
// weight of row j = 0..15 in the direct sums, (-1)^m D[j + 32m]; [m][15 + j]
// that of row j = 1..16 in the mirrored sums, D[j + 32(15 - m)] for j < 16
// and for row 16 -D[16 + 32m] at odd m, 0 at even m.
alignas(32) extern const float mpa_synthesis_window_terms[16][32];

#endif
