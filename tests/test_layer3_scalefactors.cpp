// Layer III scale factors: MPEG-1 and LSF layouts, scfsi reuse, LSF intensity variant.
#include <gtest/gtest.h>

#include <vector>

#include "layer3/scalefactor_tables.h"
#include "layer3/scalefactors.h"
#include "support/bitwriter.h"
#include "support/layer3_ctx.h"

namespace {

using mpa_test::BitWriter;

// Writes n values of w bits, value k = (seed + 5 * k) mod 2^w, and returns them.
std::vector<uint8_t> put_values(BitWriter &bw, int w, int n, int seed)
{
    std::vector<uint8_t> v;
    for (int k = 0; k < n; k++) {
        const uint8_t x = w ? static_cast<uint8_t>((seed + 5 * k) & ((1 << w) - 1)) : 0;
        bw.put(x, w);
        v.push_back(x);
    }
    return v;
}

void start_reader(layer3_test_ctx &t, BitWriter &bw)
{
    bw.put(0, 32);  // padding so the reader never runs off the data
    mpa_bits_init(&t.bits, bw.bytes().data(), static_cast<int>(bw.bytes().size()));
}

const uint8_t SENTINEL = 0xAA;

// Checks dest: the expected scale factors, three zeros, then untouched bytes.
void expect_layout(const uint8_t *dest, const std::vector<uint8_t> &expected)
{
    const size_t n = expected.size();
    for (size_t k = 0; k < n; k++)
        EXPECT_EQ(dest[k], expected[k]) << "entry " << k;
    for (size_t k = n; k < n + 3; k++)
        EXPECT_EQ(dest[k], 0) << "entry " << k;
    for (size_t k = n + 3; k < 39; k++)
        EXPECT_EQ(dest[k], SENTINEL) << "entry " << k;
}

}  // namespace

TEST(Layer3ScalefactorsMpeg1, LayoutForEveryBlockKind)
{
    struct Case {
        int block_type, mixed, count_a, count_b, scalefac_compress, slen1, slen2;
    };
    // scalefac_compress 0 reads nothing and leaves all 39 bytes zero.
    const Case cases[] = {{0, 0, 11, 10, 14, 4, 2}, {2, 0, 18, 18, 14, 4, 2},
                          {2, 1, 17, 18, 14, 4, 2}, {2, 0, 18, 18, 0, 0, 0}};
    for (const Case &c : cases) {
        for (int granule = 0; granule < 2; granule++) {
            SCOPED_TRACE(testing::Message() << "block_type " << c.block_type << " mixed "
                                            << c.mixed << " granule " << granule);
            layer3_test_ctx t(1, 0);
            mpa_granule_info info = layer3_test_granule(&t.ctx, c.block_type, c.mixed);
            info.scalefac_compress = static_cast<uint16_t>(c.scalefac_compress);
            BitWriter bw;
            std::vector<uint8_t> expected = put_values(bw, c.slen1, c.count_a, 3);
            std::vector<uint8_t> part_b = put_values(bw, c.slen2, c.count_b, 1);
            expected.insert(expected.end(), part_b.begin(), part_b.end());
            start_reader(t, bw);

            uint8_t dest[39];
            memset(dest, SENTINEL, sizeof(dest));
            // Short and mixed blocks ignore scfsi, so they get all flags set.
            const uint16_t scfsi[4] = {1, 1, 1, 1};
            const uint16_t no_scfsi[4] = {0, 0, 0, 0};
            mpa_layer3_scalefactors_mpeg1(&info, c.block_type == 0 ? no_scfsi : scfsi, &t.bits,
                                          dest, granule);
            expect_layout(dest, expected);
            EXPECT_EQ(mpa_bits_position(&t.bits), c.count_a * c.slen1 + c.count_b * c.slen2);
            EXPECT_EQ(info.slen[0], c.slen1);
            EXPECT_EQ(info.slen[1], c.slen2);
            EXPECT_EQ(info.nr_of_sfb[0], c.count_a);
            EXPECT_EQ(info.nr_of_sfb[1], c.count_b);
            EXPECT_EQ(info.nr_of_sfb[2] + info.nr_of_sfb[3], 0);
        }
    }
}

TEST(Layer3ScalefactorsMpeg1, ScfsiReusesGranule0Bands)
{
    // Band sizes 6, 5, 5, 5; bands 0 and 1 use slen1, bands 2 and 3 slen2.
    const int starts[5] = {0, 6, 11, 16, 21};
    for (int mask = 0; mask < 16; mask++) {
        SCOPED_TRACE(testing::Message() << "scfsi mask " << mask);
        layer3_test_ctx t(1, 2);
        mpa_granule_info info = layer3_test_granule(&t.ctx, 0, 0);
        info.scalefac_compress = 11;  // slen1 3, slen2 1
        uint16_t scfsi[4];
        uint8_t dest[39];
        // Granule 0's values as the frame decoder copies them in, entry 21 included.
        for (int k = 0; k < 39; k++)
            dest[k] = static_cast<uint8_t>(k < 22 ? 100 + k : SENTINEL);
        std::vector<uint8_t> expected(dest, dest + 21);
        BitWriter bw;
        int bits_expected = 0;
        for (int i = 0; i < 4; i++) {
            scfsi[i] = static_cast<uint16_t>((mask >> i) & 1);
            if (scfsi[i])
                continue;
            const int w = i < 2 ? 3 : 1;
            std::vector<uint8_t> v = put_values(bw, w, starts[i + 1] - starts[i], i);
            std::copy(v.begin(), v.end(), expected.begin() + starts[i]);
            bits_expected += w * static_cast<int>(v.size());
        }
        start_reader(t, bw);
        mpa_layer3_scalefactors_mpeg1(&info, scfsi, &t.bits, dest, 1);
        expect_layout(dest, expected);
        EXPECT_EQ(mpa_bits_position(&t.bits), bits_expected);
        EXPECT_EQ(info.nr_of_sfb[0], 11);
        EXPECT_EQ(info.nr_of_sfb[1], 10);
    }
}

// The slen/row decoding of ISO/IEC 13818-3 for every scalefac_compress, done
// with plain division, against the table-driven routine. Channel 1 with bit 0
// of mode_extension set takes the intensity-stereo rows 3..5 (511: slen 3, 2,
// row 5, intensity_scale 1); every other case rows 0..2.
TEST(Layer3ScalefactorsLsf, CompressDecodingMatchesArithmetic)
{
    for (int mode_extension = 0; mode_extension < 4; mode_extension++) {
        for (int channel = 0; channel < 2; channel++) {
            layer3_test_ctx t(0, 0, mode_extension);
            for (int kind = 0; kind < 3; kind++) {
                for (int sfc = 0; sfc < 512; sfc++) {
                    mpa_granule_info info =
                        layer3_test_granule(&t.ctx, kind ? 2 : 0, kind == MPA_BLOCK_MIXED);
                    info.scalefac_compress = static_cast<uint16_t>(sfc);
                    info.intensity_scale = 7;
                    int slen[4] = {0, 0, 0, 0}, row, preflag = 0, is_scale = 0;
                    if ((mode_extension & 1) && channel == 1) {
                        const int c = sfc >> 1;
                        is_scale = sfc & 1;
                        if (c < 180) {
                            slen[0] = c / 36, slen[1] = (c % 36) / 6, slen[2] = c % 6, row = 3;
                        } else if (c < 244) {
                            const int x = c - 180;
                            slen[0] = x / 16, slen[1] = (x / 4) % 4, slen[2] = x % 4, row = 4;
                        } else {
                            slen[0] = (c - 244) / 3, slen[1] = (c - 244) % 3, row = 5;
                        }
                    } else if (sfc < 400) {
                        slen[0] = (sfc / 16) / 5, slen[1] = (sfc / 16) % 5;
                        slen[2] = (sfc / 4) % 4, slen[3] = sfc % 4, row = 0;
                    } else if (sfc < 500) {
                        const int x = sfc - 400;
                        slen[0] = (x / 4) / 5, slen[1] = (x / 4) % 5, slen[2] = x % 4, row = 1;
                    } else {
                        slen[0] = (sfc - 500) / 3, slen[1] = (sfc - 500) % 3, row = 2;
                        preflag = 1;
                    }
                    BitWriter bw;
                    bw.put(0, 32);
                    bw.put(0, 32);
                    start_reader(t, bw);
                    uint8_t dest[39];
                    mpa_layer3_scalefactors_lsf(&t.ctx, &info, dest, channel);
                    int bits = 0;
                    for (int i = 0; i < 4; i++) {
                        ASSERT_EQ(info.slen[i], slen[i])
                            << "sfc " << sfc << " part " << i << " channel " << channel
                            << " mode_extension " << mode_extension;
                        ASSERT_EQ(info.nr_of_sfb[i], mpa_nr_of_sfb[row][kind][i]) << "sfc " << sfc;
                        bits += slen[i] * mpa_nr_of_sfb[row][kind][i];
                    }
                    ASSERT_EQ(info.preflag, preflag) << "sfc " << sfc;
                    ASSERT_EQ(info.intensity_scale, is_scale) << "sfc " << sfc;
                    ASSERT_EQ(mpa_bits_position(&t.bits), bits) << "sfc " << sfc;
                }
            }
        }
    }
}

TEST(Layer3ScalefactorsLsf, NrOfSfbRowsFillTheBandList)
{
    // Long 21, short 36, mixed 33: the list entries before the zero last band.
    const int totals[3] = {21, 36, 33};
    for (int row = 0; row < 6; row++)
        for (int kind = 0; kind < 3; kind++) {
            const uint8_t *n = mpa_nr_of_sfb[row][kind];
            EXPECT_EQ(n[0] + n[1] + n[2] + n[3], totals[kind]) << "row " << row << " kind " << kind;
        }
}

TEST(Layer3ScalefactorsLsf, LayoutForEveryBlockKind)
{
    // scalefac_compress 278: row 0, slen 3, 2, 1, 2.
    const int slen[4] = {3, 2, 1, 2};
    const int totals[3] = {21, 36, 33};
    for (int kind = 0; kind < 3; kind++) {
        SCOPED_TRACE(testing::Message() << "block kind " << kind);
        layer3_test_ctx t(0, 1);
        mpa_granule_info info = layer3_test_granule(&t.ctx, kind ? 2 : 0, kind == MPA_BLOCK_MIXED);
        info.scalefac_compress = 278;
        BitWriter bw;
        std::vector<uint8_t> expected;
        for (int i = 0; i < 4; i++) {
            std::vector<uint8_t> v = put_values(bw, slen[i], mpa_nr_of_sfb[0][kind][i], 2 * i + 1);
            expected.insert(expected.end(), v.begin(), v.end());
        }
        ASSERT_EQ(static_cast<int>(expected.size()), totals[kind]);
        const int written = static_cast<int>(bw.bits());
        start_reader(t, bw);
        uint8_t dest[39];
        memset(dest, SENTINEL, sizeof(dest));
        mpa_layer3_scalefactors_lsf(&t.ctx, &info, dest, 0);
        expect_layout(dest, expected);
        EXPECT_EQ(mpa_bits_position(&t.bits), written);
    }
}
