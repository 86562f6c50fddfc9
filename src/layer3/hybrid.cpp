// Layer III hybrid synthesis (ISO/IEC 11172-3 2.4.3.4.9 to 2.4.3.4.10).
//
// The IMDCT of each subband is a DCT-IV of 18 (or 6) points computed by two
// fast kernels. Their output factors already contain the sine window, and they
// produce one value of every symmetric pair of the IMDCT output; the mirrored
// values and the start, stop and short window shapes cost one multiplication
// by a ratio each. No separate windowing pass exists.
//
// The kernels are written once for a value type T: float for the single
// subband entry points, and a four-lane vector holding four neighbouring
// subbands for the granule path. The lanes of a result are then already the
// four subbands of one time slot, so the polyphase filterbank is fed without
// a separate transposition, and the per-lane arithmetic is the scalar one.
// On x86 processors with AVX the granule path runs the same code on eight
// subbands per vector. Subbands above the granule's last non-zero line are
// not transformed: their output is their overlap.
#include "layer3/hybrid.h"

#include <cstring>

#include "core/kernels.h"
#include "core/simd.h"
#include "layer12/synthesis.h"
#include "layer3/granule_info.h"
#include "layer3/hybrid_tables.h"


// The eight-lane kernels below instantiate the shared templates with AVX
// vectors; they are inlined whole into functions compiled for AVX, so no such
// vector crosses a call of code built without it (GCC warns before inlining).
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

using namespace mpa_simd;

// A table of lane-replicated constants read as values of type T: a float, or
// a vector loaded whole from the constant's row, so that the multiplications
// take their constant from memory. The empty asm hides where the table is:
// GCC would otherwise hoist some seventy constant loads out of the group loop
// and, short of registers, copy them to the stack and back.
template <class T>
struct constants {
    const float (*rows)[8];
    // Always inlined: an eight-lane value returned from a call built without
    // AVX would not come back where AVX code looks for it.
    __attribute__((always_inline)) explicit constants(const float (*table)[8]) : rows(table)
    {
        asm volatile("" : "+r"(rows));
    }
    __attribute__((always_inline)) T operator[](int i) const
    {
        if constexpr (sizeof(T) == sizeof(float)) {
            return rows[i][0];
        } else {
            T v;
            load(v, rows[i]);
            return v;
        }
    }
};

// T[m] = sum_j q[j] cos(j (2m + 1) pi / 18), m = 0..8: even and odd partials,
// 10 multiplications.
template <class T>
inline void dct9(const T *q, T *t)
{
    const constants<T> c{mpa_imdct9_cos};  // c[6] = 1/2
    const T a1 = q[0] + q[6] * c[6];
    const T a2 = (q[2] + q[4]) * c[2];
    const T a3 = (q[8] - q[4]) * c[8];
    const T a4 = (q[2] + q[8]) * c[4];
    const T d06 = q[0] - q[6];
    const T e = q[4] + q[8] - q[2];
    const T A0 = a1 + a2 + a3;
    const T A1 = d06 - e * c[6];
    const T A2 = a1 - a2 + a4;
    const T A3 = a1 - a3 - a4;
    const T A4 = d06 + e;

    const T b1 = (q[1] + q[5]) * c[1];
    const T b2 = q[3] * c[3];
    const T b3 = (q[7] - q[5]) * c[7];
    const T b4 = (q[1] + q[7]) * c[5];
    const T B0 = b1 + b2 + b3;
    const T B1 = (q[1] - q[5] - q[7]) * c[3];
    const T B2 = b3 + b4 - b2;
    const T B3 = b1 - b2 - b4;

    t[0] = A0 + B0;
    t[8] = A0 - B0;
    t[1] = A1 + B1;
    t[7] = A1 - B1;
    t[2] = A2 + B2;
    t[6] = A2 - B2;
    t[3] = A3 + B3;
    t[5] = A3 - B3;
    t[4] = A4;
}

// 18-point kernel: out[m] = -sin(|2m - 17| pi / 72) * sum_k in[k] cos((2m + 1)(2k + 1) pi / 72).
template <class T>
inline void imdct36(T *out, const T *in)
{
    // Adjacent sums u[k] = in[k] + in[k - 1], split into even (q) and odd
    // (p) halves; v[j] = p[j] + p[j - 1] turns the odd half into a second
    // 9-point cosine transform.
    T q[9], p[9], v[9], t[9], w[9];
    q[0] = in[0];
    for (int j = 1; j < 9; j++)
        q[j] = in[2 * j] + in[2 * j - 1];
    for (int j = 0; j < 9; j++)
        p[j] = in[2 * j + 1] + in[2 * j];
    v[0] = p[0];
    for (int j = 1; j < 9; j++)
        v[j] = p[j] + p[j - 1];

    dct9(q, t);
    dct9(v, w);

    // Twiddle of the odd-half transform, butterfly and the output factors
    // (window and the 1 / (2 cos) left over from the adjacent sums).
    const constants<T> twiddle{mpa_imdct36_twiddle}, post{mpa_imdct36_post};
    for (int m = 0; m < 9; m++) {
        const T u = w[m] * twiddle[m];
        out[m] = (t[m] + u) * post[m];
        out[17 - m] = (u - t[m]) * post[17 - m];
    }
}

// 6-point kernel on in[0], in[3], ..., in[15]:
// out[m] = -sin(|2m - 5| pi / 24) * sum_k in[3k] cos((2m + 1)(2k + 1) pi / 24).
template <class T>
inline void imdct12(T *out, const T *in)
{
    const constants<T> c{mpa_imdct9_cos};  // c[3] = cos(pi / 6), c[6] = 1/2
    const constants<T> tw{mpa_imdct12_twiddle};
    const constants<T> g{mpa_imdct12_post};

    const T q0 = in[0];
    const T q1 = in[6] + in[3];
    const T q2 = in[12] + in[9];
    const T p0 = in[3] + in[0];
    const T p1 = in[9] + in[6];
    const T p2 = in[15] + in[12];
    const T v1 = p1 + p0;
    const T v2 = p2 + p1;

    const T tq = q0 + q2 * c[6];
    const T sq = q1 * c[3];
    const T tv = p0 + v2 * c[6];
    const T sv = v1 * c[3];

    const T t0 = tq + sq, t1 = q0 - q2, t2 = tq - sq;
    const T u0 = (tv + sv) * tw[0];
    const T u1 = (p0 - v2) * tw[1];
    const T u2 = (tv - sv) * tw[2];

    out[0] = (t0 + u0) * g[0];
    out[5] = (u0 - t0) * g[5];
    out[1] = (t1 + u1) * g[1];
    out[4] = (u1 - t1) * g[4];
    out[2] = (t2 + u2) * g[2];
    out[3] = (u2 - t2) * g[3];
}

// Twelve windowed values of one short window from its kernel output.
template <class T>
inline void short_window(T *z, const T *s)
{
    const constants<T> d{mpa_short_ratio};
    z[0] = -s[3];
    z[1] = -s[4];
    z[2] = -s[5];
    z[3] = s[5] * d[2];
    z[4] = s[4] * d[1];
    z[5] = s[3] * d[0];
    z[6] = s[2] * d[0];
    z[7] = s[1] * d[1];
    z[8] = s[0] * d[2];
    z[9] = s[0];
    z[10] = s[1];
    z[11] = s[2];
}

// IMDCT, window and overlap-add of one subband, or of one subband per lane.
// io reads the overlap (ov), replaces it (keep) and takes the 18 outputs
// (emit); every overlap value is read before any is replaced.
template <class T, class IO>
__attribute__((always_inline)) inline void imdct_window(IO &io, const T *in, int block_type)
{
    if (block_type == 2) {
        // Three 12-point windows at offsets 6, 12 and 18 of the 36 outputs.
        T s[6], z0[12], z1[12], z2[12];
        imdct12(s, in);
        short_window(z0, s);
        imdct12(s, in + 1);
        short_window(z1, s);
        imdct12(s, in + 2);
        short_window(z2, s);
        for (int i = 0; i < 6; ++i) {
            io.emit(i, io.ov(i));
            io.emit(6 + i, io.ov(6 + i) + z0[i]);
            io.emit(12 + i, io.ov(12 + i) + z0[6 + i] + z1[i]);
        }
        for (int i = 0; i < 6; ++i) {
            io.keep(i, z1[6 + i] + z2[i]);
            io.keep(6 + i, z2[6 + i]);
            io.keep(12 + i, T{});
        }
        return;
    }

    // k[9 + i] = -w[i] y[i] and k[j] = w[27 + j] y[27 + j] (i, j = 0..8); the
    // IMDCT output y is odd-symmetric in its first half and even-symmetric in
    // its second, so every other window value is a ratio times one of these.
    T k[18];
    imdct36(k, in);
    const constants<T> C{mpa_long_ratio};
    const constants<T> R{mpa_switch_ratio};

    if (block_type == 3) {
        // Stop window: zeros, the rising short-window half, ones.
        for (int i = 0; i < 6; ++i)
            io.emit(i, io.ov(i));
        for (int i = 6; i < 9; ++i)
            io.emit(i, io.ov(i) - k[9 + i] * R[17 - i]);
        for (int i = 9; i < 18; ++i)
            io.emit(i, io.ov(i) + k[26 - i] * R[17 - i]);
    } else {
        for (int i = 0; i < 9; ++i)
            io.emit(i, io.ov(i) - k[9 + i]);
        for (int i = 9; i < 18; ++i)
            io.emit(i, io.ov(i) + k[26 - i] * C[17 - i]);
    }

    if (block_type == 1) {
        // Start window: ones, the falling short-window half, zeros.
        for (int q = 0; q < 9; ++q)
            io.keep(q, k[8 - q] * R[q]);
        for (int q = 9; q < 12; ++q)
            io.keep(q, k[q - 9] * R[q]);
        for (int q = 12; q < 18; ++q)
            io.keep(q, T{});
    } else {
        for (int q = 0; q < 9; ++q)
            io.keep(q, k[8 - q] * C[q]);
        for (int q = 9; q < 18; ++q)
            io.keep(q, k[q - 9]);
    }
}

// Kernel I/O on arrays: one subband's overlap and output, or four lanes held
// locally.
template <class T>
struct array_io {
    T *out;
    T *overlap;
    T ov(int t) const { return overlap[t]; }
    void keep(int t, T v) { overlap[t] = v; }
    void emit(int t, T v) { out[t] = v; }
};

// The overlap store of a channel holds its subbands in pairs of groups of
// four: 18 slots of eight lanes each, subband 8h + i in lane i of pair h, so
// that eight-lane kernels read and write whole vectors. Group g's lanes:
inline float *group_overlap(float *overlap, int g)
{
    return overlap + 144 * (g >> 1) + 4 * (g & 1);
}

// Kernel I/O of a group of four subbands in place: the group's lanes of the
// overlap store (group_overlap) and its place in the time slots, output[32 t].
// Frequency inversion negates the odd subbands (lanes 1 and 3) in odd slots.
struct group_io {
    float *out;
    float *overlap;
    v4f ov(int t) const { return load4(overlap + 8 * t); }
    void keep(int t, v4f v) { store4(overlap + 8 * t, v); }
    void emit(int t, v4f v)
    {
        const v4f invert = {1.0f, -1.0f, 1.0f, -1.0f};
        store4(out + 32 * t, (t & 1) ? v * invert : v);
    }
};

// Butterflies at the lowest `boundaries` subband boundaries: lines 17 - i
// of one subband with lines 18 + i, i = 0..7, four at a time.
inline void alias_butterflies(float *x, int boundaries)
{
    const v4f cs0 = load4(mpa_alias_cs), cs1 = load4(mpa_alias_cs + 4);
    const v4f ca0 = load4(mpa_alias_ca), ca1 = load4(mpa_alias_ca + 4);
    for (int b = 0; b < boundaries; ++b) {
        float *lo = x + 18 * b + 10;  // lines 10..17, i descending
        float *up = x + 18 * b + 18;  // lines 18..25, i ascending
        const v4f l0 = reverse4(load4(lo + 4)), l1 = reverse4(load4(lo));
        const v4f u0 = load4(up), u1 = load4(up + 4);
        store4(lo + 4, reverse4(l0 * cs0 - u0 * ca0));
        store4(lo, reverse4(l1 * cs1 - u1 * ca1));
        store4(up, u0 * cs0 + l0 * ca0);
        store4(up + 4, u1 * cs1 + l1 * ca1);
    }
}

// The 18 lines of subbands 4g .. 4g + 3 (lines points at subband 4g),
// transposed: lane i of x[k] is line k of subband 4g + i.
__attribute__((always_inline)) inline void load_group(const float *lines, v4f *x)
{
    for (int k = 0; k < 16; k += 4) {
        const v4f r0 = load4(lines + k), r1 = load4(lines + 18 + k);
        const v4f r2 = load4(lines + 36 + k), r3 = load4(lines + 54 + k);
        const v4f t0 = __builtin_shufflevector(r0, r1, 0, 4, 1, 5);
        const v4f t1 = __builtin_shufflevector(r0, r1, 2, 6, 3, 7);
        const v4f t2 = __builtin_shufflevector(r2, r3, 0, 4, 1, 5);
        const v4f t3 = __builtin_shufflevector(r2, r3, 2, 6, 3, 7);
        x[k] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
        x[k + 1] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
        x[k + 2] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
        x[k + 3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
    }
    // Lines 16 and 17: pairs, since the last subband ends the spectrum.
    const v4f a = __builtin_shufflevector(load2(lines + 16), load2(lines + 34), 0, 1, 2, 3);
    const v4f b = __builtin_shufflevector(load2(lines + 52), load2(lines + 70), 0, 1, 2, 3);
    x[16] = __builtin_shufflevector(a, b, 0, 2, 4, 6);
    x[17] = __builtin_shufflevector(a, b, 1, 3, 5, 7);
}

// All-zero input: the output is the overlap, the new overlap zero.
template <class T, class IO>
__attribute__((always_inline)) inline void pass_overlap(IO &io)
{
    for (int t = 0; t < 18; t++) {
        io.emit(t, io.ov(t));
        io.keep(t, T{});
    }
}

// IMDCT of groups first..end-1 of four subbands into the 18 time slots at
// output; groups from `active` on have all-zero input and pass their overlap.
// long_subbands is 0 or 2.
__attribute__((always_inline)) inline void imdct_groups(const float *spectrum, float *overlap,
                                                        float *output, int block_type, int long_subbands,
                                                        int active, int first = 0, int end = 8)
{
    for (int g = first; g < end; g++) {
        group_io io = {output + 4 * g, group_overlap(overlap, g)};
        if (g >= active) {
            pass_overlap<v4f>(io);
            continue;
        }
        v4f x[18];
        load_group(spectrum + 72 * g, x);
        const int type = 4 * g < long_subbands ? 0 : block_type;
        if (type == block_type || 4 * g + 4 <= long_subbands) {
            imdct_window(io, x, type);
            continue;
        }
        // Mixed block: lanes 0 and 1 long, 2 and 3 short.
        v4f ov_long[18], ov_short[18], out_long[18], out_short[18];
        for (int t = 0; t < 18; t++)
            ov_long[t] = ov_short[t] = io.ov(t);
        array_io<v4f> long_io = {out_long, ov_long}, short_io = {out_short, ov_short};
        imdct_window(long_io, x, 0);
        imdct_window(short_io, x, block_type);
        for (int t = 0; t < 18; t++) {
            io.emit(t, __builtin_shufflevector(out_long[t], out_short[t], 0, 1, 6, 7));
            io.keep(t, __builtin_shufflevector(ov_long[t], ov_short[t], 0, 1, 6, 7));
        }
    }
}

#if MPA_HAVE_AVX_KERNELS
// Kernel I/O of a pair of groups 2h and 2h + 1 at once, subband 8h + i in
// lane i: one slot of the overlap store per vector.
struct group_pair_io {
    float *out;
    float *overlap;
    // Always inlined: called from the shared templates, which are built without
    // AVX, these eight-lane returns and arguments would not match the caller's.
    __attribute__((always_inline)) v8f ov(int t) const
    {
        v8f v;
        load(v, overlap + 8 * t);
        return v;
    }
    __attribute__((always_inline)) void keep(int t, v8f v) { store(overlap + 8 * t, v); }
    __attribute__((always_inline)) void emit(int t, v8f v)
    {
        const v8f invert = {1.0f, -1.0f, 1.0f, -1.0f, 1.0f, -1.0f, 1.0f, -1.0f};
        store(out + 32 * t, (t & 1) ? v * invert : v);
    }
};

// The 18 lines of subbands 8h .. 8h + 7 (lines points at subband 8h),
// transposed: lane i of x[k] is line k of subband 8h + i.
__attribute__((target("avx"), always_inline)) inline void load_group_pair(const float *lines, v8f *x)
{
    for (int k = 0; k < 16; k += 8) {
        __m256 r[8];
        for (int i = 0; i < 8; i++)
            r[i] = _mm256_loadu_ps(lines + 18 * i + k);
        transpose8(r);
        for (int i = 0; i < 8; i++)
            x[k + i] = r[i];
    }
    for (int i = 0; i < 8; i++) {
        x[16][i] = lines[18 * i + 16];
        x[17][i] = lines[18 * i + 17];
    }
}

// imdct_groups with a pair of groups (2h, 2h + 1) per eight-lane vector
// wherever both are transformed and of one block type, or both all zero; the
// other groups as four lanes.
__attribute__((target("avx"))) void imdct_groups_wide(const float *spectrum, float *overlap,
                                                      float *output, int block_type,
                                                      int long_subbands, int active)
{
    int g = 0;
    while (g < 8) {
        group_pair_io io = {output + 4 * g, group_overlap(overlap, g)};
        if ((g & 1) == 0 && g + 1 < active && 4 * g >= long_subbands) {
            v8f x[18];
            load_group_pair(spectrum + 72 * g, x);
            imdct_window(io, x, block_type);
            g += 2;
            continue;
        }
        if ((g & 1) == 0 && g >= active) {
            pass_overlap<v8f>(io);
            g += 2;
            continue;
        }
        // One group by itself: the four-lane path, for that group alone.
        imdct_groups(spectrum, overlap, output, block_type, long_subbands, active, g, g + 1);
        g++;
    }
}
#endif

}  // namespace

void mpa_alias_butterflies_plain(float *x, int boundaries)
{
    alias_butterflies(x, boundaries);
}

#if MPA_HAVE_AVX_KERNELS
// The same products and sums with all eight pairs of a boundary in one vector.
__attribute__((target("avx"))) void mpa_alias_butterflies_avx(float *x, int boundaries)
{
    v8f cs, ca;
    load(cs, mpa_alias_cs);
    load(ca, mpa_alias_ca);
    for (int b = 0; b < boundaries; ++b) {
        float *lo = x + 18 * b + 10;  // lines 10..17, i descending
        float *up = x + 18 * b + 18;  // lines 18..25, i ascending
        v8f l, u;
        load(l, lo);
        load(u, up);
        l = __builtin_shufflevector(l, l, 7, 6, 5, 4, 3, 2, 1, 0);
        const v8f d = l * cs - u * ca;
        store(lo, __builtin_shufflevector(d, d, 7, 6, 5, 4, 3, 2, 1, 0));
        store(up, u * cs + l * ca);
    }
}
#endif

void mpa_imdct_groups_plain(const float *spectrum, float *overlap, float *output, int block_type,
                            int long_subbands, int active)
{
    imdct_groups(spectrum, overlap, output, block_type, long_subbands, active);
}

#if MPA_HAVE_AVX_KERNELS
// The same code on eight lanes where it can, else four lanes in AVX's
// three-operand form.
__attribute__((target("avx"))) void mpa_imdct_groups_avx(const float *spectrum, float *overlap,
                                                          float *output, int block_type,
                                                          int long_subbands, int active)
{
    imdct_groups_wide(spectrum, overlap, output, block_type, long_subbands, active);
}
#endif

void mpa_layer3_imdct_subband(float *out, const float *in, float *overlap, int block_type)
{
    array_io<float> io = {out, overlap};
    imdct_window(io, in, block_type);
}

int mpa_layer3_hybrid(mpa_frame_ctx *ctx, float *spectrum, float *output, int block_type,
                      int long_subbands, int channel)
{
    return mpa_layer3_hybrid_lines(ctx, spectrum, output, block_type, long_subbands, channel,
                                   MPA_GRANULE_LINES);
}

int mpa_layer3_hybrid_lines(mpa_frame_ctx *ctx, float *spectrum, float *output, int block_type,
                            int long_subbands, int channel, int lines)
{
    if (channel != 0 && channel != 1)
        return 0;

    // Subbands above `lines` hold zeros: butterflies there would give zeros,
    // and their IMDCT is zero, so they only pass their overlap on. The
    // butterfly at the top non-zero subband still reaches one subband up.
    int nonzero = (lines + 17) / 18;
    nonzero = nonzero < 0 ? 0 : (nonzero > 32 ? 32 : nonzero);
    // Short subbands are not alias reduced; a mixed block only at the
    // boundary between its two long subbands.
    const int boundaries = block_type != 2 ? 31 : (long_subbands == 2 ? 1 : 0);
    const int reduced = boundaries < nonzero ? boundaries : nonzero;
    mpa_kernels_active().alias_butterflies(spectrum, reduced);
    if (reduced > 0 && reduced == nonzero)
        nonzero++;
    const int active = (nonzero + 3) / 4;

    // Overlap store of a channel: per pair of groups of four subbands, 18 slots of
// eight lanes (group_overlap).
    float *overlap = ctx->imdct_overlap + MPA_GRANULE_LINES * channel;
    mpa_kernels_active().imdct_groups(spectrum, overlap, output, block_type, long_subbands, active);

    mpa_synthesize_slots(output, 18, channel, ctx->synth);
    return -1;
}
