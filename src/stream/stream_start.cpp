// The start of a stream: tags in front (and, once known, behind), the first
// frame after any junk, an info frame with its gapless values, and whether
// the stream's CRC words can be trusted.
#include "stream/stream_start.h"

#include <algorithm>
#include <cstring>

#include "core/decoder.h"
#include "stream/stream_decode.h"
#include "stream/stream_internal.h"

namespace {

// Some encoders write CRC words that never match. When every protected frame
// of the first few fails its CRC and decodes cleanly without it, CRC words
// are ignored for the stream. Tried on a scratch instance, on the bytes at
// hand, before the first frame is decoded.
void probe_crc(mpa_stream *s)
{
    if (s->step.header.protection_bit != 0)
        return;
    mpa_decoder *probe = nullptr;
    if (mpa_decoder_open(&probe) != MPA_OK || !probe)
        return;
    probe->accept_mpeg25 = s->decoder->accept_mpeg25;
    const mpa_byte_window &w = s->window;
    mpa_framer f = s->framer;
    mpa_framer_step step = s->step;
    size_t at = w.pos;
    int failed = 0;
    bool passed = false;
    for (int n = 0; n < 3 && !passed; n++) {
        const uint8_t *d = w.data + at;
        const size_t avail = w.len - at;
        int consumed = 0, needed = 0;
        const int pre =
            n == 0 ? 0 : static_cast<int>(std::min<size_t>(at - s->window.pos, MPA_WINDOW_HISTORY));
        const int len = mpa_stream_input_length(avail);
        int status =
            mpa_decode_step(probe, s->pcm[s->cur], d, len, pre, MPA_PCM_BUFFER_FLOATS, &consumed, &needed);
        if (status == MPA_ERR_CRC) {
            probe->skip_crc = 1;
            status = mpa_decode_step(probe, s->pcm[s->cur], d, len, pre, MPA_PCM_BUFFER_FLOATS, &consumed,
                                     &needed);
            probe->skip_crc = 0;
            if (status != MPA_OK && status != MPA_ERR_RESERVOIR_SHORT)
                break;
            failed++;
        } else if (status == MPA_OK || status == MPA_ERR_RESERVOIR_SHORT) {
            passed = step.header.protection_bit == 0;
        } else {
            break;
        }
        mpa_framer_took(&f, d, avail, w.eof, step.header);
        at += static_cast<size_t>(consumed);
        step = mpa_framer_next(&f, w.data + at, w.len - at, w.eof);
        if (step.event != MPA_FRAMER_FRAME || step.lost_frames > 0)
            break;
        at += step.skip;
    }
    mpa_decoder_close(probe);
    if (!passed && (failed >= 3 || (failed > 0 && w.eof && w.len - w.pos < MPA_FRAMER_LOOKAHEAD))) {
        s->decoder->skip_crc = 1;
        s->counts.crc_ignored = 1;
    }
}

void set_gapless(mpa_stream *s, const mpa_header &h)
{
    if (!s->config.gapless || s->info.encoder_delay < 0)
        return;
    s->keep_from = s->info.encoder_delay + MPA_DECODER_DELAY;
    if (s->info.frames >= 0) {
        s->drop_to = s->info.frames * h.n_samples;
        s->keep_to = std::min(s->drop_to, s->drop_to - s->info.encoder_padding + MPA_DECODER_DELAY);
    }
    s->counts.gapless = 1;
}

void merge_trailing(mpa_stream *s, mpa_tag_set *trail)
{
    for (const auto &kv : trail->items)
        mpa_tag_add(&s->tags, kv.first, kv.second);
    if (s->tags.picture.empty() && !trail->picture.empty()) {
        s->tags.picture = std::move(trail->picture);
        s->tags.picture_mime = trail->picture_mime;
    }
    s->tags.clamped += trail->clamped;
    s->tags.kinds.insert(s->tags.kinds.end(), trail->kinds.begin(), trail->kinds.end());
    *trail = mpa_tag_set();
}

}  // namespace

int64_t mpa_stream_tail_tags(mpa_stream *s, const uint8_t *tail, size_t len, int64_t offset)
{
    s->trailing_done = true;
    mpa_tag_set trail;
    const int64_t n =
        std::min<int64_t>(mpa_trailing_tags(tail, len, offset, s->config.want_picture != 0, &trail),
                          offset + static_cast<int64_t>(len));
    // The leading tags go first: they may still be to come.
    if (s->phase == MPA_PHASE_LEADING_TAGS) {
        s->trailing = std::move(trail);
        s->trailing_waits = true;
    } else {
        merge_trailing(s, &trail);
    }
    return n;
}

void mpa_stream_trailing_tags(mpa_stream *s)
{
    mpa_byte_window *w = &s->window;
    const int64_t n = mpa_stream_tail_tags(s, mpa_window_at(*w), mpa_window_avail(*w), mpa_window_offset(*w));
    // Only what the window still holds can be cut here.
    const size_t cut = static_cast<size_t>(std::min<int64_t>(n, static_cast<int64_t>(mpa_window_avail(*w))));
    s->counts.tag_bytes += static_cast<int64_t>(cut);
    w->len -= cut;
    w->end = w->base + static_cast<int64_t>(w->len);
}

int mpa_stream_start(mpa_stream *s)
{
    mpa_byte_window *w = &s->window;
    while (s->phase == MPA_PHASE_LEADING_TAGS) {
        if (s->tag_left > 0) {
            if (!mpa_stream_fill(s, 1))
                return mpa_stream_status(s, MPA_STREAM_NEED_INPUT);
            const size_t k = static_cast<size_t>(
                std::min<int64_t>(static_cast<int64_t>(mpa_window_avail(*w)), s->tag_left));
            const size_t keep = s->config.want_picture ? MPA_TAG_KEEP_PICTURE : MPA_TAG_KEEP_TEXT;
            const size_t take = std::min(k, keep - std::min(keep, s->tag_bytes.size()));
            s->tag_bytes.insert(s->tag_bytes.end(), mpa_window_at(*w), mpa_window_at(*w) + take);
            mpa_window_skip(w, k);
            s->tag_left -= static_cast<int64_t>(k);
            s->counts.tag_bytes += static_cast<int64_t>(k);
            if (k == 0 || s->tag_left == 0) {  // done, or cut by the end of the data
                mpa_id3v2_parse(s->tag_bytes.data(), s->tag_bytes.size(), s->config.want_picture != 0,
                                &s->tags);
                std::vector<uint8_t>().swap(s->tag_bytes);
                s->tag_left = 0;
            }
            continue;
        }
        if (!mpa_stream_fill(s, MPA_ID3V2_HEADER_BYTES))
            return mpa_stream_status(s, MPA_STREAM_NEED_INPUT);
        const int64_t n = mpa_id3v2_length(mpa_window_at(*w), mpa_window_avail(*w));
        if (n == 0) {
            s->phase = MPA_PHASE_FIRST_FRAME;
            if (s->trailing_waits) {
                s->trailing_waits = false;
                merge_trailing(s, &s->trailing);
            }
            break;
        }
        s->tag_left = n;
        s->tag_bytes.clear();
    }
    while (s->phase == MPA_PHASE_FIRST_FRAME) {
        if (!mpa_stream_fill(s, s->want))
            return mpa_stream_status(s, MPA_STREAM_NEED_INPUT);
        const mpa_framer_step step =
            mpa_framer_next(&s->framer, mpa_window_at(*w), mpa_window_avail(*w), w->eof);
        mpa_window_skip(w, step.skip);
        s->counts.bytes_skipped += static_cast<int64_t>(step.skip);
        if (s->counts.bytes_skipped > MPA_MAX_LEAD_UNSEEKABLE && !s->counts.seekable) {
            s->phase = MPA_PHASE_DONE;
            return MPA_ERR_NO_STREAM;
        }
        if (step.event == MPA_FRAMER_MORE) {
            s->want = step.want;
            continue;
        }
        s->want = MPA_FRAMER_LOOKAHEAD;
        if (step.event == MPA_FRAMER_END) {
            s->phase = MPA_PHASE_DONE;
            return mpa_stream_status(s, s->info_frame_offset >= 0 ? MPA_STREAM_END : MPA_ERR_NO_STREAM);
        }
        const int64_t offset = mpa_window_offset(*w);
        const size_t bytes = static_cast<size_t>(step.header.bits_in_frame >> 3);
        if (s->counts.leading_junk < 0)
            s->counts.leading_junk = s->counts.bytes_skipped;
        if (s->info_frame_offset < 0 && s->first_audio_offset < 0 &&
            mpa_parse_info_frame(step.header, mpa_window_at(*w), bytes, &s->info)) {
            // The info frame carries no audio: it is read, not decoded.
            s->info_frame_offset = offset;
            s->stream_start = offset;
            s->first_header = step.header;
            set_gapless(s, step.header);
            mpa_framer_took(&s->framer, mpa_window_at(*w), mpa_window_avail(*w), w->eof, step.header);
            mpa_window_skip(w, bytes);
            continue;
        }
        if (s->info_frame_offset < 0)
            s->stream_start = offset;
        s->first_audio_offset = offset;
        s->first_audio_framer = s->framer;
        s->first_header = step.header;
        s->step = step;
        s->have_step = true;
        s->phase = MPA_PHASE_FRAMES;
        mpa_frame_out f;
        mpa_frame_out_set(&f, step.header);
        mpa_stream_set_format(s, f);
        s->format_known = !s->push;
        probe_crc(s);
    }
    return s->phase == MPA_PHASE_DONE ? static_cast<int>(MPA_STREAM_END) : static_cast<int>(MPA_OK);
}

