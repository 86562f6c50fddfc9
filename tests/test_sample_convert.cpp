// Output sample formats: rounding, saturation, NaN and byte order per format;
// every layout and channel mapping against the single-value results, with
// nothing written past the samples asked for.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <random>
#include <vector>

#include "core/pcm_output.h"
#include "rovaz/mpa.h"
#include "rovaz/mpa_stream.h"
#include "stream/sample_convert.h"

namespace {

using Bytes = std::vector<uint8_t>;

const int kFormats[] = {MPA_SAMPLE_S16, MPA_SAMPLE_S16_TRUNCATED, MPA_SAMPLE_S24,
                        MPA_SAMPLE_S24_32, MPA_SAMPLE_S32, MPA_SAMPLE_F32};

// The bytes of x converted alone.
Bytes alone(int format, float x)
{
    float pcm[MPA_PCM_BUFFER_FLOATS] = {x};
    Bytes out(mpa_sample_bytes(format));
    uint8_t *const dest[2] = {out.data(), nullptr};
    mpa_convert_samples(pcm, 1, 0, 1, 1, format, false, dest);
    return out;
}

// Its value, widened (F32 as its bits).
int64_t one(int format, float x)
{
    const Bytes b = alone(format, x);
    int16_t s16;
    int32_t s32;
    if (b.size() == 2) {
        memcpy(&s16, b.data(), 2);
        return s16;
    }
    if (b.size() == 3)  // machine order: sign-extend from the most significant byte
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        return (int32_t)((uint32_t)b[0] << 24 | b[1] << 16 | b[2] << 8) >> 8;
#else
        return (int32_t)((uint32_t)b[2] << 24 | b[1] << 16 | b[0] << 8) >> 8;
#endif
    memcpy(&s32, b.data(), 4);
    return s32;
}

TEST(SampleConvert, RoundsSaturatesAndZeroesNan)
{
    const struct { float x; int32_t s16, truncated, s24, s32; } cases[] = {
        {0.5f, 0, 0, 128, 32768},
        {1.5f, 2, 1, 384, 98304},
        {2.5f, 2, 2, 640, 163840},
        {-0.5f, 0, 0, -128, -32768},
        {-1.5f, -2, -1, -384, -98304},
        {0.9f, 1, 0, 230, 58982},
        {3.0f / 512, 0, 0, 2, 384},          // 24-bit tie 1.5
        {1.0f / 512, 0, 0, 0, 128},          // 24-bit tie 0.5
        {3.0f / 131072, 0, 0, 0, 2},         // 32-bit tie 1.5
        {129.0f + 1.0f / 65536, 129, 129, 33024, 8454145},  // odd 32-bit value above 2^23
        {32767.5f, 32767, 32767, 8388480, 2147450880},
        {32768.0f, 32767, 32767, 8388607, INT32_MAX},
        {-32768.0f, -32768, -32768, -8388608, INT32_MIN},
        {-32768.5f, -32768, -32768, -8388608, INT32_MIN},
        {1.0e9f, 32767, 32767, 8388607, INT32_MAX},
        {-1.0e9f, -32768, -32768, -8388608, INT32_MIN},
        {INFINITY, 32767, 32767, 8388607, INT32_MAX},
        {-INFINITY, -32768, -32768, -8388608, INT32_MIN},
        {NAN, 0, 0, 0, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(one(MPA_SAMPLE_S16, c.x), c.s16) << c.x;
        EXPECT_EQ(one(MPA_SAMPLE_S16_TRUNCATED, c.x), c.truncated) << c.x;
        EXPECT_EQ(one(MPA_SAMPLE_S24, c.x), c.s24) << c.x;
        EXPECT_EQ(one(MPA_SAMPLE_S24_32, c.x), c.s24) << c.x;
        EXPECT_EQ(one(MPA_SAMPLE_S32, c.x), c.s32) << c.x;
        const int64_t f = one(MPA_SAMPLE_F32, c.x);
        float y;
        memcpy(&y, &f, 4);
        EXPECT_EQ(y, c.x == c.x ? c.x / 32768.0f : 0.0f) << c.x;
    }

    // 0x123456 in three bytes, low byte first on a little-endian machine.
    const int32_t v = 0x123456;
    uint8_t native[4];
    memcpy(native, &v, 4);
    const bool little = native[0] == 0x56;
    EXPECT_EQ(alone(MPA_SAMPLE_S24, v / 256.0f), little ? Bytes({0x56, 0x34, 0x12}) : Bytes({0x12, 0x34, 0x56}));
}

// Long random runs through the vector bodies and tails against a double
// model; the truncated format against mpa_output_pcm byte for byte.
TEST(SampleConvert, RunsMatchModelAndPcmOutput)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> dist(-34000.0f, 34000.0f);
    std::vector<float> pcm(MPA_PCM_BUFFER_FLOATS);
    for (size_t i = 0; i < pcm.size(); i++)
        pcm[i] = i % 7 == 0 ? (float)(int)dist(rng) + 0.5f : i % 13 == 0 ? dist(rng) / 4096 : dist(rng);
    const int n = 1151;
    auto model = [](float x, double scale, double hi) {
        const double r = nearbyint((double)x * scale);
        return (int64_t)(r > hi ? hi : r < -hi - 1 ? -hi - 1 : r);
    };
    std::vector<int16_t> s16(n);
    std::vector<int32_t> s32(n), s24(n);
    uint8_t *const d16[2] = {(uint8_t *)s16.data(), nullptr};
    uint8_t *const d24[2] = {(uint8_t *)s24.data(), nullptr};
    uint8_t *const d32[2] = {(uint8_t *)s32.data(), nullptr};
    mpa_convert_samples(pcm.data(), 1, 1, n, 1, MPA_SAMPLE_S16, false, d16);
    mpa_convert_samples(pcm.data(), 1, 1, n, 1, MPA_SAMPLE_S24_32, false, d24);
    mpa_convert_samples(pcm.data(), 1, 1, n, 1, MPA_SAMPLE_S32, false, d32);
    for (int i = 0; i < n; i++) {
        const float x = pcm[i + 1];
        ASSERT_EQ(s16[i], model(x, 1.0, 32767.0)) << x;
        ASSERT_EQ(s24[i], model(x, 256.0, 8388607.0)) << x;
        ASSERT_EQ(s32[i], model(x, 65536.0, 2147483647.0)) << x;
    }

    for (int channels = 1; channels <= 2; channels++) {
        Bytes ours(4 * 1152), theirs(4 * 1152);
        uint8_t *const a[2] = {ours.data(), nullptr}, *const b[2] = {theirs.data(), nullptr};
        mpa_convert_samples(pcm.data(), channels, 0, 1152, channels, MPA_SAMPLE_S16_TRUNCATED, false, a);
        // Its interleaved layout always has two channels: mono goes to one plane.
        const unsigned flags = channels == 2 ? MPA_PCM_STEREO | MPA_PCM_INTERLEAVED : 0;
        ASSERT_EQ(mpa_output_pcm(flags | MPA_PCM_S16, pcm.data(), b, 1152), MPA_OK);
        const size_t bytes = 2u * 1152 * channels;
        EXPECT_EQ(Bytes(ours.begin(), ours.begin() + bytes), Bytes(theirs.begin(), theirs.begin() + bytes));
    }
}

// Each format, source and output channel count, interleaved and planar:
// every sample is the single-value result of its source (the mean of both
// channels for a downmix), and the bytes after the last one are untouched.
TEST(SampleConvert, LayoutsAndChannelMapping)
{
    std::vector<float> pcm(MPA_PCM_BUFFER_FLOATS);
    for (size_t i = 0; i < pcm.size(); i++)
        pcm[i] = (float)((i * 7919) % 70001) - 35000.0f + (i % 4) * 0.25f;
    const int from = 5, count = 301;  // past a chunk of the 24-bit path's staging
    const uint8_t canary = 0xA5;
    for (int format : kFormats) {
        const size_t bytes = (size_t)mpa_sample_bytes(format);
        ASSERT_GT(bytes, 0u);
        for (int src = 1; src <= 2; src++)
            for (int out = 1; out <= 2; out++)
                for (bool planar : {false, true}) {
                    const size_t per_dest = count * bytes * (planar ? 1 : out);
                    Bytes d0(per_dest + 16, canary), d1(per_dest + 16, canary);
                    uint8_t *const dest[2] = {d0.data(), d1.data()};
                    mpa_convert_samples(pcm.data(), src, from, count, out, format, planar, dest);
                    for (int i = 0; i < count; i++)
                        for (int c = 0; c < out; c++) {
                            const float l = pcm[from + i], r = pcm[1152 + from + i];
                            const float x = src == 1 ? l : out == 1 ? (l + r) * 0.5f : c ? r : l;
                            const uint8_t *at = planar ? dest[c] + i * bytes : d0.data() + (i * out + c) * bytes;
                            ASSERT_EQ(Bytes(at, at + bytes), alone(format, x))
                                << format << " src " << src << " out " << out << " planar " << planar
                                << " i " << i << " c " << c;
                        }
                    const size_t used1 = planar && out == 2 ? per_dest : 0;
                    ASSERT_EQ(Bytes(d0.begin() + per_dest, d0.end()), Bytes(16, canary));
                    ASSERT_EQ(Bytes(d1.begin() + used1, d1.end()), Bytes(d1.size() - used1, canary));
                }
    }
}

}  // namespace
