// 32-band polyphase synthesis filterbank of ISO/IEC 11172-3.
//
// The standard's matrixing, V FIFO and windowing are reorganised: the 64-point
// matrixing is a 32-point DCT-II (X[n] = sum_k s[k] cos(n(2k+1)pi/64)) done
// with Lee's factorisation, and since V[0..63] of one slot is made of
// X[16..31], 0 and -X[16..0] with symmetries, only 33 values per slot are
// kept. Per channel the history is two banks of 16 columns, a ring of 16
// slots, each column holding 17 rows one after the other. Even columns of the
// window bank hold X[16 + r] sets, odd columns X[16 - r] sets, so the window
// of output j walks row j only.
//
// The filterbank runs on four-lane vectors (SSE, NEON). On x86 processors
// with AVX, chosen per call from the CPU's feature bits, the windowing runs
// on eight lanes and the DCT is the same code in AVX's three-operand form.
// Both paths do the same operations per output in the same order: their
// output is the same to the bit.
#include "layer12/synthesis.h"

#include <string.h>

#include "core/decoder.h"
#include "core/frame.h"
#include "core/kernels.h"
#include "core/simd.h"
#include "layer12/synthesis_simd.h"


namespace {

constexpr int kBank = 272;    // 16 columns x 17 rows
constexpr int kColumn = 17;

using namespace mpa_simd;

// 4- and 2-point stages of four 4-point blocks d0..d3, lanes across blocks,
// with the recombination inside each block and inside each pair of blocks.
// Element k of block j goes to lane j of z[k].
inline void dct4x4(v4f d0, v4f d1, v4f d2, v4f d3, const float *f, v4f *z)
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
    z[0] = z0;
    z[1] = z1;
    z[2] = z2;
    z[3] = z3;
}

// Windowing of one slot from the window bank h, window column c (even).
// Term m of row j meets column c + m: the slot m steps back.
//   out[j]      = sum_m (-1)^m W_j[m] H[j][c + m]      j = 0..15
//   out[32 - j] = sum_m W_j[15 - m] H[j][c + m]        j = 1..15
//   out[16]     = -sum_n W_16[n] H[16][c + 2n + 1]
// mpa_synthesis_window_terms holds, per term m, the weights of rows 0..15 in
// the direct sums and of rows 1..16 in the mirrored ones, so that the lanes
// of a vector are consecutive rows of one column: no horizontal sums, and
// every output is the same products summed in the same order whatever the
// lane count and the ring position. Even and odd terms are summed apart, then
// added, to halve the dependency chains. Sums stay in single precision: the
// error against a double-precision filter stays near 0.015 at full scale,
// far below the rounding of 16-bit output. The column is a template argument
// so that every load has a fixed offset.
template <class V, int c, int kSide>
__attribute__((always_inline)) inline void window_side(const float *h, float *out)
{
    constexpr int kLanes = sizeof(V) / sizeof(float);
#pragma GCC unroll 4
    for (int k = 0; k < 16 / kLanes; k++) {
        const int row = kSide + kLanes * k;
        const float *w = &mpa_synthesis_window_terms[0][16 * kSide + kLanes * k];
        V even, odd, x, y;
#pragma GCC unroll 16
        for (int m = 0; m < 16; m++) {
            load(x, h + kColumn * ((c + m) & 15) + row);
            load(y, w + 32 * m);
            if (m == 0)
                even = x * y;
            else if (m == 1)
                odd = x * y;
            else if (m & 1)
                odd += x * y;
            else
                even += x * y;
        }
        V s = even + odd;
        if (kSide == 0) {
            store(out + kLanes * k, s);
        } else {
            // Row j of the mirrored sums is output 32 - j.
            if constexpr (kLanes == 4)
                s = __builtin_shufflevector(s, s, 3, 2, 1, 0);
            else
                s = __builtin_shufflevector(s, s, 7, 6, 5, 4, 3, 2, 1, 0);
            store(out + 32 - kLanes * (k + 1), s);
        }
    }
}

// Direct sums from row 0, mirrored ones from row 1.
template <class V, int c>
__attribute__((always_inline)) inline void window(const float *h, float *out)
{
    window_side<V, c, 0>(h, out);
    window_side<V, c, 1>(h, out);
}

// One function per window column. Inside one function GCC would hoist the
// window loads that all columns share and spill them.
typedef void (*window_fn)(const float *h, float *out);

template <int c>
void window_plain(const float *h, float *out)
{
    window<v4f, c>(h, out);
}

constexpr window_fn kWindowPlain[8] = {
    window_plain<0>, window_plain<2>, window_plain<4>,  window_plain<6>,
    window_plain<8>, window_plain<10>, window_plain<12>, window_plain<14>,
};

#if MPA_HAVE_AVX_KERNELS
template <int c>
__attribute__((target("avx"))) void window_avx(const float *h, float *out)
{
    window<v8f, c>(h, out);
}

constexpr window_fn kWindowAvx[8] = {
    window_avx<0>, window_avx<2>, window_avx<4>,  window_avx<6>,
    window_avx<8>, window_avx<10>, window_avx<12>, window_avx<14>,
};
#endif

// Lee's recursive DCT-II. An N-point stage turns a block x[0..N-1] into sums
// x[i] + x[N-1-i] and differences (x[i] - x[N-1-i]) / (2cos((2i+1)pi/2N)),
// i < N/2. The N-point DCT of the block is then the N/2-point DCT A of the
// sums at even outputs, and B[n] + B[n + 1] (B[N/2] = 0) at odd outputs, B
// being the N/2-point DCT of the differences. Five stages of 16
// multiplications, fully unrolled. The outputs go down col_lo and col_hi as
// mpa_dct32 says, with a stride of kStride floats.
template <int kStride>
__attribute__((always_inline)) inline void dct32(const float *in, float *col_lo, float *col_hi)
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
    // blocks, which gives the 8-point DCTs E0 of (d0, d1), E1 of (d2, d3), E2
    // of (d4, d5) and E3 of (d6, d7) as z[0] = {E0[0], E0[1], E1[0], E1[1]},
    // z[1] the same at [4], [5], z[2] at [2], [3], z[3] at [6], [7]; z[4..7]
    // likewise for E2 and E3.
    v4f z[8];
    dct4x4(d0, d1, d2, d3, f, z);
    dct4x4(d4, d5, d6, d7, f, z + 4);
    const v4f e0l = __builtin_shufflevector(z[0], z[2], 0, 1, 4, 5);
    const v4f e0h = __builtin_shufflevector(z[1], z[3], 0, 1, 4, 5);
    const v4f e1l = __builtin_shufflevector(z[0], z[2], 2, 3, 6, 7);
    const v4f e1h = __builtin_shufflevector(z[1], z[3], 2, 3, 6, 7);
    const v4f e2l = __builtin_shufflevector(z[4], z[6], 0, 1, 4, 5);
    const v4f e2h = __builtin_shufflevector(z[5], z[7], 0, 1, 4, 5);
    const v4f e3l = __builtin_shufflevector(z[4], z[6], 2, 3, 6, 7);
    const v4f e3h = __builtin_shufflevector(z[5], z[7], 2, 3, 6, 7);

    // 16- and 32-point recombinations. With E[8] = 0, for m = 0..7:
    //   X[4m] = E0[m]                    X[4m + 1] = E2[m] + (E3[m] + E3[m + 1])
    //   X[4m + 2] = E1[m] + E1[m + 1]    X[4m + 3] = (E3[m] + E3[m + 1]) + E2[m + 1]
    // Lane m of each sum, then transposed.
    const v4f zero = {0.0f, 0.0f, 0.0f, 0.0f};
#define NEXT(lo, hi) __builtin_shufflevector(lo, hi, 1, 2, 3, 4)
    const v4f s3l = e3l + NEXT(e3l, e3h), s3h = e3h + NEXT(e3h, zero);
    v4f x[8] = {
        e0l, e2l + s3l, e1l + NEXT(e1l, e1h), s3l + NEXT(e2l, e2h),
        e0h, e2h + s3h, e1h + NEXT(e1h, zero), s3h + NEXT(e2h, zero),
    };
#undef NEXT
    transpose4(x);
    transpose4(x + 4);

    // x[i] = X[4i .. 4i + 3].
    if (kStride == 1) {
        col_lo[0] = x[4][0];  // X[16]
        for (int i = 0; i < 4; i++) {
            store4(col_lo + 13 - 4 * i, reverse4(x[i]));
            store4(col_hi + 4 * i, x[4 + i]);
        }
    } else {
        float X[32];
        for (int i = 0; i < 8; i++)
            store4(X + 4 * i, x[i]);
        for (int r = 0; r <= 16; r++)
            col_lo[r * kStride] = X[16 - r];
        for (int r = 0; r < 16; r++)
            col_hi[r * kStride] = X[16 + r];
    }
}

void dct32_plain(const float *in, float *col_lo, float *col_hi)
{
    dct32<1>(in, col_lo, col_hi);
}

#if MPA_HAVE_AVX_KERNELS
// The same four-lane code; AVX's three-operand instructions save the copies.
__attribute__((target("avx"))) void dct32_avx(const float *in, float *col_lo, float *col_hi)
{
    dct32<1>(in, col_lo, col_hi);
}
#endif

// Synthesises count slots of one channel: slot s from in + s * in_stride
// (32 subband samples, read before out is written, so in may be out) into
// out + 32 s. The ring position and the path are handled once per call.
template <bool kAvx>
void synthesize_slots(const float *in, int in_stride, float *out, int count, int channel,
                      mpa_synth_state *state)
{
    float *bank0 = state->synth_history[channel];
    float *bank1 = bank0 + kBank;
    int p = state->synth_phase[channel];
    for (int s = 0; s < count; s++, in += in_stride, out += 32) {
        const int q = (p - 1) & 15;
        float *h, *col_lo, *col_hi;
        int c;
        if (p & 1) {
            col_lo = bank0 + kColumn * p;
            col_hi = bank1 + kColumn * q;
            h = bank1;
            c = q;
        } else {
            col_lo = bank1 + kColumn * q;
            col_hi = bank0 + kColumn * p;
            h = bank0;
            c = p;
        }
        col_hi[16] = 0.0f;  // row 16 of an X[16 + r] column: weight 0, kept finite
#if MPA_HAVE_AVX_KERNELS
        if (kAvx) {
            dct32_avx(in, col_lo, col_hi);
            kWindowAvx[c >> 1](h, out);
        } else
#endif
        {
            dct32_plain(in, col_lo, col_hi);
            kWindowPlain[c >> 1](h, out);
        }
        p = q;
    }
    state->synth_phase[channel] = p;
}

}  // namespace

void mpa_dct32(float *in, float *col_lo, float *col_hi)
{
    dct32<16>(in, col_lo, col_hi);
}

void mpa_synth_slots_plain(const float *in, int in_stride, float *out, int count, int channel,
                           mpa_synth_state *state)
{
    synthesize_slots<false>(in, in_stride, out, count, channel, state);
}

#if MPA_HAVE_AVX_KERNELS
void mpa_synth_slots_avx(const float *in, int in_stride, float *out, int count, int channel,
                         mpa_synth_state *state)
{
    synthesize_slots<true>(in, in_stride, out, count, channel, state);
}
#endif

int mpa_synthesize(float *samples, int channel, mpa_synth_state *state)
{
    mpa_kernels_active().synth_slots(samples, 32, samples, 1, channel, state);
    return 0;
}

void mpa_synthesize_slots(float *slots, int count, int channel, mpa_synth_state *state)
{
    mpa_kernels_active().synth_slots(slots, 32, slots, count, channel, state);
}

void mpa_layer12_synthesize(mpa_frame_ctx *ctx, int mode)
{
    const int slots = mode == 1 ? 12 : 36;
    const int channels = ctx->decoder->header.n_channels;
    const mpa_kernels &k = mpa_kernels_active();
    for (int ch = 0; ch < channels; ch++)
        k.synth_slots(ctx->samples + 32 * ch, 64, ctx->pcm + 1152 * ch, slots, ch, ctx->synth);
}
