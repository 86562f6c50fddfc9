// Layer III Huffman decoding: one routine per code table of ISO/IEC 11172-3
// Table B.7, writing signed n^(4/3) values into a granule's spectrum.
#ifndef ROVAZ_LAYER3_HUFFMAN_H
#define ROVAZ_LAYER3_HUFFMAN_H

#include <cstdint>
#include "core/frame_ctx.h"
#include "layer3/granule_info.h"

// Decodes `pairs` value pairs of one big-value region from ctx->bits and
// advances *cursor by two lines per pair, writing each line (zeros as +0).
// linbits is read only by the decoders of tables 16..31.
typedef void (*mpa_huff_pairs_fn)(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits);

// Decodes count1 quadruples (all four lines written, zeros included) while
// budget bits remain and four lines are left before end. Returns -1 when the
// last quadruple needed more bits than the budget held (its bits are not
// consumed, its lines are written and *cursor is after it), else 0.
typedef int (*mpa_huff_quads_fn)(mpa_frame_ctx *ctx, float **cursor, int budget, float *end);

void mpa_huff_pairs_0(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits);
void mpa_huff_pairs_none(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits);
void mpa_huff_pairs_1(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits);
void mpa_huff_pairs_2(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits);
void mpa_huff_pairs_3(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits);
void mpa_huff_pairs_5(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits);
void mpa_huff_pairs_6(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits);
void mpa_huff_pairs_7(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits);
void mpa_huff_pairs_8(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits);
void mpa_huff_pairs_9(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits);
void mpa_huff_pairs_10(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits);
void mpa_huff_pairs_11(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits);
void mpa_huff_pairs_12(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits);
void mpa_huff_pairs_13(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits);
void mpa_huff_pairs_15(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits);
void mpa_huff_pairs_16(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits);
void mpa_huff_pairs_24(mpa_frame_ctx *ctx, float **cursor, int pairs, int linbits);
int mpa_huff_quads_a(mpa_frame_ctx *ctx, float **cursor, int budget, float *end);
int mpa_huff_quads_b(mpa_frame_ctx *ctx, float **cursor, int budget, float *end);

// Huffman decoding of one granule into signed n^(4/3) values.
// Returns 0, or 1 when a big-value region ran past the granule's end.
int mpa_layer3_huffman(mpa_granule_info *info, mpa_frame_ctx *ctx, float *spectrum,
                       int part2_bits);
// The big-value pairs of each region from the region counts and band list.
void mpa_layer3_regions(mpa_granule_info *info);

// mpa_layer3_huffman that also reports in *lines where the decoded lines end:
// every line below is written, the lines from there on are not. 576 when it
// returns 1.
int mpa_layer3_huffman_lines(mpa_granule_info *info, mpa_frame_ctx *ctx, float *spectrum,
                             int part2_bits, int *lines);

// Pair decoders by table_select, quadruple decoders by count1table_select.
extern const mpa_huff_pairs_fn mpa_huff_pair_decoders[32];
extern const mpa_huff_quads_fn mpa_huff_quad_decoders[2];

#endif
