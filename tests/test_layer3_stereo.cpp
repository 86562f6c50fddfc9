// Layer III mid/side and intensity stereo (ISO/IEC 11172-3, ISO/IEC 13818-3),
// on granule records built here with the 44.1 kHz MPEG-1 band widths.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include <random>
#include <vector>

#include "layer3/stereo.h"
#include "support/layer3_ctx.h"

namespace {

const uint8_t kLong[22] = {4, 4, 4, 4, 4, 4, 6, 6, 8, 8, 10, 12, 16, 20, 24, 28, 34, 42, 50, 54, 76, 158};
const uint8_t kShort[13] = {4, 4, 4, 4, 6, 8, 10, 12, 14, 18, 22, 30, 56};

// kind 0 long, 1 short, 2 mixed (8 long bands, then short bands 3..12).
struct granule {
    uint8_t widths[39] = {};
    mpa_granule_info info{};

    granule(int kind, std::initializer_list<int> slen, std::initializer_list<int> nr, int scale = 0)
    {
        const int n_long = kind == 0   ? 22
                           : kind == 2 ? 8
                                       : 0,
                  first_short = kind == 0   ? 13
                                : kind == 1 ? 0
                                            : 3;
        int e = 0;
        for (int i = 0; i < n_long; i++)
            widths[e++] = kLong[i];
        for (int s = first_short; s < 13; s++)
            for (int w = 0; w < 3; w++)
                widths[e++] = kShort[s];
        info.band_widths = widths;
        info.band_count = static_cast<uint16_t>(e);
        info.short_band_count = static_cast<uint16_t>(13 - first_short);
        std::copy(slen.begin(), slen.end(), info.slen);
        std::copy(nr.begin(), nr.end(), info.nr_of_sfb);
        info.intensity_scale = static_cast<uint16_t>(scale);
    }
};

// What one band-list entry should become: plain (kl < 0), mid/side (kl = 2)
// or intensity with factors kl, kr.
struct expected {
    double kl, kr;
};
const expected kPlain{-1, 0}, kMs{2, 0};
expected kept(int mode_extension) { return mode_extension == 3 ? kMs : kPlain; }

// ISO/IEC 11172-3: ratio tan(p pi / 12), left r / (1 + r), right 1 / (1 + r).
expected mpeg1(int p)
{
    const double r = tan(p * M_PI / 12);
    return p == 6 ? expected{1, 0} : expected{r / (1 + r), 1 / (1 + r)};
}

// ISO/IEC 13818-3: odd positions scale the left channel, even ones the right.
expected lsf(int p, int scale)
{
    const double k = (scale + 1) / 8.0;
    return p & 1 ? expected{pow(2.0, -(p + 1) * k), 1} : expected{1, pow(2.0, -p * k)};
}

struct stereo_case {
    layer3_test_ctx t;
    std::vector<float> left, right;

    stereo_case(int id, int mode_extension) : t(id, 0, mode_extension), left(576), right(576, 0.0f)
    {
        t.dec->header.mode = 1;
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> dist(0.5f, 2.0f);
        for (float &x : left)
            x = dist(rng);
    }

    // Runs one granule and checks every line against its entry's expectation.
    void run(const granule &g, const uint8_t *sf, const std::vector<expected> &want)
    {
        uint8_t sf_copy[39];
        memcpy(sf_copy, sf, 39);
        const std::vector<float> l0 = left, r0 = right;
        mpa_layer3_intensity_stereo(&t.ctx, &g.info, left.data(), right.data(), sf_copy);
        EXPECT_EQ(memcmp(sf_copy, sf, 39), 0) << "scale factors changed";
        for (int e = 0, line = 0; e < g.info.band_count; e++)
            for (int i = 0; i < g.widths[e]; i++, line++) {
                const expected &x = want[e];
                const double l = l0[line], r = r0[line];
                const double wl = x.kl < 0 ? l : x.kl == 2 ? (l + r) * M_SQRT1_2 : l * x.kl;
                const double wr = x.kl < 0 ? r : x.kl == 2 ? (l - r) * M_SQRT1_2 : l * x.kr;
                ASSERT_NEAR(left[line], wl, 1e-6) << "entry " << e << " line " << line;
                ASSERT_NEAR(right[line], wr, 1e-6) << "entry " << e << " line " << line;
            }
    }
};

}  // namespace

// MPEG-1 long blocks: the bound sits at the highest band with a non-zero line
// of channel 1; above it positions 0..6 are intensity coded, 7 is illegal and
// so are 8..15 (a 4-bit part can carry them, the ratio table ends at 6).
TEST(Layer3Stereo, Mpeg1LongBlockPositions)
{
    const granule g(0, {4, 3}, {11, 10});
    for (int ext : {1, 3}) {
        SCOPED_TRACE(testing::Message() << "mode_extension " << ext);
        stereo_case c(1, ext);
        c.right[17] = -0.25f;  // band 4
        const uint8_t sf[39] = {2, 2, 2, 2, 2, 0, 3, 6, 7, 8, 15, 1, 7, 5, 5, 5, 5, 5, 5, 5, 4, 0};
        std::vector<expected> want(22, mpeg1(5));
        for (int e : {0, 1, 2, 3, 4, 8, 9, 10, 12})
            want[e] = kept(ext);
        want[5] = mpeg1(0);
        want[6] = mpeg1(3);
        want[7] = mpeg1(6);
        want[11] = mpeg1(1);
        want[20] = want[21] = mpeg1(4);  // the top band takes band 20's position
        c.run(g, sf, want);
        EXPECT_TRUE(c.left[20] == 0.0f && c.right[30] == 0.0f);  // positions 0 and 6
    }
    {
        // Channel 1 all zero: everything is intensity coded, band 0 included;
        // an illegal position in band 20 carries over to the top band.
        stereo_case c(1, 3);
        uint8_t sf[39] = {};
        memset(sf, 3, 20);
        sf[20] = 7;
        std::vector<expected> want(22, mpeg1(3));
        want[20] = want[21] = kMs;
        c.run(g, sf, want);
        // A non-zero line in the top band: no band is intensity coded.
        for (int ext : {1, 3}) {
            stereo_case top(1, ext);
            top.right[575] = 1.0f;
            top.run(g, sf, std::vector<expected>(22, kept(ext)));
        }
    }
}

// LSF: the illegal position is the highest value of each part's width; a part
// of width 0 has none.
TEST(Layer3Stereo, LsfIllegalPositionsPerPart)
{
    for (int scale : {0, 1}) {
        SCOPED_TRACE(testing::Message() << "intensity_scale " << scale);
        stereo_case c(0, 3);
        const granule g(0, {3, 4, 0, 2}, {6, 5, 5, 5}, scale);
        const uint8_t sf[39] = {7, 1, 2, 0, 5, 6,  // width 3: 7 illegal
                                7, 15, 14, 9, 3,   // width 4: 7 legal, 15 illegal
                                0, 0, 0, 0, 0,     // width 0
                                3, 2, 1, 0, 1};    // width 2: 3 illegal
        std::vector<expected> want(22);
        for (int e = 0; e < 21; e++)
            want[e] = lsf(sf[e], scale);
        want[0] = want[7] = want[16] = kMs;
        want[21] = want[20];
        c.run(g, sf, want);
    }
    // Top band of LSF: with the bound at band 20 it is coded with position 0
    // (both channels take the left value); an illegal band 20 carries over.
    for (int illegal : {0, 1}) {
        stereo_case c(0, 1);
        const granule g(0, {3, 4, 0, 2}, {6, 5, 5, 5});
        uint8_t sf[39] = {};
        sf[20] = illegal ? 3 : 1;
        if (!illegal)
            c.right[400] = 1.0f;  // band 20
        std::vector<expected> want(22, kPlain);
        if (illegal)
            std::fill(want.begin(), want.begin() + 20, lsf(0, 0));
        else
            want[21] = lsf(0, 0);
        c.run(g, sf, want);
    }
}

// Short blocks: each window has its own bound; band 12 takes band 11's entry.
TEST(Layer3Stereo, ShortBlockBoundsPerWindow)
{
    stereo_case c(1, 3);
    const granule g(1, {3, 3}, {18, 18});
    auto line_of = [&](int band, int w) {
        int line = 0;
        for (int e = 0; e < 3 * band + w; e++)
            line += g.widths[e];
        return line;
    };
    c.right[line_of(5, 1) + 3] = 2.0f;  // window 1: highest non-zero band 5
    c.right[line_of(12, 2)] = 1e-30f;   // window 2: band 12, tiny but not zero
    uint8_t sf[39];
    memset(sf, 2, sizeof sf);
    sf[33] = 5;  // band 11, window 0
    sf[34] = 4;  // band 11, window 1
    std::vector<expected> want(39);
    for (int s = 0; s < 13; s++) {
        want[3 * s + 0] = mpeg1(s >= 11 ? 5 : 2);
        want[3 * s + 1] = s <= 5 ? kMs : mpeg1(s >= 11 ? 4 : 2);
        want[3 * s + 2] = kMs;
    }
    c.run(g, sf, want);
}

// Mixed blocks: the long bands are scanned only when no short window holds a
// non-zero band.
TEST(Layer3Stereo, MixedBlockLongBandsFollowShortWindows)
{
    const granule g(2, {3, 3}, {17, 18});
    uint8_t sf[39] = {};
    memset(sf, 1, 35);
    for (int nonzero_line : {41, 12}) {  // short band 3 window 1; long band 3
        stereo_case c(1, 3);
        c.right[nonzero_line] = 1.0f;
        std::vector<expected> want(38, mpeg1(1));
        for (int e = 0; e < (nonzero_line == 41 ? 8 : 4); e++)
            want[e] = kMs;
        if (nonzero_line == 41)
            want[9] = kMs;
        c.run(g, sf, want);
    }
}
