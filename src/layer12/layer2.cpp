// Layer II frame decoder (ISO/IEC 11172-3 2.4.3.3, and the low sampling
// frequencies of ISO/IEC 13818-3).
#include <cstring>

#include "core/crc.h"
#include "core/kernels.h"
#include "layer12/layer2.h"
#include "layer12/layer12_tables.h"
#include "layer12/layer2_dequantise.h"
#include "layer12/synthesis.h"

namespace {

// One coded allocation of a granule, in bitstream order.
struct coded_lane {
    const uint8_t (*grouping)[4];  // degrouping table of a grouped code, else null
    uint16_t limit;  // grouped codes below it are valid
    uint16_t mask;   // all ones over one plain code
    uint8_t lane;    // ch * 32 + sb
    uint8_t width;   // bits of the grouped code or of each of the three plain codes
    uint8_t bits;    // bits the lane takes from the stream per granule
};

// Reads one granule's codes into codes[s][lane]. Returns false for a grouped
// code past the end of its degrouping table.
inline bool read_granule(mpa_bits_wide *bs, const coded_lane *list, int n, int32_t (*codes)[64])
{
    for (int i = 0; i < n; i++) {
        const coded_lane &e = list[i];
        // A refill gives at least 56 bits, several lanes' worth at the usual
        // rates: top up only when this lane's bits are not all there.
        if (bs->count < e.bits)
            mpa_bits_wide_refill(bs);
        if (!e.grouping) {
            // The triplet as one field of 3 * width bits.
            const uint64_t x = mpa_bits_wide_take(bs, 3 * e.width);
            codes[0][e.lane] = static_cast<int32_t>(x >> (2 * e.width));
            codes[1][e.lane] = static_cast<int32_t>((x >> e.width) & e.mask);
            codes[2][e.lane] = static_cast<int32_t>(x & e.mask);
            continue;
        }
        const uint32_t c = static_cast<uint32_t>(mpa_bits_wide_take(bs, e.width));
        if (c >= e.limit)
            return false;
        const uint8_t *t = e.grouping[c];
        codes[0][e.lane] = t[0];
        codes[1][e.lane] = t[1];
        codes[2][e.lane] = t[2];
    }
    return true;
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
    mpa_bits_wide bs;
    mpa_bits_wide_begin(&bs, ctx->bits);
    const uint8_t *nbal = ctx->alloc_table->nbal;
    uint8_t *a0 = ctx->allocation;
    uint8_t *a1 = a0 + 32;
    for (int sb = 0; sb < bound; sb++) {
        a0[sb] = static_cast<uint8_t>(mpa_bits_wide_get(&bs, nbal[sb]));
        a1[sb] = static_cast<uint8_t>(mpa_bits_wide_get(&bs, nbal[sb]));
    }
    // One field for both channels from the bound up (all of a mono frame).
    for (int sb = bound; sb < sblimit; sb++)
        a0[sb] = a1[sb] = static_cast<uint8_t>(mpa_bits_wide_get(&bs, nbal[sb]));
    for (int sb = sblimit; sb < 32; sb++)
        a0[sb] = a1[sb] = 0;
    mpa_bits_wide_end(&bs, ctx->bits);
}

void mpa_layer2_read_scfsi(mpa_frame_ctx *ctx, int sblimit, uint8_t (*scfsi)[2], int nch)
{
    mpa_bits_wide bs;
    mpa_bits_wide_begin(&bs, ctx->bits);
    const uint8_t *alloc = ctx->allocation;
    for (int sb = 0; sb < sblimit; sb++)
        for (int ch = 0; ch < nch; ch++)
            scfsi[sb][ch] = alloc[ch * 32 + sb] ? static_cast<uint8_t>(mpa_bits_wide_get(&bs, 2)) : 4;
    mpa_bits_wide_end(&bs, ctx->bits);
}

void mpa_layer2_read_scalefactors(mpa_frame_ctx *ctx, int sblimit, const uint8_t (*scfsi)[2],
                                  int nch)
{
    mpa_bits_wide bs;
    mpa_bits_wide_begin(&bs, ctx->bits);
    for (int sb = 0; sb < sblimit; sb++) {
        for (int ch = 0; ch < nch; ch++) {
            const int c = scfsi[sb][ch];
            if (c == 4)  // no allocation, no scale factors
                continue;
            // The one to three scale factors as one field, split by table
            // rather than by a branch on scfsi. Parts 0, 1, 2 (granules 0-3,
            // 4-7, 8-11) are 64 bytes apart.
            const int bits = 6 * mpa_layer2_scf_count[c];
            if (bs.count < bits)
                mpa_bits_wide_refill(&bs);
            const uint32_t x = static_cast<uint32_t>(mpa_bits_wide_take(&bs, bits));
            const uint8_t *shift = mpa_layer2_scf_shift[c];
            uint8_t *s = ctx->scalefactor_index + ch * 32 + sb;
            s[0] = static_cast<uint8_t>((x >> shift[0]) & 63);
            s[64] = static_cast<uint8_t>((x >> shift[1]) & 63);
            s[128] = static_cast<uint8_t>((x >> shift[2]) & 63);
        }
    }
    mpa_bits_wide_end(&bs, ctx->bits);
}

int mpa_layer2_read_samples(mpa_frame_ctx *ctx, int bound, int sblimit, int nch)
{
    const mpa_layer2_alloc_table *t = ctx->alloc_table;
    const uint8_t *alloc = ctx->allocation;
    const uint8_t *scf = ctx->scalefactor_index;
    const int lanes = 32 * nch;

    mpa_layer2_lanes k;
    memset(&k, 0, sizeof k);
    coded_lane list[64];
    int n = 0;
    for (int sb = 0; sb < sblimit; sb++) {
        for (int ch = 0; ch < nch; ch++) {
            const int i = ch * 32 + sb;
            const int a = alloc[i];
            if (!a)
                continue;
            // Above the bound both channels share channel 0's codes.
            if (ch == 0 || sb < bound) {
                const int w = t->bits_row[sb][a];
                coded_lane &e = list[n++];
                e.lane = static_cast<uint8_t>(i);
                e.width = static_cast<uint8_t>(w < 0 ? -w : w);
                e.mask = static_cast<uint16_t>((1u << e.width) - 1);
                e.bits = static_cast<uint8_t>(w < 0 ? e.width : 3 * e.width);
                e.grouping = w < 0 ? ctx->grouping[(-w >> 1) & 3] : nullptr;
                e.limit = w < 0 ? mpa_layer2_group_limit[(-w >> 1) & 3] : 0;
            }
            const int c = t->class_row[sb][a];
            k.low[i] = static_cast<float>(mpa_layer2_quant_low[c]);
            k.top[i] = k.low[i] + 1.0f;
            k.step[i] = mpa_layer2_quant_step[c];
            k.pos[i] = mpa_layer2_quant_cd[c];
            k.neg[i] = k.pos[i] - mpa_layer2_quant_c[c];
            for (int p = 0; p < 3; p++)
                k.scale[p][i] = mpa_scalefactor_table[scf[p * 64 + i]];
        }
    }

    const auto dequantise = mpa_kernels_active().layer2_dequantise;
    int32_t codes[3][64];
    memset(codes, 0, sizeof codes);
    mpa_bits_wide bits;
    mpa_bits_wide_begin(&bits, ctx->bits);
    for (int g = 0; g < 12; g++) {
        if (!read_granule(&bits, list, n, codes))
            return MPA_ERROR;
        if (nch == 2 && bound < sblimit)
            for (int s = 0; s < 3; s++)
                memcpy(&codes[s][32 + bound], &codes[s][bound], (sblimit - bound) * sizeof(int32_t));
        dequantise(&k, k.scale[g >> 2], codes, lanes, ctx->samples + g * 192);
    }
    mpa_bits_wide_end(&bits, ctx->bits);
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
