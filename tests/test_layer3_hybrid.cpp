// Layer III hybrid synthesis against a direct double-precision rendering of
// ISO/IEC 11172-3: 36- and 12-point IMDCT, the four windows, overlap-add, alias
// reduction with the coefficients of Table B.9, frequency inversion.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include <random>
#include <vector>

#include "layer12/synthesis.h"
#include "layer3/hybrid.h"
#include "support/layer3_ctx.h"

namespace {

double window(int type, int i)
{
    const double normal = sin(M_PI / 36 * (i + 0.5));
    if (type == 1)
        return i < 18 ? normal : i < 24 ? 1.0 : i < 30 ? sin(M_PI / 12 * (i - 18 + 0.5)) : 0.0;
    if (type == 3)
        return i < 6 ? 0.0 : i < 12 ? sin(M_PI / 12 * (i - 6 + 0.5)) : i < 18 ? 1.0 : normal;
    return normal;
}

// The standard's windowed IMDCT z[0..35] of one subband.
void reference_subband(int type, const float *x, double *z)
{
    for (int i = 0; i < 36; i++) {
        z[i] = 0.0;
        for (int k = 0; type != 2 && k < 18; k++)
            z[i] += x[k] * cos(M_PI / 72 * (2 * i + 19) * (2 * k + 1)) * window(type, i);
    }
    for (int w = 0; type == 2 && w < 3; w++)
        for (int i = 0; i < 12; i++)
            for (int k = 0; k < 6; k++)
                z[6 + 6 * w + i] += x[3 * k + w] * cos(M_PI / 24 * (2 * i + 7) * (2 * k + 1)) *
                                    sin(M_PI / 12 * (i + 0.5));
}

std::vector<float> random_lines(std::mt19937 &rng, int n, float level)
{
    std::uniform_real_distribution<float> dist(-level, level);
    std::vector<float> v(n);
    for (float &x : v)
        x = dist(rng);
    return v;
}

// Overlap store position of subband sb, slot t: groups of four subbands.
int overlap_index(int sb, int t)
{
    return 144 * (sb / 8) + 8 * t + sb % 8;
}

struct hybrid_ctx : layer3_test_ctx {
    hybrid_ctx() : layer3_test_ctx(1, 0)
    {
        ctx.imdct_overlap = &dec->imdct_overlap[0][0];
        ctx.synth = &dec->synth;
    }
};

}  // namespace

// One subband over granules whose block types step through every transition.
TEST(Layer3Hybrid, WindowsAndOverlapMatchStandardAcrossBlockTypes)
{
    std::mt19937 rng(11);
    const int types[] = {0, 1, 2, 2, 3, 0, 3, 1, 0, 2, 1, 3, 2, 0, 0};
    float overlap[18] = {};
    double ref_overlap[18] = {}, max_err = 0.0;
    for (int g = 0; g < 15; g++) {
        SCOPED_TRACE(testing::Message() << "granule " << g << " block type " << types[g]);
        std::vector<float> x = random_lines(rng, 18, 100.0f);
        float prev[18], out[18];
        memcpy(prev, overlap, sizeof prev);
        mpa_layer3_imdct_subband(out, x.data(), overlap, types[g]);
        double z[36];
        reference_subband(types[g], x.data(), z);
        for (int i = 0; i < 18; i++) {
            max_err = fmax(max_err, fabs(out[i] - (ref_overlap[i] + z[i])));
            ref_overlap[i] = z[18 + i];
            max_err = fmax(max_err, fabs(overlap[i] - ref_overlap[i]));
        }
        // Where a window is zero the sums are exact.
        for (int i = 0; i < 6; i++) {
            EXPECT_TRUE(types[g] < 2 || out[i] == prev[i]) << i;
            EXPECT_TRUE(types[g] % 3 == 0 || overlap[12 + i] == 0.0f) << i;
        }
    }
    EXPECT_LT(max_err, 2e-4);  // values up to a few hundred
}

// Whole granules of channel 1 against the reference pipeline: alias reduction,
// windows by subband, overlap-add, frequency inversion and the filterbank.
TEST(Layer3Hybrid, GranulesMatchReferencePipeline)
{
    static const double c[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
    struct config {
        int type, long_subbands, first_changed, last_changed;
    } configs[] = {
        {0, 0, 0, 575}, {1, 0, 0, 575}, {3, 0, 0, 575},
        {2, 2, 10, 25},   // mixed: only the boundary between the long subbands
        {2, 0, 576, -1},  // pure short: no alias reduction
    };
    hybrid_ctx f;
    mpa_synth_state ref_state{};
    std::mt19937 rng(21);
    for (float &v : f.dec->imdct_overlap[0])
        v = 7.0f;  // channel 0 must stay untouched
    std::vector<double> ref_overlap(576, 0.0);
    for (const config &cf : configs) {
        SCOPED_TRACE(testing::Message() << "block type " << cf.type << ", long " << cf.long_subbands);
        std::vector<float> spectrum = random_lines(rng, 576, 2000.0f);
        std::vector<double> lines(spectrum.begin(), spectrum.end());
        const std::vector<float> before = spectrum;
        float out[576], want[576];
        EXPECT_EQ(mpa_layer3_hybrid(&f.ctx, spectrum.data(), out, cf.type, cf.long_subbands, 1), -1);

        for (int b = 0; b < (cf.type != 2 ? 31 : cf.long_subbands == 2 ? 1 : 0); b++)
            for (int i = 0; i < 8; i++) {
                const double cs = 1 / sqrt(1 + c[i] * c[i]), ca = c[i] * cs;
                const double lo = lines[18 * b + 17 - i], up = lines[18 * b + 18 + i];
                lines[18 * b + 17 - i] = lo * cs - up * ca;
                lines[18 * b + 18 + i] = up * cs + lo * ca;
            }
        for (int i = 0; i < 576; i++) {
            EXPECT_NEAR(spectrum[i], lines[i], 1e-3) << i;
            EXPECT_TRUE((i >= cf.first_changed && i <= cf.last_changed) || spectrum[i] == before[i]) << i;
        }
        for (int sb = 0; sb < 32; sb++) {
            double z[36];
            reference_subband(sb < cf.long_subbands ? 0 : cf.type, spectrum.data() + 18 * sb, z);
            for (int t = 0; t < 18; t++) {
                // Slot t, subband sb; odd subbands are negated in odd slots.
                const double v = ref_overlap[18 * sb + t] + z[t];
                want[32 * t + sb] = static_cast<float>((t & sb & 1) ? -v : v);
                ref_overlap[18 * sb + t] = z[18 + t];
                EXPECT_NEAR(f.dec->imdct_overlap[1][overlap_index(sb, t)], z[18 + t], 0.02);
            }
        }
        for (int t = 0; t < 18; t++)
            mpa_synthesize(want + 32 * t, 1, &ref_state);
        for (int i = 0; i < 576; i++)
            EXPECT_NEAR(out[i], want[i], 0.05) << i;
    }
    for (float v : f.dec->imdct_overlap[0])
        EXPECT_EQ(v, 7.0f);
    EXPECT_EQ(f.dec->synth.synth_phase[0], 0);
    EXPECT_EQ(f.dec->synth.synth_phase[1], ref_state.synth_phase[1]);
}

TEST(Layer3Hybrid, ZeroInZeroOutAndChannelTwoRefused)
{
    hybrid_ctx f;
    for (int type : {0, 2}) {
        float spectrum[576] = {}, out[576];
        memset(out, 0xff, sizeof out);
        mpa_layer3_hybrid(&f.ctx, spectrum, out, type, 0, 0);
        for (int i = 0; i < 576; i++)
            EXPECT_TRUE(out[i] == 0.0f && f.dec->imdct_overlap[0][i] == 0.0f) << i;
    }
    std::mt19937 rng(2);
    std::vector<float> spectrum = random_lines(rng, 576, 10.0f), out(576, 3.0f);
    const std::vector<float> before = spectrum;
    for (float &v : f.dec->imdct_overlap[1])
        v = 1.0f;
    const mpa_decoder saved = *f.dec;
    EXPECT_EQ(mpa_layer3_hybrid(&f.ctx, spectrum.data(), out.data(), 0, 0, 2), 0);
    EXPECT_TRUE(spectrum == before);
    EXPECT_TRUE(out == std::vector<float>(576, 3.0f));
    EXPECT_EQ(memcmp(&saved, f.dec, sizeof saved), 0);
}

// Skipping the subbands above the non-zero lines changes nothing: output,
// overlap and filterbank state match the full transform (up to the sign of
// zeros, which the full transform of zeros may leave negative), whatever the
// block type, the bound and the overlap left by the granule before.
TEST(Layer3Hybrid, BoundedGranulesMatchFullOnes)
{
    struct config {
        int type, long_subbands;
    } configs[] = {{0, 0}, {1, 0}, {2, 0}, {2, 2}, {3, 0}, {0, 0}, {3, 2}};
    auto same = [](const float *x, const float *y, int n) {
        for (int i = 0; i < n; i++)
            if (!(x[i] == y[i]))
                return false;
        return true;
    };
    hybrid_ctx full, bounded;
    std::mt19937 rng(5);
    int step = 0;
    for (int lines : {576, 0, 1, 17, 18, 19, 100, 287, 300, 450, 575, 30}) {
        for (const config &cf : configs) {
            SCOPED_TRACE(testing::Message() << "lines " << lines << ", block type " << cf.type
                                            << ", long " << cf.long_subbands);
            std::vector<float> a = random_lines(rng, 576, 500.0f);
            std::fill(a.begin() + lines, a.end(), 0.0f);
            std::vector<float> b = a;
            float out_a[576], out_b[576];
            const int ch = step++ & 1;
            mpa_layer3_hybrid(&full.ctx, a.data(), out_a, cf.type, cf.long_subbands, ch);
            mpa_layer3_hybrid_lines(&bounded.ctx, b.data(), out_b, cf.type, cf.long_subbands, ch,
                                    lines);
            ASSERT_TRUE(same(out_a, out_b, 576));
            ASSERT_TRUE(same(a.data(), b.data(), 576));
            ASSERT_TRUE(same(full.dec->imdct_overlap[0], bounded.dec->imdct_overlap[0], 2 * 576));
        }
    }
    EXPECT_TRUE(same(full.dec->synth.synth_history[0], bounded.dec->synth.synth_history[0],
                     2 * 544));
}
