// Constant tables of the Layer III hybrid synthesis.
#ifndef ROVAZ_LAYER3_HYBRID_TABLES_H
#define ROVAZ_LAYER3_HYBRID_TABLES_H

// Alias-reduction butterflies (ISO/IEC 11172-3 Table B.9).
extern const float mpa_alias_cs[8];
extern const float mpa_alias_ca[8];
// The tables below hold each value eight times over (a row per value), for
// kernels that multiply whole vectors by it from memory.
// Window ratios: normal window (C), start/stop windows (R), short window (D).
alignas(32) extern const float mpa_long_ratio[9][8];
alignas(32) extern const float mpa_switch_ratio[12][8];
alignas(32) extern const float mpa_short_ratio[3][8];
// Kernel constants; the *_post factors carry the sine window.
alignas(32) extern const float mpa_imdct36_twiddle[9][8];
alignas(32) extern const float mpa_imdct36_post[18][8];
alignas(32) extern const float mpa_imdct12_twiddle[3][8];
alignas(32) extern const float mpa_imdct12_post[6][8];
alignas(32) extern const float mpa_imdct9_cos[9][8];  // cos(k pi / 18)

#endif
