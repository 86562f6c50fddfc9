// Constant tables of the Layer III joint stereo.
#ifndef ROVAZ_LAYER3_STEREO_TABLES_H
#define ROVAZ_LAYER3_STEREO_TABLES_H

extern const float mpa_is_ratio_mpeg1[7];     // tan(g pi/12) / (1 + tan(g pi/12)), T[6] = 1
extern const float mpa_is_ratio_lsf[2][16];   // 2^(-k/4), 2^(-k/2)
extern const float mpa_ms_scale;              // 1 / sqrt(2)

#endif
