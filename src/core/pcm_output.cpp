// Float to integer PCM, one pass per channel; 16-bit interleaved stereo and
// contiguous 16-bit output have SSE2 kernels, chosen through core/kernels.h. The clamp is done in float
// before the truncating conversion, branch-free, so that the loops vectorise
// (compares, selects, one convert). It gives the same result as truncating
// first and saturating the integer: between the bound and the next integer
// out (32767 < x < 32768, -32769 < x < -32768) both give the bound.
#include "core/pcm_output.h"

#include <cstddef>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "core/kernels.h"
#include "rovaz/mpa.h"

namespace {

constexpr int kChannelFloats = 1152;

inline int32_t convert_s16(float x)
{
    float y = x == x ? x : 0.0f;  // NaN stores 0
    y = y < 32767.0f ? y : 32767.0f;
    y = y > -32768.0f ? y : -32768.0f;
    return static_cast<int32_t>(y);
}

inline int32_t convert_s24(float x)
{
    float y = x * 256.0f;  // exact: a power of two
    y = y == y ? y : 0.0f;
    y = y < 8388607.0f ? y : 8388607.0f;
    y = y > -8388608.0f ? y : -8388608.0f;
    return static_cast<int32_t>(y);
}

inline void put_s24(uint8_t *d, int32_t v)
{
    d[0] = static_cast<uint8_t>(v >> 16);
    d[1] = static_cast<uint8_t>(v >> 8);
    d[2] = static_cast<uint8_t>(v);
}

// Constant strides let the compiler vectorise the common layouts.
template <int kStride>
void store_s16(const float *src, uint8_t *dst, int count, int stride)
{
    const int step = kStride ? kStride : stride;
    for (int i = 0; i < count; i++) {
        const int16_t v = static_cast<int16_t>(convert_s16(src[i]));
        memcpy(dst + static_cast<ptrdiff_t>(i) * step, &v, sizeof v);
    }
}

template <int kStride>
void store_s32(const float *src, uint8_t *dst, int count, int stride)
{
    const int step = kStride ? kStride : stride;
    for (int i = 0; i < count; i++) {
        const int32_t v = convert_s24(src[i]);
        memcpy(dst + static_cast<ptrdiff_t>(i) * step, &v, sizeof v);
    }
}

// Interleaved stereo as two strided passes, one per channel.
template <void (*kStore)(const float *, uint8_t *, int, int), int kBytes>
void store_stereo(const float *left, const float *right, uint8_t *dst, int count)
{
    kStore(left, dst, count, 2 * kBytes);
    kStore(right, dst + kBytes, count, 2 * kBytes);
}

#ifdef __SSE2__
// convert_s16 on four lanes, before a saturating pack to 16 bits: NaN lanes
// are zeroed and the top clamped; below the range cvttps2dq gives INT32_MIN
// or a value under -32768, which the pack saturates.
inline __m128i convert4_s16(const float *src)
{
    __m128 x = _mm_loadu_ps(src);
    x = _mm_and_ps(x, _mm_cmpord_ps(x, x));
    x = _mm_min_ps(x, _mm_set1_ps(32767.0f));
    return _mm_cvttps_epi32(x);
}

inline __m128i convert8_s16(const float *src)
{
    return _mm_packs_epi32(convert4_s16(src), convert4_s16(src + 4));
}
#endif

struct pcm_format {
    void (*store)(const float *src, uint8_t *dst, int count, int stride);
    void (*store_dup)(const float *src, uint8_t *dst, int count);
    void (*store_stereo)(const float *left, const float *right, uint8_t *dst, int count);
    int bytes;
};

// Indexed by the format bits >> 1; entry 1 (format 2) is not a format.
const pcm_format kFormats[4] = {
    {mpa_store_s16, mpa_store_s16_dup, mpa_store_s16_stereo, 2},
    {nullptr, nullptr, nullptr, 0},
    {mpa_store_s24, mpa_store_s24_dup, store_stereo<mpa_store_s24, 3>, 3},
    {mpa_store_s32, mpa_store_s32_dup, store_stereo<mpa_store_s32, 4>, 4},
};

}  // namespace

void mpa_store_s16_packed_plain(const float *src, uint8_t *dst, int count)
{
    store_s16<2>(src, dst, count, 2);
}

void mpa_store_s16_stereo_plain(const float *left, const float *right, uint8_t *dst, int count)
{
    for (int i = 0; i < count; i++) {
        const int16_t pair[2] = {static_cast<int16_t>(convert_s16(left[i])),
                                 static_cast<int16_t>(convert_s16(right[i]))};
        memcpy(dst + 4 * i, pair, sizeof pair);
    }
}

#ifdef __SSE2__
void mpa_store_s16_packed_sse2(const float *src, uint8_t *dst, int count)
{
    int i = 0;
    for (; i + 8 <= count; i += 8)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 2 * i), convert8_s16(src + i));
    mpa_store_s16_packed_plain(src + i, dst + 2 * i, count - i);
}

void mpa_store_s16_stereo_sse2(const float *left, const float *right, uint8_t *dst, int count)
{
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i l = convert8_s16(left + i), r = convert8_s16(right + i);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 4 * i), _mm_unpacklo_epi16(l, r));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 4 * i + 16), _mm_unpackhi_epi16(l, r));
    }
    mpa_store_s16_stereo_plain(left + i, right + i, dst + 4 * i, count - i);
}
#endif

void mpa_store_s16_packed(const float *src, uint8_t *dst, int count)
{
    mpa_kernels_active().store_s16_packed(src, dst, count);
}

void mpa_store_s16_stereo(const float *left, const float *right, uint8_t *dst, int count)
{
    mpa_kernels_active().store_s16_stereo(left, right, dst, count);
}

void mpa_store_s16(const float *src, uint8_t *dst, int count, int stride)
{
    if (stride == 2)
        mpa_store_s16_packed(src, dst, count);
    else
        store_s16<0>(src, dst, count, stride);
}

void mpa_store_s24(const float *src, uint8_t *dst, int count, int stride)
{
    for (int i = 0; i < count; i++)
        put_s24(dst + static_cast<ptrdiff_t>(i) * stride, convert_s24(src[i]));
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
        const uint32_t pair = static_cast<uint16_t>(convert_s16(src[i])) * 0x10001u;
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
        const uint64_t pair = static_cast<uint32_t>(convert_s24(src[i])) * 0x100000001ull;
        memcpy(dst + 8 * i, &pair, sizeof pair);
    }
}

int mpa_output_pcm_bounded(unsigned flags, const float *pcm, uint8_t *const dest[2], int count,
                           int dest_room, int *written)
{
    const pcm_format &fmt = kFormats[(flags & MPA_PCM_FORMAT_MASK) >> 1];
    if (count > kChannelFloats)
        count = kChannelFloats;
    if (count < 0)
        count = 0;
    // Interleaved output holds two values per sample period, also from one channel.
    const long long bytes =
        static_cast<long long>(count) * fmt.bytes * ((flags & MPA_PCM_INTERLEAVED) ? 2 : 1);
    if (bytes > dest_room)
        return MPA_ERR_OUTPUT_ROOM;
    const int status = mpa_output_pcm(flags, pcm, dest, count);
    if (written)
        *written = status == MPA_OK ? static_cast<int>(bytes) : 0;
    return status;
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
            fmt.store_stereo(left, right, dest[0], count);
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
