// Polyphase synthesis: the instruction-set paths behind mpa_synthesize.
#ifndef ROVAZ_LAYER12_SYNTHESIS_SIMD_H
#define ROVAZ_LAYER12_SYNTHESIS_SIMD_H

struct mpa_synth_state;

// The synthesis window by term m = 0..15 of the windowing sums: [m][j] is the
// weight of row j = 0..15 in the direct sums, (-1)^m D[j + 32m]; [m][15 + j]
// that of row j = 1..16 in the mirrored sums, D[j + 32(15 - m)] for j < 16
// and for row 16 -D[16 + 32m] at odd m, 0 at even m.
alignas(32) extern const float mpa_synthesis_window_terms[16][32];

// The kernels behind mpa_synthesize (core/kernels.h picks one): count slots
// of one channel, slot s from in + s * in_stride (read before out is
// written, so in may be out) into out + 32 s. Both give the same output.
void mpa_synth_slots_plain(const float *in, int in_stride, float *out, int count, int channel,
                           mpa_synth_state *state);
#if defined(__x86_64__) || defined(__i386__)
void mpa_synth_slots_avx(const float *in, int in_stride, float *out, int count, int channel,
                         mpa_synth_state *state);
#endif

// mpa_synthesize on count consecutive slots of 32 samples, in place.
void mpa_synthesize_slots(float *slots, int count, int channel, mpa_synth_state *state);

#endif
