// Layer III frame decoder: side information, main-data assembly from the bit
// reservoir, the granule pipeline, and the reservoir carried to the next frame.
#include "layer3/layer3_decode.h"

#include <cstring>

#include "core/crc.h"
#include "layer3/granule.h"
#include "layer3/granule_info.h"
#include "layer3/huffman.h"
#include "layer3/hybrid.h"
#include "layer3/requantize.h"
#include "layer3/scalefactors.h"
#include "layer3/stereo.h"

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
        si->main_data_begin = static_cast<int>(mpa_bits_get(b, 9));
        mpa_bits_get(b, nch == 1 ? 5 : 3);  // private bits
        for (int ch = 0; ch < nch; ch++)
            for (int band = 0; band < 4; band++)
                si->scfsi[ch][band] = static_cast<uint16_t>(mpa_bits_get(b, 1));
    } else {
        si->main_data_begin = static_cast<int>(mpa_bits_get(b, 8));
        mpa_bits_get(b, nch == 1 ? 1 : 2);
    }
    for (int gr = 0; gr < granules; gr++) {
        for (int ch = 0; ch < nch; ch++) {
            mpa_granule_info *g = &si->granule[ch][gr];
            g->part2_3_length = static_cast<uint16_t>(mpa_bits_get(b, 12));
            g->big_values = static_cast<uint16_t>(mpa_bits_get(b, 9));
            if (g->big_values > 288)
                status = MPA_ERROR;
            g->global_gain = static_cast<uint16_t>(mpa_bits_get(b, 8));
            g->scalefac_compress = static_cast<uint16_t>(mpa_bits_get(b, h->id ? 4 : 9));
            g->window_switching_flag = static_cast<uint16_t>(mpa_bits_get(b, 1));
            if (g->window_switching_flag) {
                g->block_type = static_cast<uint16_t>(mpa_bits_get(b, 2));
                g->mixed_block_flag = static_cast<uint16_t>(mpa_bits_get(b, 1));
                for (int i = 0; i < 2; i++) {
                    g->table_select[i] = static_cast<uint16_t>(mpa_bits_get(b, 5));
                    if (g->table_select[i] == 4 || g->table_select[i] == 14)
                        status = MPA_ERROR;
                }
                for (int i = 0; i < 3; i++)
                    g->subblock_gain[i] = static_cast<uint16_t>(mpa_bits_get(b, 3));
            } else {
                for (int i = 0; i < 3; i++)
                    g->table_select[i] = static_cast<uint16_t>(mpa_bits_get(b, 5));
                g->region0_count = static_cast<uint16_t>(mpa_bits_get(b, 4));
                g->region1_count = static_cast<uint16_t>(mpa_bits_get(b, 3));
            }
            if (h->id)
                g->preflag = static_cast<uint16_t>(mpa_bits_get(b, 1));
            g->scalefac_scale = static_cast<uint16_t>(mpa_bits_get(b, 1));
            g->count1table_select = static_cast<uint16_t>(mpa_bits_get(b, 1));
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
    memcpy(res + ctx->reservoir_fill, main_data, static_cast<size_t>(len));
    ctx->reservoir_fill += static_cast<int>(len);
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
    memcpy(ctx->reservoir, assembled + total - keep, static_cast<size_t>(keep));
    ctx->reservoir_fill = keep;
}

// Where the frame lies in the input, taken before its length may be revised.
struct frame_span {
    const uint8_t *frame_start;  // the header's first byte
    const uint8_t *own_start;    // the frame's own main data, after the side information
    int side_bits;
    int own_bits;                // the frame's own main-data bits
    bool whole;                  // all of the frame is in the input
};

// The main data as the granule steps read it.
struct main_data {
    uint8_t bytes[MPA_MAIN_DATA_BYTES];
    int begin;      // main_data_begin: bytes taken from before the frame
    int bits;       // part2_3_length of every granule and channel
    int avail;      // the frame's own main-data bits in the input, 0..own_bits
    int total;      // bytes assembled
};

// Lines per [channel][granule] from which the spectrum is zero.
typedef int granule_lines[2][2];

int frame_granules(const mpa_header *h)
{
    return h->id ? 2 : 1;
}

// The CRC over the side information, then the side information itself.
int read_frame_side_info(mpa_frame_ctx *ctx, const frame_span *span, side_info *si)
{
    if (!ctx->skip_crc && mpa_crc_check_layer3(ctx, span->side_bits) != 0)
        return MPA_ERR_CRC;
    return read_side_info(ctx->bits, &ctx->decoder->header, si);
}

// The main data's size from the side information, the ancillary bits and,
// when the next frame is unknown, where this frame ends.
// MPA_ERR_NEED_DATA when the input ends before the granules' last bit.
int size_main_data(mpa_frame_ctx *ctx, const side_info *si, const frame_span *span, main_data *md)
{
    mpa_decoder *dec = ctx->decoder;
    mpa_header *h = &dec->header;
    const mpa_bitstream *b = ctx->bits;
    md->begin = si->main_data_begin;
    md->bits = 0;
    for (int gr = 0; gr < frame_granules(h); gr++)
        for (int ch = 0; ch < h->n_channels; ch++)
            md->bits += si->granule[ch][gr].part2_3_length;
    if (mpa_bits_left(b) < md->bits - 8 * md->begin)
        return MPA_ERR_NEED_DATA;
    if (h->next_main_data_begin >= 0) {
        dec->ancillary_bits = 8 * (md->begin - h->next_main_data_begin) + span->own_bits - md->bits;
    } else {
        // The next frame is unknown: this frame ends where its audio data ends.
        dec->ancillary_bits = 0;
        const int beyond = md->bits - 8 * md->begin;
        h->bits_in_frame = h->header_bits + span->side_bits + (beyond > 0 ? beyond : 0);
    }
    int avail = mpa_bits_left(b);
    if (avail > span->own_bits)
        avail = span->own_bits;
    if (avail < 0)
        avail = 0;
    md->avail = avail;
    return MPA_OK;
}

// The main data: the reservoir (or the input before the frame) followed by
// the frame's own bytes. A free-format frame whose length came from a distant
// or missing next header may claim more than the buffer holds: its bytes are
// cut to the buffer. MPA_ERR_RESERVOIR_SHORT, with the reservoir kept for the
// next frame, when the frame reaches back beyond what is known.
int assemble_main_data(mpa_frame_ctx *ctx, const frame_span *span, int bytes_before, main_data *md)
{
    const mpa_header *h = &ctx->decoder->header;
    const int mdb = md->begin;
    const int fill = ctx->reservoir_fill;
    int prefix;
    bool reservoir_short = false;
    if (mdb <= fill) {
        memcpy(md->bytes, ctx->reservoir + fill - mdb, static_cast<size_t>(mdb));
        prefix = mdb;
    } else if (fill == 0 && bytes_before >= mdb) {
        memcpy(md->bytes, span->frame_start - mdb, static_cast<size_t>(mdb));
        prefix = mdb;
    } else {
        // What is kept is the frame's tail, so all of the frame must be
        // there; and a frame reported consumed must lie in the input.
        if (md->avail < span->own_bits)
            return MPA_ERR_FRAME_TRUNCATED;
        // The frame cannot be decoded; what follows its audio data is kept
        // for the next frame. A partial reservoir keeps its own bytes, so
        // nothing before the caller's data is ever read.
        reservoir_short = true;
        prefix = fill == 0 ? bytes_before : fill;
        memcpy(md->bytes, fill == 0 ? span->frame_start - prefix : ctx->reservoir,
               static_cast<size_t>(prefix));
    }
    int own_bytes = md->avail / 8;
    if (own_bytes > MPA_MAIN_DATA_BYTES - prefix)
        own_bytes = MPA_MAIN_DATA_BYTES - prefix;
    memcpy(md->bytes + prefix, span->own_start, static_cast<size_t>(own_bytes));
    md->total = prefix + own_bytes;

    if (reservoir_short) {
        const int used = (md->bits + 7) / 8;
        int keep = mdb + own_bytes - used;
        if (keep > md->total)
            keep = md->total;
        if (keep > h->next_main_data_begin)
            keep = h->next_main_data_begin >= 0 ? h->next_main_data_begin
                                                 : (keep < kMaxMainDataBegin ? keep : kMaxMainDataBegin);
        store_reservoir(ctx, md->bytes, md->total, keep);
        return MPA_ERR_RESERVOIR_SHORT;
    }
    return MPA_OK;
}

// Scale factors, Huffman decoding and requantisation of every granule and
// channel into ctx->spectrum; lines receives where each spectrum's non-zero
// lines end (the stages after the Huffman decoding skip the zeros above, their
// output staying the same). MPA_ERROR when a big-value region ran past its
// granule's end.
int decode_granules(mpa_frame_ctx *ctx, side_info *si, const main_data *md, granule_lines lines)
{
    const mpa_header *h = &ctx->decoder->header;
    mpa_bitstream *frame_bits = ctx->bits;
    mpa_bitstream reader;
    mpa_bits_init(&reader, md->bytes, md->total);
    ctx->bits = &reader;
    int status = MPA_OK;
    for (int gr = 0; gr < frame_granules(h) && status == MPA_OK; gr++) {
        for (int ch = 0; ch < h->n_channels; ch++) {
            mpa_granule_info *g = &si->granule[ch][gr];
            uint8_t *sf = ctx->scalefactor_index + ch * MPA_CHANNEL_SCF_BYTES + gr * MPA_GRANULE_SCF_BYTES;
            float *spectrum = ctx->spectrum + ch * MPA_CHANNEL_LINES + gr * MPA_GRANULE_LINES;
            if (gr == 1)
                memcpy(sf, sf - MPA_GRANULE_SCF_BYTES, MPA_GRANULE_SCF_BYTES);
            mpa_layer3_granule_bands(ctx, g);
            const int p0 = mpa_bits_position(&reader);
            if (h->id)
                mpa_layer3_scalefactors_mpeg1(g, si->scfsi[ch], &reader, sf, gr);
            else
                mpa_layer3_scalefactors_lsf(ctx, g, sf, ch);
            if (mpa_layer3_huffman_lines(g, ctx, spectrum, mpa_bits_position(&reader) - p0,
                                         &lines[ch][gr]) != 0) {
                status = MPA_ERROR;
                break;
            }
            // The Huffman decoding wrote the lines below its end.
            memset(spectrum + lines[ch][gr], 0,
                   (MPA_GRANULE_LINES - static_cast<size_t>(lines[ch][gr])) * sizeof(float));
            mpa_layer3_requantize_lines(g, sf, spectrum, lines[ch][gr]);
            const int skip = p0 + g->part2_3_length - mpa_bits_position(&reader);
            if (skip != 0)
                mpa_bits_skip(&reader, skip);
        }
    }
    ctx->bits = frame_bits;
    return status;
}

// Keeps what the next frame reaches back for.
void keep_reservoir(mpa_frame_ctx *ctx, const main_data *md)
{
    const mpa_header *h = &ctx->decoder->header;
    const int tail = md->total - md->bits / 8;
    const int keep = h->next_main_data_begin >= 0 ? h->next_main_data_begin
                                                  : (tail < kMaxMainDataBegin ? tail : kMaxMainDataBegin);
    store_reservoir(ctx, md->bytes, md->total, keep);
}

// Joint stereo, once over the frame.
void joint_stereo(mpa_frame_ctx *ctx, const side_info *si, granule_lines lines)
{
    const mpa_header *h = &ctx->decoder->header;
    if (h->mode != 1 || h->mode_extension == 0)
        return;
    float *left = ctx->spectrum;
    float *right = ctx->spectrum + MPA_CHANNEL_LINES;
    const uint8_t *right_scalefactors = ctx->scalefactor_index + MPA_CHANNEL_SCF_BYTES;
    for (int gr = 0; gr < frame_granules(h); gr++) {
        // Each channel takes values from the other.
        const int n = lines[0][gr] > lines[1][gr] ? lines[0][gr] : lines[1][gr];
        lines[0][gr] = lines[1][gr] = n;
        const int at = gr * MPA_GRANULE_LINES;
        if (h->mode_extension == 2)
            mpa_layer3_ms_stereo(left + at, right + at, n);
        else
            mpa_layer3_intensity_stereo(ctx, &si->granule[1][gr], left + at, right + at,
                                        right_scalefactors + gr * MPA_GRANULE_SCF_BYTES);
    }
}

// Short-block reordering and hybrid synthesis into the PCM buffer, whose
// channels hold two granules of 576 samples each.
void synthesize_granules(mpa_frame_ctx *ctx, const side_info *si, const granule_lines lines)
{
    const mpa_header *h = &ctx->decoder->header;
    for (int gr = 0; gr < frame_granules(h); gr++) {
        for (int ch = 0; ch < h->n_channels; ch++) {
            const mpa_granule_info *g = &si->granule[ch][gr];
            const int at = ch * MPA_CHANNEL_LINES + gr * MPA_GRANULE_LINES;
            float *spectrum = ctx->spectrum + at;
            int n = lines[ch][gr];
            if (g->block_kind != MPA_BLOCK_LONG) {
                const int bands = short_bands_to_reorder(g, &n);
                const int long_entries = g->band_count - 3 * g->short_band_count;
                mpa_layer3_reorder(g->band_widths, bands, long_entries + 3 * bands, spectrum);
            }
            mpa_layer3_hybrid_lines(ctx, spectrum, ctx->pcm + at, g->block_type,
                                    2 * g->mixed_block_flag, ch, n);
        }
    }
}

// A damaged frame's main data still feeds the frames that reach back into it.
int damaged_frame(mpa_frame_ctx *ctx, const frame_span *span, int status)
{
    if (span->whole)
        absorb_damaged_frame(ctx, span->own_start, static_cast<long>(span->own_bits) / 8);
    return status;
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
    if (payload < 0 || end - p < 4 || p[0] != 0xFF)
        return -1;
    // A Layer III header; MPEG 2.5 (eleven sync bits) where the instance takes it.
    if ((p[1] & 0xF6) != 0xF2 && !(ctx->decoder->accept_mpeg25 && (p[1] & 0xFE) == 0xE2))
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
    mpa_header *h = &ctx->decoder->header;
    const mpa_bitstream *b = ctx->bits;

    // The side information must be there; the frame may not be whole.
    frame_span span;
    span.side_bits = kSideInfoBits[h->id][h->n_channels == 2];
    if (mpa_bits_left(b) < span.side_bits)
        return MPA_ERR_NEED_DATA;
    const uint8_t *side_start = b->start + mpa_bits_position(b) / 8;
    const int payload_bits = h->bits_in_frame - h->header_bits;
    span.frame_start = side_start - h->header_bits / 8;
    span.own_start = side_start + span.side_bits / 8;
    span.own_bits = payload_bits - span.side_bits;
    span.whole = mpa_bits_left(b) >= payload_bits;

    // How much of this frame's data the next frame reaches back for.
    if (header_status != MPA_OK)
        h->next_main_data_begin = 0;
    else
        mpa_layer3_next_main_data_begin(ctx);

    side_info si;
    int status = read_frame_side_info(ctx, &span, &si);
    if (status != MPA_OK)
        return damaged_frame(ctx, &span, status);

    main_data md;
    status = size_main_data(ctx, &si, &span, &md);
    if (status == MPA_OK)
        status = assemble_main_data(ctx, &span, bytes_before, &md);
    if (status != MPA_OK)
        return status;

    granule_lines lines = {{MPA_GRANULE_LINES, MPA_GRANULE_LINES}, {MPA_GRANULE_LINES, MPA_GRANULE_LINES}};
    if (decode_granules(ctx, &si, &md, lines) != MPA_OK)
        return damaged_frame(ctx, &span, MPA_ERROR);
    // Not all of the frame's data was there.
    if (md.avail < span.own_bits)
        return MPA_ERR_FRAME_TRUNCATED;
    keep_reservoir(ctx, &md);
    joint_stereo(ctx, &si, lines);
    synthesize_granules(ctx, &si, lines);
    return MPA_OK;
}
