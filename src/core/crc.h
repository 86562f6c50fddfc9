// CRC-16 of MPEG audio frames (polynomial 0x8005, initial 0xFFFF, MSB first).
#ifndef ROVAZ_CORE_CRC_H
#define ROVAZ_CORE_CRC_H

#include <cstdint>
#include "core/bitstream.h"

struct mpa_frame_ctx;

// Runs the low n bits of value (most significant first) through the register.
uint32_t mpa_crc_update_word(uint32_t value, uint32_t crc, int n);
// The same for the next n bits of the reader, which advances by n bits.
uint32_t mpa_crc_update_bits(mpa_bitstream *bits, uint32_t crc, int n);

// Each returns 0 when the CRC over the header bits and the n protected bits
// matches the frame's crc_word. The frame's reader is not moved.
int mpa_crc_check_layer1(mpa_frame_ctx *ctx, int n);
int mpa_crc_check_layer2(const mpa_bitstream *saved, mpa_frame_ctx *ctx, int n);
int mpa_crc_check_layer3(mpa_frame_ctx *ctx, int n);

#endif
