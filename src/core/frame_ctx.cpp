// Frame context set-up, shared by the frame driver and the stage tests.
#include "core/frame_ctx.h"

void mpa_frame_ctx_init(mpa_frame_ctx *ctx, mpa_decoder *dec, float *pcm, mpa_bitstream *bits,
                        mpa_frame_scratch *scratch)
{
    ctx->bits = bits;
    ctx->pcm = pcm;
    ctx->decoder = dec;
    ctx->synth = dec ? &dec->synth : nullptr;
    ctx->imdct_overlap = dec ? &dec->imdct_overlap[0][0] : nullptr;
    ctx->reservoir = dec ? dec->reservoir : nullptr;
    ctx->spectrum = scratch ? scratch->values : nullptr;
    ctx->samples = ctx->spectrum;
    ctx->allocation = scratch ? scratch->allocation : nullptr;
    ctx->scalefactor_index = scratch ? scratch->scalefactor_index : nullptr;
    ctx->skip_crc = dec ? dec->skip_crc : 0;
    ctx->reservoir_fill = dec ? dec->reservoir_fill : 0;
    ctx->alloc_table = nullptr;
    ctx->grouping[0] = nullptr;
    ctx->grouping[1] = dec ? dec->grouping_9 : nullptr;
    ctx->grouping[2] = dec ? dec->grouping_3 : nullptr;
    ctx->grouping[3] = dec ? dec->grouping_5 : nullptr;
}
