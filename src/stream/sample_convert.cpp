// Sample conversion: one loop per format and channel layout, chosen once per
// call, no branch per sample. With SSE2 the integer formats take 16 bytes of
// output per step, with AVX2 32 bytes (the same operations on eight lanes) (NaN lanes zeroed, a clamp,
// cvtps2dq, a saturating pack for 16 bits): GCC's own vector code for the float selects is several times
// slower. The scalar conversions finish each run and serve targets without
// SSE2; they give the same results.
//
// Scalar rounding adds and takes away 2^23 with the value's sign: the sum has
// no fraction bits left, so under the default rounding mode it is the value
// rounded to nearest, ties to even, as cvtps2dq gives it. That is exact for
// |y| <= 2^23; beyond, the result may be off by one but its magnitude stays
// above 2^23, so the 16- and 24-bit clamps that follow give the bound all the
// same. The 32-bit format needs the integers above 2^23 exactly and rounds in
// double instead. The selects come after the arithmetic: GCC turns a select
// placed before it back into a branch, and the loop no longer vectorises.
#include "stream/sample_convert.h"

#include "core/kernels.h"

#include <cmath>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#define MPA_HAVE_AVX2_CONVERSIONS 1
#include <immintrin.h>
#else
#define MPA_HAVE_AVX2_CONVERSIONS 0
#endif

#include "rovaz/mpa_stream.h"

namespace {

constexpr int kChannelFloats = 1152;

inline float not_nan(float x)
{
    return x == x ? x : 0.0f;
}

inline float clamp(float y, float lo, float hi)
{
    y = y < hi ? y : hi;
    return y > lo ? y : lo;
}

inline float round_near(float y)
{
    const float big = copysignf(8388608.0f, y);
    return (y + big) - big;
}

template <class T>
inline void put(uint8_t *d, T v)
{
    memcpy(d, &v, sizeof v);
}

#ifdef __SSE2__
inline __m128 zero_nan(__m128 x)
{
    return _mm_and_ps(x, _mm_cmpord_ps(x, x));
}
#endif

#if MPA_HAVE_AVX2_CONVERSIONS
#define MPA_AVX2 __attribute__((target("avx2"), always_inline)) inline
MPA_AVX2 __m256 zero_nan8(__m256 x)
{
    return _mm256_and_ps(x, _mm256_cmp_ps(x, x, _CMP_ORD_Q));
}
#endif

// Each format: T and kBytes of one output sample, the scalar convert and
// store, and with SSE2 (kVector) lanes, four int32 results. Where the lanes
// are clamped only at the top, the conversion gives INT32_MIN for anything
// below the range, which is the bound (32 bits) or saturates in the pack.

// What every format shares: its sample type and size, whether it has lanes, and the store.
template <class Sample, bool kVectorLanes>
struct Format {
    using T = Sample;
    static constexpr int kBytes = static_cast<int>(sizeof(T));
    static constexpr bool kVector = kVectorLanes;
    static void store(uint8_t *d, T v) { put(d, v); }
};

// kRound: to nearest, as the other integer formats. Otherwise as mpa_output_pcm: truncation, and the
// clamp first, which gives the same as saturating the truncated integer.
template <bool kRound>
struct S16Of : Format<int16_t, true> {
    static T convert(float x)
    {
        if constexpr (kRound)
            x = round_near(x);
        return static_cast<T>(static_cast<int32_t>(clamp(not_nan(x), -32768.0f, 32767.0f)));
    }
#ifdef __SSE2__
    static __m128i lanes(__m128 x)
    {
        x = _mm_min_ps(zero_nan(x), _mm_set1_ps(32767.0f));
        if constexpr (kRound)
            return _mm_cvtps_epi32(x);
        else
            return _mm_cvttps_epi32(x);
    }
#endif
#if MPA_HAVE_AVX2_CONVERSIONS
    static MPA_AVX2 __m256i lanes8(__m256 x)
    {
        x = _mm256_min_ps(zero_nan8(x), _mm256_set1_ps(32767.0f));
        if constexpr (kRound)
            return _mm256_cvtps_epi32(x);
        else
            return _mm256_cvttps_epi32(x);
    }
#endif
};
using S16 = S16Of<true>;
using S16Truncated = S16Of<false>;

// x * 256 and x * 65536 are exact: powers of two.
struct S24In32 : Format<int32_t, true> {
    static T convert(float x)
    {
        return static_cast<T>(clamp(not_nan(round_near(x * 256.0f)), -8388608.0f, 8388607.0f));
    }
#ifdef __SSE2__
    static __m128i lanes(__m128 x)
    {
        x = zero_nan(_mm_mul_ps(x, _mm_set1_ps(256.0f)));
        x = _mm_max_ps(_mm_min_ps(x, _mm_set1_ps(8388607.0f)), _mm_set1_ps(-8388608.0f));
        return _mm_cvtps_epi32(x);
    }
#endif
#if MPA_HAVE_AVX2_CONVERSIONS
    static MPA_AVX2 __m256i lanes8(__m256 x)
    {
        x = zero_nan8(_mm256_mul_ps(x, _mm256_set1_ps(256.0f)));
        x = _mm256_max_ps(_mm256_min_ps(x, _mm256_set1_ps(8388607.0f)), _mm256_set1_ps(-8388608.0f));
        return _mm256_cvtps_epi32(x);
    }
#endif
};

struct S32 : Format<int32_t, true> {
    static T convert(float x)
    {
        // Below 2^51 the sum with 1.5 * 2^52 keeps no fraction bits; the int32
        // bounds are exact in double, so clamping gives the saturation.
        double y = static_cast<double>(x) * 65536.0;
        y = (y + 6755399441055744.0) - 6755399441055744.0;
        y = y == y ? y : 0.0;
        y = y < 2147483647.0 ? y : 2147483647.0;
        return static_cast<T>(y > -2147483648.0 ? y : -2147483648.0);
    }
#ifdef __SSE2__
    // At and above 2^31 the conversion gives INT32_MIN: flipping every bit
    // makes it INT32_MAX.
    static __m128i lanes(__m128 x)
    {
        x = zero_nan(_mm_mul_ps(x, _mm_set1_ps(65536.0f)));
        const __m128i top = _mm_castps_si128(_mm_cmpge_ps(x, _mm_set1_ps(2147483648.0f)));
        return _mm_xor_si128(_mm_cvtps_epi32(x), top);
    }
#endif
#if MPA_HAVE_AVX2_CONVERSIONS
    static MPA_AVX2 __m256i lanes8(__m256 x)
    {
        x = zero_nan8(_mm256_mul_ps(x, _mm256_set1_ps(65536.0f)));
        const __m256i top = _mm256_castps_si256(_mm256_cmp_ps(x, _mm256_set1_ps(2147483648.0f), _CMP_GE_OQ));
        return _mm256_xor_si256(_mm256_cvtps_epi32(x), top);
    }
#endif
};

// GCC vectorises this one well by itself.
struct F32 : Format<float, false> {
    static T convert(float x) { return not_nan(x * (1.0f / 32768.0f)); }
};

// What a loop converts: one channel's samples, or the mean of two for a mono downmix. at(k) is the
// value at k, load(k) the four from k, load8(k) the eight.
struct Channel {
    const float *s;
    float at(int k) const { return s[k]; }
#ifdef __SSE2__
    __m128 load(int k) const
    {
        return _mm_loadu_ps(s + k);
    }
#endif
#if MPA_HAVE_AVX2_CONVERSIONS
    MPA_AVX2 __m256 load8(int k) const
    {
        return _mm256_loadu_ps(s + k);
    }
#endif
};

struct Mean {
    const float *l, *r;
    float at(int k) const { return (l[k] + r[k]) * 0.5f; }
#ifdef __SSE2__
    __m128 load(int k) const
    {
        return _mm_mul_ps(_mm_add_ps(_mm_loadu_ps(l + k), _mm_loadu_ps(r + k)), _mm_set1_ps(0.5f));
    }
#endif
#if MPA_HAVE_AVX2_CONVERSIONS
    MPA_AVX2 __m256 load8(int k) const
    {
        return _mm256_mul_ps(_mm256_add_ps(_mm256_loadu_ps(l + k), _mm256_loadu_ps(r + k)),
                             _mm256_set1_ps(0.5f));
    }
#endif
};

#ifdef __SSE2__
// Samples per 16 bytes of output.
template <class F>
constexpr int kBlock = 16 / F::kBytes;

// The output block of the kBlock samples from i on.
template <class F, class Src>
inline __m128i block(const Src &src, int i)
{
    if constexpr (F::kBytes == 2)
        return _mm_packs_epi32(F::lanes(src.load(i)), F::lanes(src.load(i + 4)));
    else
        return F::lanes(src.load(i));
}

// Interleaves the samples of two blocks: the first half, then the second.
template <class F>
inline void store_pair(uint8_t *d, __m128i a, __m128i b)
{
    if constexpr (F::kBytes == 2) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d), _mm_unpacklo_epi16(a, b));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d + 16), _mm_unpackhi_epi16(a, b));
    } else {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d), _mm_unpacklo_epi32(a, b));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d + 16), _mm_unpackhi_epi32(a, b));
    }
}
#endif

#if MPA_HAVE_AVX2_CONVERSIONS
// The same on 32 bytes of output per step. Packs and unpacks work within each
// half of a vector, so the results are put back in order across the halves.
template <class F>
constexpr int kBlock8 = 32 / F::kBytes;

template <class F, class Src>
MPA_AVX2 __m256i block8(const Src &src, int i)
{
    if constexpr (F::kBytes == 2)
        return _mm256_permute4x64_epi64(
            _mm256_packs_epi32(F::lanes8(src.load8(i)), F::lanes8(src.load8(i + 8))), 0xD8);
    else
        return F::lanes8(src.load8(i));
}

template <class F>
MPA_AVX2 void store_pair8(uint8_t *d, __m256i a, __m256i b)
{
    __m256i lo, hi;
    if constexpr (F::kBytes == 2) {
        lo = _mm256_unpacklo_epi16(a, b);
        hi = _mm256_unpackhi_epi16(a, b);
    } else {
        lo = _mm256_unpacklo_epi32(a, b);
        hi = _mm256_unpackhi_epi32(a, b);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(d), _mm256_permute2x128_si256(lo, hi, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(d + 32), _mm256_permute2x128_si256(lo, hi, 0x31));
}

// The eight-lane parts of the loops below: each returns how many samples it did.
template <class F, class Src>
__attribute__((target("avx2"))) int put_channel8(Src src, uint8_t *__restrict d, int n)
{
    int i = 0;
    for (; i + kBlock8<F> <= n; i += kBlock8<F>)
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(d + i * F::kBytes), block8<F>(src, i));
    return i;
}

template <class F>
__attribute__((target("avx2"))) int interleave8(const float *__restrict l, const float *__restrict r,
                                                uint8_t *__restrict d, int n)
{
    int i = 0;
    for (; i + kBlock8<F> <= n; i += kBlock8<F>)
        store_pair8<F>(d + 2 * i * F::kBytes, block8<F>(Channel{l}, i), block8<F>(Channel{r}, i));
    return i;
}

template <class F>
__attribute__((target("avx2"))) int duplicate8(const float *__restrict s, uint8_t *__restrict d, int n)
{
    int i = 0;
    for (; i + kBlock8<F> <= n; i += kBlock8<F>) {
        const __m256i a = block8<F>(Channel{s}, i);
        store_pair8<F>(d + 2 * i * F::kBytes, a, a);
    }
    return i;
}
#define MPA_EIGHT_LANES(call)                          \
    if constexpr (F::kVector && kIsa == 2)             \
        i = call;
#else
#define MPA_EIGHT_LANES(call)
#endif

// One output channel from src: a copy or a downmix.
template <class F, int kIsa, class Src>
void put_channel(Src src, uint8_t *__restrict d, int n)
{
    int i = 0;
    MPA_EIGHT_LANES(put_channel8<F>(src, d, n))
#ifdef __SSE2__
    if constexpr (F::kVector && kIsa >= 1)
        for (; i + kBlock<F> <= n; i += kBlock<F>)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(d + i * F::kBytes), block<F>(src, i));
#endif
    for (; i < n; i++)
        F::store(d + static_cast<ptrdiff_t>(i) * F::kBytes, F::convert(src.at(i)));
}

template <class F, int kIsa>
void interleave(const float *__restrict l, const float *__restrict r, uint8_t *__restrict d, int n)
{
    int i = 0;
    MPA_EIGHT_LANES(interleave8<F>(l, r, d, n))
#ifdef __SSE2__
    if constexpr (F::kVector && kIsa >= 1)
        for (; i + kBlock<F> <= n; i += kBlock<F>)
            store_pair<F>(d + 2 * i * F::kBytes, block<F>(Channel{l}, i), block<F>(Channel{r}, i));
#endif
    for (; i < n; i++) {
        F::store(d + static_cast<ptrdiff_t>(i) * 2 * F::kBytes, F::convert(l[i]));
        F::store(d + (static_cast<ptrdiff_t>(i) * 2 + 1) * F::kBytes, F::convert(r[i]));
    }
}

template <class F, int kIsa>
void duplicate(const float *__restrict s, uint8_t *__restrict d, int n)
{
    int i = 0;
    MPA_EIGHT_LANES(duplicate8<F>(s, d, n))
#ifdef __SSE2__
    if constexpr (F::kVector && kIsa >= 1)
        for (; i + kBlock<F> <= n; i += kBlock<F>) {
            const __m128i a = block<F>(Channel{s}, i);
            store_pair<F>(d + 2 * i * F::kBytes, a, a);
        }
#endif
    for (; i < n; i++) {
        const typename F::T v = F::convert(s[i]);
        F::store(d + static_cast<ptrdiff_t>(i) * 2 * F::kBytes, v);
        F::store(d + (static_cast<ptrdiff_t>(i) * 2 + 1) * F::kBytes, v);
    }
}

// right is null for a mono frame.
template <class F, int kIsa>
void convert(const float *left, const float *right, int n, int out_channels, bool planar,
             uint8_t *const dest[2])
{
    if (out_channels == 1) {
        if (right)
            put_channel<F, kIsa>(Mean{left, right}, dest[0], n);
        else
            put_channel<F, kIsa>(Channel{left}, dest[0], n);
    } else if (planar) {
        put_channel<F, kIsa>(Channel{left}, dest[0], n);
        if (right)
            put_channel<F, kIsa>(Channel{right}, dest[1], n);
        else
            memcpy(dest[1], dest[0], static_cast<size_t>(n) * F::kBytes);
    } else if (right) {
        interleave<F, kIsa>(left, right, dest[0], n);
    } else {
        duplicate<F, kIsa>(left, dest[0], n);
    }
}

// Three-byte stores do not vectorise, so 24-bit output converts a chunk to
// 24-in-32 words on the stack and then packs their three low-order bytes,
// four words into three at a time.
void put_s24(const int32_t *__restrict v, uint8_t *__restrict d, int n)
{
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const uint32_t a = static_cast<uint32_t>(v[i]), b = static_cast<uint32_t>(v[i + 1]),
                       c = static_cast<uint32_t>(v[i + 2]), e = static_cast<uint32_t>(v[i + 3]);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        put(d + 3 * i, a << 8 | (b >> 16 & 0xFF));
        put(d + 3 * i + 4, b << 16 | (c >> 8 & 0xFFFF));
        put(d + 3 * i + 8, c << 24 | (e & 0xFFFFFF));
#else
        put(d + 3 * i, (a & 0xFFFFFF) | b << 24);
        put(d + 3 * i + 4, (b >> 8 & 0xFFFF) | c << 16);
        put(d + 3 * i + 8, (c >> 16 & 0xFF) | e << 8);
#endif
    }
    for (; i < n; i++) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        memcpy(d + 3 * i, reinterpret_cast<const uint8_t *>(v + i) + 1, 3);
#else
        memcpy(d + 3 * i, v + i, 3);
#endif
    }
}

template <int kIsa>
void convert_s24(const float *left, const float *right, int n, int out_channels, bool planar,
                 uint8_t *const dest[2])
{
    constexpr int kChunk = 256;
    int32_t words[2 * kChunk];
    const bool split = planar && out_channels == 2;
    for (int at = 0; at < n; at += kChunk) {
        const int m = n - at < kChunk ? n - at : kChunk;
        // Planar stereo takes the two halves, interleaved output up to all of it.
        uint8_t *const tmp[2] = {reinterpret_cast<uint8_t *>(words),
                                 reinterpret_cast<uint8_t *>(words + kChunk)};
        convert<S24In32, kIsa>(left + at, right ? right + at : nullptr, m, out_channels, planar, tmp);
        if (split) {
            put_s24(words, dest[0] + static_cast<ptrdiff_t>(at) * 3, m);
            put_s24(words + kChunk, dest[1] + static_cast<ptrdiff_t>(at) * 3, m);
        } else {
            put_s24(words, dest[0] + static_cast<ptrdiff_t>(at) * 3 * out_channels, m * out_channels);
        }
    }
}

}  // namespace

int mpa_sample_bytes(int format)
{
    switch (format) {
    case MPA_SAMPLE_S16:
    case MPA_SAMPLE_S16_TRUNCATED:
        return 2;
    case MPA_SAMPLE_S24:
        return 3;
    case MPA_SAMPLE_S24_32:
    case MPA_SAMPLE_S32:
    case MPA_SAMPLE_F32:
        return 4;
    default:
        return 0;
    }
}

namespace {

template <int kIsa>
void convert_samples(const float *pcm, int src_channels, int from, int count, int out_channels, int format,
                     bool planar, uint8_t *const dest[2])
{
    if (!pcm || !dest || !dest[0] || (src_channels != 1 && src_channels != 2) ||
        (out_channels != 1 && out_channels != 2) || (planar && out_channels == 2 && !dest[1]))
        return;
    // A channel of the work buffer holds one frame: never read past it.
    if (from < 0 || from >= kChannelFloats || count <= 0)
        return;
    if (count > kChannelFloats - from)
        count = kChannelFloats - from;
    const float *left = pcm + from;
    const float *right = src_channels == 2 ? pcm + kChannelFloats + from : nullptr;

    switch (format) {
    case MPA_SAMPLE_S16:
        convert<S16, kIsa>(left, right, count, out_channels, planar, dest);
        break;
    case MPA_SAMPLE_S16_TRUNCATED:
        convert<S16Truncated, kIsa>(left, right, count, out_channels, planar, dest);
        break;
    case MPA_SAMPLE_S24:
        convert_s24<kIsa>(left, right, count, out_channels, planar, dest);
        break;
    case MPA_SAMPLE_S24_32:
        convert<S24In32, kIsa>(left, right, count, out_channels, planar, dest);
        break;
    case MPA_SAMPLE_S32:
        convert<S32, kIsa>(left, right, count, out_channels, planar, dest);
        break;
    case MPA_SAMPLE_F32:
        convert<F32, kIsa>(left, right, count, out_channels, planar, dest);
        break;
    default:
        break;
    }
}

}  // namespace

void mpa_convert_samples_plain(const float *pcm, int src_channels, int from, int count, int out_channels,
                               int format, bool planar, uint8_t *const dest[2])
{
    convert_samples<0>(pcm, src_channels, from, count, out_channels, format, planar, dest);
}

#if MPA_HAVE_AVX2_CONVERSIONS
void mpa_convert_samples_avx2(const float *pcm, int src_channels, int from, int count, int out_channels,
                              int format, bool planar, uint8_t *const dest[2])
{
    convert_samples<2>(pcm, src_channels, from, count, out_channels, format, planar, dest);
}
#endif

#ifdef __SSE2__
void mpa_convert_samples_sse2(const float *pcm, int src_channels, int from, int count, int out_channels,
                              int format, bool planar, uint8_t *const dest[2])
{
    convert_samples<1>(pcm, src_channels, from, count, out_channels, format, planar, dest);
}
#endif

void mpa_convert_samples(const float *pcm, int src_channels, int from, int count, int out_channels,
                         int format, bool planar, uint8_t *const dest[2])
{
    mpa_kernels_active().convert_samples(pcm, src_channels, from, count, out_channels, format, planar, dest);
}
