// Layer II frame decoder (ISO/IEC 11172-3 2.4.3.3, and the low sampling
// frequencies of ISO/IEC 13818-3).
#include "core/crc.h"
#include "layer12/layer12.h"
#include "layer12/layer12_tables.h"
#include "layer12/synthesis.h"

namespace {

// Reads the three sample codes of one triplet. A negative width is one
// grouped code; codes past the end of its degrouping table are invalid.
inline bool read_triplet(mpa_bitstream *bs, const uint8_t (*const *grouping)[4], int width,
                         uint32_t x[3])
{
    if (width > 0) {
        x[0] = mpa_bits_get(bs, width);
        x[1] = mpa_bits_get(bs, width);
        x[2] = mpa_bits_get(bs, width);
        return true;
    }
    const uint32_t c = mpa_bits_get(bs, -width);
    const int slot = (-width >> 1) & 3;
    if (c >= mpa_layer2_group_limit[slot])
        return false;
    const uint8_t *e = grouping[slot][c];
    x[0] = e[0];
    x[1] = e[1];
    x[2] = e[2];
    return true;
}

// C * (s + D) * scale, s being x with its top bit inverted read as a
// fraction: (low bits * C / 2^(w-1) + (C * D or C * D - C)) * scale.
// Writes the three samples one time slot (64 floats) apart.
inline void dequantise(const uint32_t x[3], int k, float scale, float *out)
{
    const uint32_t h = mpa_layer2_quant_msb[k];
    const float step = mpa_layer2_quant_step[k];
    const float pos = mpa_layer2_quant_cd[k];
    const float neg = pos - mpa_layer2_quant_c[k];
    for (int s = 0; s < 3; s++) {
        const float o = (x[s] & h) ? pos : neg;
        out[64 * s] = ((float)(x[s] & (h - 1)) * step + o) * scale;
    }
}

inline void zero3(float *out)
{
    out[0] = out[64] = out[128] = 0.0f;
}

}  // namespace

int mpa_layer2_select_table(const mpa_header *h)
{
    if (h->id == 0)
        return 4;
    // Free format (no rate in the header) belongs to Table B.2a at 48 kHz
    // and to Table B.2b at 44.1 and 32 kHz, whatever the frame length: the
    // captions of ISO/IEC 11172-3 Tables B.2a and B.2b list it there.
    if (h->bit_rate == 0)
        return h->sampling_index == 1 ? 0 : 1;
    const int32_t r = h->bit_rate >> (h->n_channels - 1);
    if (r <= 48)
        return h->sampling_index == 2 ? 3 : 2;
    if (r <= 80)
        return 0;
    if (r <= 192)
        return h->sampling_index == 1 ? 0 : 1;
    return -1;
}

void mpa_layer2_read_allocation(mpa_frame_ctx *ctx, int bound, int sblimit)
{
    mpa_bitstream *bs = ctx->bits;
    const uint8_t *nbal = ctx->alloc_table->nbal;
    uint8_t *a0 = ctx->allocation;
    uint8_t *a1 = a0 + 32;
    for (int sb = 0; sb < bound; sb++) {
        a0[sb] = (uint8_t)mpa_bits_get(bs, nbal[sb]);
        a1[sb] = (uint8_t)mpa_bits_get(bs, nbal[sb]);
    }
    // One field for both channels from the bound up (all of a mono frame).
    for (int sb = bound; sb < sblimit; sb++)
        a0[sb] = a1[sb] = (uint8_t)mpa_bits_get(bs, nbal[sb]);
    for (int sb = sblimit; sb < 32; sb++)
        a0[sb] = a1[sb] = 0;
}

void mpa_layer2_read_scfsi(mpa_frame_ctx *ctx, int sblimit, uint8_t (*scfsi)[2], int nch)
{
    mpa_bitstream *bs = ctx->bits;
    const uint8_t *alloc = ctx->allocation;
    for (int sb = 0; sb < sblimit; sb++)
        for (int ch = 0; ch < nch; ch++)
            scfsi[sb][ch] = alloc[ch * 32 + sb] ? (uint8_t)mpa_bits_get(bs, 2) : 4;
}

void mpa_layer2_read_scalefactors(mpa_frame_ctx *ctx, int sblimit, const uint8_t (*scfsi)[2],
                                  int nch)
{
    mpa_bitstream *bs = ctx->bits;
    for (int sb = 0; sb < sblimit; sb++) {
        for (int ch = 0; ch < nch; ch++) {
            // Parts 0, 1, 2 (granules 0-3, 4-7, 8-11) are 64 bytes apart.
            uint8_t *s = ctx->scalefactor_index + ch * 32 + sb;
            switch (scfsi[sb][ch]) {
            case 0:
                s[0] = (uint8_t)mpa_bits_get(bs, 6);
                s[64] = (uint8_t)mpa_bits_get(bs, 6);
                s[128] = (uint8_t)mpa_bits_get(bs, 6);
                break;
            case 1:
                s[0] = s[64] = (uint8_t)mpa_bits_get(bs, 6);
                s[128] = (uint8_t)mpa_bits_get(bs, 6);
                break;
            case 2:
                s[0] = s[64] = s[128] = (uint8_t)mpa_bits_get(bs, 6);
                break;
            case 3:
                s[0] = (uint8_t)mpa_bits_get(bs, 6);
                s[64] = s[128] = (uint8_t)mpa_bits_get(bs, 6);
                break;
            default:  // no allocation, no scale factors
                break;
            }
        }
    }
}

int mpa_layer2_read_samples(mpa_frame_ctx *ctx, int bound, int sblimit, int nch)
{
    mpa_bitstream *bs = ctx->bits;
    const mpa_layer2_alloc_table *t = ctx->alloc_table;
    const uint8_t *alloc = ctx->allocation;
    uint32_t x[3];

    for (int g = 0; g < 12; g++) {
        const uint8_t *scf = ctx->scalefactor_index + (g >> 2) * 64;
        float *out = ctx->samples + g * 192;  // three time slots

        for (int sb = 0; sb < bound; sb++) {
            for (int ch = 0; ch < 2; ch++) {
                const int i = ch * 32 + sb;
                const int a = alloc[i];
                if (!a) {
                    zero3(out + i);
                    continue;
                }
                if (!read_triplet(bs, ctx->grouping, t->bits_row[sb][a], x))
                    return MPA_ERROR;
                dequantise(x, t->class_row[sb][a], mpa_scalefactor_table[scf[i]], out + i);
            }
        }
        // Shared codes (joint stereo above the bound, or mono).
        for (int sb = bound; sb < sblimit; sb++) {
            const int a = alloc[sb];
            if (!a) {
                zero3(out + sb);
                if (nch == 2)
                    zero3(out + 32 + sb);
                continue;
            }
            if (!read_triplet(bs, ctx->grouping, t->bits_row[sb][a], x))
                return MPA_ERROR;
            const int k = t->class_row[sb][a];
            dequantise(x, k, mpa_scalefactor_table[scf[sb]], out + sb);
            if (nch == 2)
                dequantise(x, k, mpa_scalefactor_table[scf[32 + sb]], out + 32 + sb);
        }
        for (int ch = 0; ch < nch; ch++)
            for (int sb = sblimit; sb < 32; sb++)
                zero3(out + ch * 32 + sb);
    }
    return MPA_OK;
}

int mpa_layer2_decode(mpa_frame_ctx *ctx)
{
    mpa_decoder *dec = ctx->decoder;
    const mpa_header *h = &dec->header;
    mpa_bitstream *bs = ctx->bits;
    const int nch = h->n_channels;
    const int32_t start = mpa_bits_position(bs);

    const int table = mpa_layer2_select_table(h);
    if (table < 0)
        return MPA_ERROR;
    ctx->alloc_table = &mpa_layer2_alloc_tables[table];
    const int sblimit = ctx->alloc_table->sblimit;
    int bound = h->mode == 1 ? 4 * (h->mode_extension + 1) : sblimit;
    if (bound > sblimit)
        bound = sblimit;
    if (nch == 1)
        bound = 0;

    mpa_bitstream saved;
    if (h->protection_bit == 0)
        mpa_bits_copy(&saved, bs);

    uint8_t scfsi[32][2];
    mpa_layer2_read_allocation(ctx, bound, sblimit);
    mpa_layer2_read_scfsi(ctx, sblimit, scfsi, nch);
    if (mpa_bits_left(bs) < 0)
        return MPA_ERR_NEED_DATA;

    // The CRC covers the allocation and scfsi fields.
    if (h->protection_bit == 0 && ctx->skip_crc == 0 &&
        mpa_crc_check_layer2(&saved, ctx, mpa_bits_position(bs) - mpa_bits_position(&saved)))
        return MPA_ERR_CRC;

    mpa_layer2_read_scalefactors(ctx, sblimit, scfsi, nch);
    if (mpa_layer2_read_samples(ctx, bound, sblimit, nch) != MPA_OK)
        return MPA_ERROR;

    dec->ancillary_bits = h->bits_in_frame - h->header_bits - (mpa_bits_position(bs) - start);
    if (dec->ancillary_bits < 0)
        return MPA_ERROR;
    if (mpa_bits_left(bs) < 0)
        return MPA_ERR_NEED_DATA;

    mpa_layer12_synthesize(ctx, 2);
    return MPA_OK;
}
