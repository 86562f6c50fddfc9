// 32-band polyphase synthesis filterbank shared by every layer.
#ifndef ROVAZ_LAYER12_SYNTHESIS_H
#define ROVAZ_LAYER12_SYNTHESIS_H

#include <cstdint>

struct mpa_synth_state;
struct mpa_frame_ctx;

// Replaces the 32 subband samples of one time slot with its 32 output samples.
int mpa_synthesize(float *samples, int channel, mpa_synth_state *state);
// mpa_synthesize on count consecutive slots of 32 samples, in place.
void mpa_synthesize_slots(float *slots, int count, int channel, mpa_synth_state *state);
// Layers I/II: mode 1 synthesises 12 slots per channel, mode 2 36.
void mpa_layer12_synthesize(mpa_frame_ctx *ctx, int mode);

// The kernels behind mpa_synthesize (core/kernels.h picks one): count slots
// of one channel, slot s from in + s * in_stride (read before out is
// written, so in may be out) into out + 32 s. Both give the same output.
void mpa_synth_slots_plain(const float *in, int in_stride, float *out, int count, int channel,
                           mpa_synth_state *state);
#if defined(__x86_64__) || defined(__i386__)
void mpa_synth_slots_avx(const float *in, int in_stride, float *out, int count, int channel,
                         mpa_synth_state *state);
#endif

#endif
