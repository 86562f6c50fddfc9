// 32-band polyphase synthesis filterbank shared by every layer.
#ifndef ROVAZ_LAYER12_SYNTHESIS_H
#define ROVAZ_LAYER12_SYNTHESIS_H

#include <stdint.h>

struct mpa_synth_state;
struct mpa_frame_ctx;

extern const float mpa_synthesis_window[264];
extern const float mpa_dct_factors[31];

// Replaces the 32 subband samples of one time slot with its 32 output samples.
int mpa_synthesize(float *samples, int channel, mpa_synth_state *state);
// 32-point DCT-II; writes X[16 - r] (r = 0..16) down col_lo and X[16 + r]
// (r = 0..15) down col_hi, both with a stride of 16 floats. May clobber in.
void mpa_dct32(float *in, float *col_lo, float *col_hi);
// Layers I/II: mode 1 synthesises 12 slots per channel, mode 2 36.
void mpa_layer12_synthesize(mpa_frame_ctx *ctx, int mode);

#endif
