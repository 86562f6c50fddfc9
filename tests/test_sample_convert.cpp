// Output sample formats: rounding, saturation, NaN and byte order per format;
// every layout and channel mapping against a double model, through vector
// bodies and tails, with nothing written past the samples asked for.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include <vector>

#include "rovaz/mpa.h"
#include "rovaz/mpa_stream.h"
#include "stream/sample_convert.h"

namespace {

using Bytes = std::vector<uint8_t>;

const int kFormats[] = {MPA_SAMPLE_S16,    MPA_SAMPLE_S16_TRUNCATED, MPA_SAMPLE_S24,
                        MPA_SAMPLE_S24_32, MPA_SAMPLE_S32,           MPA_SAMPLE_F32};

// v (an integer, or the float of F32) as format stores it, in machine order.
Bytes encode(int format, double v)
{
    uint8_t b[4];
    if (format <= MPA_SAMPLE_S16_TRUNCATED) {
        const int16_t s = static_cast<int16_t>(v);
        memcpy(b, &s, 2);
    } else {
        const int32_t i = static_cast<int32_t>(v);
        const float f = static_cast<float>(v);
        memcpy(b, format == MPA_SAMPLE_F32 ? static_cast<const void *>(&f) : &i, 4);
    }
    const uint16_t one = 1;
    const int skip = format == MPA_SAMPLE_S24 &&
                     *reinterpret_cast<const uint8_t *>(&one) == 0; // big-endian: the low three
    return Bytes(b + skip, b + skip + mpa_sample_bytes(format));
}

// Rounded to nearest even (16-bit truncated) on the format's scale, then saturated.
double model(int format, float x)
{
    if (x != x)
        return 0.0;
    if (format == MPA_SAMPLE_F32)
        return x / 32768.0f;
    const double scale = format == MPA_SAMPLE_S32 ? 65536.0 : format >= MPA_SAMPLE_S24 ? 256.0 : 1.0;
    const double hi = 32768.0 * scale - 1.0;
    const double r = format == MPA_SAMPLE_S16_TRUNCATED ? trunc(x) : nearbyint(x * scale);
    return r > hi ? hi : r < -hi - 1.0 ? -hi - 1.0 : r;
}

Bytes alone(int format, float x)
{
    float pcm[MPA_PCM_BUFFER_FLOATS] = {x};
    Bytes out(mpa_sample_bytes(format));
    uint8_t *const dest[2] = {out.data(), nullptr};
    mpa_convert_samples(pcm, 1, 0, 1, 1, format, false, dest);
    return out;
}

TEST(SampleConvert, RoundsSaturatesAndZeroesNan)
{
    const struct {
        float x;
        int32_t s16, truncated, s24, s32;
    } cases[] = {
        {0.5f, 0, 0, 128, 32768},
        {1.5f, 2, 1, 384, 98304},
        {2.5f, 2, 2, 640, 163840},
        {-0.5f, 0, 0, -128, -32768},
        {-1.5f, -2, -1, -384, -98304},
        {0.9f, 1, 0, 230, 58982},
        {3.0f / 512, 0, 0, 2, 384},                         // 24-bit tie 1.5
        {1.0f / 512, 0, 0, 0, 128},                         // 24-bit tie 0.5
        {3.0f / 131072, 0, 0, 0, 2},                        // 32-bit tie 1.5
        {129.0f + 1.0f / 65536, 129, 129, 33024, 8454145},  // odd 32-bit value above 2^23
        {32767.5f, 32767, 32767, 8388480, 2147450880},
        {32768.0f, 32767, 32767, 8388607, INT32_MAX},
        {-32768.0f, -32768, -32768, -8388608, INT32_MIN},
        {-32768.5f, -32768, -32768, -8388608, INT32_MIN},
        {1.0e9f, 32767, 32767, 8388607, INT32_MAX},
        {-INFINITY, -32768, -32768, -8388608, INT32_MIN},
        {INFINITY, 32767, 32767, 8388607, INT32_MAX},
        {NAN, 0, 0, 0, 0},
    };
    for (const auto &c : cases) {
        const int32_t want[] = {c.s16, c.truncated, c.s24, c.s24, c.s32};
        for (int k = 0; k < 5; k++)
            EXPECT_EQ(alone(kFormats[k], c.x), encode(kFormats[k], want[k]))
                << c.x << " format " << kFormats[k];
        EXPECT_EQ(alone(MPA_SAMPLE_F32, c.x), encode(MPA_SAMPLE_F32, c.x == c.x ? c.x / 32768.0f : 0.0f))
            << c.x;
    }
    const uint16_t one = 1;
    const bool little = *reinterpret_cast<const uint8_t *>(&one) == 1;
    EXPECT_EQ(alone(MPA_SAMPLE_S24, 0x123456 / 256.0f),
              little ? Bytes({0x56, 0x34, 0x12}) : Bytes({0x12, 0x34, 0x56}));
}

// Each format, source and output channel count, interleaved and planar:
// every sample is the model's value of its source (the mean of both channels
// for a downmix), and the bytes after the last one are untouched.
TEST(SampleConvert, LayoutsAndChannelMapping)
{
    std::vector<float> pcm(MPA_PCM_BUFFER_FLOATS);
    for (size_t i = 0; i < pcm.size(); i++)  // over full scale, with ties and small values
        pcm[i] = i % 5 == 0 ? (static_cast<int>(i % 61) - 30) / 512.0f
                            : static_cast<float>((i * 7919) % 70001) - 35000.0f + (i % 4) * 0.25f;
    const int from = 5, count = 301;  // past a chunk of the 24-bit staging, with tails
    const uint8_t canary = 0xA5;
    for (int format : kFormats) {
        const size_t bytes = static_cast<size_t>(mpa_sample_bytes(format));
        for (int src = 1; src <= 2; src++)
            for (int out = 1; out <= 2; out++)
                for (bool planar : {false, true}) {
                    const size_t used = count * bytes * (planar ? 1 : out),
                                 used1 = planar && out == 2 ? used : 0;
                    Bytes d0(used + 16, canary), d1(used + 16, canary);
                    uint8_t *const dest[2] = {d0.data(), d1.data()};
                    mpa_convert_samples(pcm.data(), src, from, count, out, format, planar, dest);
                    for (int i = 0; i < count; i++)
                        for (int c = 0; c < out; c++) {
                            const float l = pcm[from + i], r = pcm[1152 + from + i];
                            const float x = src == 1 ? l : out == 1 ? (l + r) * 0.5f : c ? r : l;
                            const uint8_t *at =
                                planar ? dest[c] + i * bytes : d0.data() + (i * out + c) * bytes;
                            ASSERT_EQ(Bytes(at, at + bytes), encode(format, model(format, x)))
                                << format << " src " << src << " out " << out << " planar " << planar << " i "
                                << i << " c " << c << " x " << x;
                        }
                    ASSERT_EQ(Bytes(d0.begin() + used, d0.end()), Bytes(16, canary));
                    ASSERT_EQ(Bytes(d1.begin() + used1, d1.end()), Bytes(d1.size() - used1, canary));
                }
    }
}

}  // namespace
