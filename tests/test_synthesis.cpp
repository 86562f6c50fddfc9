// Polyphase synthesis against a direct double-precision rendering of the
// synthesis subband filter of ISO/IEC 11172-3: matrixing, 1024-value V FIFO,
// U/W construction and 16-term sums with the window D.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include <memory>
#include <random>
#include <vector>

#include "core/decoder.h"
#include "core/frame_ctx.h"
#include "layer12/synthesis.h"
#include "layer12/synthesis_tables.h"

namespace {

// D[0..511] rebuilt from the stored half with D[512 - i] = -D[i].
std::vector<double> full_window()
{
    std::vector<double> d(512);
    const float *w = mpa_synthesis_window;
    for (int j = 0; j < 16; j++)
        for (int m = 0; m < 16; m++)
            d[j + 32 * m] = w[16 * j + m];
    for (int n = 0; n < 8; n++) {
        d[16 + 32 * (2 * n + 1)] = w[256 + n];
        d[16 + 64 * n] = -w[256 + 7 - n];
    }
    for (int j = 17; j < 32; j++)
        for (int m = 0; m < 16; m++)
            d[j + 32 * m] = -d[512 - j - 32 * m];
    return d;
}

struct reference_synth {
    std::vector<double> d = full_window();
    double v[1024] = {};

    void run(const float *s, double *out)
    {
        memmove(v + 64, v, 960 * sizeof(double));
        for (int i = 0; i < 64; i++) {
            v[i] = 0.0;
            for (int k = 0; k < 32; k++)
                v[i] += cos((16 + i) * (2 * k + 1) * M_PI / 64) * s[k];
        }
        for (int j = 0; j < 32; j++) {
            out[j] = 0.0;
            for (int i = 0; i < 16; i++) {
                const double u = v[128 * (i / 2) + (i & 1 ? 96 : 0) + j];
                out[j] += u * d[j + 32 * i];
            }
        }
    }
};

std::unique_ptr<mpa_synth_state> fresh_state()
{
    return std::unique_ptr<mpa_synth_state>(new mpa_synth_state());
}

TEST(Synthesis, WindowTableHoldsStandardValues)
{
    // ISO/IEC 11172-3 Table B.3: the peak D[256], D[48] and its mirror D[464].
    std::vector<double> d = full_window();
    EXPECT_EQ(d[256], 75038 / 65536.0);
    EXPECT_EQ(d[48], -104 / 65536.0);
    EXPECT_EQ(d[464], 104 / 65536.0);
    EXPECT_EQ(d[511], 1 / 65536.0);
}

TEST(Synthesis, ImpulseAfterResetGivesWindowTimesCosine)
{
    auto st = fresh_state();
    std::vector<double> d = full_window();
    float s[32] = {1.0f};
    EXPECT_EQ(mpa_synthesize(s, 0, st.get()), 0);
    for (int j = 0; j < 32; j++)
        EXPECT_NEAR(s[j], d[j] * cos((16 + j) * M_PI / 64), 1e-7) << j;
    EXPECT_EQ(s[0], 0.0f);
    EXPECT_EQ(s[16], 0.0f);
    EXPECT_EQ(st->synth_phase[0], 15);
    EXPECT_EQ(st->synth_phase[1], 0);
}

// Both channels interleaved over many turns of the ring, at levels that span
// the 16-bit range, loud and quiet.
TEST(Synthesis, MatchesStandardFilterOverManySlots)
{
    auto st = fresh_state();
    reference_synth ref[2];
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    double max_err = 0.0, sq_err = 0.0, peak = 0.0;
    for (int slot = 0; slot < 2000; slot++) {
        const float level = (slot / 50) % 3 == 0 ? 1100.0f : (slot / 50) % 3 == 1 ? 10.0f : 2200.0f;
        for (int ch = 0; ch < 2; ch++) {
            float s[32];
            for (int k = 0; k < 32; k++)
                s[k] = (ch == 1 && k > 8) ? 0.0f : level * dist(rng);
            double want[32];
            ref[ch].run(s, want);
            mpa_synthesize(s, ch, st.get());
            for (int j = 0; j < 32; j++) {
                const double e = fabs(s[j] - want[j]);
                max_err = fmax(max_err, e);
                peak = fmax(peak, fabs(want[j]));
                sq_err += e * e;
            }
        }
    }
    const double rms = sqrt(sq_err / (2000 * 2 * 32));
    printf("synthesis vs double reference: max abs error %.6f, rms %.6f, peak %.0f\n",
           max_err, rms, peak);
    EXPECT_GT(peak, 20000.0);
    EXPECT_LT(max_err, 0.05);
    EXPECT_LT(rms, 0.01);
}

TEST(Synthesis, SilenceStaysSilentAndPhaseWraps)
{
    auto st = fresh_state();
    for (int i = 1; i <= 16; i++) {
        float s[32] = {};
        mpa_synthesize(s, 1, st.get());
        EXPECT_EQ(st->synth_phase[1], (16 - i) & 15);
        for (float x : s)
            EXPECT_EQ(x, 0.0f);
    }
    EXPECT_EQ(st->synth_phase[0], 0);
}

TEST(Synthesis, ChannelsAreIndependent)
{
    auto both = fresh_state(), alone = fresh_state();
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> dist(-5000.0f, 5000.0f);
    for (int i = 0; i < 300; i++) {
        float a[32], b[32];
        for (int k = 0; k < 32; k++)
            a[k] = b[k] = dist(rng);
        const int ch = rng() & 1;
        mpa_synthesize(a, ch, both.get());
        if (ch == 0) {
            mpa_synthesize(b, 0, alone.get());
            ASSERT_EQ(memcmp(a, b, sizeof a), 0) << i;
        }
    }
}

// The Layer I/II driver moves [slot][channel][32] samples into the
// channel-major PCM buffer and runs channel 0's slots before channel 1's.
TEST(Synthesis, Layer12DriverFeedsSlotsPerChannel)
{
    for (int channels = 1; channels <= 2; channels++) {
        std::unique_ptr<mpa_decoder> dec(new mpa_decoder());
        dec->header.n_channels = channels;
        auto st = fresh_state();
        std::unique_ptr<mpa_frame_scratch> scratch(new mpa_frame_scratch());
        float *samples = scratch->values;
        std::vector<float> pcm(2304, 7.0f);
        std::mt19937 rng(channels);
        std::uniform_real_distribution<float> dist(-3000.0f, 3000.0f);
        for (float &x : scratch->values)
            x = dist(rng);
        mpa_frame_ctx ctx;
        mpa_frame_ctx_init(&ctx, dec.get(), pcm.data(), nullptr, scratch.get());
        mpa_layer12_synthesize(&ctx, 2);
        for (int ch = 0; ch < channels; ch++)
            for (int s = 0; s < 36; s++) {
                float want[32];
                memcpy(want, &samples[64 * s + 32 * ch], sizeof want);
                mpa_synthesize(want, ch, st.get());
                ASSERT_EQ(memcmp(want, &pcm[1152 * ch + 32 * s], sizeof want), 0) << ch << " " << s;
            }
        if (channels == 1) {
            EXPECT_EQ(pcm[1152], 7.0f);  // channel 1 untouched
        }
        EXPECT_EQ(dec->synth.synth_phase[1], channels == 2 ? 12 : 0);
        mpa_layer12_synthesize(&ctx, 1);  // Layer I: 12 more slots
        EXPECT_EQ(dec->synth.synth_phase[0], 0);
    }
}

// Every output is the same sums in the same order at every ring position:
// once 16 slots have replaced the history, decoders that started at
// different ring positions agree exactly. (The kernels against each other:
// test_dispatch.cpp.)
TEST(Synthesis, RingPositionsGiveIdenticalOutput)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    auto slot = [&](float *s) {
        const float level = (rng() & 1) ? 30000.0f : 3.0f;
        for (int k = 0; k < 32; k++)
            s[k] = level * dist(rng);
    };

    for (int shift = 1; shift < 16; shift++) {
        auto early = fresh_state(), late = fresh_state();
        for (int i = 0; i < shift; i++) {
            float s[32];
            slot(s);
            mpa_synthesize(s, 0, late.get());
        }
        for (int i = 0; i < 40; i++) {
            float a[32], b[32];
            slot(a);
            memcpy(b, a, sizeof a);
            mpa_synthesize(a, 0, early.get());
            mpa_synthesize(b, 0, late.get());
            if (i >= 16) {
                ASSERT_EQ(memcmp(a, b, sizeof a), 0) << "shift " << shift << ", slot " << i;
            }
        }
    }
}

}  // namespace
