// Layer III hybrid synthesis (ISO/IEC 11172-3 2.4.3.4.9 to 2.4.3.4.10).
//
// The IMDCT of each subband is a DCT-IV of 18 (or 6) points computed by two
// fast kernels. Their output factors already contain the sine window, and they
// produce one value of every symmetric pair of the IMDCT output; the mirrored
// values and the start, stop and short window shapes cost one multiplication
// by a ratio each. No separate windowing pass exists.
#include "layer3/hybrid.h"

#include "layer12/synthesis.h"
#include "layer3/layer3.h"

namespace {

// T[m] = sum_j q[j] cos(j (2m + 1) pi / 18), m = 0..8: even and odd partials,
// 10 multiplications.
inline void dct9(const float *q, float *t)
{
    const float *c = mpa_imdct9_cos;  // c[6] = 1/2
    const float a1 = q[0] + q[6] * c[6];
    const float a2 = (q[2] + q[4]) * c[2];
    const float a3 = (q[8] - q[4]) * c[8];
    const float a4 = (q[2] + q[8]) * c[4];
    const float d06 = q[0] - q[6];
    const float e = q[4] + q[8] - q[2];
    const float A0 = a1 + a2 + a3;
    const float A1 = d06 - e * c[6];
    const float A2 = a1 - a2 + a4;
    const float A3 = a1 - a3 - a4;
    const float A4 = d06 + e;

    const float b1 = (q[1] + q[5]) * c[1];
    const float b2 = q[3] * c[3];
    const float b3 = (q[7] - q[5]) * c[7];
    const float b4 = (q[1] + q[7]) * c[5];
    const float B0 = b1 + b2 + b3;
    const float B1 = (q[1] - q[5] - q[7]) * c[3];
    const float B2 = b3 + b4 - b2;
    const float B3 = b1 - b2 - b4;

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

// Twiddle of the odd-half transform, butterfly and the output factors (window
// and the 1 / (2 cos) left over from the adjacent sums) for outputs m, 17 - m.
template <int m>
inline void output_pair(float *out, const float *t, const float *w)
{
    const float u = w[m] * mpa_imdct36_twiddle[m];
    out[m] = mpa_imdct36_post[m] * (t[m] + u);
    out[17 - m] = mpa_imdct36_post[17 - m] * (u - t[m]);
}

// Twelve windowed values of one short window from its kernel output.
inline void short_window(float *z, const float *s)
{
    const float *d = mpa_short_ratio;
    z[0] = -s[3];
    z[1] = -s[4];
    z[2] = -s[5];
    z[3] = d[2] * s[5];
    z[4] = d[1] * s[4];
    z[5] = d[0] * s[3];
    z[6] = d[0] * s[2];
    z[7] = d[1] * s[1];
    z[8] = d[2] * s[0];
    z[9] = s[0];
    z[10] = s[1];
    z[11] = s[2];
}

// Butterflies at the lowest `boundaries` subband boundaries.
void alias_butterflies(float *x, int boundaries)
{
    const float *cs = mpa_alias_cs;
    const float *ca = mpa_alias_ca;
    for (int b = 0; b < boundaries; ++b) {
        float *lo = x + 18 * b + 17;
        float *up = x + 18 * b + 18;
        for (int i = 0; i < 8; ++i) {
            const float l = lo[-i];
            const float u = up[i];
            lo[-i] = l * cs[i] - u * ca[i];
            up[i] = u * cs[i] + l * ca[i];
        }
    }
}

}  // namespace

void mpa_imdct36(float *out, const float *in)
{
    // Adjacent sums u[k] = in[k] + in[k - 1], split into even (q) and odd
    // (p) halves; v[j] = p[j] + p[j - 1] turns the odd half into a second
    // 9-point cosine transform.
    float q[9], v[9], t[9], w[9];
    q[0] = in[0];
    q[1] = in[2] + in[1];
    q[2] = in[4] + in[3];
    q[3] = in[6] + in[5];
    q[4] = in[8] + in[7];
    q[5] = in[10] + in[9];
    q[6] = in[12] + in[11];
    q[7] = in[14] + in[13];
    q[8] = in[16] + in[15];
    const float p0 = in[1] + in[0];
    const float p1 = in[3] + in[2];
    const float p2 = in[5] + in[4];
    const float p3 = in[7] + in[6];
    const float p4 = in[9] + in[8];
    const float p5 = in[11] + in[10];
    const float p6 = in[13] + in[12];
    const float p7 = in[15] + in[14];
    const float p8 = in[17] + in[16];
    v[0] = p0;
    v[1] = p1 + p0;
    v[2] = p2 + p1;
    v[3] = p3 + p2;
    v[4] = p4 + p3;
    v[5] = p5 + p4;
    v[6] = p6 + p5;
    v[7] = p7 + p6;
    v[8] = p8 + p7;

    dct9(q, t);
    dct9(v, w);

    output_pair<0>(out, t, w);
    output_pair<1>(out, t, w);
    output_pair<2>(out, t, w);
    output_pair<3>(out, t, w);
    output_pair<4>(out, t, w);
    output_pair<5>(out, t, w);
    output_pair<6>(out, t, w);
    output_pair<7>(out, t, w);
    output_pair<8>(out, t, w);
}

void mpa_imdct12(float *out, const float *in)
{
    const float *c = mpa_imdct9_cos;  // c[3] = cos(pi / 6), c[6] = 1/2
    const float *tw = mpa_imdct12_twiddle;
    const float *g = mpa_imdct12_post;

    const float q0 = in[0];
    const float q1 = in[6] + in[3];
    const float q2 = in[12] + in[9];
    const float p0 = in[3] + in[0];
    const float p1 = in[9] + in[6];
    const float p2 = in[15] + in[12];
    const float v1 = p1 + p0;
    const float v2 = p2 + p1;

    const float tq = q0 + q2 * c[6];
    const float sq = q1 * c[3];
    const float tv = p0 + v2 * c[6];
    const float sv = v1 * c[3];

    const float t0 = tq + sq, t1 = q0 - q2, t2 = tq - sq;
    const float u0 = (tv + sv) * tw[0];
    const float u1 = (p0 - v2) * tw[1];
    const float u2 = (tv - sv) * tw[2];

    out[0] = g[0] * (t0 + u0);
    out[5] = g[5] * (u0 - t0);
    out[1] = g[1] * (t1 + u1);
    out[4] = g[4] * (u1 - t1);
    out[2] = g[2] * (t2 + u2);
    out[3] = g[3] * (u2 - t2);
}

void mpa_layer3_imdct_subband(float *out, const float *in, float *overlap, int block_type)
{
    if (block_type == 2) {
        // Three 12-point windows at offsets 6, 12 and 18 of the 36 outputs.
        float s[6], z0[12], z1[12], z2[12];
        mpa_imdct12(s, in);
        short_window(z0, s);
        mpa_imdct12(s, in + 1);
        short_window(z1, s);
        mpa_imdct12(s, in + 2);
        short_window(z2, s);
        for (int i = 0; i < 6; ++i) {
            out[i] = overlap[i];
            out[6 + i] = overlap[6 + i] + z0[i];
            out[12 + i] = overlap[12 + i] + z0[6 + i] + z1[i];
        }
        for (int i = 0; i < 6; ++i) {
            overlap[i] = z1[6 + i] + z2[i];
            overlap[6 + i] = z2[6 + i];
            overlap[12 + i] = 0.0f;
        }
        return;
    }

    // k[9 + i] = -w[i] y[i] and k[j] = w[27 + j] y[27 + j] (i, j = 0..8); the
    // IMDCT output y is odd-symmetric in its first half and even-symmetric in
    // its second, so every other window value is a ratio times one of these.
    float k[18];
    mpa_imdct36(k, in);
    const float *C = mpa_long_ratio;
    const float *R = mpa_switch_ratio;

    if (block_type == 3) {
        // Stop window: zeros, the rising short-window half, ones.
        for (int i = 0; i < 6; ++i)
            out[i] = overlap[i];
        for (int i = 6; i < 9; ++i)
            out[i] = overlap[i] - R[17 - i] * k[9 + i];
        for (int i = 9; i < 18; ++i)
            out[i] = overlap[i] + R[17 - i] * k[26 - i];
    } else {
        for (int i = 0; i < 9; ++i)
            out[i] = overlap[i] - k[9 + i];
        for (int i = 9; i < 18; ++i)
            out[i] = overlap[i] + C[17 - i] * k[26 - i];
    }

    if (block_type == 1) {
        // Start window: ones, the falling short-window half, zeros.
        for (int q = 0; q < 9; ++q)
            overlap[q] = R[q] * k[8 - q];
        for (int q = 9; q < 12; ++q)
            overlap[q] = R[q] * k[q - 9];
        for (int q = 12; q < 18; ++q)
            overlap[q] = 0.0f;
    } else {
        for (int q = 0; q < 9; ++q)
            overlap[q] = C[q] * k[8 - q];
        for (int q = 9; q < 18; ++q)
            overlap[q] = k[q - 9];
    }
}

void mpa_layer3_alias_reduce(float *spectrum)
{
    alias_butterflies(spectrum, 31);
}

void mpa_layer3_polyphase_feed(mpa_frame_ctx *ctx, const float (*work)[18], float *output,
                               int channel)
{
    // Frequency inversion: odd subbands change sign in odd time slots.
    for (int t = 0; t < 18; t += 2) {
        float *even = output + 32 * t;
        float *odd = even + 32;
        for (int sb = 0; sb < 32; sb += 2) {
            even[sb] = work[sb][t];
            even[sb + 1] = work[sb + 1][t];
            odd[sb] = work[sb][t + 1];
            odd[sb + 1] = -work[sb + 1][t + 1];
        }
        mpa_synthesize(even, channel, ctx->synth);
        mpa_synthesize(odd, channel, ctx->synth);
    }
}

int mpa_layer3_hybrid(mpa_frame_ctx *ctx, float *spectrum, float *output, int block_type,
                      int long_subbands, int channel)
{
    if (channel != 0 && channel != 1)
        return 0;

    // Short subbands are not alias reduced; a mixed block only at the
    // boundary between its two long subbands.
    alias_butterflies(spectrum, block_type != 2 ? 31 : (long_subbands == 2 ? 1 : 0));

    float work[32][18];
    float *overlap = ctx->imdct_overlap + 576 * channel;
    for (int sb = 0; sb < 32; ++sb)
        mpa_layer3_imdct_subband(work[sb], spectrum + 18 * sb, overlap + 18 * sb,
                                 sb < long_subbands ? 0 : block_type);

    mpa_layer3_polyphase_feed(ctx, work, output, channel);
    return -1;
}
