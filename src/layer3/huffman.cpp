// Layer III Huffman decoding (ISO/IEC 11172-3 2.4.2.7, 2.4.3.4, Table B.7).
//
// Every code table has its own routine, instantiated from the templates below
// with the table's lookup struct from huffman_tables.h. The decoders work on a
// local copy of the reader: they peek at the left-aligned cache, take sign bits
// from the same peek, consume by shifting and refill two bytes at a time.
#include "layer3/huffman.h"

#include "core/bitstream.h"
#include "layer3/huffman_tables.h"

static inline void mpa_huff_consume(mpa_bitstream *r, unsigned n)
{
    r->cache <<= n;
    r->count -= (int32_t)n;
    mpa_bits_refill(r);
}

// Tables without linbits: code and sign bits fit in one 16-bit peek (the
// lookups keep one-step codes to 14 bits; longer ones consume a prefix first).
template <class T>
static inline void mpa_huff_pairs_plain(mpa_frame_ctx *ctx, float **cursor, int pairs)
{
    mpa_bitstream r = *ctx->bits;
    float *out = *cursor;
    float *const stop = out + 2 * pairs;

    for (; out < stop; out += 2) {
        if (T::zero_bit && (int32_t)r.cache < 0) {  // code 1: (0, 0)
            mpa_huff_consume(&r, 1);
            continue;
        }
        const unsigned e = T::lookup(&r);
        const unsigned x = (e >> T::x_shift) & T::magnitude_mask;
        const unsigned y = (e >> T::y_shift) & T::magnitude_mask;
        unsigned len = e & 15;
        uint32_t s = r.cache << len;  // the sign bits follow the code
        if (x) {
            out[0] = T::magnitude_mask == 1 ? mpa_unit_signed[s >> 31]
                                            : mpa_pow43_signed[2 * x + (s >> 31)];
            s <<= 1;
            len++;
        }
        if (y) {
            out[1] = T::magnitude_mask == 1 ? mpa_unit_signed[s >> 31]
                                            : mpa_pow43_signed[2 * y + (s >> 31)];
            len++;
        }
        mpa_huff_consume(&r, len);
    }
    *ctx->bits = r;
    *cursor = out;
}

// One value of a linbits table, read after its code: magnitude 15 is followed
// by linbits bits and the sign, read together; smaller ones by the sign alone.
static inline float mpa_huff_linbits_value(mpa_bitstream *r, unsigned magnitude, int linbits)
{
    if (magnitude == 15) {
        const uint32_t v = r->cache >> (31 - linbits);  // linbits value, then the sign
        mpa_huff_consume(r, (unsigned)linbits + 1);
        const float f = mpa_pow43[15 + (v >> 1)];
        return (v & 1) ? -f : f;
    }
    const uint32_t sign = r->cache >> 31;
    mpa_huff_consume(r, 1);
    return mpa_pow43_signed[2 * magnitude + sign];
}

// Tables 16..31: the code is consumed first, then linbits and sign of x, then of y.
template <class T>
static inline void mpa_huff_pairs_linbits(mpa_frame_ctx *ctx, float **cursor, int pairs,
                                          int linbits)
{
    mpa_bitstream r = *ctx->bits;
    float *out = *cursor;
    float *const stop = out + 2 * pairs;

    for (; out < stop; out += 2) {
        if (T::zero_bit && (int32_t)r.cache < 0) {
            mpa_huff_consume(&r, 1);
            continue;
        }
        const unsigned e = T::lookup(&r);
        const unsigned x = (e >> T::x_shift) & T::magnitude_mask;
        const unsigned y = (e >> T::y_shift) & T::magnitude_mask;
        mpa_huff_consume(&r, e & 15);
        if (x)
            out[0] = mpa_huff_linbits_value(&r, x, linbits);
        if (y)
            out[1] = mpa_huff_linbits_value(&r, y, linbits);
    }
    *ctx->bits = r;
    *cursor = out;
}

void mpa_huff_pairs_0(mpa_frame_ctx *, float **cursor, int pairs, int)
{
    *cursor += 2 * pairs;
}

// Tables 4 and 14 are not used by the standard; nothing is decoded, the
// cursor stays where it is.
void mpa_huff_pairs_none(mpa_frame_ctx *, float **, int, int) {}

#define MPA_HUFF_PAIRS_PLAIN(n)                                                     \
    void mpa_huff_pairs_##n(mpa_frame_ctx *ctx, float **cursor, int pairs, int)    \
    {                                                                               \
        mpa_huff_pairs_plain<mpa_huff_code_##n>(ctx, cursor, pairs);                \
    }

MPA_HUFF_PAIRS_PLAIN(1)
MPA_HUFF_PAIRS_PLAIN(2)
MPA_HUFF_PAIRS_PLAIN(3)
MPA_HUFF_PAIRS_PLAIN(5)
MPA_HUFF_PAIRS_PLAIN(6)
MPA_HUFF_PAIRS_PLAIN(7)
MPA_HUFF_PAIRS_PLAIN(8)
MPA_HUFF_PAIRS_PLAIN(9)
MPA_HUFF_PAIRS_PLAIN(10)
MPA_HUFF_PAIRS_PLAIN(11)
MPA_HUFF_PAIRS_PLAIN(12)
MPA_HUFF_PAIRS_PLAIN(13)
MPA_HUFF_PAIRS_PLAIN(15)

void mpa_huff_pairs_16(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits)
{
    mpa_huff_pairs_linbits<mpa_huff_code_16>(ctx, cursor, pairs, linbits);
}

void mpa_huff_pairs_24(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits)
{
    mpa_huff_pairs_linbits<mpa_huff_code_24>(ctx, cursor, pairs, linbits);
}

// Count1 quadruples. Table A: code 1 is (0, 0, 0, 0), other codes are looked
// up by their top 6 bits. Table B: 4-bit codes whose inverted bits are the
// flags. Flags and up to four signs fit in one 10-bit peek.
template <bool TableA>
static inline int mpa_huff_quads(mpa_frame_ctx *ctx, float **cursor, int budget, float *end)
{
    mpa_bitstream r = *ctx->bits;
    float *out = *cursor;
    int result = 0;
    const int min_budget = TableA ? 0 : 3;

    while (budget > min_budget && end - out >= 4) {
        const uint32_t c = r.cache;
        unsigned flags, len;
        if (TableA) {
            if ((int32_t)c < 0) {
                flags = 0;
                len = 1;
            } else {
                const unsigned e = mpa_huff_count1_a[c >> 26];
                flags = e >> 4;
                len = e & 7;
            }
        } else {
            flags = (~c >> 28) & 15;
            len = 4;
        }
        uint32_t s = c << len;
        for (int k = 0; k < 4; k++) {  // v, w, x, y
            if (flags & (8u >> k)) {
                out[k] = mpa_unit_signed[s >> 31];
                s <<= 1;
                len++;
            }
        }
        out += 4;
        budget -= (int)len;
        if (budget < 0) {  // ran past the granule's end: the caller drops it
            result = -1;
            break;
        }
        mpa_huff_consume(&r, len);
    }
    *ctx->bits = r;
    *cursor = out;
    return result;
}

int mpa_huff_quads_a(mpa_frame_ctx *ctx, float **cursor, int budget, float *end)
{
    return mpa_huff_quads<true>(ctx, cursor, budget, end);
}

int mpa_huff_quads_b(mpa_frame_ctx *ctx, float **cursor, int budget, float *end)
{
    return mpa_huff_quads<false>(ctx, cursor, budget, end);
}

const mpa_huff_pairs_fn mpa_huff_pair_decoders[32] = {
    mpa_huff_pairs_0,  mpa_huff_pairs_1,  mpa_huff_pairs_2,  mpa_huff_pairs_3,
    mpa_huff_pairs_none, mpa_huff_pairs_5, mpa_huff_pairs_6, mpa_huff_pairs_7,
    mpa_huff_pairs_8,  mpa_huff_pairs_9,  mpa_huff_pairs_10, mpa_huff_pairs_11,
    mpa_huff_pairs_12, mpa_huff_pairs_13, mpa_huff_pairs_none, mpa_huff_pairs_15,
    mpa_huff_pairs_16, mpa_huff_pairs_16, mpa_huff_pairs_16, mpa_huff_pairs_16,
    mpa_huff_pairs_16, mpa_huff_pairs_16, mpa_huff_pairs_16, mpa_huff_pairs_16,
    mpa_huff_pairs_24, mpa_huff_pairs_24, mpa_huff_pairs_24, mpa_huff_pairs_24,
    mpa_huff_pairs_24, mpa_huff_pairs_24, mpa_huff_pairs_24, mpa_huff_pairs_24,
};

const mpa_huff_quads_fn mpa_huff_quad_decoders[2] = {mpa_huff_quads_a, mpa_huff_quads_b};

void mpa_layer3_regions(mpa_granule_info *info)
{
    // big_values above 288 is rejected with the side information; the bound
    // here only keeps the regions inside the 576 lines whatever the caller did.
    const int b = info->big_values < 288 ? info->big_values : 288;
    const uint8_t *w = info->band_widths;
    const int bands = info->band_count;

    // k: the fewest list entries that cover the 2b big-value lines.
    int k = 0;
    for (int lines = 0; lines < 2 * b && k < bands; k++)
        lines += w[k];

    int r0 = k > 0 ? info->region0_count + 1 : 0;
    int r1 = k > 1 ? info->region1_count + 1 : 0;
    if (r0 + r1 > k)
        r1 = k - r0 > 0 ? k - r0 : 0;
    if (r0 > bands)
        r0 = bands;

    int lines0 = 0, lines1 = 0;
    for (int i = 0; i < r0; i++)
        lines0 += w[i];
    for (int i = r0; i < r0 + r1; i++)
        lines1 += w[i];

    const int p0 = lines0 / 2 < b ? lines0 / 2 : b;
    const int p1 = lines1 / 2 < b - p0 ? lines1 / 2 : b - p0;
    info->region_pairs[0] = (uint16_t)p0;
    info->region_pairs[1] = (uint16_t)p1;
    info->region_pairs[2] = (uint16_t)(b - p0 - p1);
}

int mpa_layer3_huffman(mpa_granule_info *info, mpa_frame_ctx *ctx, float *spectrum,
                       int part2_bits)
{
    mpa_bitstream *bits = ctx->bits;
    mpa_layer3_regions(info);

    const int32_t end = mpa_bits_position(bits) + info->part2_3_length - part2_bits;
    mpa_bitstream saved;
    mpa_bits_copy(&saved, bits);
    float *cursor = spectrum;

    // The end is checked once per region: a region that overruns is noticed
    // after it has been decoded (the reader yields zeros past its buffer).
    for (int i = 0; i < 3; i++) {
        const int table = info->table_select[i] & 31;
        mpa_huff_pair_decoders[table](ctx, &cursor, info->region_pairs[i], mpa_linbits[table]);
        if (mpa_bits_position(bits) > end) {
            mpa_bits_copy(bits, &saved);
            return 1;
        }
    }

    const int budget = end - mpa_bits_position(bits);
    if (mpa_huff_quad_decoders[info->count1table_select & 1](ctx, &cursor, budget,
                                                             spectrum + 576) < 0) {
        cursor -= 4;  // the quadruple that ran past the end is dropped
        cursor[0] = cursor[1] = cursor[2] = cursor[3] = 0.0f;
    }
    return 0;
}
