// Layer III frame decoder: side information, main-data assembly from the bit
// reservoir, the granule pipeline, and the reservoir carried to the next frame.
#include <string.h>

#include "core/crc.h"
#include "layer3/huffman.h"
#include "layer3/hybrid.h"
#include "layer3/layer3.h"
#include "layer3/layer3_decode.h"
#include "layer3/requantize.h"

namespace {

// Side-information length in bits by [id][two channels].
constexpr int kSideInfoBits[2][2] = {{72, 136}, {136, 256}};

// Largest prefix the reservoir can hold before a frame's own main data.
constexpr int kMaxMainDataBegin = 511;

struct side_info {
    int main_data_begin;
    uint16_t scfsi[2][4];
    mpa_granule_info granule[2][2];  // [channel][granule]
};

// Reads the side information; MPA_ERROR when it holds values the decoder
// cannot use. The whole side information is always read.
int read_side_info(mpa_bitstream *b, const mpa_header *h, side_info *si)
{
    const int nch = h->n_channels;
    const int granules = h->id ? 2 : 1;
    int status = MPA_OK;
    memset(si, 0, sizeof(*si));
    if (h->id) {
        si->main_data_begin = (int)mpa_bits_get(b, 9);
        mpa_bits_get(b, nch == 1 ? 5 : 3);  // private bits
        for (int ch = 0; ch < nch; ch++)
            for (int band = 0; band < 4; band++)
                si->scfsi[ch][band] = (uint16_t)mpa_bits_get(b, 1);
    } else {
        si->main_data_begin = (int)mpa_bits_get(b, 8);
        mpa_bits_get(b, nch == 1 ? 1 : 2);
    }
    for (int gr = 0; gr < granules; gr++) {
        for (int ch = 0; ch < nch; ch++) {
            mpa_granule_info *g = &si->granule[ch][gr];
            g->part2_3_length = (uint16_t)mpa_bits_get(b, 12);
            g->big_values = (uint16_t)mpa_bits_get(b, 9);
            if (g->big_values > 288)
                status = MPA_ERROR;
            g->global_gain = (uint16_t)mpa_bits_get(b, 8);
            g->scalefac_compress = (uint16_t)mpa_bits_get(b, h->id ? 4 : 9);
            g->window_switching_flag = (uint16_t)mpa_bits_get(b, 1);
            if (g->window_switching_flag) {
                g->block_type = (uint16_t)mpa_bits_get(b, 2);
                g->mixed_block_flag = (uint16_t)mpa_bits_get(b, 1);
                for (int i = 0; i < 2; i++) {
                    g->table_select[i] = (uint16_t)mpa_bits_get(b, 5);
                    if (g->table_select[i] == 4 || g->table_select[i] == 14)
                        status = MPA_ERROR;
                }
                for (int i = 0; i < 3; i++)
                    g->subblock_gain[i] = (uint16_t)mpa_bits_get(b, 3);
            } else {
                for (int i = 0; i < 3; i++)
                    g->table_select[i] = (uint16_t)mpa_bits_get(b, 5);
                g->region0_count = (uint16_t)mpa_bits_get(b, 4);
                g->region1_count = (uint16_t)mpa_bits_get(b, 3);
            }
            if (h->id)
                g->preflag = (uint16_t)mpa_bits_get(b, 1);
            g->scalefac_scale = (uint16_t)mpa_bits_get(b, 1);
            g->count1table_select = (uint16_t)mpa_bits_get(b, 1);
        }
    }
    return status;
}

// Short-block reordering moves lines only within their short band: the bands
// above the non-zero lines need none, and *lines rises to the end of the band
// it falls in. Returns how many short bands to reorder.
int short_bands_to_reorder(const mpa_granule_info *g, int *lines)
{
    const uint8_t *w = g->band_widths;
    const int long_entries = g->band_count - 3 * g->short_band_count;
    int end = 0;
    for (int e = 0; e < long_entries; e++)
        end += w[e];
    int bands = 0;
    for (; bands < g->short_band_count && end < *lines; bands++)
        end += 3 * w[long_entries + 3 * bands];
    if (end > *lines)
        *lines = end;
    return bands;
}

// Appends a damaged frame's main data to the reservoir so that the frames
// after it still find what they reach back for.
void absorb_damaged_frame(mpa_frame_ctx *ctx, const uint8_t *main_data, long len)
{
    uint8_t *res = ctx->reservoir;
    if (len <= 0)
        return;
    if (len >= kMaxMainDataBegin) {
        memcpy(res, main_data + len - kMaxMainDataBegin, kMaxMainDataBegin);
        ctx->reservoir_fill = kMaxMainDataBegin;
        return;
    }
    memcpy(res + ctx->reservoir_fill, main_data, (size_t)len);
    ctx->reservoir_fill += (int)len;
    if (ctx->reservoir_fill > 1024) {
        memmove(res, res + ctx->reservoir_fill - kMaxMainDataBegin, kMaxMainDataBegin);
        ctx->reservoir_fill = kMaxMainDataBegin;
    }
}

// Keeps the last keep bytes of the assembled main data for the next frame.
void store_reservoir(mpa_frame_ctx *ctx, const uint8_t *assembled, int total, int keep)
{
    if (keep > total)
        keep = total;
    if (keep < 0)
        keep = 0;
    memcpy(ctx->reservoir, assembled + total - keep, (size_t)keep);
    ctx->reservoir_fill = keep;
}

}  // namespace

int mpa_layer3_next_main_data_begin(mpa_frame_ctx *ctx)
{
    mpa_header *h = &ctx->decoder->header;
    const mpa_bitstream *b = ctx->bits;
    const uint8_t *end = b->end;
    const long payload = (h->bits_in_frame - h->header_bits) / 8;
    const uint8_t *p = b->start + mpa_bits_position(b) / 8 + payload;
    h->next_main_data_begin = -1;
    if (payload < 0 || end - p < 4 || p[0] != 0xFF || (p[1] & 0xF6) != 0xF2)
        return -1;
    const int id = (p[1] >> 3) & 1;
    const uint8_t *q = p + ((p[1] & 1) ? 4 : 6);
    if (end - q < (id ? 2 : 1))
        return -1;
    h->next_main_data_begin = id ? (q[0] << 1 | q[1] >> 7) : q[0];
    return 0;
}

int mpa_layer3_decode(mpa_frame_ctx *ctx, int bytes_before, int header_status)
{
    mpa_decoder *dec = ctx->decoder;
    mpa_header *h = &dec->header;
    mpa_bitstream *b = ctx->bits;
    const int nch = h->n_channels;
    const int granules = h->id ? 2 : 1;
    const int side_bits = kSideInfoBits[h->id][nch == 2];

    // 1-2. The side information must be there; the frame may not be whole.
    if (mpa_bits_left(b) < side_bits)
        return MPA_ERR_NEED_DATA;
    const uint8_t *side_start = b->start + mpa_bits_position(b) / 8;
    const uint8_t *frame_start = side_start - h->header_bits / 8;
    const int payload_bits = h->bits_in_frame - h->header_bits;
    const bool whole_frame = mpa_bits_left(b) >= payload_bits;

    // 3. How much of this frame's data the next frame reaches back for.
    if (header_status != MPA_OK)
        h->next_main_data_begin = 0;
    else
        mpa_layer3_next_main_data_begin(ctx);

    int status = MPA_OK;
    side_info si;
    int md_bits = 0;

    // 4-5. CRC over the side information, then the side information itself.
    if (!ctx->skip_crc && mpa_crc_check_layer3(ctx, side_bits) != 0)
        status = MPA_ERR_CRC;
    if (status == MPA_OK)
        status = read_side_info(b, h, &si);
    if (status != MPA_OK)
        goto error_exit;

    {
        // 6-9. Main-data sizes.
        for (int gr = 0; gr < granules; gr++)
            for (int ch = 0; ch < nch; ch++)
                md_bits += si.granule[ch][gr].part2_3_length;
        const int mdb = si.main_data_begin;
        if (mpa_bits_left(b) < md_bits - 8 * mdb)
            return MPA_ERR_NEED_DATA;
        const int own_bits = payload_bits - side_bits;  // K
        if (h->next_main_data_begin >= 0) {
            dec->ancillary_bits = 8 * (mdb - h->next_main_data_begin) + own_bits - md_bits;
        } else {
            // The next frame is unknown: this frame ends where its audio data ends.
            dec->ancillary_bits = 0;
            const int beyond = md_bits - 8 * mdb;
            h->bits_in_frame = h->header_bits + side_bits + (beyond > 0 ? beyond : 0);
        }
        int avail = mpa_bits_left(b);
        if (avail > own_bits)
            avail = own_bits;
        if (avail < 0)
            avail = 0;

        // 10-11. Assemble the main data: the reservoir (or the input before
        // the frame) followed by the frame's own bytes. A free-format frame
        // whose length came from a distant or missing next header may claim
        // more than the buffer holds: its bytes are cut to the buffer.
        uint8_t main_data[MPA_MAIN_DATA_BYTES];
        const uint8_t *own = side_start + side_bits / 8;
        const int fill = ctx->reservoir_fill;
        int prefix;
        bool reservoir_short = false;
        if (mdb <= fill) {
            memcpy(main_data, ctx->reservoir + fill - mdb, (size_t)mdb);
            prefix = mdb;
        } else if (fill == 0 && bytes_before >= mdb) {
            memcpy(main_data, frame_start - mdb, (size_t)mdb);
            prefix = mdb;
        } else {
            // What is kept is the frame's tail, so all of the frame must be
            // there; and a frame reported consumed must lie in the input.
            if (avail < own_bits)
                return MPA_ERR_FRAME_TRUNCATED;
            // The frame reaches back beyond what is known: it cannot be
            // decoded; keep what follows its audio data for the next frame.
            // A partial reservoir keeps its own bytes, so nothing before the
            // caller's data is ever read.
            reservoir_short = true;
            prefix = fill == 0 ? bytes_before : fill;
            memcpy(main_data, fill == 0 ? frame_start - prefix : ctx->reservoir, (size_t)prefix);
        }
        int own_bytes = avail / 8;
        if (own_bytes > MPA_MAIN_DATA_BYTES - prefix)
            own_bytes = MPA_MAIN_DATA_BYTES - prefix;
        memcpy(main_data + prefix, own, (size_t)own_bytes);
        const int total = prefix + own_bytes;

        if (reservoir_short) {
            const int used = (md_bits + 7) / 8;
            int keep = mdb + own_bytes - used;
            if (keep > total)
                keep = total;
            if (keep > h->next_main_data_begin)
                keep = h->next_main_data_begin >= 0 ? h->next_main_data_begin
                                                     : (keep < kMaxMainDataBegin ? keep : kMaxMainDataBegin);
            store_reservoir(ctx, main_data, total, keep);
            return MPA_ERR_RESERVOIR_SHORT;
        }

        mpa_bitstream md;
        mpa_bits_init(&md, main_data, total);
        ctx->bits = &md;

        // 12. Scale factors, Huffman decoding and requantisation per granule.
        uint8_t *scf = ctx->scalefactor_index;
        // Per [channel][granule]: the lines from here on are zero. The stages
        // after the Huffman decoding skip them; their output stays the same.
        int lines[2][2] = {{576, 576}, {576, 576}};
        for (int gr = 0; gr < granules; gr++) {
            for (int ch = 0; ch < nch; ch++) {
                mpa_granule_info *g = &si.granule[ch][gr];
                uint8_t *sf = scf + ch * 78 + gr * 39;
                float *spectrum = ctx->spectrum + ch * 1152 + gr * 576;
                if (gr == 1)
                    memcpy(sf, sf - 39, 39);
                mpa_layer3_granule_bands(ctx, g);
                const int p0 = mpa_bits_position(&md);
                if (h->id)
                    mpa_layer3_scalefactors_mpeg1(g, si.scfsi[ch], &md, sf, gr);
                else
                    mpa_layer3_scalefactors_lsf(ctx, g, sf, ch);
                if (mpa_layer3_huffman_lines(g, ctx, spectrum, mpa_bits_position(&md) - p0,
                                             &lines[ch][gr]) != 0) {
                    ctx->bits = b;
                    status = MPA_ERROR;
                    goto error_exit;
                }
                // The Huffman decoding wrote the lines below its end.
                memset(spectrum + lines[ch][gr], 0, (576 - (size_t)lines[ch][gr]) * sizeof(float));
                mpa_layer3_requantize_lines(g, sf, spectrum, lines[ch][gr]);
                const int skip = p0 + g->part2_3_length - mpa_bits_position(&md);
                if (skip != 0)
                    mpa_bits_skip(&md, skip);
            }
        }
        ctx->bits = b;

        // 13. Not all of the frame's data was there.
        if (avail < own_bits)
            return MPA_ERR_FRAME_TRUNCATED;

        // 14. Keep what the next frame reaches back for.
        const int keep = h->next_main_data_begin >= 0
                             ? h->next_main_data_begin
                             : (total - md_bits / 8 < kMaxMainDataBegin ? total - md_bits / 8 : kMaxMainDataBegin);
        store_reservoir(ctx, main_data, total, keep);

        // 15. Joint stereo, once over the frame.
        if (h->mode == 1 && h->mode_extension != 0) {
            float *left = ctx->spectrum;
            float *right = ctx->spectrum + 1152;
            for (int gr = 0; gr < granules; gr++) {
                // Each channel takes values from the other.
                const int n = lines[0][gr] > lines[1][gr] ? lines[0][gr] : lines[1][gr];
                lines[0][gr] = lines[1][gr] = n;
                if (h->mode_extension == 2)
                    mpa_layer3_ms_stereo(left + gr * 576, right + gr * 576, n);
                else
                    mpa_layer3_intensity_stereo(ctx, &si.granule[1][gr], left + gr * 576, right + gr * 576,
                                                scf + 78 + gr * 39);
            }
        }

        // 16. Reordering and hybrid synthesis into the PCM buffer.
        for (int gr = 0; gr < granules; gr++) {
            for (int ch = 0; ch < nch; ch++) {
                const mpa_granule_info *g = &si.granule[ch][gr];
                float *spectrum = ctx->spectrum + ch * 1152 + gr * 576;
                int n = lines[ch][gr];
                if (g->block_kind != MPA_BLOCK_LONG) {
                    const int bands = short_bands_to_reorder(g, &n);
                    const int long_entries = g->band_count - 3 * g->short_band_count;
                    mpa_layer3_reorder(g->band_widths, bands, long_entries + 3 * bands, spectrum);
                }
                mpa_layer3_hybrid_lines(ctx, spectrum, ctx->pcm + 1152 * ch + 576 * gr, g->block_type,
                                        2 * g->mixed_block_flag, ch, n);
            }
        }
        return MPA_OK;
    }

error_exit:
    // The frame's main data still feeds the frames that reach back into it.
    if (whole_frame)
        absorb_damaged_frame(ctx, side_start + side_bits / 8, (long)(payload_bits - side_bits) / 8);
    return status;
}
