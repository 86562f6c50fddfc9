// 32-band polyphase synthesis filterbank of ISO/IEC 11172-3.
//
// The standard's matrixing, V FIFO and windowing are reorganised: the 64-point
// matrixing is a 32-point DCT-II (X[n] = sum_k s[k] cos(n(2k+1)pi/64)) done
// with Lee's factorisation, and since V[0..63] of one slot is made of
// X[16..31], 0 and -X[16..0] with symmetries, only 33 values per slot are
// kept. Per channel the history is two banks of 17 rows x 16 columns; the
// columns are a ring of 16 slots. Even columns of the window bank hold
// X[16 + r] sets, odd columns X[16 - r] sets, so the window of output j walks
// row j only.
#include "layer12/synthesis.h"

#include <string.h>

#include "core/decoder.h"
#include "core/frame.h"

namespace {

constexpr int kBank = 272;  // 17 rows x 16 columns

// Four-lane float vectors (GCC/Clang vector extensions): SSE on x86, NEON on
// ARM. The ring of 16 columns defeats the auto-vectoriser (it falls back to
// scalar code at -O3), so the lanes are spelled out.
typedef float v4f __attribute__((vector_size(16)));

inline v4f load4(const float *p)
{
    v4f v;
    memcpy(&v, p, sizeof v);
    return v;
}

inline void store4(float *p, v4f v)
{
    memcpy(p, &v, sizeof v);
}

inline v4f reverse4(v4f a)
{
    return __builtin_shufflevector(a, a, 3, 2, 1, 0);
}

// Columns c .. c + 3 of a history row, c even, modulo 16. cb is c rounded
// down to a multiple of 4, so the loads stay within the row; when c is not a
// multiple of 4 (kHalf) the window straddles two aligned blocks.
template <bool kHalf>
inline v4f columns4(const float *row, int cb, int g)
{
    const v4f lo = load4(row + ((cb + 4 * g) & 15));
    if (!kHalf)
        return lo;
    const v4f hi = load4(row + ((cb + 4 * g + 4) & 15));
    return __builtin_shufflevector(lo, hi, 2, 3, 4, 5);
}

// {sum x0, sum x1, sum x2, sum x3} over lanes; with kAlternate the odd lanes
// are subtracted.
template <bool kAlternate>
inline v4f lane_sums(v4f x0, v4f x1, v4f x2, v4f x3)
{
    const v4f t01 = __builtin_shufflevector(x0, x1, 0, 4, 1, 5) +
                    __builtin_shufflevector(x0, x1, 2, 6, 3, 7);
    const v4f t23 = __builtin_shufflevector(x2, x3, 0, 4, 1, 5) +
                    __builtin_shufflevector(x2, x3, 2, 6, 3, 7);
    const v4f even = __builtin_shufflevector(t01, t23, 0, 1, 4, 5);
    const v4f odd = __builtin_shufflevector(t01, t23, 2, 3, 6, 7);
    return kAlternate ? even - odd : even + odd;
}

// 4- and 2-point stages of four 4-point blocks d0..d3, lanes across blocks,
// with the recombination inside each block and inside each pair of blocks.
// Writes element k of block j to u[4k + j].
inline void dct4x4(v4f d0, v4f d1, v4f d2, v4f d3, const float *f, float *u)
{
    const v4f t0 = __builtin_shufflevector(d0, d1, 0, 4, 1, 5);
    const v4f t1 = __builtin_shufflevector(d0, d1, 2, 6, 3, 7);
    const v4f t2 = __builtin_shufflevector(d2, d3, 0, 4, 1, 5);
    const v4f t3 = __builtin_shufflevector(d2, d3, 2, 6, 3, 7);
    const v4f e0 = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
    const v4f e1 = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
    const v4f e2 = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
    const v4f e3 = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
    // 4 points.
    const v4f s0 = e0 + e3, s1 = e1 + e2, s2 = (e0 - e3) * f[1], s3 = (e1 - e2) * f[2];
    // 2 points, and the 4-point recombination B[0] += B[1].
    v4f z0 = s0 + s1, z1 = (s0 - s1) * f[0], z2 = s2 + s3;
    const v4f z3 = (s2 - s3) * f[0];
    z2 += z3;
    // 8-point recombination on the difference blocks (odd lanes):
    // B = {z0, z2, z1, z3} in bit-reversed order.
    const v4f zero = {0.0f, 0.0f, 0.0f, 0.0f};
    z0 += __builtin_shufflevector(z2, zero, 4, 1, 4, 3);
    z2 += __builtin_shufflevector(z1, zero, 4, 1, 4, 3);
    z1 += __builtin_shufflevector(z3, zero, 4, 1, 4, 3);
    store4(u, z0);
    store4(u + 4, z1);
    store4(u + 8, z2);
    store4(u + 12, z3);
}

// Windowing of one slot from the window bank h, window column c = cb (+ 2
// when kHalf). Term m of row j meets column c + m: the slot m steps back.
//   out[j]      = sum_m (-1)^m W_j[m] H[j][c + m]      j = 0..15
//   out[32 - j] = sum_m W_j[15 - m] H[j][c + m]        j = 1..15
//   out[16]     = -sum_n W_16[n] H[16][c + 2n + 1]
// Lane k of a row's partial sums carries the terms m = k (mod 4); the lanes
// of four rows are summed together. The sums stay in single precision: the
// error against a double-precision filter stays near 0.015 at full scale,
// far below the rounding of 16-bit output.
template <bool kHalf>
void window(const float *h, int cb, float *out)
{
    const float *w = mpa_synthesis_window;
    v4f direct[16], mirror[17];
    for (int j = 0; j < 16; j++) {
        const float *row = h + 16 * j;
        const float *wr = w + 16 * j;
        v4f a = {0.0f, 0.0f, 0.0f, 0.0f};
        v4f b = {0.0f, 0.0f, 0.0f, 0.0f};
#pragma GCC unroll 4
        for (int g = 0; g < 4; g++) {
            const v4f v = columns4<kHalf>(row, cb, g);
            a += v * load4(wr + 4 * g);
            b += v * reverse4(load4(wr + 12 - 4 * g));
        }
        direct[j] = a;
        mirror[j] = b;
    }
    {
        // Row 16: only odd columns (odd m) carry values.
        const float *row = h + 16 * 16;
        const v4f v0 = columns4<kHalf>(row, cb, 0), v1 = columns4<kHalf>(row, cb, 1);
        const v4f v2 = columns4<kHalf>(row, cb, 2), v3 = columns4<kHalf>(row, cb, 3);
        mirror[16] = -(__builtin_shufflevector(v0, v1, 1, 3, 5, 7) * load4(w + 256) +
                       __builtin_shufflevector(v2, v3, 1, 3, 5, 7) * load4(w + 260));
    }
    for (int j = 0; j < 16; j += 4)
        store4(out + j, lane_sums<true>(direct[j], direct[j + 1], direct[j + 2], direct[j + 3]));
    for (int j = 16; j < 32; j += 4)
        store4(out + j, lane_sums<false>(mirror[32 - j], mirror[31 - j], mirror[30 - j],
                                         mirror[29 - j]));
}

}  // namespace

// Lee's recursive DCT-II. An N-point stage turns a block x[0..N-1] into sums
// x[i] + x[N-1-i] and differences (x[i] - x[N-1-i]) / (2cos((2i+1)pi/2N)),
// i < N/2. The N-point DCT of the block is then the N/2-point DCT A of the
// sums at even outputs, and B[n] + B[n + 1] (B[N/2] = 0) at odd outputs, B
// being the N/2-point DCT of the differences. Five stages of 16
// multiplications, fully unrolled.
void mpa_dct32(float *in, float *col_lo, float *col_hi)
{
    const float *f = mpa_dct_factors;

    // 32 points; the difference is taken the other way round since the
    // factors of this stage are stored negated.
    const v4f x0 = load4(in), x1 = load4(in + 4), x2 = load4(in + 8), x3 = load4(in + 12);
    const v4f y0 = reverse4(load4(in + 28)), y1 = reverse4(load4(in + 24));
    const v4f y2 = reverse4(load4(in + 20)), y3 = reverse4(load4(in + 16));
    const v4f a0 = x0 + y0, a1 = x1 + y1, a2 = x2 + y2, a3 = x3 + y3;
    const v4f b0 = (y0 - x0) * load4(f + 15), b1 = (y1 - x1) * load4(f + 19);
    const v4f b2 = (y2 - x2) * load4(f + 23), b3 = (y3 - x3) * load4(f + 27);

    // 16 points, blocks a and b.
    const v4f f16l = load4(f + 7), f16h = load4(f + 11);
    const v4f ra3 = reverse4(a3), ra2 = reverse4(a2), rb3 = reverse4(b3), rb2 = reverse4(b2);
    const v4f c0 = a0 + ra3, c1 = a1 + ra2, c2 = (a0 - ra3) * f16l, c3 = (a1 - ra2) * f16h;
    const v4f c4 = b0 + rb3, c5 = b1 + rb2, c6 = (b0 - rb3) * f16l, c7 = (b1 - rb2) * f16h;

    // 8 points, four blocks of two vectors.
    const v4f f8 = load4(f + 3);
    const v4f rc1 = reverse4(c1), rc3 = reverse4(c3), rc5 = reverse4(c5), rc7 = reverse4(c7);
    const v4f d0 = c0 + rc1, d1 = (c0 - rc1) * f8, d2 = c2 + rc3, d3 = (c2 - rc3) * f8;
    const v4f d4 = c4 + rc5, d5 = (c4 - rc5) * f8, d6 = c6 + rc7, d7 = (c6 - rc7) * f8;

    // Each d is one 4-point block. The 4- and 2-point stages and the
    // recombinations within 8-point blocks run on transposed groups of four
    // blocks. Outputs of every block stay in bit-reversed order, so that
    // position i holds X[bitrev5(i)]; u keeps the groups transposed.
    float u[32];
    dct4x4(d0, d1, d2, d3, f, u);
    dct4x4(d4, d5, d6, d7, f, u + 16);
#define T(i) u[((i) & 16) | (((i) & 3) << 2) | (((i) >> 2) & 3)]
    // 16-point recombinations, B[n] += B[n + 1] in bit-reversed positions
    // (ascending n reads B[n + 1] before it changes).
#define R16(b) T(b + 8) += T(b + 12); T(b + 12) += T(b + 10); T(b + 10) += T(b + 14); \
               T(b + 14) += T(b + 9); T(b + 9) += T(b + 13); T(b + 13) += T(b + 11); \
               T(b + 11) += T(b + 15);
    R16(0) R16(16)
#undef R16
    // 32 points.
    T(16) += T(24); T(24) += T(20); T(20) += T(28); T(28) += T(18);
    T(18) += T(26); T(26) += T(22); T(22) += T(30); T(30) += T(17);
    T(17) += T(25); T(25) += T(21); T(21) += T(29); T(29) += T(19);
    T(19) += T(27); T(27) += T(23); T(23) += T(31);

    // X[k] is at T(bitrev5(k)).
    col_lo[0 * 16] = T(1);    // X[16]
    col_lo[1 * 16] = T(30);   // X[15]
    col_lo[2 * 16] = T(14);   // X[14]
    col_lo[3 * 16] = T(22);   // X[13]
    col_lo[4 * 16] = T(6);    // X[12]
    col_lo[5 * 16] = T(26);   // X[11]
    col_lo[6 * 16] = T(10);   // X[10]
    col_lo[7 * 16] = T(18);   // X[9]
    col_lo[8 * 16] = T(2);    // X[8]
    col_lo[9 * 16] = T(28);   // X[7]
    col_lo[10 * 16] = T(12);  // X[6]
    col_lo[11 * 16] = T(20);  // X[5]
    col_lo[12 * 16] = T(4);   // X[4]
    col_lo[13 * 16] = T(24);  // X[3]
    col_lo[14 * 16] = T(8);   // X[2]
    col_lo[15 * 16] = T(16);  // X[1]
    col_lo[16 * 16] = T(0);   // X[0]
    col_hi[0 * 16] = T(1);    // X[16]
    col_hi[1 * 16] = T(17);   // X[17]
    col_hi[2 * 16] = T(9);    // X[18]
    col_hi[3 * 16] = T(25);   // X[19]
    col_hi[4 * 16] = T(5);    // X[20]
    col_hi[5 * 16] = T(21);   // X[21]
    col_hi[6 * 16] = T(13);   // X[22]
    col_hi[7 * 16] = T(29);   // X[23]
    col_hi[8 * 16] = T(3);    // X[24]
    col_hi[9 * 16] = T(19);   // X[25]
    col_hi[10 * 16] = T(11);  // X[26]
    col_hi[11 * 16] = T(27);  // X[27]
    col_hi[12 * 16] = T(7);   // X[28]
    col_hi[13 * 16] = T(23);  // X[29]
    col_hi[14 * 16] = T(15);  // X[30]
    col_hi[15 * 16] = T(31);  // X[31]
#undef T
}

int mpa_synthesize(float *samples, int channel, mpa_synth_state *state)
{
    const int p = state->synth_phase[channel];
    const int q = (p - 1) & 15;
    state->synth_phase[channel] = q;

    float *bank0 = state->synth_history[channel];
    float *bank1 = bank0 + kBank;
    const float *h;
    int c;
    if (p & 1) {
        mpa_dct32(samples, bank0 + p, bank1 + q);
        h = bank1;
        c = q;
    } else {
        mpa_dct32(samples, bank1 + q, bank0 + p);
        h = bank0;
        c = p;
    }
    if (c & 2)
        window<true>(h, c & 12, samples);
    else
        window<false>(h, c, samples);
    return 0;
}

void mpa_layer12_synthesize(mpa_frame_ctx *ctx, int mode)
{
    const int slots = mode == 1 ? 12 : 36;
    const int channels = ctx->decoder->header.n_channels;
    for (int ch = 0; ch < channels; ch++) {
        float *pcm = ctx->pcm + 1152 * ch;
        const float *in = ctx->samples + 32 * ch;
        for (int s = 0; s < slots; s++) {
            memcpy(pcm + 32 * s, in + 64 * s, 32 * sizeof(float));
            mpa_synthesize(pcm + 32 * s, ch, ctx->synth);
        }
    }
}
