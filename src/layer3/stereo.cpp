// Layer III joint stereo (ISO/IEC 11172-3 2.4.3.4.9.3, ISO/IEC 13818-3 2.4.3.2).
// Works on the spectra in bitstream order, before short-block reordering.
#include "layer3/stereo.h"

#include <cstring>

#include "core/kernels.h"
#include "core/simd.h"
#include "layer3/stereo_tables.h"

namespace {

// Mid/side on vectors of V, then the last lines one at a time: the same
// operations per line whatever V.
template <class V>
__attribute__((always_inline)) inline void ms_stereo(float *left, float *right, int count)
{
    constexpr int kLanes = sizeof(V) / sizeof(float);
    const float f = mpa_ms_scale;
    int i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        V l, r;
        mpa_simd::load(l, left + i);
        mpa_simd::load(r, right + i);
        const V a = l * f, b = r * f;
        mpa_simd::store(left + i, a + b);
        mpa_simd::store(right + i, a - b);
    }
    for (; i < count; ++i) {
        const float a = left[i] * f;
        const float b = right[i] * f;
        left[i] = a + b;
        right[i] = a - b;
    }
}

}  // namespace

void mpa_layer3_ms_stereo_plain(float *left, float *right, int count)
{
    ms_stereo<mpa_simd::v4f>(left, right, count);
}

#if MPA_HAVE_AVX_KERNELS
__attribute__((target("avx"))) void mpa_layer3_ms_stereo_avx(float *left, float *right, int count)
{
    ms_stereo<mpa_simd::v8f>(left, right, count);
}
#endif

void mpa_layer3_ms_stereo(float *left, float *right, int count)
{
    mpa_kernels_active().ms_stereo(left, right, count);
}

double mpa_band_energy(const float *values, int count)
{
    // Double precision: a square of a non-zero float never vanishes, so the
    // sum is zero only for an all-zero band.
    double sum = 0.0;
    for (int i = 0; i < count; ++i)
        sum += static_cast<double>(values[i]) * values[i];
    return sum;
}

int mpa_layer3_is_bound(uint8_t *positions, const uint8_t *widths, const float *right_end,
                        int windows, int count, int found)
{
    int flag[3] = {found, found, found};
    int any = 0;
    const float *line = right_end;
    int w = windows - 1;
    for (int e = count * windows - 1; e >= 0; --e) {
        line -= widths[e];
        if (flag[w]) {
            positions[e] = MPA_IS_NONE;
        } else if (mpa_band_energy(line, widths[e]) != 0.0) {
            flag[w] = 1;
            any = 1;
            positions[e] = MPA_IS_NONE;
        }
        w = w > 0 ? w - 1 : windows - 1;
    }
    return any ? 1 : found;
}

void mpa_layer3_is_illegal(const mpa_granule_info *info, uint8_t *positions, int id)
{
    // The highest value of a part is its illegal position. MPEG-1 positions
    // are 3-bit quantities whatever the part's width, so 8..15 (only a 4-bit
    // part can hold them) have no ratio either and go with 7. In an LSF part
    // nothing lies above 2^slen - 1 except marks already made.
    int e = 0;
    for (int p = 0; p < 4; ++p) {
        int n = info->nr_of_sfb[p];
        if (n > MPA_BAND_ENTRIES_MAX - e)
            n = MPA_BAND_ENTRIES_MAX - e;
        const int width = id ? 3 : info->slen[p];
        if (width > 0) {
            const int limit = (1 << width) - 1;
            for (int i = e; i < e + n; ++i)
                if (positions[i] >= limit)
                    positions[i] = MPA_IS_NONE;
        }
        e += n;
    }
}

void mpa_layer3_is_band(float *left, float *right, int is_pos, int count, int id,
                        int intensity_scale)
{
    float kl = 1.0f, kr = 1.0f;
    if (id) {
        if (is_pos > 6)
            return;
        kl = mpa_is_ratio_mpeg1[is_pos];
        kr = mpa_is_ratio_mpeg1[6 - is_pos];
    } else if (is_pos > 0) {
        if (is_pos >= MPA_IS_NONE)
            return;
        const float *ratio = mpa_is_ratio_lsf[intensity_scale & 1];
        if (is_pos & 1)
            kl = ratio[(is_pos + 1) >> 1];
        else
            kr = ratio[is_pos >> 1];
    }
    for (int i = 0; i < count; ++i) {
        const float l = left[i];
        right[i] = l * kr;
        left[i] = l * kl;
    }
}

void mpa_layer3_intensity_stereo(const mpa_frame_ctx *ctx, const mpa_granule_info *info,
                                 float *left, float *right, const uint8_t *scalefactors)
{
    const mpa_header *h = &ctx->decoder->header;
    const int c = info->band_count;
    const int d = info->short_band_count;
    const int n_long = c - 3 * d;
    if (c < 2 || c > MPA_BAND_ENTRIES_MAX || n_long < 0 || (d > 0 && c < 6))
        return;
    const uint8_t *widths = info->band_widths;

    uint8_t pos[MPA_BAND_ENTRIES_MAX];
    memcpy(pos, scalefactors, sizeof pos);

    int long_lines = 0;
    for (int e = 0; e < n_long; ++e)
        long_lines += widths[e];
    int lines = long_lines;
    for (int e = n_long; e < c; ++e)
        lines += widths[e];

    // Bound: short windows first (each its own), then the long bands, which
    // start marked when any short window held a non-zero band.
    int found = 0;
    if (d > 0)
        found = mpa_layer3_is_bound(pos + n_long, widths + n_long, right + lines, 3, d, 0);
    mpa_layer3_is_bound(pos, widths, right + long_lines, 1, n_long, found);

    // The top band has no position of its own: it takes the entry of the band
    // below, marks included. In LSF streams, a top band above the bound whose
    // neighbour below holds non-zero lines is coded with position 0 instead
    // (both channels take the left value), as in the ISO/IEC 13818-3
    // reference output of conformance stream l3-test45.
    const int top = d > 0 ? c - 3 : c - 1;
    const int below = d > 0 ? c - 6 : c - 2;
    const int n_top = d > 0 ? 3 : 1;
    int lsf_zero[3] = {0, 0, 0};
    if (!h->id) {
        int line = lines;
        for (int e = c - 1; e >= below; --e)
            line -= widths[e];
        for (int w = 0; w < n_top; ++w) {
            lsf_zero[w] = pos[top + w] != MPA_IS_NONE &&
                          mpa_band_energy(right + line, widths[below + w]) != 0.0;
            line += widths[below + w];
        }
    }

    mpa_layer3_is_illegal(info, pos, h->id);

    for (int w = 0; w < n_top; ++w)
        pos[top + w] = lsf_zero[w] ? 0 : pos[below + w];

    const int ms = h->mode_extension == 3;
    for (int e = 0; e < c; ++e) {
        const int n = widths[e];
        if (pos[e] != MPA_IS_NONE)
            mpa_layer3_is_band(left, right, pos[e], n, h->id, info->intensity_scale);
        else if (ms)
            mpa_layer3_ms_stereo(left, right, n);
        left += n;
        right += n;
    }
}
