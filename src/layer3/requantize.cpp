// Layer III requantisation (ISO/IEC 11172-3 2.4.3.4) and short-block reordering.
// The Huffman stage has already produced sign(x) * |x|^(4/3); here each band
// list entry is scaled by one gain from mpa_gain_table.
#include "layer3/requantize.h"

#include <cstring>

#include "core/simd.h"
#include "layer3/requantize_tables.h"

void mpa_layer3_apply_gains(float *spectrum, const int16_t *exponents, const uint8_t *widths,
                            int count)
{
    using mpa_simd::v4f;
    float *p = spectrum;
    for (int b = 0; b < count; b++) {
        // Small global gains with large scale factors go below 0; entry 0
        // (2^-37.5) is already far below one unit of 16-bit output.
        int e = exponents[b];
        e = e < 0 ? 0 : (e > 255 ? 255 : e);
        const float g = mpa_gain_table[e];
        // Widths are even: groups of four, then at most one pair.
        const v4f g4 = {g, g, g, g};
        const int quads = widths[b] >> 2;
        for (int i = 0; i < quads; i++, p += 4)
            mpa_simd::store4(p, mpa_simd::load4(p) * g4);
        if (widths[b] & 2) {
            p[0] *= g;
            p[1] *= g;
            p += 2;
        }
    }
}

void mpa_layer3_requantize(const mpa_granule_info *info, const uint8_t *scalefactors,
                           float *spectrum)
{
    mpa_layer3_requantize_lines(info, scalefactors, spectrum, MPA_GRANULE_LINES);
}

void mpa_layer3_requantize_lines(const mpa_granule_info *info, const uint8_t *scalefactors,
                                 float *spectrum, int lines)
{
    int16_t exponents[MPA_BAND_ENTRIES_MAX];
    const int gg = info->global_gain;
    const int shift = info->scalefac_scale + 1;
    const int count = info->band_count;

    // Entries that start at or above `lines` hold zeros and stay zero.
    int used = 0;
    while (used < count && info->band_starts[used] < lines)
        used++;

    if (info->block_kind == MPA_BLOCK_LONG) {
        if (info->preflag) {
            for (int b = 0; b < count; b++)
                exponents[b] = static_cast<int16_t>(gg - ((scalefactors[b] + mpa_pretab[b]) << shift));
        } else {
            for (int b = 0; b < count; b++)
                exponents[b] = static_cast<int16_t>(gg - (scalefactors[b] << shift));
        }
    } else {
        // Short or mixed: leading long entries (mixed only) get no
        // pre-emphasis; each short band's three entries are windows 0, 1, 2.
        const int long_entries = count - 3 * info->short_band_count;
        int b = 0;
        for (; b < long_entries; b++)
            exponents[b] = static_cast<int16_t>(gg - (scalefactors[b] << shift));
        const int sub0 = gg - 8 * info->subblock_gain[0];
        const int sub1 = gg - 8 * info->subblock_gain[1];
        const int sub2 = gg - 8 * info->subblock_gain[2];
        for (; b < count; b += 3) {
            exponents[b] = static_cast<int16_t>(sub0 - (scalefactors[b] << shift));
            exponents[b + 1] = static_cast<int16_t>(sub1 - (scalefactors[b + 1] << shift));
            exponents[b + 2] = static_cast<int16_t>(sub2 - (scalefactors[b + 2] << shift));
        }
    }
    mpa_layer3_apply_gains(spectrum, exponents, info->band_widths, used);
}

void mpa_reorder_band(const float *source, float *destination, int width)
{
    const float *w0 = source;
    const float *w1 = source + width;
    const float *w2 = source + 2 * width;
    float *d = destination;
    for (int l = 0; l < width; l += 2, d += 6) {
        d[0] = w0[l];
        d[1] = w1[l];
        d[2] = w2[l];
        d[3] = w0[l + 1];
        d[4] = w1[l + 1];
        d[5] = w2[l + 1];
    }
}

void mpa_layer3_reorder(const uint8_t *widths, int short_band_count, int band_count,
                        float *spectrum)
{
    float scratch[MPA_GRANULE_LINES];
    const int long_entries = band_count - 3 * short_band_count;
    int long_lines = 0;
    for (int b = 0; b < long_entries; b++)
        long_lines += widths[b];

    const float *src = spectrum + long_lines;
    float *dst = scratch;
    const uint8_t *w = widths + long_entries;
    for (int j = 0; j < short_band_count; j++, w += 3) {
        const int width = w[0];
        mpa_reorder_band(src, dst, width);
        src += 3 * width;
        dst += 3 * width;
    }
    // The long part of a mixed block stays where it is.
    memcpy(spectrum + long_lines, scratch, static_cast<size_t>(dst - scratch) * sizeof(float));
}
