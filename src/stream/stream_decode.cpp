// The decoding loop of the stream layer: frame after frame, decoded,
// concealed where damaged, or silent where Layer III main data lies before
// the stream.
#include "stream/stream_decode.h"

#include <algorithm>
#include <cstring>

#include "core/decoder.h"
#include "core/header.h"
#include "stream/frame_run.h"
#include "stream/stream_internal.h"
#include "stream/stream_start.h"

namespace {

void begin_frame(mpa_stream *s)
{
    s->frame.sample = s->next_sample;
    s->frame.next = 0;
    s->next_sample += s->frame.count;
    s->frame_ready = true;
}

// Where the next frame is decoded: the sink, or the buffer that does not
// hold the last good frame.
float *frame_buffer(mpa_stream *s)
{
    return s->sink && s->sink != s->good_pcm ? s->sink : s->pcm[s->cur];
}

// A frame of concealment in the last good frame's format: the first after
// good audio fades that frame out, the ones after it are silence.
void conceal(mpa_stream *s, const mpa_header *damaged)
{
    if (s->have_good) {
        s->frame = s->good;
    } else {
        mpa_frame_out_set(&s->frame, damaged ? *damaged : s->first_header);
    }
    s->frame.pcm = nullptr;
    if (s->have_good && s->concealed_run == 0) {
        const float *last = s->good_pcm;
        float *out = frame_buffer(s);
        const int n = s->frame.count;
        const float step = 1.0f / static_cast<float>(n);
        for (int c = 0; c < s->frame.channels; c++)
            for (int i = 0; i < n; i++)
                out[c * 1152 + i] = last[c * 1152 + i] * (1.0f - step * static_cast<float>(i + 1));
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
    return static_cast<int>(
        std::min<int64_t>(mpa_window_offset(w) - from, static_cast<int64_t>(MPA_WINDOW_HISTORY)));
}

// Whether the frame at the window's start keeps the last good frame's rate
// and channel count, or the frame after it has its new ones (or none follows).
bool format_confirmed(const mpa_stream *s)
{
    const mpa_header &h = s->step.header;
    if (h.sampling_rate == s->good.sampling_rate && h.n_channels == s->good.channels)
        return true;
    const size_t bytes = static_cast<size_t>(h.bits_in_frame >> 3);
    const size_t avail = mpa_window_avail(s->window);
    if (avail < bytes + 4)
        return s->window.eof;
    mpa_header next;
    return mpa_header_at(mpa_window_at(s->window) + bytes, avail - bytes, false, &next,
                         s->framer.search_options) &&
           next.sampling_rate == h.sampling_rate && next.n_channels == h.n_channels;
}

}  // namespace

void mpa_stream_set_sink(mpa_stream *s, float *sink)
{
    s->sink = sink;
    if (!sink && s->have_good && s->good_pcm != s->pcm[0] && s->good_pcm != s->pcm[1]) {
        // The last good frame is the caller's: concealment fades a copy of it.
        float *keep = s->pcm[s->cur ^ 1];
        std::memcpy(keep, s->good_pcm, sizeof(s->pcm[0]));
        s->good_pcm = keep;
    }
}

// Fills the window to want bytes. A push window that cannot says so.
bool mpa_stream_fill(mpa_stream *s, size_t want)
{
    mpa_byte_window *w = &s->window;
    const bool ok = mpa_window_fill(w, want);
    if (w->eof && !s->trailing_done)
        mpa_stream_trailing_tags(s);
    return ok || w->eof;
}

int mpa_stream_status(const mpa_stream *s, int status)
{
    return s->source.failed ? MPA_ERR_IO : status;
}

void mpa_frame_out_set(mpa_frame_out *f, const mpa_header &h)
{
    f->sampling_rate = h.sampling_rate;
    f->channels = h.n_channels;
    f->layer = 4 - h.layer_bits;
    f->version = h.id ? 1 : mpa_header_is_mpeg25(h) ? 25 : 2;
    f->mode = h.mode;
    f->bit_rate = h.bit_rate;
    f->count = h.n_samples;
}

void mpa_stream_set_format(mpa_stream *s, const mpa_frame_out &f)
{
    s->format.sampling_rate = f.sampling_rate;
    s->format.channels = s->config.channels ? s->config.channels : f.channels;
    s->format.source_channels = f.channels;
    s->format.layer = f.layer;
    s->format.version = f.version;
    s->format.mode = f.mode;
    s->format.bit_rate = f.bit_rate;
}

// The bytes of a window handed to the decoder: a memory window may hold more
// than an int counts, and a frame and its successor need far less.
int mpa_stream_input_length(size_t avail)
{
    return static_cast<int>(std::min<size_t>(avail, static_cast<size_t>(1) << 30));
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
                return mpa_stream_status(s, MPA_STREAM_END);
            if (!mpa_stream_fill(s, s->want))
                return mpa_stream_status(s, MPA_STREAM_NEED_INPUT);
            s->step = mpa_framer_next(&s->framer, mpa_window_at(*w), mpa_window_avail(*w), w->eof);
            mpa_window_skip(w, s->step.skip);
            s->counts.bytes_skipped += static_cast<int64_t>(s->step.skip);
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
                return mpa_stream_status(s, MPA_STREAM_END);
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
        float *pcm = frame_buffer(s);
        const int status =
            mpa_decode_step(s->decoder, pcm, mpa_window_at(*w), mpa_stream_input_length(mpa_window_avail(*w)),
                            preceding_bytes(s), MPA_PCM_BUFFER_FLOATS, &consumed, &needed);
        const mpa_header &h = *mpa_decoder_header(s->decoder);
        if (status == MPA_OK || status == MPA_ERR_RESERVOIR_SHORT) {
            const size_t at = static_cast<size_t>(h.header_offset);
            s->counts.bytes_skipped += static_cast<int64_t>(at);
            mpa_framer_took(&s->framer, mpa_window_at(*w) + at, mpa_window_avail(*w) - at, w->eof, h);
            mpa_window_skip(w, static_cast<size_t>(consumed));
            s->have_step = false;
            mpa_frame_out_set(&s->frame, h);
            if (status == MPA_OK) {
                s->frame.pcm = pcm;
                s->good = s->frame;
                s->have_good = true;
                s->good_pcm = pcm;
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
            s->want = static_cast<size_t>(needed) + MPA_FRAMER_LOOKAHEAD;
            if (!mpa_stream_fill(s, s->want))
                return mpa_stream_status(s, MPA_STREAM_NEED_INPUT);
            if (mpa_window_avail(*w) >= static_cast<size_t>(needed))
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
