// The decoding loop of the stream layer: leading tags, the first frame and
// an info frame, then frame after frame, decoded, concealed where damaged,
// or silent where Layer III main data lies before the stream.
#include <algorithm>
#include <cstring>

#include "core/decoder.h"
#include "stream/frame_run.h"
#include "stream/stream_internal.h"

namespace {

// Fills the window to want bytes. A push window that cannot says so.
bool fill(mpa_stream *s, size_t want)
{
    mpa_byte_window *w = &s->window;
    const bool ok = mpa_window_fill(w, want);
    if (w->eof && !s->trailing_done)
        mpa_stream_trailing_tags(s);
    return ok || w->eof;
}

int io_or(mpa_stream *s, int status)
{
    return s->source.failed ? MPA_ERR_IO : status;
}

void set_out(mpa_frame_out *f, const mpa_header &h)
{
    f->sampling_rate = h.sampling_rate;
    f->channels = h.n_channels;
    f->layer = 4 - h.layer_bits;
    f->version = h.id ? 1 : 2;
    f->mode = h.mode;
    f->bit_rate = h.bit_rate;
    f->count = h.n_samples;
}

void begin_frame(mpa_stream *s)
{
    s->frame.sample = s->next_sample;
    s->frame.next = 0;
    s->next_sample += s->frame.count;
    s->frame_ready = true;
}

// A frame of concealment in the last good frame's format: the first after
// good audio fades that frame out, the ones after it are silence.
void conceal(mpa_stream *s, const mpa_header *damaged)
{
    if (s->have_good) {
        s->frame = s->good;
    } else {
        set_out(&s->frame, damaged ? *damaged : s->first_header);
    }
    s->frame.pcm = nullptr;
    if (s->have_good && s->concealed_run == 0) {
        const float *last = s->pcm[s->cur ^ 1];
        float *out = s->pcm[s->cur];
        const int n = s->frame.count;
        const float step = 1.0f / (float)n;
        for (int c = 0; c < s->frame.channels; c++)
            for (int i = 0; i < n; i++)
                out[c * 1152 + i] = last[c * 1152 + i] * (1.0f - step * (float)(i + 1));
        s->frame.pcm = out;
    }
    s->concealed_run++;
    s->counts.frames_concealed++;
    begin_frame(s);
}

// Bytes before the window that a Layer III frame may take main data from:
// those from the stream start on, at most the window's history.
int preceding_bytes(const mpa_stream *s)
{
    const mpa_byte_window &w = s->window;
    const int64_t from = std::max(w.base, std::min(s->stream_start, mpa_window_offset(w)));
    return (int)std::min<int64_t>(mpa_window_offset(w) - from, (int64_t)MPA_WINDOW_HISTORY);
}

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
        const int pre = n == 0 ? 0 : (int)std::min<size_t>(at - s->window.pos, MPA_WINDOW_HISTORY);
        int status = mpa_decode_step(probe, s->pcm[s->cur], d, (int)avail, pre, MPA_PCM_BUFFER_FLOATS, &consumed, &needed);
        if (status == MPA_ERR_CRC) {
            probe->skip_crc = 1;
            status = mpa_decode_step(probe, s->pcm[s->cur], d, (int)avail, pre, MPA_PCM_BUFFER_FLOATS, &consumed, &needed);
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
        at += (size_t)consumed;
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

// Whether the frame at the window's start keeps the last good frame's rate
// and channel count, or the frame after it has its new ones (or none follows).
bool format_confirmed(const mpa_stream *s)
{
    const mpa_header &h = s->step.header;
    if (h.sampling_rate == s->good.sampling_rate && h.n_channels == s->good.channels)
        return true;
    const size_t bytes = (size_t)(h.bits_in_frame >> 3);
    const size_t avail = mpa_window_avail(s->window);
    if (avail < bytes + 4)
        return s->window.eof;
    mpa_header next;
    return mpa_header_at(mpa_window_at(s->window) + bytes, avail - bytes, false, &next) &&
           next.sampling_rate == h.sampling_rate && next.n_channels == h.n_channels;
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

void mpa_stream_trailing_tags(mpa_stream *s)
{
    s->trailing_done = true;
    mpa_byte_window *w = &s->window;
    mpa_tag_set trail;
    const int64_t n = mpa_trailing_tags(mpa_window_at(*w), mpa_window_avail(*w), mpa_window_offset(*w),
                                        s->config.want_picture != 0, &trail);
    const size_t cut = (size_t)std::min<int64_t>(n, (int64_t)mpa_window_avail(*w));
    w->len -= cut;
    w->end = w->base + (int64_t)w->len;
    s->counts.tag_bytes += cut;
    // The leading tags go first: they may still be to come.
    if (s->phase == MPA_PHASE_LEADING_TAGS) {
        s->trailing = std::move(trail);
        s->trailing_waits = true;
    } else {
        merge_trailing(s, &trail);
    }
}

int mpa_stream_start(mpa_stream *s)
{
    mpa_byte_window *w = &s->window;
    while (s->phase == MPA_PHASE_LEADING_TAGS) {
        if (s->tag_left > 0) {
            if (!fill(s, 1))
                return io_or(s, MPA_STREAM_NEED_INPUT);
            const size_t k = (size_t)std::min<int64_t>((int64_t)mpa_window_avail(*w), s->tag_left);
            const size_t keep = s->config.want_picture ? MPA_TAG_KEEP_PICTURE : MPA_TAG_KEEP_TEXT;
            const size_t take = std::min(k, keep - std::min(keep, s->tag_bytes.size()));
            s->tag_bytes.insert(s->tag_bytes.end(), mpa_window_at(*w), mpa_window_at(*w) + take);
            mpa_window_skip(w, k);
            s->tag_left -= (int64_t)k;
            s->counts.tag_bytes += (int64_t)k;
            if (k == 0 || s->tag_left == 0) {  // done, or cut by the end of the data
                mpa_id3v2_parse(s->tag_bytes.data(), s->tag_bytes.size(), s->config.want_picture != 0, &s->tags);
                std::vector<uint8_t>().swap(s->tag_bytes);
                s->tag_left = 0;
            }
            continue;
        }
        if (!fill(s, MPA_ID3V2_HEADER_BYTES))
            return io_or(s, MPA_STREAM_NEED_INPUT);
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
        if (!fill(s, s->want))
            return io_or(s, MPA_STREAM_NEED_INPUT);
        const mpa_framer_step step = mpa_framer_next(&s->framer, mpa_window_at(*w), mpa_window_avail(*w), w->eof);
        mpa_window_skip(w, step.skip);
        s->counts.bytes_skipped += (int64_t)step.skip;
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
            return io_or(s, s->info_frame_offset >= 0 ? MPA_STREAM_END : MPA_ERR_NO_STREAM);
        }
        const int64_t offset = mpa_window_offset(*w);
        const size_t bytes = (size_t)(step.header.bits_in_frame >> 3);
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
        set_out(&f, step.header);
        s->format.sampling_rate = f.sampling_rate;
        s->format.channels = s->config.channels ? s->config.channels : f.channels;
        s->format.source_channels = f.channels;
        s->format.layer = f.layer;
        s->format.version = f.version;
        s->format.mode = f.mode;
        s->format.bit_rate = f.bit_rate;
        s->format_known = !s->push;
        probe_crc(s);
    }
    return s->phase == MPA_PHASE_DONE ? (int)MPA_STREAM_END : (int)MPA_OK;
}

int mpa_stream_next_frame(mpa_stream *s)
{
    if (s->phase != MPA_PHASE_FRAMES && s->phase != MPA_PHASE_DONE) {
        const int r = mpa_stream_start(s);
        if (r != MPA_OK)
            return r;
    }
    if (s->pending_lost > 0) {
        s->pending_lost--;
        conceal(s, s->have_step ? &s->step.header : nullptr);
        return MPA_OK;
    }
    mpa_byte_window *w = &s->window;
    for (;;) {
        if (!s->have_step) {
            if (s->phase == MPA_PHASE_DONE)
                return io_or(s, MPA_STREAM_END);
            if (!fill(s, s->want))
                return io_or(s, MPA_STREAM_NEED_INPUT);
            s->step = mpa_framer_next(&s->framer, mpa_window_at(*w), mpa_window_avail(*w), w->eof);
            mpa_window_skip(w, s->step.skip);
            s->counts.bytes_skipped += (int64_t)s->step.skip;
            if (s->step.event == MPA_FRAMER_MORE) {
                s->want = s->step.want;
                continue;
            }
            s->want = MPA_FRAMER_LOOKAHEAD;
            if (s->step.event == MPA_FRAMER_END) {
                s->phase = MPA_PHASE_DONE;
                // A damaged last frame still had its place in the timeline.
                if (s->framer.damaged) {
                    s->framer.damaged = false;
                    if (!s->config.drop_damaged) {
                        conceal(s, nullptr);
                        return MPA_OK;
                    }
                    s->counts.frames_dropped++;
                }
                return io_or(s, MPA_STREAM_END);
            }
            s->have_step = true;
            if (s->step.lost_frames > 0) {
                if (s->config.drop_damaged) {
                    s->counts.frames_dropped += s->step.lost_frames;
                } else {
                    s->pending_lost = s->step.lost_frames - 1;
                    conceal(s, &s->step.header);
                    return MPA_OK;
                }
            }
        }
        // A new format must hold for the next frame too: a single frame of
        // another rate or channel count is a damaged header.
        if (s->have_good && !format_confirmed(s)) {
            mpa_framer_failed(&s->framer, s->step.header);
            mpa_window_skip(w, 1);
            s->counts.bytes_skipped += 1;
            s->have_step = false;
            continue;
        }
        // The decoder's search must take the frame the framer found: after a
        // resynchronisation it too starts afresh.
        if (s->framer.searched_afresh) {
            s->framer.searched_afresh = false;
            mpa_decoder_restart_search(s->decoder);
        }
        int consumed = 0, needed = 0;
        float *pcm = s->pcm[s->cur];
        const int status = mpa_decode_step(s->decoder, pcm, mpa_window_at(*w), (int)mpa_window_avail(*w),
                                           preceding_bytes(s), MPA_PCM_BUFFER_FLOATS, &consumed, &needed);
        const mpa_header &h = *mpa_decoder_header(s->decoder);
        if (status == MPA_OK || status == MPA_ERR_RESERVOIR_SHORT) {
            const size_t at = (size_t)h.header_offset;
            s->counts.bytes_skipped += (int64_t)at;
            mpa_framer_took(&s->framer, mpa_window_at(*w) + at, mpa_window_avail(*w) - at, w->eof, h);
            mpa_window_skip(w, (size_t)consumed);
            s->have_step = false;
            set_out(&s->frame, h);
            if (status == MPA_OK) {
                s->frame.pcm = pcm;
                s->good = s->frame;
                s->have_good = true;
                s->cur ^= 1;
                s->concealed_run = 0;
                s->counts.frames_decoded++;
            } else {
                s->frame.pcm = nullptr;  // its main data lies before the stream
                s->counts.frames_silent++;
            }
            begin_frame(s);
            return MPA_OK;
        }
        if (status == MPA_ERR_NEED_DATA && !w->eof) {
            s->want = (size_t)needed + MPA_FRAMER_LOOKAHEAD;
            if (!fill(s, s->want))
                return io_or(s, MPA_STREAM_NEED_INPUT);
            if (mpa_window_avail(*w) >= (size_t)needed)
                continue;
        }
        // Damaged: step past its sync; the framer finds the next run and
        // counts what was lost.
        mpa_framer_failed(&s->framer, s->step.header);
        mpa_window_skip(w, 1);
        s->counts.bytes_skipped += 1;
        s->have_step = false;
    }
}
