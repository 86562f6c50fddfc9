// Layer III requantisation gains and short-block reordering.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "layer3/granule.h"
#include "layer3/granule_info.h"
#include "layer3/requantize.h"
#include "layer3/requantize_tables.h"
#include "layer3/sfb_tables.h"

namespace {

mpa_granule_info granule(int id, int kind, int global_gain)
{
    mpa_granule_info info;
    memset(&info, 0, sizeof(info));
    info.block_kind = static_cast<uint16_t>(kind);
    mpa_layer3_set_band_list(&info, (id * 4 + 0) * 3 + kind);
    info.global_gain = static_cast<uint16_t>(global_gain);
    return info;
}

// Requantises a spectrum of ones and returns the gain of each list entry,
// checking that every line of an entry got the same gain.
std::vector<float> entry_gains(const mpa_granule_info &info, const uint8_t *scalefactors)
{
    float spectrum[576];
    std::fill(spectrum, spectrum + 576, 1.0f);
    mpa_layer3_requantize(&info, scalefactors, spectrum);
    std::vector<float> gains;
    int line = 0;
    for (int b = 0; b < info.band_count; b++) {
        for (int l = 1; l < info.band_widths[b]; l++)
            EXPECT_EQ(spectrum[line + l], spectrum[line]) << "entry " << b;
        gains.push_back(spectrum[line]);
        line += info.band_widths[b];
    }
    EXPECT_EQ(line, 576);
    return gains;
}

float pow2q(int quarter_steps)
{
    return static_cast<float>(std::pow(2.0, quarter_steps / 4.0));
}

}  // namespace

TEST(Layer3Requantize, GainTableMatchesFormula)
{
    for (int e = 0; e < 256; e++)
        EXPECT_EQ(mpa_gain_table[e], pow2q(e - 150)) << "e " << e;
    EXPECT_EQ(mpa_gain_table[150], 1.0f);
    EXPECT_EQ(mpa_gain_table[210], 32768.0f);
}

TEST(Layer3Requantize, GlobalGainReferencePoints)
{
    // 150 leaves the Huffman output as it is; 210 is the standard's unit gain
    // on the 16-bit scale.
    const uint8_t zeros[39] = {};
    for (int kind = 0; kind < 3; kind++) {
        for (int gg : {150, 210}) {
            mpa_granule_info info = granule(1, kind, gg);
            for (float g : entry_gains(info, zeros))
                EXPECT_EQ(g, gg == 150 ? 1.0f : 32768.0f) << "kind " << kind;
        }
    }
}

TEST(Layer3Requantize, ScalefacScaleAndPreflag)
{
    // ISO/IEC 11172-3 pretab, zero past band 21.
    const uint8_t pretab[39] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 3, 3, 3, 2, 0};
    uint8_t sf[39] = {};
    sf[3] = 1;
    sf[12] = 2;
    for (int scale = 0; scale < 2; scale++) {
        for (int preflag = 0; preflag < 2; preflag++) {
            SCOPED_TRACE(testing::Message() << "scalefac_scale " << scale << ", preflag "
                                            << preflag);
            mpa_granule_info info = granule(1, MPA_BLOCK_LONG, 180);
            info.scalefac_scale = static_cast<uint16_t>(scale);
            info.preflag = static_cast<uint16_t>(preflag);
            std::vector<float> g = entry_gains(info, sf);
            // Each scale-factor step is 2 quarter-steps, or 4 with scalefac_scale.
            const int step = 2 << scale;
            for (int b = 0; b < 22; b++) {
                const int sf_total = sf[b] + preflag * pretab[b];
                EXPECT_EQ(g[b], pow2q(30 - step * sf_total)) << "band " << b;
            }
        }
    }
    EXPECT_EQ(0, memcmp(mpa_pretab, pretab, sizeof(pretab)));

    // Pre-emphasis belongs to long blocks only.
    for (int kind : {MPA_BLOCK_SHORT, MPA_BLOCK_MIXED}) {
        mpa_granule_info info = granule(1, kind, 150);
        info.preflag = 1;
        const uint8_t zeros[39] = {};
        for (float g : entry_gains(info, zeros))
            EXPECT_EQ(g, 1.0f) << "kind " << kind;
    }
}

TEST(Layer3Requantize, SubblockGainPerWindow)
{
    for (int kind : {MPA_BLOCK_SHORT, MPA_BLOCK_MIXED}) {
        SCOPED_TRACE(testing::Message() << "kind " << kind);
        mpa_granule_info info = granule(0, kind, 150);
        info.subblock_gain[1] = 1;
        info.subblock_gain[2] = 7;
        uint8_t sf[39] = {};
        for (int b = 0; b < info.band_count; b++)
            sf[b] = static_cast<uint8_t>(b % 3);
        const int long_entries = info.band_count - 3 * info.short_band_count;
        std::vector<float> g = entry_gains(info, sf);
        for (int b = 0; b < long_entries; b++)
            EXPECT_EQ(g[b], pow2q(-2 * sf[b])) << "entry " << b;  // no subblock gain
        for (int b = long_entries; b < info.band_count; b++) {
            const int window = (b - long_entries) % 3;
            EXPECT_EQ(g[b], pow2q(-8 * info.subblock_gain[window] - 2 * sf[b])) << "entry " << b;
        }
        // Window 2 of a zero scale factor: 56 quarter-steps down, 2^-14.
        const uint8_t zeros[39] = {};
        EXPECT_EQ(entry_gains(info, zeros)[long_entries + 2], 1.0f / 16384.0f);
    }
}

TEST(Layer3Requantize, NegativeExponentsClampToFirstEntry)
{
    // global_gain 0 with the largest scale factors and subblock gain goes far
    // below exponent 0; the gain stays at entry 0 instead of reading outside.
    mpa_granule_info info = granule(1, MPA_BLOCK_SHORT, 0);
    info.scalefac_scale = 1;
    info.subblock_gain[0] = info.subblock_gain[1] = info.subblock_gain[2] = 7;
    uint8_t sf[39];
    memset(sf, 15, sizeof(sf));
    for (float g : entry_gains(info, sf))
        EXPECT_EQ(g, mpa_gain_table[0]);

    const int16_t exponents[3] = {-32768, 255, 32767};
    const uint8_t widths[3] = {2, 2, 2};
    float lines[6] = {1, 1, 1, 1, 1, 1};
    mpa_layer3_apply_gains(lines, exponents, widths, 3);
    EXPECT_EQ(lines[0], mpa_gain_table[0]);
    EXPECT_EQ(lines[2], mpa_gain_table[255]);
    EXPECT_EQ(lines[4], mpa_gain_table[255]);
}

// With a bound, the entries that start at or above it are left alone; the
// one it falls in is scaled whole.
TEST(Layer3Requantize, BoundSkipsTheEntriesAboveIt)
{
    const uint8_t zeros[39] = {};
    for (int kind = 0; kind < 3; kind++) {
        const mpa_granule_info info = granule(1, kind, 210);
        for (int lines : {0, 1, 4, 5, 100, 575, 576}) {
            float spectrum[576];
            std::fill(spectrum, spectrum + 576, 1.0f);
            mpa_layer3_requantize_lines(&info, zeros, spectrum, lines);
            int start = 0;
            for (int b = 0; b < info.band_count; start += info.band_widths[b], b++)
                for (int l = 0; l < info.band_widths[b]; l++)
                    ASSERT_EQ(spectrum[start + l], start < lines ? 32768.0f : 1.0f)
                        << "kind " << kind << ", lines " << lines << ", entry " << b;
        }
    }
}

TEST(Layer3Reorder, ShortAndMixedGranulesArePermuted)
{
    for (int id = 0; id < 2; id++) {
        for (int si = 0; si < 3; si++) {
            for (int kind : {MPA_BLOCK_SHORT, MPA_BLOCK_MIXED}) {
                SCOPED_TRACE(testing::Message() << "id " << id << " si " << si << " kind " << kind);
                const uint8_t *entry = mpa_sfb_bands[(id * 4 + si) * 3 + kind];
                const int count = entry[0], short_count = entry[1];
                const uint8_t *widths = entry + 2;
                float spectrum[576];
                for (int i = 0; i < 576; i++)
                    spectrum[i] = static_cast<float>(i);
                mpa_layer3_reorder(widths, short_count, count, spectrum);

                // Where each bitstream-order line must end up.
                const int long_entries = count - 3 * short_count;
                int line = 0;
                for (int b = 0; b < long_entries; b++)
                    line += widths[b];
                ASSERT_EQ(line, kind == MPA_BLOCK_MIXED ? 36 : 0);
                for (int i = 0; i < line; i++)
                    ASSERT_EQ(spectrum[i], static_cast<float>(i)) << "long line " << i;
                for (int j = 0; j < short_count; j++) {
                    const int w = widths[long_entries + 3 * j];
                    for (int win = 0; win < 3; win++)
                        for (int l = 0; l < w; l++)
                            ASSERT_EQ(spectrum[line + 3 * l + win], static_cast<float>(line + win * w + l))
                                << "band " << j << " window " << win << " line " << l;
                    line += 3 * w;
                }
                ASSERT_EQ(line, 576);
            }
        }
    }
}
