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
// on eight lanes, two slots at a time where it can (each window weight loaded
// once for both), and the DCT is the same code on eight slots at once or in
// AVX's three-operand form.
// Both paths do the same operations per output in the same order: their
// output is the same to the bit.
#include "layer12/synthesis.h"

#include <cstring>

#include "core/decoder.h"
#include "core/frame_ctx.h"
#include "core/kernels.h"
#include "core/simd.h"
#include "layer12/synthesis_tables.h"



namespace {

constexpr int kBank = 272;    // 16 columns x 17 rows
constexpr int kColumn = 17;

using namespace mpa_simd;

// The DCT below is written once over a four-element type V: v4f, one slot's
// four neighbouring values in the lanes of a vector, or slots4<E>, four E
// vectors that each hold one value of eight slots. The shuffles only move
// elements, so both forms do the same operations on the same operands and
// give the same output, bit for bit.
template <class E>
struct slots4 {
    E e[4];
};

template <class E>
inline slots4<E> operator+(const slots4<E> &a, const slots4<E> &b)
{
    return {{a.e[0] + b.e[0], a.e[1] + b.e[1], a.e[2] + b.e[2], a.e[3] + b.e[3]}};
}

template <class E>
inline slots4<E> operator-(const slots4<E> &a, const slots4<E> &b)
{
    return {{a.e[0] - b.e[0], a.e[1] - b.e[1], a.e[2] - b.e[2], a.e[3] - b.e[3]}};
}

template <class E>
inline slots4<E> operator*(const slots4<E> &a, const slots4<E> &b)
{
    return {{a.e[0] * b.e[0], a.e[1] * b.e[1], a.e[2] * b.e[2], a.e[3] * b.e[3]}};
}

template <class E>
inline slots4<E> &operator+=(slots4<E> &a, const slots4<E> &b)
{
    return a = a + b;
}

// Elements i0..i3 of the eight of a and b, as __builtin_shufflevector.
template <int i0, int i1, int i2, int i3>
inline v4f shuffle(v4f a, v4f b)
{
    return __builtin_shufflevector(a, b, i0, i1, i2, i3);
}

template <int i, class E>
inline const E &element(const slots4<E> &a, const slots4<E> &b)
{
    return i < 4 ? a.e[i & 3] : b.e[i & 3];
}

template <int i0, int i1, int i2, int i3, class E>
inline slots4<E> shuffle(const slots4<E> &a, const slots4<E> &b)
{
    return {{element<i0>(a, b), element<i1>(a, b), element<i2>(a, b), element<i3>(a, b)}};
}

template <class V>
inline V reverse(const V &a)
{
    return shuffle<3, 2, 1, 0>(a, a);
}

template <class V>
inline void transpose(V *v)
{
    const V t0 = shuffle<0, 4, 1, 5>(v[0], v[1]);
    const V t1 = shuffle<2, 6, 3, 7>(v[0], v[1]);
    const V t2 = shuffle<0, 4, 1, 5>(v[2], v[3]);
    const V t3 = shuffle<2, 6, 3, 7>(v[2], v[3]);
    v[0] = shuffle<0, 1, 4, 5>(t0, t2);
    v[1] = shuffle<2, 3, 6, 7>(t0, t2);
    v[2] = shuffle<0, 1, 4, 5>(t1, t3);
    v[3] = shuffle<2, 3, 6, 7>(t1, t3);
}

// Factors first..first + 3 of mpa_dct_factors: in the lanes, or each spread
// over the eight slots (read from its replicated row).
inline void load_factors(v4f &v, int first)
{
    v = load4(mpa_dct_factors + first);
}

template <class E>
inline void load_factors(slots4<E> &v, int first)
{
    for (int i = 0; i < 4; i++)
        load(v.e[i], mpa_dct_factors_x8[first + i]);
}

template <class V>
inline V factors(int first)
{
    V v;
    load_factors(v, first);
    return v;
}

// Factor i in every lane.
inline void load_factor(v4f &v, int i)
{
    v = load4(mpa_dct_factors_x8[i]);
}

template <class E>
inline void load_factor(slots4<E> &v, int i)
{
    for (int k = 0; k < 4; k++)
        load(v.e[k], mpa_dct_factors_x8[i]);
}

template <class V>
inline V factor(int i)
{
    V v;
    load_factor(v, i);
    return v;
}

inline void set_zero(v4f &v)
{
    v = v4f{0.0f, 0.0f, 0.0f, 0.0f};
}

template <class E>
inline void set_zero(slots4<E> &v)
{
    for (int i = 0; i < 4; i++)
        v.e[i] = E{} - E{};
}

// 4- and 2-point stages of four 4-point blocks d0..d3, lanes across blocks,
// with the recombination inside each block and inside each pair of blocks.
// Element k of block j goes to lane j of z[k].
template <class V>
__attribute__((always_inline)) inline void dct4x4(V d0, V d1, V d2, V d3, V *z)
{
    const V t0 = shuffle<0, 4, 1, 5>(d0, d1);
    const V t1 = shuffle<2, 6, 3, 7>(d0, d1);
    const V t2 = shuffle<0, 4, 1, 5>(d2, d3);
    const V t3 = shuffle<2, 6, 3, 7>(d2, d3);
    const V e0 = shuffle<0, 1, 4, 5>(t0, t2);
    const V e1 = shuffle<2, 3, 6, 7>(t0, t2);
    const V e2 = shuffle<0, 1, 4, 5>(t1, t3);
    const V e3 = shuffle<2, 3, 6, 7>(t1, t3);
    // 4 points.
    const V s0 = e0 + e3, s1 = e1 + e2, s2 = (e0 - e3) * factor<V>(1), s3 = (e1 - e2) * factor<V>(2);
    // 2 points, and the 4-point recombination B[0] += B[1].
    V z0 = s0 + s1, z1 = (s0 - s1) * factor<V>(0), z2 = s2 + s3;
    const V z3 = (s2 - s3) * factor<V>(0);
    z2 += z3;
    // 8-point recombination on the difference blocks (odd lanes):
    // B = {z0, z2, z1, z3} in bit-reversed order.
    V zero;
    set_zero(zero);
    z0 += shuffle<4, 1, 4, 3>(z2, zero);
    z2 += shuffle<4, 1, 4, 3>(z1, zero);
    z1 += shuffle<4, 1, 4, 3>(z3, zero);
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
//
// Two slots of one channel may be windowed together (kSlots 2): the second
// from its own bank and column, c1. Term m has the same weights in both, so
// each weight is loaded once for the two.
template <class V, int kSlots, int c0, int c1, int kSide>
__attribute__((always_inline)) inline void window_side(const float *const *h, float *const *out)
{
    constexpr int kLanes = sizeof(V) / sizeof(float);
    constexpr int c[2] = {c0, c1};
#pragma GCC unroll 4
    for (int k = 0; k < 16 / kLanes; k++) {
        const int row = kSide + kLanes * k;
        const float *w = &mpa_synthesis_window_terms[0][16 * kSide + kLanes * k];
        V even[kSlots], odd[kSlots], x, y;
#pragma GCC unroll 16
        for (int m = 0; m < 16; m++) {
            load(y, w + 32 * m);
            for (int i = 0; i < kSlots; i++) {
                load(x, h[i] + kColumn * ((c[i] + m) & 15) + row);
                if (m == 0)
                    even[i] = x * y;
                else if (m == 1)
                    odd[i] = x * y;
                else if (m & 1)
                    odd[i] += x * y;
                else
                    even[i] += x * y;
            }
        }
        for (int i = 0; i < kSlots; i++) {
            V s = even[i] + odd[i];
            if (kSide == 0) {
                store(out[i] + kLanes * k, s);
            } else {
                // Row j of the mirrored sums is output 32 - j.
                if constexpr (kLanes == 4)
                    s = __builtin_shufflevector(s, s, 3, 2, 1, 0);
                else
                    s = __builtin_shufflevector(s, s, 7, 6, 5, 4, 3, 2, 1, 0);
                store(out[i] + 32 - kLanes * (k + 1), s);
            }
        }
    }
}

// Direct sums from row 0, mirrored ones from row 1.
template <class V, int c>
__attribute__((always_inline)) inline void window(const float *h, float *out)
{
    const float *const hs[1] = {h};
    float *const outs[1] = {out};
    window_side<V, 1, c, c, 0>(hs, outs);
    window_side<V, 1, c, c, 1>(hs, outs);
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

// Two consecutive slots: the first from bank h0 at column c, the second from
// h1 at column c - step.
typedef void (*window_pair_fn)(const float *h0, const float *h1, float *out);

template <int c, int step>
__attribute__((target("avx"))) void window_pair_avx(const float *h0, const float *h1, float *out)
{
    const float *const hs[2] = {h0, h1};
    float *const outs[2] = {out, out + 32};
    window_side<v8f, 2, c, (c - step) & 15, 0>(hs, outs);
    window_side<v8f, 2, c, (c - step) & 15, 1>(hs, outs);
}

// By the parity of the first slot's ring position, then its column / 2.
constexpr window_pair_fn kWindowPairAvx[2][8] = {
    {window_pair_avx<0, 2>, window_pair_avx<2, 2>, window_pair_avx<4, 2>, window_pair_avx<6, 2>,
     window_pair_avx<8, 2>, window_pair_avx<10, 2>, window_pair_avx<12, 2>, window_pair_avx<14, 2>},
    {window_pair_avx<0, 0>, window_pair_avx<2, 0>, window_pair_avx<4, 0>, window_pair_avx<6, 0>,
     window_pair_avx<8, 0>, window_pair_avx<10, 0>, window_pair_avx<12, 0>, window_pair_avx<14, 0>},
};
#endif

// Lee's recursive DCT-II. An N-point stage turns a block x[0..N-1] into sums
// x[i] + x[N-1-i] and differences (x[i] - x[N-1-i]) / (2cos((2i+1)pi/2N)),
// i < N/2. The N-point DCT of the block is then the N/2-point DCT A of the
// sums at even outputs, and B[n] + B[n + 1] (B[N/2] = 0) at odd outputs, B
// being the N/2-point DCT of the differences. Five stages of 16
// multiplications, fully unrolled. in(k) gives inputs k..k+3; x[i] gets
// X[4i .. 4i + 3].
template <class V, class In>
__attribute__((always_inline)) inline void dct32_core(const In &in, V *x)
{
    // 32 points; the difference is taken the other way round since the
    // factors of this stage are stored negated.
    const V x0 = in(0), x1 = in(4), x2 = in(8), x3 = in(12);
    const V y0 = reverse(in(28)), y1 = reverse(in(24));
    const V y2 = reverse(in(20)), y3 = reverse(in(16));
    const V a0 = x0 + y0, a1 = x1 + y1, a2 = x2 + y2, a3 = x3 + y3;
    const V b0 = (y0 - x0) * factors<V>(15), b1 = (y1 - x1) * factors<V>(19);
    const V b2 = (y2 - x2) * factors<V>(23), b3 = (y3 - x3) * factors<V>(27);

    // 16 points, blocks a and b.
    const V f16l = factors<V>(7), f16h = factors<V>(11);
    const V ra3 = reverse(a3), ra2 = reverse(a2), rb3 = reverse(b3), rb2 = reverse(b2);
    const V c0 = a0 + ra3, c1 = a1 + ra2, c2 = (a0 - ra3) * f16l, c3 = (a1 - ra2) * f16h;
    const V c4 = b0 + rb3, c5 = b1 + rb2, c6 = (b0 - rb3) * f16l, c7 = (b1 - rb2) * f16h;

    // 8 points, four blocks of two vectors.
    const V f8 = factors<V>(3);
    const V rc1 = reverse(c1), rc3 = reverse(c3), rc5 = reverse(c5), rc7 = reverse(c7);
    const V d0 = c0 + rc1, d1 = (c0 - rc1) * f8, d2 = c2 + rc3, d3 = (c2 - rc3) * f8;
    const V d4 = c4 + rc5, d5 = (c4 - rc5) * f8, d6 = c6 + rc7, d7 = (c6 - rc7) * f8;

    // Each d is one 4-point block. The 4- and 2-point stages and the
    // recombinations within 8-point blocks run on transposed groups of four
    // blocks, which gives the 8-point DCTs E0 of (d0, d1), E1 of (d2, d3), E2
    // of (d4, d5) and E3 of (d6, d7) as z[0] = {E0[0], E0[1], E1[0], E1[1]},
    // z[1] the same at [4], [5], z[2] at [2], [3], z[3] at [6], [7]; z[4..7]
    // likewise for E2 and E3.
    V z[8];
    dct4x4(d0, d1, d2, d3, z);
    dct4x4(d4, d5, d6, d7, z + 4);
    const V e0l = shuffle<0, 1, 4, 5>(z[0], z[2]);
    const V e0h = shuffle<0, 1, 4, 5>(z[1], z[3]);
    const V e1l = shuffle<2, 3, 6, 7>(z[0], z[2]);
    const V e1h = shuffle<2, 3, 6, 7>(z[1], z[3]);
    const V e2l = shuffle<0, 1, 4, 5>(z[4], z[6]);
    const V e2h = shuffle<0, 1, 4, 5>(z[5], z[7]);
    const V e3l = shuffle<2, 3, 6, 7>(z[4], z[6]);
    const V e3h = shuffle<2, 3, 6, 7>(z[5], z[7]);

    // 16- and 32-point recombinations. With E[8] = 0, for m = 0..7:
    //   X[4m] = E0[m]                    X[4m + 1] = E2[m] + (E3[m] + E3[m + 1])
    //   X[4m + 2] = E1[m] + E1[m + 1]    X[4m + 3] = (E3[m] + E3[m + 1]) + E2[m + 1]
    // Lane m of each sum, then transposed.
    V zero;
    set_zero(zero);
    const V s3l = e3l + shuffle<1, 2, 3, 4>(e3l, e3h), s3h = e3h + shuffle<1, 2, 3, 4>(e3h, zero);
    x[0] = e0l;
    x[1] = e2l + s3l;
    x[2] = e1l + shuffle<1, 2, 3, 4>(e1l, e1h);
    x[3] = s3l + shuffle<1, 2, 3, 4>(e2l, e2h);
    x[4] = e0h;
    x[5] = e2h + s3h;
    x[6] = e1h + shuffle<1, 2, 3, 4>(e1h, zero);
    x[7] = s3h + shuffle<1, 2, 3, 4>(e2h, zero);
    transpose(x);
    transpose(x + 4);
}

// One slot's 32-point DCT-II: X[16 - r] (r = 0..16) into col_lo[r], X[16 + r]
// (r = 0..15) into col_hi[r].
__attribute__((always_inline)) inline void dct32(const float *in, float *col_lo, float *col_hi)
{
    v4f x[8];
    dct32_core<v4f>([in](int k) { return load4(in + k); }, x);

    // x[i] = X[4i .. 4i + 3].
    col_lo[0] = x[4][0];  // X[16]
    for (int i = 0; i < 4; i++) {
        store4(col_lo + 13 - 4 * i, reverse4(x[i]));
        store4(col_hi + 4 * i, x[4 + i]);
    }
}

void dct32_plain(const float *in, float *col_lo, float *col_hi)
{
    dct32(in, col_lo, col_hi);
}

#if MPA_HAVE_AVX_KERNELS
// The same four-lane code; AVX's three-operand instructions save the copies.
__attribute__((target("avx"))) void dct32_avx(const float *in, float *col_lo, float *col_hi)
{
    dct32(in, col_lo, col_hi);
}

// The DCT of eight slots at once, slot s from in + s * in_stride: each vector
// holds one value of the eight slots. The results come out in the order of
// the slots' columns: lo[s][r] = X[16 - r] (r = 0..16), hi[s][r] = X[16 + r].
__attribute__((target("avx"))) void dct32x8_avx(const float *in, int in_stride, float (*lo)[24],
                                                float (*hi)[16])
{
    __m256 t[32];
    for (int b = 0; b < 32; b += 8) {
        for (int s = 0; s < 8; s++)
            t[b + s] = _mm256_loadu_ps(in + s * in_stride + b);
        transpose8(t + b);
    }
    slots4<v8f> x[8];
    dct32_core<slots4<v8f>>([&t](int k) { return slots4<v8f>{{t[k], t[k + 1], t[k + 2], t[k + 3]}}; }, x);
    const auto X = [&x](int k) __attribute__((target("avx")))
    {
        return static_cast<__m256>(x[k >> 2].e[k & 3]);
    };
    __m256 r[8];
    for (int half = 0; half < 2; half++) {
        for (int i = 0; i < 8; i++)
            r[i] = X(16 - 8 * half - i);
        transpose8(r);
        for (int s = 0; s < 8; s++)
            _mm256_storeu_ps(lo[s] + 8 * half, r[s]);
        for (int i = 0; i < 8; i++)
            r[i] = X(16 + 8 * half + i);
        transpose8(r);
        for (int s = 0; s < 8; s++)
            _mm256_storeu_ps(hi[s] + 8 * half, r[s]);
    }
    alignas(32) float x0[8];
    _mm256_store_ps(x0, X(0));
    for (int s = 0; s < 8; s++)
        lo[s][16] = x0[s];
}
#endif

// Where slot synthesis at ring position p writes and reads: the two
// columns that take the DCT outputs, and the window bank and column.
struct ring_place {
    float *col_lo, *col_hi, *h;
    int c;
};

inline ring_place place_at(float *bank0, float *bank1, int p)
{
    const int q = (p - 1) & 15;
    if (p & 1)
        return {bank0 + kColumn * p, bank1 + kColumn * q, bank1, q};
    return {bank1 + kColumn * q, bank0 + kColumn * p, bank0, p};
}

#if MPA_HAVE_AVX_KERNELS
// One history column: 16 values of x, then row16.
__attribute__((target("avx"))) inline void put_column(float *col, const float *x, float row16)
{
    _mm256_storeu_ps(col, _mm256_load_ps(x));
    _mm256_storeu_ps(col + 8, _mm256_load_ps(x + 8));
    col[16] = row16;
}

// Eight slots: their DCTs together, then two slots at a time their columns
// filled and their windows run. Returns the new ring position.
__attribute__((target("avx"))) int synthesize_8_avx(const float *in, int in_stride, float *out,
                                                     float *bank0, float *bank1, int p)
{
    alignas(32) float lo[8][24], hi[8][16];
    dct32x8_avx(in, in_stride, lo, hi);
    // Slots in pairs. Each slot's window reads one bank; of the columns the
    // second slot fills, the one in the first slot's bank replaces a column
    // that window still reads, so it is stored after the pair's windows.
    for (int s = 0; s < 8; s += 2, out += 64) {
        const ring_place a = place_at(bank0, bank1, p);
        const ring_place b = place_at(bank0, bank1, (p - 1) & 15);
        put_column(a.col_lo, lo[s], lo[s][16]);
        put_column(a.col_hi, hi[s], 0.0f);
        put_column(b.col_hi, hi[s + 1], 0.0f);
        kWindowPairAvx[p & 1][a.c >> 1](a.h, b.h, out);
        put_column(b.col_lo, lo[s + 1], lo[s + 1][16]);
        p = (p - 2) & 15;
    }
    return p;
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
    int s = 0;
#if MPA_HAVE_AVX_KERNELS
    if (kAvx)
        for (; s + 8 <= count; s += 8)
            p = synthesize_8_avx(in + s * in_stride, in_stride, out + 32 * s, bank0, bank1, p);
#endif
    for (; s < count; s++) {
        const ring_place r = place_at(bank0, bank1, p);
        const float *slot = in + s * in_stride;
        r.col_hi[16] = 0.0f;  // row 16 of an X[16 + r] column: weight 0, kept finite
#if MPA_HAVE_AVX_KERNELS
        if (kAvx) {
            dct32_avx(slot, r.col_lo, r.col_hi);
            kWindowAvx[r.c >> 1](r.h, out + 32 * s);
        } else
#endif
        {
            dct32_plain(slot, r.col_lo, r.col_hi);
            kWindowPlain[r.c >> 1](r.h, out + 32 * s);
        }
        p = (p - 1) & 15;
    }
    state->synth_phase[channel] = p;
}

}  // namespace

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
