// Most-significant-bit-first reader with a 32-bit cache refilled 16 bits at a
// time. Reads never check the end: callers test mpa_bits_left at fixed points.
// Bytes at or past `end` read as zero and are never touched in memory.
#ifndef ROVAZ_CORE_BITSTREAM_H
#define ROVAZ_CORE_BITSTREAM_H

#include <cstdint>

struct mpa_bitstream {
    uint32_t cache;       // next bits, left-aligned; bits below the valid ones are 0
    int32_t count;        // valid bits in cache, 17..32 between reads
    const uint8_t *ptr;   // next byte to load
    const uint8_t *start;
    const uint8_t *end;
};

// Byte at p, or 0 outside [start, end).
static inline uint32_t mpa_bits_byte_at(const mpa_bitstream *b, const uint8_t *p)
{
    return (p < b->end && p >= b->start) ? *p : 0u;
}

// Loads two bytes below the valid bits when count has dropped to 16 or less.
static inline void mpa_bits_refill(mpa_bitstream *b)
{
    if (b->count <= 16) {
        const uint8_t *p = b->ptr;
        uint32_t b0, b1;
        if (b->end - p >= 2) {
            b0 = p[0];
            b1 = p[1];
        } else {
            b0 = mpa_bits_byte_at(b, p);
            b1 = mpa_bits_byte_at(b, p + 1);
        }
        b->cache |= (b0 << (24 - b->count)) | (b1 << (16 - b->count));
        b->ptr = p + 2;
        b->count += 16;
    }
}

// How much a reader covers at most: bit counts stay far inside 32 bits, also
// when a caller hands over a whole file of hundreds of megabytes as the data
// after a frame. A frame and the next header are a few kilobytes.
enum { MPA_BITS_MAX_BYTES = 1 << 24 };

static inline void mpa_bits_init(mpa_bitstream *b, const uint8_t *p, int len)
{
    b->start = p;
    b->ptr = p;
    b->end = p + (len <= 0 ? 0 : len < MPA_BITS_MAX_BYTES ? len : MPA_BITS_MAX_BYTES);
    b->cache = (mpa_bits_byte_at(b, p) << 24) | (mpa_bits_byte_at(b, p + 1) << 16) |
               (mpa_bits_byte_at(b, p + 2) << 8) | mpa_bits_byte_at(b, p + 3);
    b->ptr = p + 4;
    b->count = 32;
}

// Next n bits (1..16) as an unsigned number.
static inline uint32_t mpa_bits_get(mpa_bitstream *b, int n)
{
    uint32_t r = b->cache >> (32 - n);
    b->cache <<= n;
    b->count -= n;
    mpa_bits_refill(b);
    return r;
}

// Consumes one bit; returns the cache as it was (the bit is bit 31).
static inline uint32_t mpa_bits_get1(mpa_bitstream *b)
{
    uint32_t r = b->cache;
    b->cache <<= 1;
    b->count -= 1;
    mpa_bits_refill(b);
    return r;
}

// Consumes 16 bits; returns the cache as it was (the bits are bits 31..16).
static inline uint32_t mpa_bits_get16(mpa_bitstream *b)
{
    uint32_t r = b->cache;
    const uint8_t *p = b->ptr;
    b->cache = (b->cache << 16) | (mpa_bits_byte_at(b, p) << (40 - b->count)) |
               (mpa_bits_byte_at(b, p + 1) << (32 - b->count));
    b->ptr = p + 2;
    return r;
}

static inline void mpa_bits_copy(mpa_bitstream *dst, const mpa_bitstream *src)
{
    *dst = *src;
}

// Bits from start to the read position.
static inline int32_t mpa_bits_position(const mpa_bitstream *b)
{
    return static_cast<int32_t>(b->ptr - b->start) * 8 - b->count;
}

// Unread bits up to end; negative once reads have gone past end.
static inline int32_t mpa_bits_left(const mpa_bitstream *b)
{
    return static_cast<int32_t>(b->end - b->ptr) * 8 + b->count;
}

// Moves the read position by n bits (n may be negative).
static inline void mpa_bits_skip(mpa_bitstream *b, int32_t n)
{
    int32_t d = 32 - b->count + n;  // bits from ptr - 4 to the new position
    int32_t bytes = d >> 3;         // floor division, also for negative d
    int32_t bit = d & 7;
    const uint8_t *q = b->ptr - 4 + bytes;
    b->cache = ((mpa_bits_byte_at(b, q) << 24) | (mpa_bits_byte_at(b, q + 1) << 16)) << bit;
    b->count = 16 - bit;
    b->ptr = q + 2;
    mpa_bits_refill(b);
}

// Wide reader for the long runs of short sample codes of Layers I and II: a
// 64-bit cache, kept in locals by its user, refilled with one 8-byte load.
// It takes over an mpa_bitstream's position and hands it back; the same
// end rules hold.
struct mpa_bits_wide {
    uint64_t cache;       // next bits, left-aligned; below them zeros or the bits that follow
    int32_t count;        // valid bits in cache
    const uint8_t *ptr;   // next byte to load
    const uint8_t *start;
    const uint8_t *end;
};

static inline void mpa_bits_wide_begin(mpa_bits_wide *w, const mpa_bitstream *b)
{
    w->cache = static_cast<uint64_t>(b->cache) << 32;
    w->count = b->count;
    w->ptr = b->ptr;
    w->start = b->start;
    w->end = b->end;
}

// Tops the cache up to 56..63 valid bits. Whole bytes are consumed; the bits
// of a partly used byte are loaded again next time, OR-ed onto themselves.
// Far from the end this is branch-free, so callers may refill before every
// field instead of testing the count.
static inline void mpa_bits_wide_refill(mpa_bits_wide *w)
{
    const uint8_t *p = w->ptr;
    if (w->end - p >= 8 && p >= w->start) {
        uint64_t v = 0;
        for (int i = 0; i < 8; i++)
            v = v << 8 | p[i];
        w->cache |= v >> w->count;
        w->ptr = p + ((63 - w->count) >> 3);
        w->count |= 56;
        return;
    }
    for (; w->count < 56; w->count += 8, p++)
        w->cache |= static_cast<uint64_t>((p < w->end && p >= w->start) ? *p : 0u) << (56 - w->count);
    w->ptr = p;
}

// Next n bits (1..56) without a refill; count must be at least n.
static inline uint64_t mpa_bits_wide_take(mpa_bits_wide *w, int n)
{
    const uint64_t r = w->cache >> (64 - n);
    w->cache <<= n;
    w->count -= n;
    return r;
}

// Next n bits (1..56) as an unsigned number.
static inline uint64_t mpa_bits_wide_get(mpa_bits_wide *w, int n)
{
    if (w->count < n)
        mpa_bits_wide_refill(w);
    return mpa_bits_wide_take(w, n);
}

// Hands the position back to b, whose cache then holds 25..32 bits.
static inline void mpa_bits_wide_end(mpa_bits_wide *w, mpa_bitstream *b)
{
    if (w->count < 32)
        mpa_bits_wide_refill(w);
    const int32_t back = (w->count - 25) >> 3;  // whole bytes past the 32 kept
    b->count = w->count - 8 * back;
    b->ptr = w->ptr - back;
    b->cache = static_cast<uint32_t>(w->cache >> 32) & (~0u << (32 - b->count));
}

#endif
