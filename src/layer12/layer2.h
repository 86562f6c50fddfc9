// Layer II frame decoder and its reading steps.
#ifndef ROVAZ_LAYER12_LAYER2_H
#define ROVAZ_LAYER12_LAYER2_H

#include <cstdint>
#include "core/frame_ctx.h"

// Decodes one frame into ctx->pcm.
int mpa_layer2_decode(mpa_frame_ctx *ctx);

// The steps, in bitstream order. ctx->alloc_table must be set. bound is the
// first subband whose allocation both channels share (0 for mono).
void mpa_layer2_read_allocation(mpa_frame_ctx *ctx, int bound, int sblimit);
// scfsi[sb][ch]: 0..3 as read, 4 when the channel has no allocation in sb.
void mpa_layer2_read_scfsi(mpa_frame_ctx *ctx, int sblimit, uint8_t (*scfsi)[2], int nch);
void mpa_layer2_read_scalefactors(mpa_frame_ctx *ctx, int sblimit, const uint8_t (*scfsi)[2],
                                  int nch);
// Reads the 12 granules into ctx->samples [36][2][32]. Returns MPA_ERROR for a
// grouped code that no sample triplet maps to, else MPA_OK.
int mpa_layer2_read_samples(mpa_frame_ctx *ctx, int bound, int sblimit, int nch);

// Index into mpa_layer2_alloc_tables for the frame's header, or -1 when an
// MPEG-1 frame's rate per channel exceeds 192 kbit/s. Free format takes the
// table of the highest rates, 0 at 48 kHz and 1 at 44.1 and 32 kHz.
int mpa_layer2_select_table(const mpa_header *h);

#endif
