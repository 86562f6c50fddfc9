// Exact length and sample-accurate seeking: the header scan that builds the
// frame index, the gapless timeline, and the restart of decoding a few
// frames before the target so that the samples from it on are those of a
// decode from the start.
#include "stream/stream_seek.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/decoder.h"
#include "stream/stream_decode.h"
#include "stream/stream_internal.h"

namespace {

constexpr int64_t kNoEnd = INT64_MAX;

// Output samples that timeline samples [0, t) give.
int64_t kept_before(const mpa_stream *s, int64_t t)
{
    int64_t n = std::max<int64_t>(0, std::min(t, s->keep_to) - s->keep_from);
    if (s->drop_to != kNoEnd && t > s->drop_to)
        n += t - s->drop_to;
    return n;
}

// The timeline sample that output sample p comes from.
int64_t untrimmed(const mpa_stream *s, int64_t p)
{
    if (s->keep_to == kNoEnd)
        return p + s->keep_from;
    const int64_t span = std::max<int64_t>(0, s->keep_to - s->keep_from);
    return p < span ? p + s->keep_from : p - span + s->drop_to;
}

// Main-data bytes a Layer III frame carries after its header and side information.
int32_t own_main_data(const mpa_header &h)
{
    const int side = h.id ? (h.n_channels == 1 ? 17 : 32) : (h.n_channels == 1 ? 9 : 17);
    return (h.bits_in_frame >> 3) - h.header_bits / 8 - side;
}

// Frames decoded before the target so that the target's output is exact:
// the filterbank keeps 15 slots of history and Layer III one granule of
// overlap. Layer II frames (36 slots) and MPEG-1 Layer III frames (two
// granules, the second with its overlap from the first) restore both within
// one frame; Layer I frames (12 slots) and MPEG-2 Layer III frames (one
// granule) need two.
int preroll_frames(const mpa_header &h)
{
    if (h.layer_bits == 2)
        return 1;
    if (h.layer_bits == 1 && h.id == 1)
        return 1;
    return 2;
}

// How far back from the target an index entry must be for the walk to see
// every frame the preroll and the bit reservoir reach: 511 bytes of main
// data in frames of as little as 3 bytes of it (8 kbit/s), and then some.
constexpr int64_t kWalkBack = 256;

void open_scan_window(mpa_stream *s, mpa_byte_window *w, size_t capacity)
{
    if (s->window.memory) {
        mpa_window_open_memory(w, s->window.memory, s->window.len);
        w->end = s->window.end;
    } else {
        mpa_window_open_source(w, &s->source, capacity);
        w->end = s->window.end;
    }
}

}  // namespace

int64_t mpa_stream_trimmed(const mpa_stream *s, int64_t t)
{
    return kept_before(s, t);
}

int mpa_stream_scan(mpa_stream *s)
{
    if (s->index.complete)
        return MPA_OK;
    if (!s->counts.seekable)
        return MPA_ERR_NOT_SEEKABLE;
    if (s->first_audio_offset < 0)
        return MPA_ERR_NO_STREAM;
    mpa_byte_window w;
    open_scan_window(s, &w, 1 << 20);
    mpa_window_seek(&w, s->first_audio_offset);
    mpa_framer f = s->first_audio_framer;
    mpa_frame_index index;
    int64_t frames = 0;
    double seconds = 0;
    int32_t changes = 0;
    mpa_header last{};
    mpa_index_entry e{};
    index.samples = mpa_walk_frames(&w, &f, 0, [&](const mpa_walked_frame &fr) {
        e.frame = frames++;
        e.offset = fr.offset;
        e.sample = fr.sample;
        mpa_index_add(&index, e);
        std::memcpy(e.previous_head, fr.bytes, 4);
        e.previous_bits = fr.header.bits_in_frame;
        seconds += static_cast<double>(fr.lost_samples + fr.header.n_samples) / fr.header.sampling_rate;
        const bool channels_count = s->config.channels == 0;
        if (frames > 1 && (fr.header.sampling_rate != last.sampling_rate ||
                           (channels_count && fr.header.n_channels != last.n_channels)))
            changes++;
        last = fr.header;
        return true;
    });
    if (s->source.failed)
        return MPA_ERR_IO;
    index.frames = frames;
    index.seconds = seconds;
    index.format_changes = changes;
    index.complete = true;
    s->index = std::move(index);
    return MPA_OK;
}

extern "C" int mpa_stream_get_info(mpa_stream *s, mpa_stream_info *info)
{
    if (!s || !info)
        return MPA_ERR_NULL_ARG;
    if (s->counts.seekable && s->first_audio_offset >= 0 && !s->index.complete) {
        const int r = mpa_stream_scan(s);
        if (r != MPA_OK)
            return r;
    }
    *info = s->counts;
    info->info_kind = s->info.kind;
    info->info_frames = s->info.frames;
    info->info_bytes = s->info.bytes;
    info->encoder_delay = s->info.encoder_delay;
    info->encoder_padding = s->info.encoder_padding;
    std::memset(info->encoder, 0, sizeof(info->encoder));
    std::memcpy(info->encoder, s->info.encoder, std::min(sizeof(info->encoder) - 1, sizeof(s->info.encoder)));
    info->tags_clamped = s->tags.clamped;
    info->first_frame_offset_valid = s->first_audio_offset >= 0 || s->info_frame_offset >= 0;
    info->first_frame_offset = s->info_frame_offset >= 0 ? s->info_frame_offset : s->first_audio_offset;
    info->audio_frames = -1;
    info->samples = -1;
    info->duration_us = -1;
    info->length_exact = 0;
    const int rate = s->first_header.sampling_rate;
    if (s->index.complete) {
        info->audio_frames = s->index.frames;
        info->samples = kept_before(s, s->index.samples);
        info->length_exact = 1;
        info->format_changes = std::max(info->format_changes, s->index.format_changes);
        // What gapless trimming cuts is at the first format's rate.
        const double cut = static_cast<double>(s->index.samples - info->samples) / (rate > 0 ? rate : 1);
        info->duration_us = static_cast<int64_t>((s->index.seconds - cut) * 1e6 + 0.5);
    } else if (s->first_audio_offset >= 0 || s->info_frame_offset >= 0) {
        const mpa_header &h = s->first_header;
        int64_t frames = s->info.frames;
        if (frames < 0 && h.bitrate_index != 0) {
            // A constant bit rate estimate from the bytes the stream has.
            int64_t bytes = s->info.bytes;
            if (bytes < 0 && s->source.size > 0)
                bytes = std::min(s->window.end, s->source.size) - s->first_audio_offset;
            if (bytes > 0 && h.bits_in_frame >= 8 * 4)
                frames = (bytes * 8 + h.bits_in_frame / 2) / h.bits_in_frame;
        }
        if (frames >= 0)
            info->samples = kept_before(s, frames * h.n_samples);
        if (info->samples >= 0 && rate > 0)
            info->duration_us = info->samples * 1000000 / rate;
    }
    return MPA_OK;
}

int mpa_stream_seek_frames(mpa_stream *s, int64_t sample)
{
    if (!s)
        return MPA_ERR_NULL_ARG;
    if (sample < 0)
        return MPA_ERR_ARG;
    if (!s->counts.seekable) {
        // Forward only: decode and drop up to there.
        if (sample < s->out_sample)
            return MPA_ERR_NOT_SEEKABLE;
        uint8_t scratch[4096];
        void *dest[2] = {scratch, scratch + 2048};
        while (s->out_sample < sample) {
            const size_t period = static_cast<size_t>(s->format.bytes_per_sample) * 2;
            const size_t room =
                std::min<int64_t>(sample - s->out_sample, 2048 / static_cast<int64_t>(period)) * period;
            size_t n = 0;
            const int r = mpa_stream_read(s, dest, room, &n);
            if (r == MPA_STREAM_FORMAT_CHANGED || r == MPA_OK)
                continue;
            return r == MPA_STREAM_END ? MPA_OK : r;
        }
        return MPA_OK;
    }
    int r = mpa_stream_scan(s);
    if (r != MPA_OK)
        return r;
    const int64_t t = untrimmed(s, sample);
    s->have_step = false;
    s->pending_lost = 0;
    s->frame_ready = false;
    s->out_sample = sample;
    // Seeking back before the current format's start: the format stays the
    // one of the samples the next read gives until it says otherwise.
    s->format.start = std::min(s->format.start, sample);
    if (t >= s->index.samples || s->index.entries.empty()) {
        s->phase = MPA_PHASE_DONE;
        s->out_sample = std::min(sample, kept_before(s, s->index.samples));
        s->format.start = std::min(s->format.start, s->out_sample);
        return MPA_OK;
    }
    // Walk the headers from an index entry far enough back to the frame that holds t.
    struct Walked {
        int64_t offset, sample;
        mpa_header h;
    };
    std::vector<Walked> walked;
    const mpa_index_entry *e = mpa_index_find(s->index, t, kWalkBack);
    mpa_byte_window w;
    open_scan_window(s, &w, 64 << 10);
    mpa_window_seek(&w, e->offset);
    mpa_framer f;
    mpa_framer_init(&f, s->framer.search_options);
    f.at_start = false;
    f.resync = false;
    mpa_index_previous(*e, &f.search, f.search_options);
    const mpa_header before_entry = f.search;
    mpa_walk_frames(&w, &f, e->sample, [&](const mpa_walked_frame &fr) {
        walked.push_back({fr.offset, fr.sample, fr.header});
        return fr.sample + fr.header.n_samples <= t;
    });
    if (s->source.failed)
        return MPA_ERR_IO;
    if (walked.empty())
        return MPA_ERR_NO_STREAM;
    const size_t target = walked.size() - 1;
    size_t first = target - std::min(target, static_cast<size_t>(preroll_frames(walked[target].h)));
    if (walked[first].h.layer_bits == 1) {
        // Layer III: back far enough that the reservoir holds the main data
        // the first frame that must be exact reaches back for.
        int64_t have = 0;
        const int64_t need = walked[first].h.neg_offset;
        while (have < need && first > 0) {
            first--;
            have += std::max(0, own_main_data(walked[first].h));
        }
    }
    const Walked &start = walked[first];
    // Both searches continue from the frame before the start, as they would
    // have in a decode from the start (a free-format length is searched
    // from the previous one's).
    const mpa_header previous = first > 0 ? walked[first - 1].h : before_entry;
    mpa_decoder_reset(s->decoder);
    s->decoder->skip_crc = s->counts.crc_ignored;
    s->decoder->accept_mpeg25 = s->config.mpeg25 != 0;
    s->decoder->header = previous;
    mpa_framer_init(&s->framer, s->framer.search_options);
    s->framer.at_start = false;
    s->framer.resync = false;
    s->framer.search = previous;
    mpa_window_seek(&s->window, start.offset);
    s->stream_start = start.offset;
    s->next_sample = start.sample;
    s->discard_until = t;
    s->have_good = false;
    s->concealed_run = 0;
    s->phase = MPA_PHASE_FRAMES;
    s->want = MPA_FRAMER_LOOKAHEAD;
    return MPA_OK;
}
