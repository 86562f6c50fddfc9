// The frames' CRC-16 a byte at a time (tools/gen/gen_crc_table.py).
#ifndef ROVAZ_CORE_CRC_TABLES_H
#define ROVAZ_CORE_CRC_TABLES_H

#include <cstdint>

// Register r, byte x in: (r << 8) ^ mpa_crc_table[((r >> 8) ^ x) & 0xFF].
extern const uint16_t mpa_crc_table[256];

#endif
