// Layer I frame decoder (ISO/IEC 11172-3 2.4.3.2; unchanged in ISO/IEC 13818-3).
#include <cstring>

#include "core/crc.h"
#include "core/kernels.h"
#include "layer12/layer1.h"
#include "layer12/layer12_tables.h"
#include "layer12/layer1_dequantise.h"
#include "layer12/synthesis.h"

void mpa_layer1_read_samples(mpa_frame_ctx *ctx, int nch, int bound)
{
    const uint8_t *alloc = ctx->allocation;
    const uint8_t *scf = ctx->scalefactor_index;
    const int lanes = 32 * nch;

    mpa_layer1_lanes k;
    for (int i = 0; i < lanes; i++) {
        const int a = alloc[i];
        k.bias[i] = mpa_layer1_bias[a];
        k.scale[i] = mpa_scalefactor_table[scf[i]];
        k.step[i] = mpa_layer1_factor[a];
    }
    // The lanes with codes in bitstream order, and their code widths.
    uint8_t lane[64], width[64];
    int n = 0;
    for (int sb = 0; sb < 32; sb++) {
        // Above the bound both channels share channel 0's code.
        const int coded = sb < bound ? nch : 1;
        for (int ch = 0; ch < coded; ch++) {
            const int a = alloc[ch * 32 + sb];
            if (a) {
                lane[n] = static_cast<uint8_t>(ch * 32 + sb);
                width[n++] = static_cast<uint8_t>(a + 1);
            }
        }
    }

    int32_t codes[12][64];
    memset(codes, 0, sizeof codes);
    mpa_bits_wide bits;
    mpa_bits_wide_begin(&bits, ctx->bits);
    for (int block = 0; block < 12; block++) {
        int32_t *c = codes[block];
        for (int e = 0; e < n; e++)
            c[lane[e]] = static_cast<int32_t>(mpa_bits_wide_get(&bits, width[e]));
        if (nch == 2 && bound < 32)
            memcpy(&c[32 + bound], &c[bound], (32 - bound) * sizeof(int32_t));
    }
    mpa_bits_wide_end(&bits, ctx->bits);
    mpa_kernels_active().layer1_dequantise(&k, codes, lanes, ctx->samples);
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

    mpa_bits_wide w;
    mpa_bits_wide_begin(&w, bs);
    uint32_t any15 = 0;
    if (nch >= 2) {
        for (int sb = 0; sb < bound; sb++) {
            alloc[sb] = static_cast<uint8_t>(mpa_bits_wide_get(&w, 4));
            alloc[32 + sb] = static_cast<uint8_t>(mpa_bits_wide_get(&w, 4));
            any15 |= (alloc[sb] + 1u) | (alloc[32 + sb] + 1u);
        }
        for (int sb = bound; sb < 32; sb++) {
            alloc[sb] = alloc[32 + sb] = static_cast<uint8_t>(mpa_bits_wide_get(&w, 4));
            any15 |= alloc[sb] + 1u;
        }
    } else {
        for (int sb = 0; sb < 32; sb++) {
            alloc[sb] = static_cast<uint8_t>(mpa_bits_wide_get(&w, 4));
            any15 |= alloc[sb] + 1u;
        }
    }
    // Allocation 15 is forbidden; there is no code width or step for it.
    if (any15 & 16)
        return MPA_ERROR;

    for (int sb = 0; sb < 32; sb++) {
        if (alloc[sb])
            scf[sb] = static_cast<uint8_t>(mpa_bits_wide_get(&w, 6));
        if (nch >= 2 && alloc[32 + sb])
            scf[32 + sb] = static_cast<uint8_t>(mpa_bits_wide_get(&w, 6));
    }
    mpa_bits_wide_end(&w, bs);
    if (mpa_bits_left(bs) < 0)
        return MPA_ERR_NEED_DATA;

    mpa_layer1_read_samples(ctx, nch, bound);
    if (mpa_bits_left(bs) < 0)
        return MPA_ERR_NEED_DATA;

    dec->ancillary_bits = h->bits_in_frame - h->header_bits - (mpa_bits_position(bs) - start);
    if (dec->ancillary_bits < 0)
        return MPA_ERROR;

    mpa_layer12_synthesize(ctx, 1);
    return MPA_OK;
}
