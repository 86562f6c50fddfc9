// Layer III band lists and granule setup.
#include <gtest/gtest.h>

#include "layer3/granule.h"
#include "layer3/sfb_tables.h"
#include "support/layer3_ctx.h"

namespace {

const uint8_t *band_list(int id, int sampling_index, int kind)
{
    return mpa_sfb_bands[(id * 4 + sampling_index) * 3 + kind];
}

}  // namespace

TEST(Layer3Bands, EveryListCovers576LinesWithTheStandardLayout)
{
    for (int id = 0; id < 2; id++) {
        for (int si = 0; si < 3; si++) {
            SCOPED_TRACE(testing::Message() << "id " << id << " sampling_index " << si);
            const uint8_t *lng = band_list(id, si, MPA_BLOCK_LONG);
            const uint8_t *shrt = band_list(id, si, MPA_BLOCK_SHORT);
            const uint8_t *mixed = band_list(id, si, MPA_BLOCK_MIXED);
            const int mixed_long = id ? 8 : 6;

            EXPECT_EQ(lng[0], 22);
            EXPECT_EQ(lng[1], 0);
            EXPECT_EQ(shrt[0], 39);
            EXPECT_EQ(shrt[1], 13);
            EXPECT_EQ(mixed[0], mixed_long + 30);
            EXPECT_EQ(mixed[1], 10);

            for (const uint8_t *list : {lng, shrt, mixed}) {
                int sum = 0;
                for (int b = 0; b < list[0]; b++)
                    sum += list[2 + b];
                EXPECT_EQ(sum, 576);
            }
            // Short bands come three times (one per window) and are even,
            // as the two-lines-per-step reordering needs.
            for (int j = 0; j < 13; j++) {
                EXPECT_EQ(shrt[2 + 3 * j], shrt[3 + 3 * j]);
                EXPECT_EQ(shrt[2 + 3 * j], shrt[4 + 3 * j]);
                EXPECT_EQ(shrt[2 + 3 * j] % 2, 0);
            }
            // Mixed: the long bands of the first 36 lines, then short bands 3..12.
            int head = 0;
            for (int b = 0; b < mixed_long; b++) {
                EXPECT_EQ(mixed[2 + b], lng[2 + b]);
                head += mixed[2 + b];
            }
            EXPECT_EQ(head, 36);
            for (int k = 0; k < 30; k++)
                EXPECT_EQ(mixed[2 + mixed_long + k], shrt[2 + 9 + k]);
        }
    }
}

TEST(Layer3Bands, KnownWidths)
{
    const uint8_t mpeg1_44k[22] = {4,  4,  4,  4,  4,  4,  6,  6,  8,  8,  10,
                                   12, 16, 20, 24, 28, 34, 42, 50, 54, 76, 158};
    EXPECT_EQ(0, memcmp(band_list(1, 0, MPA_BLOCK_LONG) + 2, mpeg1_44k, 22));
    // 24 kHz long bands 17 and 18 as printed in ISO/IEC 13818-3.
    EXPECT_EQ(band_list(0, 1, MPA_BLOCK_LONG)[2 + 17], 54);
    EXPECT_EQ(band_list(0, 1, MPA_BLOCK_LONG)[2 + 18], 62);
    // 16 kHz short bands differ from 24 kHz only at bands 10..12.
    EXPECT_EQ(band_list(0, 2, MPA_BLOCK_SHORT)[2 + 30], 30);
    EXPECT_EQ(band_list(0, 1, MPA_BLOCK_SHORT)[2 + 30], 32);
}

TEST(Layer3GranuleSetup, BlockKindsAndRegions)
{
    struct Case {
        int id, si, window_switching, block_type, mixed;
        int kind, region0, region1, bands, short_bands;
    };
    // Without window switching the coded region counts (3, 5 here) stay and
    // stale block_type / mixed_block_flag values are cleared.
    const Case cases[] = {
        {1, 0, 1, 2, 0, MPA_BLOCK_SHORT, 8, 63, 39, 13},
        {1, 1, 1, 2, 1, MPA_BLOCK_MIXED, 7, 63, 38, 10},
        {0, 2, 1, 2, 0, MPA_BLOCK_SHORT, 8, 63, 39, 13},
        {0, 0, 1, 2, 1, MPA_BLOCK_MIXED, 7, 63, 36, 10},
        {1, 2, 1, 1, 0, MPA_BLOCK_LONG, 7, 63, 22, 0},
        {0, 1, 1, 3, 1, MPA_BLOCK_LONG, 7, 63, 22, 0},
        {1, 0, 0, 2, 1, MPA_BLOCK_LONG, 3, 5, 22, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        layer3_test_ctx t(c.id, c.si);
        mpa_granule_info info;
        memset(&info, 0, sizeof(info));
        info.window_switching_flag = static_cast<uint16_t>(c.window_switching);
        info.block_type = static_cast<uint16_t>(c.block_type);
        info.mixed_block_flag = static_cast<uint16_t>(c.mixed);
        info.block_kind = MPA_BLOCK_MIXED;
        info.region0_count = 3;
        info.region1_count = 5;
        mpa_layer3_granule_bands(&t.ctx, &info);
        EXPECT_EQ(info.block_kind, c.kind);
        EXPECT_EQ(info.region0_count, c.region0);
        EXPECT_EQ(info.region1_count, c.region1);
        EXPECT_EQ(info.block_type, c.window_switching ? c.block_type : 0);
        EXPECT_EQ(info.mixed_block_flag, c.window_switching ? c.mixed : 0);
        EXPECT_EQ(info.band_count, c.bands);
        EXPECT_EQ(info.short_band_count, c.short_bands);
        EXPECT_EQ(info.band_widths, band_list(c.id, c.si, c.kind) + 2);
    }
}
