// Layer III scale factors: one byte per entry of the granule's band list,
// with three zero bytes after the last one read (the always-zero last band).
#include "layer3/scalefactors.h"

#include <cstring>

#include "layer3/scalefactor_tables.h"

int mpa_read_scalefactors(mpa_bitstream *bits, uint8_t *dest, int w, int n)
{
    if (n <= 0)
        return 0;
    if (w == 0) {
        std::memset(dest, 0, static_cast<size_t>(n));
        return n;
    }
    for (int i = 0; i < n; i++)
        dest[i] = static_cast<uint8_t>(mpa_bits_get(bits, w));
    return n;
}

int mpa_layer3_scalefactors_mpeg1(mpa_granule_info *info, const uint16_t scfsi[4],
                                  mpa_bitstream *bits, uint8_t *dest, int granule)
{
    const int sfc = info->scalefac_compress & 15;
    const int slen1 = mpa_slen1[sfc];
    const int slen2 = mpa_slen2[sfc];
    const int kind = info->block_kind;
    const int count_a = mpa_scalefac_counts[kind][0];
    const int count_b = mpa_scalefac_counts[kind][1];
    uint8_t *p = dest;

    if (kind == MPA_BLOCK_LONG && granule == 1) {
        // scfsi: a set flag reuses granule 0's band, which the caller has
        // already copied into dest.
        for (int i = 0; i < 4; i++) {
            const int n = mpa_scfsi_band_sizes[i];
            if (!scfsi[i])
                mpa_read_scalefactors(bits, p, i < 2 ? slen1 : slen2, n);
            p += n;
        }
    } else {
        p += mpa_read_scalefactors(bits, p, slen1, count_a);
        p += mpa_read_scalefactors(bits, p, slen2, count_b);
    }
    p[0] = p[1] = p[2] = 0;

    info->slen[0] = static_cast<uint16_t>(slen1);
    info->slen[1] = static_cast<uint16_t>(slen2);
    info->slen[2] = info->slen[3] = 0;
    info->nr_of_sfb[0] = static_cast<uint16_t>(count_a);
    info->nr_of_sfb[1] = static_cast<uint16_t>(count_b);
    info->nr_of_sfb[2] = info->nr_of_sfb[3] = 0;
    return 1;
}

// ISO/IEC 13818-3 2.4.3.2: scalefac_compress packs up to four bit widths and
// selects a row of nr_of_sfb_block. The divisions come from the instance's
// degrouping tables and mpa_div3.
int mpa_layer3_scalefactors_lsf(const mpa_frame_ctx *ctx, mpa_granule_info *info,
                                uint8_t *dest, int channel)
{
    const uint8_t(*grouping_9)[4] = ctx->grouping[1];  // {n mod 9, (n / 9) mod 9, n / 81}
    const uint8_t(*grouping_5)[4] = ctx->grouping[3];  // {n mod 5, (n / 5) mod 5, n / 25}
    const unsigned sfc = info->scalefac_compress & 511u;
    unsigned slen[4] = {0, 0, 0, 0};
    int row;

    info->preflag = 0;
    if ((ctx->decoder->header.mode_extension & 1) && channel == 1) {
        // Intensity-stereo channel: the last bit is the intensity scale.
        const unsigned c = sfc >> 1;
        info->intensity_scale = static_cast<uint16_t>(sfc & 1);
        if (c < 180) {
            const unsigned q = grouping_9[c >> 2][1];  // c / 36
            const unsigned r = c - 36 * q;              // c mod 36
            slen[0] = q;
            slen[1] = mpa_div3[r >> 1][0];              // r / 6
            slen[2] = r - 6 * slen[1];                  // c mod 6
            row = 3;
        } else if (c < 244) {
            const unsigned x = c - 180;
            slen[0] = x >> 4;
            slen[1] = (x >> 2) & 3;
            slen[2] = x & 3;
            row = 4;
        } else {
            const unsigned x = c - 244;
            slen[0] = mpa_div3[x][0];
            slen[1] = mpa_div3[x][1];
            row = 5;
        }
    } else {
        info->intensity_scale = 0;
        if (sfc < 400) {
            const unsigned v = sfc >> 4;
            slen[0] = grouping_5[v][1];  // v / 5
            slen[1] = grouping_5[v][0];  // v mod 5
            slen[2] = (sfc >> 2) & 3;
            slen[3] = sfc & 3;
            row = 0;
        } else if (sfc < 500) {
            const unsigned x = sfc - 400;
            slen[0] = grouping_5[x >> 2][1];
            slen[1] = grouping_5[x >> 2][0];
            slen[2] = x & 3;
            row = 1;
        } else {
            const unsigned x = sfc - 500;
            slen[0] = mpa_div3[x][0];
            slen[1] = mpa_div3[x][1];
            info->preflag = 1;
            row = 2;
        }
    }

    const uint8_t *counts = mpa_nr_of_sfb[row][info->block_kind];
    uint8_t *p = dest;
    for (int i = 0; i < 4; i++) {
        p += mpa_read_scalefactors(ctx->bits, p, static_cast<int>(slen[i]), counts[i]);
        info->slen[i] = static_cast<uint16_t>(slen[i]);
        info->nr_of_sfb[i] = counts[i];
    }
    p[0] = p[1] = p[2] = 0;
    return 1;
}
