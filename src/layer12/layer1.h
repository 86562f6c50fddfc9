// Layer I frame decoder.
#ifndef ROVAZ_LAYER12_LAYER1_H
#define ROVAZ_LAYER12_LAYER1_H

#include "core/frame_ctx.h"

// Decodes one frame into ctx->pcm.
int mpa_layer1_decode(mpa_frame_ctx *ctx);

// Reads and dequantises the 12 blocks into ctx->samples [12][2][32] from
// ctx->allocation and ctx->scalefactor_index ([2][32] each).
void mpa_layer1_read_samples(mpa_frame_ctx *ctx, int nch, int bound);

#endif
