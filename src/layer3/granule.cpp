// Layer III granule setup: block kind, implied region counts and band list.
#include "layer3/granule.h"

#include "core/header.h"
#include "layer3/sfb_tables.h"

void mpa_layer3_granule_bands(const mpa_frame_ctx *ctx, mpa_granule_info *info)
{
    const mpa_header *h = &ctx->decoder->header;
    int kind = MPA_BLOCK_LONG;

    if (info->window_switching_flag) {
        // ISO/IEC 11172-3 2.4.3.4: with window switching the region boundaries
        // are implied; region 2 is empty (region1_count 63 runs past 576).
        if (info->block_type == 2)
            kind = info->mixed_block_flag ? MPA_BLOCK_MIXED : MPA_BLOCK_SHORT;
        info->region0_count = kind == MPA_BLOCK_SHORT ? 8 : 7;
        info->region1_count = 63;
    } else {
        info->block_type = 0;
        info->mixed_block_flag = 0;
    }
    info->block_kind = static_cast<uint16_t>(kind);

    // The masks keep the index inside the table whatever the header holds;
    // the parser never passes sampling index 3, whose entries are empty.
    const int version = mpa_header_is_mpeg25(*h) ? 2 : h->id & 1;
    mpa_layer3_set_band_list(info, (version * 4 + (h->sampling_index & 3)) * 3 + kind);
}

void mpa_layer3_set_band_list(mpa_granule_info *info, int list)
{
    const uint8_t *entry = mpa_sfb_bands[list];
    info->band_count = entry[0];
    info->short_band_count = entry[1];
    info->band_widths = entry + 2;
    info->band_starts = mpa_sfb_band_starts[list];
}
