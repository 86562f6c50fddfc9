// Float to integer PCM: truncation, saturation, NaN, and every format and
// layout against a byte-by-byte model.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include <random>
#include <vector>

#include "core/pcm_output.h"
#include "rovaz/mpa.h"

namespace {

int32_t model(float x, bool s24)
{
    if (x != x)
        return 0;
    const double v = trunc(s24 ? x * 256.0 : static_cast<double>(x)), hi = s24 ? 8388607.0 : 32767.0;
    return static_cast<int32_t>(v >= hi ? hi : v <= -hi - 1.0 ? -hi - 1.0 : v);
}

void put(uint8_t *at, int32_t v, unsigned format)
{
    const int16_t s = static_cast<int16_t>(v);
    if (format == MPA_PCM_S16)
        memcpy(at, &s, 2);
    else if (format == MPA_PCM_S32)
        memcpy(at, &v, 4);
    else
        at[0] = static_cast<uint8_t>(v >> 16), at[1] = static_cast<uint8_t>(v >> 8),
        at[2] = static_cast<uint8_t>(v);
}

TEST(PcmOutput, TruncatesAndSaturates)
{
    const struct { float x; int16_t s16; int32_t s24; } cases[] = {
        {32767.9f, 32767, 8388582},    {32768.0f, 32767, 8388607},   {1.0e6f, 32767, 8388607},
        {32767.999f, 32767, 8388607},  {32766.99f, 32766, 8388349},  {INFINITY, 32767, 8388607},
        {-32768.5f, -32768, -8388608}, {-32768.0f, -32768, -8388608}, {-1.0e6f, -32768, -8388608},
        {-32767.5f, -32767, -8388480}, {-INFINITY, -32768, -8388608}, {-0.5f, 0, -128},
        {0.9f, 0, 230},                {1.5f, 1, 384},                {-1.0f, -1, -256},
        {0.00390625f, 0, 1},           {-0.0039f, 0, 0},              {NAN, 0, 0},
    };
    for (const auto &c : cases) {
        float pcm[2304] = {c.x};
        int16_t s16 = 0x5555;
        int32_t s32 = 0x55555555;
        uint8_t *const d16[2] = {reinterpret_cast<uint8_t *>(&s16), nullptr}, *const d32[2] = {
                                                                                  reinterpret_cast<uint8_t *>(
                                                                                      &s32),
                                                                                  nullptr};
        EXPECT_EQ(mpa_output_pcm(MPA_PCM_S16, pcm, d16, 1), MPA_OK);
        EXPECT_EQ(mpa_output_pcm(MPA_PCM_S32, pcm, d32, 1), MPA_OK);
        EXPECT_EQ(s16, c.s16) << c.x;
        EXPECT_EQ(s32, c.s24) << c.x;
    }
    float pcm[2304] = {-1.0f};
    uint8_t out[3] = {};
    uint8_t *const dest[2] = {out, nullptr};
    mpa_output_pcm(MPA_PCM_S24, pcm, dest, 1);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 0xFF);
    EXPECT_EQ(out[2], 0x00);
}

// Every valid flag word, with counts that reach both the vector bodies and the
// scalar tails; bytes beyond the layout stay untouched.
TEST(PcmOutput, EveryLayoutMatchesModel)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> dist(-40000.0f, 40000.0f);
    std::vector<float> pcm(2304);
    for (float &x : pcm)
        x = dist(rng);
    const float special[] = {NAN, INFINITY, -INFINITY, 32767.9f, -32768.5f, -0.5f, 0.9f, 1.0e9f};
    for (int i = 0; i < 8; i++) {
        pcm[3 * i] = special[i];
        pcm[1152 + 5 * i + 1] = special[7 - i];
    }
    for (unsigned flags = 0; flags < 16; flags++) {
        const unsigned format = flags & MPA_PCM_FORMAT_MASK;
        if (format == 2)
            continue;
        const bool stereo = flags & MPA_PCM_STEREO, inter = flags & MPA_PCM_INTERLEAVED;
        const int bytes = format == MPA_PCM_S16 ? 2 : format == MPA_PCM_S24 ? 3 : 4;
        for (int count : {1152, 13, 1, 0}) {
            std::vector<uint8_t> want[2], got[2];
            for (int d = 0; d < 2; d++)
                want[d] = got[d] = std::vector<uint8_t>(1152 * 8 + 16, 0xA5);
            for (int i = 0; i < count; i++) {
                const int32_t l = model(pcm[i], format != MPA_PCM_S16);
                const int32_t r = stereo ? model(pcm[1152 + i], format != MPA_PCM_S16) : l;
                put(&want[0][(inter ? 2 : 1) * bytes * i], l, format);
                if (inter)
                    put(&want[0][2 * bytes * i + bytes], r, format);
                else if (stereo)
                    put(&want[1][bytes * i], r, format);
            }
            uint8_t *const dest[2] = {got[0].data(), got[1].data()};
            ASSERT_EQ(mpa_output_pcm(flags, pcm.data(), dest, count), MPA_OK);
            EXPECT_EQ(got[0], want[0]) << "flags " << flags << " count " << count;
            EXPECT_EQ(got[1], want[1]) << "flags " << flags << " count " << count;
        }
    }
}

// The 16-bit kernels (SSE2 where built) give the bytes of the portable loops,
// on counts around the vector width and on unaligned buffers.
TEST(PcmOutput, FastPathsMatchPlainLoops)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> dist(-70000.0f, 70000.0f);
    const float special[] = {NAN,       -NAN,      INFINITY,   -INFINITY,   32767.9f,
                             32767.0f,  32768.0f,  -32768.5f,  -32768.0f,   -32769.0f,
                             -0.0f,     0.5f,      -0.99f,     2147483648.0f, -3.0e9f, 1.0e30f};
    std::vector<float> src(2 * 1152 + 1);
    for (float &x : src)
        x = rng() % 4 ? dist(rng) : special[rng() % 16];
    for (int offset : {0, 1}) {
        const float *left = src.data() + offset, *right = src.data() + 1152 + offset;
        for (int count : {0, 1, 7, 8, 9, 15, 16, 17, 1151, 1152}) {
            std::vector<uint8_t> fast(4 * 1152 + 8, 0xA5), plain = fast;
            mpa_store_s16_stereo(left, right, fast.data() + offset, count);
            mpa_store_s16_stereo_plain(left, right, plain.data() + offset, count);
            EXPECT_EQ(fast, plain) << "stereo, count " << count << " offset " << offset;
            mpa_store_s16_packed(right, fast.data() + offset, count);
            mpa_store_s16_packed_plain(right, plain.data() + offset, count);
            EXPECT_EQ(fast, plain) << "packed, count " << count << " offset " << offset;
        }
    }
}

TEST(PcmOutput, RejectsBadArgumentsWithoutWriting)
{
    float pcm[2304] = {100.0f};
    uint8_t out[16] = {};
    uint8_t *const one[2] = {out, nullptr}, *const none[2] = {nullptr, out};
    EXPECT_EQ(mpa_output_pcm(MPA_PCM_STEREO, pcm, one, 1), MPA_ERR_NULL_ARG);
    EXPECT_EQ(mpa_output_pcm(0, pcm, none, 1), MPA_ERR_NULL_ARG);
    EXPECT_EQ(mpa_output_pcm(0, pcm, nullptr, 1), MPA_ERR_NULL_ARG);
    EXPECT_EQ(mpa_output_pcm(0, nullptr, one, 1), MPA_ERR_NULL_ARG);
    EXPECT_EQ(mpa_output_pcm(2, nullptr, one, 1), MPA_ERR_NULL_ARG);  // null checks first
    for (unsigned flags : {2u, 10u, 11u})
        EXPECT_EQ(mpa_output_pcm(flags, pcm, one, 1), MPA_ERROR);
    EXPECT_EQ(mpa_output_pcm(0, pcm, one, -1), MPA_OK);
    for (uint8_t b : out)
        EXPECT_EQ(b, 0);
}

TEST(PcmOutput, CountBeyondOneFrameReadsOnlyTheFrame)
{
    // The float buffer holds 1152 samples per channel: a larger count must
    // neither read past it nor write more than one frame.
    std::vector<float> pcm(2304, 1000.0f);
    std::vector<uint8_t> out(1152 * 8 + 64, 0xAA);
    uint8_t *const dest[2] = {out.data(), nullptr};
    ASSERT_EQ(mpa_output_pcm(MPA_PCM_STEREO | MPA_PCM_INTERLEAVED | MPA_PCM_S32, pcm.data(), dest, 100000),
              MPA_OK);
    for (size_t i = 1152 * 8; i < out.size(); i++)
        ASSERT_EQ(out[i], 0xAA) << i;
}

}  // namespace
