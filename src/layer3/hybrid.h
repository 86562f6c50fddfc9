// Layer III hybrid synthesis: alias reduction, IMDCT with windowing and
// overlap-add, frequency inversion and the hand-off to the polyphase filterbank.
#ifndef ROVAZ_LAYER3_HYBRID_H
#define ROVAZ_LAYER3_HYBRID_H

#include "core/frame_ctx.h"

// One subband: IMDCT of in[0..17] windowed for block_type (0 normal, 1 start,
// 2 short, 3 stop), added to overlap[0..17] into out[0..17]; overlap then
// receives the windowed second half.
void mpa_layer3_imdct_subband(float *out, const float *in, float *overlap, int block_type);

// Hybrid synthesis of one granule and channel into 18 filterbank time slots.
int mpa_layer3_hybrid(mpa_frame_ctx *ctx, float *spectrum, float *output, int block_type,
                      int long_subbands, int channel);

// mpa_layer3_hybrid for a spectrum whose lines from `lines` on are zero: the
// subbands above it are not transformed, only their overlap is passed on.
// The output is that of lines = 576 up to the sign of zero values.
// long_subbands is 0 or 2.
// The overlap store holds, per pair of groups of four subbands, 18 slots of
// eight lanes.
int mpa_layer3_hybrid_lines(mpa_frame_ctx *ctx, float *spectrum, float *output, int block_type,
                            int long_subbands, int channel, int lines);

// The kernels behind it (core/kernels.h picks one): the alias-reduction
// butterflies at the lowest `boundaries` subband boundaries of a spectrum; the IMDCT, windowing and
// overlap of `active` groups of four subbands, the spectrum's 18 lines per
// subband into output's 18 slots of 32. Both give the same output.
void mpa_alias_butterflies_plain(float *x, int boundaries);
void mpa_imdct_groups_plain(const float *spectrum, float *overlap, float *output, int block_type,
                            int long_subbands, int active);
#if defined(__x86_64__) || defined(__i386__)
void mpa_alias_butterflies_avx(float *x, int boundaries);
void mpa_imdct_groups_avx(const float *spectrum, float *overlap, float *output, int block_type,
                          int long_subbands, int active);
#endif

#endif
