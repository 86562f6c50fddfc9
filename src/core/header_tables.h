// Constant tables of the MPEG audio frame header.
#ifndef ROVAZ_CORE_HEADER_TABLES_H
#define ROVAZ_CORE_HEADER_TABLES_H

#include <cstdint>

extern const int16_t mpa_bitrate_table[2][4][16];     // [id][layer_bits][bitrate_index], kbit/s
extern const uint16_t mpa_sampling_rate_table[3][4];  // [id, or 2 for MPEG 2.5][sampling_index], Hz
extern const uint16_t mpa_samples_per_frame[2][4];    // [id][layer_bits]
extern const uint8_t mpa_slot_mask[4];                // [layer_bits]
extern const uint16_t mpa_free_format_limit[4];       // [layer_bits], bits

#endif
