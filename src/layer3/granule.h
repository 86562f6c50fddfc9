// Layer III granule setup.
#ifndef ROVAZ_LAYER3_GRANULE_H
#define ROVAZ_LAYER3_GRANULE_H

#include "core/frame_ctx.h"
#include "layer3/granule_info.h"

// Block kind, implied region counts and band list of a granule whose side
// information is read.
void mpa_layer3_granule_bands(const mpa_frame_ctx *ctx, mpa_granule_info *info);

// The band list of row `list` of the scale-factor band tables:
// (version * 4 + sampling_index) * 3 + block_kind.
void mpa_layer3_set_band_list(mpa_granule_info *info, int list);

#endif
