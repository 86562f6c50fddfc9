// Most-significant-bit-first reader with a 32-bit cache refilled 16 bits at a
// time. Reads never check the end: callers test mpa_bits_left at fixed points.
// Bytes at or past `end` read as zero and are never touched in memory.
#ifndef ROVAZ_CORE_BITSTREAM_H
#define ROVAZ_CORE_BITSTREAM_H

#include <stdint.h>

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

static inline void mpa_bits_init(mpa_bitstream *b, const uint8_t *p, int len)
{
    b->start = p;
    b->ptr = p;
    b->end = p + (len > 0 ? len : 0);
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
    return (int32_t)(b->ptr - b->start) * 8 - b->count;
}

// Unread bits up to end; negative once reads have gone past end.
static inline int32_t mpa_bits_left(const mpa_bitstream *b)
{
    return (int32_t)(b->end - b->ptr) * 8 + b->count;
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

#endif
