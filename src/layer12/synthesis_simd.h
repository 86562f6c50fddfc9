// Polyphase synthesis: the instruction-set paths behind mpa_synthesize.
#ifndef ROVAZ_LAYER12_SYNTHESIS_SIMD_H
#define ROVAZ_LAYER12_SYNTHESIS_SIMD_H

struct mpa_synth_state;

// The synthesis window by term m = 0..15 of the windowing sums: [m][j] is the
// weight of row j = 0..15 in the direct sums, (-1)^m D[j + 32m]; [m][15 + j]
// that of row j = 1..16 in the mirrored sums, D[j + 32(15 - m)] for j < 16
// and for row 16 -D[16 + 32m] at odd m, 0 at even m.
alignas(32) extern const float mpa_synthesis_window_terms[16][32];

enum {
    MPA_SYNTH_PLAIN = 0,  // four-lane vectors: SSE, NEON
    MPA_SYNTH_AVX = 1     // x86 AVX, eight lanes
};

// The path mpa_synthesize takes on this machine.
int mpa_synth_best_path(void);

// mpa_synthesize on the given path; MPA_SYNTH_AVX only where
// mpa_synth_best_path() returns it. Both paths give the same output.
int mpa_synthesize_path(float *samples, int channel, mpa_synth_state *state, int path);

// mpa_synthesize on count consecutive slots of 32 samples, in place.
void mpa_synthesize_slots(float *slots, int count, int channel, mpa_synth_state *state);

#endif
