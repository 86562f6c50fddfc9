// CRC-16 of MPEG audio frames: x^16 + x^15 + x^2 + 1, register starting at
// 0xFFFF, bits most significant first, no reflection, no final inversion.
#include "core/crc.h"

#include "core/crc_tables.h"
#include "core/frame_ctx.h"

namespace {

// The register lives in the upper half of a 32-bit word, so the incoming
// bit and the register's top bit line up at bit 31.
constexpr uint32_t kPolynomial = 0x80050000u;

inline uint32_t shift_bits(uint32_t reg, uint32_t bits_msb_aligned, int n)
{
    for (int i = 0; i < n; i++) {
        const uint32_t t = (bits_msb_aligned ^ reg) & 0x80000000u;
        reg <<= 1;
        if (t)
            reg ^= kPolynomial;
        bits_msb_aligned <<= 1;
    }
    return reg;
}

int check(mpa_bitstream *copy, const mpa_frame_ctx *ctx, int n)
{
    const mpa_header *h = &ctx->decoder->header;
    uint32_t crc = mpa_crc_update_word(static_cast<uint32_t>(h->crc_header_bits), 0xFFFF, 16);
    crc = mpa_crc_update_bits(copy, crc, n);
    return static_cast<int>(crc) - h->crc_word;
}

}  // namespace

uint32_t mpa_crc_update_word(uint32_t value, uint32_t crc, int n)
{
    if (n <= 0)
        return crc & 0xFFFF;
    return shift_bits(crc << 16, value << (32 - n), n) >> 16;
}

uint32_t mpa_crc_update_bits(mpa_bitstream *bits, uint32_t crc, int n)
{
    // Whole bytes through the table, the last few bits one at a time.
    crc &= 0xFFFF;
    for (; n >= 16; n -= 16) {
        const uint32_t w = mpa_bits_get16(bits) >> 16;
        crc = ((crc << 8) ^ mpa_crc_table[((crc >> 8) ^ (w >> 8)) & 0xFF]) & 0xFFFF;
        crc = ((crc << 8) ^ mpa_crc_table[((crc >> 8) ^ w) & 0xFF]) & 0xFFFF;
    }
    uint32_t reg = crc << 16;
    for (; n > 0; n--)
        reg = shift_bits(reg, mpa_bits_get1(bits), 1);
    return reg >> 16;
}

int mpa_crc_check_layer1(mpa_frame_ctx *ctx, int n)
{
    mpa_bitstream copy;
    mpa_bits_copy(&copy, ctx->bits);
    return check(&copy, ctx, n);
}

int mpa_crc_check_layer2(const mpa_bitstream *saved, mpa_frame_ctx *ctx, int n)
{
    mpa_bitstream copy;
    mpa_bits_copy(&copy, saved);
    return check(&copy, ctx, n);
}

int mpa_crc_check_layer3(mpa_frame_ctx *ctx, int n)
{
    if (ctx->decoder->header.protection_bit) {
        ctx->decoder->header.crc_word = 0;
        return 0;
    }
    return mpa_crc_check_layer1(ctx, n);
}
