// Layer II degrouping tables as a fresh instance holds them: entry c of the
// n-level table is {c mod n, (c / n) mod n, c / n^2, 0}.
#ifndef ROVAZ_CORE_GROUPING_TABLES_H
#define ROVAZ_CORE_GROUPING_TABLES_H

#include <cstdint>

extern const uint8_t mpa_grouping_3_initial[27][4];
extern const uint8_t mpa_grouping_5_initial[125][4];
extern const uint8_t mpa_grouping_9_initial[729][4];

#endif
