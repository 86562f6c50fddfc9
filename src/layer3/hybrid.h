// Layer III hybrid synthesis: alias reduction, IMDCT with windowing and
// overlap-add, frequency inversion and the hand-off to the polyphase filterbank.
// mpa_layer3_hybrid itself is declared in layer3/layer3.h.
#ifndef ROVAZ_LAYER3_HYBRID_H
#define ROVAZ_LAYER3_HYBRID_H

#include "core/frame.h"

// Alias-reduction butterflies (ISO/IEC 11172-3 Table B.9).
extern const float mpa_alias_cs[8];
extern const float mpa_alias_ca[8];
// Window ratios: normal window (C), start/stop windows (R), short window (D).
extern const float mpa_long_ratio[9];
extern const float mpa_switch_ratio[12];
extern const float mpa_short_ratio[3];
// Kernel constants; the *_post factors carry the sine window.
extern const float mpa_imdct36_twiddle[9];
extern const float mpa_imdct36_post[18];
extern const float mpa_imdct12_twiddle[3];
extern const float mpa_imdct12_post[6];
extern const float mpa_imdct9_cos[9];  // cos(k pi / 18)

// Butterflies at all 31 subband boundaries of a 576-line spectrum, in place.
void mpa_layer3_alias_reduce(float *spectrum);

// One subband: IMDCT of in[0..17] windowed for block_type (0 normal, 1 start,
// 2 short, 3 stop), added to overlap[0..17] into out[0..17]; overlap then
// receives the windowed second half.
void mpa_layer3_imdct_subband(float *out, const float *in, float *overlap, int block_type);

// 18-point kernel: out[m] = -sin(|2m - 17| pi / 72) * sum_k in[k] cos((2m + 1)(2k + 1) pi / 72).
void mpa_imdct36(float *out, const float *in);
// 6-point kernel on in[0], in[3], ..., in[15]:
// out[m] = -sin(|2m - 5| pi / 24) * sum_k in[3k] cos((2m + 1)(2k + 1) pi / 24).
void mpa_imdct12(float *out, const float *in);

// mpa_layer3_hybrid for a spectrum whose lines from `lines` on are zero: the
// subbands above it are not transformed, only their overlap is passed on.
// The output is that of lines = 576 up to the sign of zero values.
// long_subbands is 0 or 2.
// The overlap store holds, per group of four subbands, 18 slots of four lanes.
int mpa_layer3_hybrid_lines(mpa_frame_ctx *ctx, float *spectrum, float *output, int block_type,
                            int long_subbands, int channel, int lines);

// The kernels behind it (core/kernels.h picks one): the IMDCT, windowing and
// overlap of `active` groups of four subbands, the spectrum's 18 lines per
// subband into output's 18 slots of 32. Both give the same output.
void mpa_imdct_groups_plain(const float *spectrum, float *overlap, float *output, int block_type,
                            int long_subbands, int active);
#if defined(__x86_64__) || defined(__i386__)
void mpa_imdct_groups_avx(const float *spectrum, float *overlap, float *output, int block_type,
                          int long_subbands, int active);
#endif

#endif
