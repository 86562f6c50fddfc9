// Float to integer PCM, one pass per channel. The clamp is done in float
// before the truncating conversion, branch-free, so that the loops vectorise
// (compares, selects, one convert). It gives the same result as truncating
// first and saturating the integer: between the bound and the next integer
// out (32767 < x < 32768, -32769 < x < -32768) both give the bound.
#include "core/pcm_output.h"

#include <stddef.h>
#include <string.h>

#include "rovaz/mpa.h"

namespace {

constexpr int kChannelFloats = 1152;

inline int32_t convert_s16(float x)
{
    float y = x == x ? x : 0.0f;  // NaN stores 0
    y = y < 32767.0f ? y : 32767.0f;
    y = y > -32768.0f ? y : -32768.0f;
    return (int32_t)y;
}

inline int32_t convert_s24(float x)
{
    float y = x * 256.0f;  // exact: a power of two
    y = y == y ? y : 0.0f;
    y = y < 8388607.0f ? y : 8388607.0f;
    y = y > -8388608.0f ? y : -8388608.0f;
    return (int32_t)y;
}

inline void put_s24(uint8_t *d, int32_t v)
{
    d[0] = (uint8_t)(v >> 16);
    d[1] = (uint8_t)(v >> 8);
    d[2] = (uint8_t)v;
}

// Constant strides let the compiler vectorise the common layouts.
template <int kStride>
void store_s16(const float *src, uint8_t *dst, int count, int stride)
{
    const int step = kStride ? kStride : stride;
    for (int i = 0; i < count; i++) {
        const int16_t v = (int16_t)convert_s16(src[i]);
        memcpy(dst + (ptrdiff_t)i * step, &v, sizeof v);
    }
}

template <int kStride>
void store_s32(const float *src, uint8_t *dst, int count, int stride)
{
    const int step = kStride ? kStride : stride;
    for (int i = 0; i < count; i++) {
        const int32_t v = convert_s24(src[i]);
        memcpy(dst + (ptrdiff_t)i * step, &v, sizeof v);
    }
}

struct pcm_format {
    void (*store)(const float *src, uint8_t *dst, int count, int stride);
    void (*store_dup)(const float *src, uint8_t *dst, int count);
    int bytes;
};

// Indexed by the format bits >> 1; entry 1 (format 2) is not a format.
const pcm_format kFormats[4] = {
    {mpa_store_s16, mpa_store_s16_dup, 2},
    {nullptr, nullptr, 0},
    {mpa_store_s24, mpa_store_s24_dup, 3},
    {mpa_store_s32, mpa_store_s32_dup, 4},
};

}  // namespace

void mpa_store_s16(const float *src, uint8_t *dst, int count, int stride)
{
    if (stride == 2)
        store_s16<2>(src, dst, count, stride);
    else if (stride == 4)
        store_s16<4>(src, dst, count, stride);
    else
        store_s16<0>(src, dst, count, stride);
}

void mpa_store_s24(const float *src, uint8_t *dst, int count, int stride)
{
    for (int i = 0; i < count; i++)
        put_s24(dst + (ptrdiff_t)i * stride, convert_s24(src[i]));
}

void mpa_store_s32(const float *src, uint8_t *dst, int count, int stride)
{
    if (stride == 4)
        store_s32<4>(src, dst, count, stride);
    else if (stride == 8)
        store_s32<8>(src, dst, count, stride);
    else
        store_s32<0>(src, dst, count, stride);
}

void mpa_store_s16_dup(const float *src, uint8_t *dst, int count)
{
    for (int i = 0; i < count; i++) {
        // Two equal halves: the same bytes in either byte order.
        const uint32_t pair = (uint16_t)convert_s16(src[i]) * 0x10001u;
        memcpy(dst + 4 * i, &pair, sizeof pair);
    }
}

void mpa_store_s24_dup(const float *src, uint8_t *dst, int count)
{
    for (int i = 0; i < count; i++) {
        const int32_t v = convert_s24(src[i]);
        put_s24(dst + 6 * i, v);
        put_s24(dst + 6 * i + 3, v);
    }
}

void mpa_store_s32_dup(const float *src, uint8_t *dst, int count)
{
    for (int i = 0; i < count; i++) {
        const uint64_t pair = (uint32_t)convert_s24(src[i]) * 0x100000001ull;
        memcpy(dst + 8 * i, &pair, sizeof pair);
    }
}

int mpa_output_pcm(unsigned flags, const float *pcm, uint8_t *const dest[2], int count)
{
    const bool stereo = (flags & MPA_PCM_STEREO) != 0;
    const bool interleaved = (flags & MPA_PCM_INTERLEAVED) != 0;
    if (!pcm || !dest || !dest[0] || (stereo && !interleaved && !dest[1]))
        return MPA_ERR_NULL_ARG;
    const pcm_format &fmt = kFormats[(flags & MPA_PCM_FORMAT_MASK) >> 1];
    if (!fmt.store)
        return MPA_ERROR;
    if (count <= 0)
        return MPA_OK;
    if (count > kChannelFloats)  // a channel holds one frame at most
        count = kChannelFloats;

    const float *left = pcm, *right = pcm + kChannelFloats;
    if (interleaved) {
        if (stereo) {
            fmt.store(left, dest[0], count, 2 * fmt.bytes);
            fmt.store(right, dest[0] + fmt.bytes, count, 2 * fmt.bytes);
        } else {
            fmt.store_dup(left, dest[0], count);
        }
    } else {
        fmt.store(left, dest[0], count, fmt.bytes);
        if (stereo)
            fmt.store(right, dest[1], count, fmt.bytes);
    }
    return MPA_OK;
}
