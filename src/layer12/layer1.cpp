// Layer I frame decoder (ISO/IEC 11172-3 2.4.3.2; unchanged in ISO/IEC 13818-3).
#include <string.h>

#include "core/crc.h"
#include "layer12/layer12.h"
#include "layer12/layer12_tables.h"
#include "layer12/synthesis.h"

namespace {

// Code c of a + 1 bits: the top bit inverted and read as a two's-complement
// fraction, then 2^nb / (2^nb - 1) * (s + 2^(1 - nb)), which is
// (1 - 2^a or 1 for the top bit, plus the low bits) * 2 / (2^(a+1) - 1).
inline float dequantise(uint32_t c, int a, float scale)
{
    const uint32_t h = mpa_msb_table[a];
    const float o = (c & h) ? 1.0f : mpa_layer1_offset[a];
    return (o + (float)(c & (h - 1))) * scale * mpa_layer1_factor[a];
}

}  // namespace

void mpa_layer1_read_samples(mpa_frame_ctx *ctx, const uint8_t *allocation, const uint8_t *scf,
                             int nch, int bound, float *block)
{
    mpa_bitstream *bs = ctx->bits;
    for (int sb = 0; sb < bound; sb++) {
        for (int ch = 0; ch < nch; ch++) {
            const int i = ch * 32 + sb;
            const int a = allocation[i];
            block[i] = a ? dequantise(mpa_bits_get(bs, a + 1), a, mpa_scalefactor_table[scf[i]]) : 0.0f;
        }
    }
    // Joint stereo above the bound: one code, each channel with its own scale factor.
    for (int sb = bound; sb < 32; sb++) {
        const int a = allocation[sb];
        if (!a) {
            block[sb] = block[32 + sb] = 0.0f;
            continue;
        }
        const uint32_t c = mpa_bits_get(bs, a + 1);
        block[sb] = dequantise(c, a, mpa_scalefactor_table[scf[sb]]);
        block[32 + sb] = dequantise(c, a, mpa_scalefactor_table[scf[32 + sb]]);
    }
}

int mpa_layer1_decode(mpa_frame_ctx *ctx)
{
    mpa_decoder *dec = ctx->decoder;
    const mpa_header *h = &dec->header;
    mpa_bitstream *bs = ctx->bits;
    const int nch = h->n_channels;
    const int bound = h->mode == 1 ? 4 * h->mode_extension + 4 : 32;
    const int32_t start = mpa_bits_position(bs);

    if (h->protection_bit == 0 && ctx->skip_crc == 0) {
        // The CRC covers the allocation fields only.
        const int nbits = 128 + 4 * bound * (nch - 1);
        if (mpa_bits_left(bs) < nbits)
            return MPA_ERR_NEED_DATA;
        if (mpa_crc_check_layer1(ctx, nbits))
            return MPA_ERR_CRC;
    }

    uint8_t *alloc = ctx->allocation;
    uint8_t *scf = ctx->scalefactor_index;
    memset(alloc, 0, 64);
    memset(scf, 63, 64);

    uint32_t any15 = 0;
    if (nch >= 2) {
        for (int sb = 0; sb < bound; sb++) {
            alloc[sb] = (uint8_t)mpa_bits_get(bs, 4);
            alloc[32 + sb] = (uint8_t)mpa_bits_get(bs, 4);
            any15 |= (alloc[sb] + 1u) | (alloc[32 + sb] + 1u);
        }
        for (int sb = bound; sb < 32; sb++) {
            alloc[sb] = alloc[32 + sb] = (uint8_t)mpa_bits_get(bs, 4);
            any15 |= alloc[sb] + 1u;
        }
    } else {
        for (int sb = 0; sb < 32; sb++) {
            alloc[sb] = (uint8_t)mpa_bits_get(bs, 4);
            any15 |= alloc[sb] + 1u;
        }
    }
    // Allocation 15 is forbidden; there is no code width or step for it.
    if (any15 & 16)
        return MPA_ERROR;

    for (int sb = 0; sb < 32; sb++) {
        if (alloc[sb])
            scf[sb] = (uint8_t)mpa_bits_get(bs, 6);
        if (nch >= 2 && alloc[32 + sb])
            scf[32 + sb] = (uint8_t)mpa_bits_get(bs, 6);
    }
    if (mpa_bits_left(bs) < 0)
        return MPA_ERR_NEED_DATA;

    for (int block = 0; block < 12; block++)
        mpa_layer1_read_samples(ctx, alloc, scf, nch, bound, ctx->samples + 64 * block);
    if (mpa_bits_left(bs) < 0)
        return MPA_ERR_NEED_DATA;

    dec->ancillary_bits = h->bits_in_frame - h->header_bits - (mpa_bits_position(bs) - start);
    if (dec->ancillary_bits < 0)
        return MPA_ERROR;

    mpa_layer12_synthesize(ctx, 1);
    return MPA_OK;
}
