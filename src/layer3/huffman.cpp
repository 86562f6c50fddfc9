// Layer III Huffman decoding (ISO/IEC 11172-3 2.4.2.7, 2.4.3.4, Table B.7).
//
// Every code table has its own routine, instantiated from the templates below
// with the table's lookup struct from huffman_tables.h. The decoders work on a
// 64-bit reader taken over from the frame's reader: they peek at the
// left-aligned cache, take sign bits from the same peek, consume by shifting
// and refill eight bytes at a time, at most once per pair.
#include "layer3/huffman.h"

#include <cstring>

#include "core/bitstream.h"
#include "layer3/huffman_tables.h"
#include "layer3/pow43_tables.h"

// Bits a pair's code and signs may take (codes are up to 19 bits), and what
// the linbits and signs of both values may take after the code (up to 13
// linbits each). The wide reader is topped up to 56 or more bits when fewer
// than these are left.
enum { kCodeAndSignBits = 19 + 2, kLinbitsAndSignBits = 2 * (13 + 1) };

static inline void mpa_huff_consume(mpa_bits_wide *r, unsigned n)
{
    r->cache <<= n;
    r->count -= static_cast<int32_t>(n);
}

static inline uint32_t mpa_huff_top(const mpa_bits_wide *r)
{
    return static_cast<uint32_t>(r->cache >> 32);
}

// One pair's code: the magnitudes of x and y, the code's length, and that
// length with the sign bits that follow the code.
struct mpa_huff_code {
    unsigned x, y, len, taken;
};

// Reads a pair's code into *c. False for the one-bit code 1 of (0, 0) that
// some tables have: consumed here and stored in out[0..2), with nothing in *c.
template <class T>
static inline bool mpa_huff_read_code(mpa_bits_wide *r, float *out, mpa_huff_code *c)
{
    if (T::zero_bit && static_cast<int64_t>(r->cache) < 0) {  // code 1: (0, 0)
        out[0] = out[1] = 0.0f;
        mpa_huff_consume(r, 1);
        return false;
    }
    const unsigned e = T::lookup(r);
    c->x = e >> 12;
    c->y = (e >> 8) & 15;
    c->taken = (e >> 4) & 15;
    c->len = e & 15;
    return true;
}

// Stores the pair of code c (not yet consumed) with the sign bits that follow
// it, and consumes code and signs.
static inline void mpa_huff_signed_pair(mpa_bits_wide *r, float *out, const mpa_huff_code &c)
{
    // The sign bits follow the code, y's last. A zero value has no sign bit:
    // the bit read in its place picks one of the two +0 entries of 0.
    const uint32_t top = mpa_huff_top(r);
    out[0] = mpa_pow43_signed[2 * c.x + ((top << c.len) >> 31)];
    out[1] = mpa_pow43_signed[2 * c.y + ((top << (c.taken - 1)) >> 31)];
    mpa_huff_consume(r, c.taken);
}

// One value of a linbits table, read after its code: magnitude 15 is followed
// by linbits bits and the sign, read together; smaller non-zero ones by the
// sign alone, zero by nothing (without a branch, as in mpa_huff_signed_pair).
static inline float mpa_huff_linbits_value(mpa_bits_wide *r, unsigned magnitude, int linbits)
{
    if (magnitude == 15) {
        const uint32_t v = mpa_huff_top(r) >> (31 - linbits);  // linbits value, then the sign
        mpa_huff_consume(r, static_cast<unsigned>(linbits) + 1);
        const float f = mpa_pow43[15 + (v >> 1)];
        return (v & 1) ? -f : f;
    }
    const float v = mpa_pow43_signed[2 * magnitude + (mpa_huff_top(r) >> 31)];
    mpa_huff_consume(r, magnitude != 0);
    return v;
}

// Tables without linbits (Linbits false): code and sign bits are read from
// the top 32 bits of the cache. Whether a value is zero is as good as random,
// so both values are written and the sign bits taken without branches: a zero
// value takes no sign bit and both entries of 0 in mpa_pow43_signed are +0.
// Tables 16..31 (Linbits true): the code is consumed first, then linbits and
// sign of x, then of y; pairs without a 15 are taken as without linbits.
template <class T, bool Linbits>
static inline void mpa_huff_pairs(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits)
{
    mpa_bits_wide r;
    mpa_bits_wide_begin(&r, ctx->bits);
    float *out = *cursor;
    float *const stop = out + 2 * pairs;

    for (; out < stop; out += 2) {
        if (r.count < kCodeAndSignBits)
            mpa_bits_wide_refill(&r);
        mpa_huff_code c;
        if (!mpa_huff_read_code<T>(&r, out, &c))
            continue;
        if (!Linbits || (c.x < 15 && c.y < 15)) {
            mpa_huff_signed_pair(&r, out, c);
            continue;
        }
        mpa_huff_consume(&r, c.len);
        if (r.count < kLinbitsAndSignBits)
            mpa_bits_wide_refill(&r);
        out[0] = mpa_huff_linbits_value(&r, c.x, linbits);
        out[1] = mpa_huff_linbits_value(&r, c.y, linbits);
    }
    mpa_bits_wide_end(&r, ctx->bits);
    *cursor = out;
}

void mpa_huff_pairs_0(mpa_frame_ctx *, float **cursor, int pairs, int)
{
    memset(*cursor, 0, 2 * static_cast<size_t>(pairs) * sizeof(float));
    *cursor += 2 * pairs;
}

// Tables 4 and 14 are not used by the standard; nothing is decoded, the
// cursor stays where it is.
void mpa_huff_pairs_none(mpa_frame_ctx *, float **, int, int) {}

#define MPA_HUFF_PAIRS_PLAIN(n)                                                     \
    void mpa_huff_pairs_##n(mpa_frame_ctx *ctx, float **cursor, int pairs, int)    \
    {                                                                               \
        mpa_huff_pairs<mpa_huff_code_##n, false>(ctx, cursor, pairs, 0);            \
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
    mpa_huff_pairs<mpa_huff_code_16, true>(ctx, cursor, pairs, linbits);
}

void mpa_huff_pairs_24(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits)
{
    mpa_huff_pairs<mpa_huff_code_24, true>(ctx, cursor, pairs, linbits);
}

// Count1 quadruples: one lookup by the top 10 bits of the cache gives the
// four signed values (zeros included) and the bits of code and signs.
static inline int mpa_huff_quads(mpa_frame_ctx *ctx, float **cursor, int budget, float *end,
                                 int table)
{
    const uint16_t *lookup = mpa_huff_count1[table];
    mpa_bits_wide r;
    mpa_bits_wide_begin(&r, ctx->bits);
    float *out = *cursor;
    int result = 0;
    // Table B's codes are 4 bits: fewer bits than that end the data.
    const int min_budget = table == 0 ? 0 : 3;

    while (budget > min_budget && end - out >= 4) {
        if (r.count < 10)  // code and signs of a quadruple
            mpa_bits_wide_refill(&r);
        const unsigned e = lookup[r.cache >> 54];
        const unsigned len = e & 15;
        memcpy(out, mpa_huff_quad_values[e >> 4], 4 * sizeof(float));
        out += 4;
        budget -= static_cast<int>(len);
        if (budget < 0) {  // ran past the granule's end: the caller drops it
            result = -1;
            break;
        }
        mpa_huff_consume(&r, len);
    }
    mpa_bits_wide_end(&r, ctx->bits);
    *cursor = out;
    return result;
}

int mpa_huff_quads_a(mpa_frame_ctx *ctx, float **cursor, int budget, float *end)
{
    return mpa_huff_quads(ctx, cursor, budget, end, 0);
}

int mpa_huff_quads_b(mpa_frame_ctx *ctx, float **cursor, int budget, float *end)
{
    return mpa_huff_quads(ctx, cursor, budget, end, 1);
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
    const uint16_t *start = info->band_starts;
    const int bands = info->band_count;

    // k: the fewest list entries that cover the 2b big-value lines.
    int k = 0;
    while (k < bands && start[k] < 2 * b)
        k++;

    int r0 = k > 0 ? info->region0_count + 1 : 0;
    int r1 = k > 1 ? info->region1_count + 1 : 0;
    if (r0 + r1 > k)
        r1 = k - r0 > 0 ? k - r0 : 0;
    if (r0 > bands)
        r0 = bands;

    const int lines0 = start[r0];
    const int lines1 = start[r0 + r1] - lines0;

    const int p0 = lines0 / 2 < b ? lines0 / 2 : b;
    const int p1 = lines1 / 2 < b - p0 ? lines1 / 2 : b - p0;
    info->region_pairs[0] = static_cast<uint16_t>(p0);
    info->region_pairs[1] = static_cast<uint16_t>(p1);
    info->region_pairs[2] = static_cast<uint16_t>(b - p0 - p1);
}

int mpa_layer3_huffman(mpa_granule_info *info, mpa_frame_ctx *ctx, float *spectrum,
                       int part2_bits)
{
    int lines;
    return mpa_layer3_huffman_lines(info, ctx, spectrum, part2_bits, &lines);
}

int mpa_layer3_huffman_lines(mpa_granule_info *info, mpa_frame_ctx *ctx, float *spectrum,
                             int part2_bits, int *lines)
{
    mpa_bitstream *bits = ctx->bits;
    mpa_layer3_regions(info);

    const int32_t end = mpa_bits_position(bits) + info->part2_3_length - part2_bits;
    mpa_bitstream saved;
    mpa_bits_copy(&saved, bits);
    float *cursor = spectrum;
    *lines = MPA_GRANULE_LINES;

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
                                                             spectrum + MPA_GRANULE_LINES) < 0) {
        cursor -= 4;  // the quadruple that ran past the end is dropped
        cursor[0] = cursor[1] = cursor[2] = cursor[3] = 0.0f;
    }
    *lines = static_cast<int>(cursor - spectrum);
    return 0;
}
