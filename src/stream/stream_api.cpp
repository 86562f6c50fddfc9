// The C entry points of the stream layer: opening the three kinds of
// source, feeding, reading samples out, format, info and tags.
#include <algorithm>
#include <cstring>
#include <new>

#include "core/decoder.h"
#include "core/header.h"
#include "core/platform.h"
#include "stream/sample_convert.h"
#include "stream/stream_decode.h"
#include "stream/stream_internal.h"
#include "stream/stream_parallel.h"
#include "stream/stream_seek.h"
#include "stream/stream_start.h"

namespace {

// Bytes at the end of a seekable source read for its trailing tags.
constexpr size_t kTailBytes = 256 << 10;
constexpr size_t kWindowBytes = MPA_WINDOW_HISTORY + 4 * MPA_FRAMER_LOOKAHEAD;

const float kSilence[MPA_PCM_BUFFER_FLOATS] = {};

bool valid_config(const mpa_stream_config &c)
{
    return c.sample_format >= MPA_SAMPLE_S16 && c.sample_format <= MPA_SAMPLE_F32 && c.channels >= 0 &&
           c.channels <= 2 && (c.planar == 0 || c.planar == 1) && c.threads >= 0 &&
           c.threads <= MPA_MAX_THREADS;
}

int create(mpa_stream **out, const mpa_stream_config *config, mpa_stream **made)
{
    if (!out)
        return MPA_ERR_NULL_ARG;
    *out = nullptr;
    mpa_stream_config c;
    mpa_stream_config_default(&c);
    if (config)
        c = *config;
    if (!valid_config(c))
        return MPA_ERR_ARG;
    mpa_stream *s = new (std::nothrow) mpa_stream();
    if (!s)
        return MPA_ERR_NO_MEMORY;
    s->config = c;
    s->counts.leading_junk = -1;
    if (mpa_decoder_open(&s->decoder) != MPA_OK || !s->decoder) {
        delete s;
        return MPA_ERR_NO_MEMORY;
    }
    s->decoder->accept_mpeg25 = c.mpeg25 != 0;
    mpa_framer_init(&s->framer, c.mpeg25 ? MPA_SEARCH_MPEG25 : 0u);
    s->format.sample_format = c.sample_format;
    s->format.bytes_per_sample = mpa_sample_bytes(c.sample_format);
    s->format.planar = c.planar;
    *made = s;
    return MPA_OK;
}


// Pull and memory sources: read to the first audio frame before returning.
int finish_open(mpa_stream **out, mpa_stream *s)
{
    const int r = mpa_stream_start(s);
    if (r != MPA_OK) {
        mpa_stream_close(s);
        return r == MPA_STREAM_END ? MPA_ERR_NO_STREAM : r;
    }
    *out = s;
    return MPA_OK;
}

long file_read(void *opaque, uint8_t *dst, size_t max)
{
    FILE *f = static_cast<FILE *>(opaque);
    const size_t got = std::fread(dst, 1, max, f);
    return got == 0 && std::ferror(f) ? -1 : static_cast<long>(got);
}

int file_seek(void *opaque, int64_t offset)
{
    return mpa_file_seek(static_cast<FILE *>(opaque), offset);
}

int64_t file_size(void *opaque)
{
    return mpa_file_size(static_cast<FILE *>(opaque));
}

}  // namespace

extern "C" {

void mpa_stream_config_default(mpa_stream_config *c)
{
    if (!c)
        return;
    std::memset(c, 0, sizeof(*c));
    c->gapless = 1;
    c->sample_format = MPA_SAMPLE_S16;
    c->mpeg25 = 1;
    c->threads = 1;
}

int mpa_stream_open_memory(mpa_stream **out, const uint8_t *data, size_t size,
                           const mpa_stream_config *config)
{
    mpa_stream *s = nullptr;
    int r = create(out, config, &s);
    if (r != MPA_OK)
        return r;
    if (!data && size > 0) {
        mpa_stream_close(s);
        return MPA_ERR_NULL_ARG;
    }
    static const uint8_t kEmpty[1] = {0};
    mpa_window_open_memory(&s->window, data ? data : kEmpty, size);
    s->counts.seekable = 1;
    mpa_stream_trailing_tags(s);
    r = finish_open(out, s);
    if (r == MPA_OK)
        s->parallel = mpa_parallel_create(s->config, nullptr, data, size);
    return r;
}

int mpa_stream_open_io(mpa_stream **out, const mpa_stream_io *io, const mpa_stream_config *config)
{
    if (!io || !io->read)
        return out ? (*out = nullptr, MPA_ERR_NULL_ARG) : MPA_ERR_NULL_ARG;
    mpa_stream *s = nullptr;
    int r = create(out, config, &s);
    if (r != MPA_OK)
        return r;
    s->source.io = *io;
    s->source.seekable = io->seek != nullptr;
    s->source.size = io->size ? io->size(io->opaque) : -1;
    s->source.position = 0;
    mpa_window_open_source(&s->window, &s->source, kWindowBytes);
    if (s->source.seekable && s->source.size > 0) {
        // The tags at the end, read now: the audio ends before them.
        s->counts.seekable = 1;
        const size_t n =
            static_cast<size_t>(std::min<int64_t>(s->source.size, static_cast<int64_t>(kTailBytes)));
        std::vector<uint8_t> tail(n);
        size_t got = 0;
        while (got < n) {
            const size_t k = mpa_source_read_at(
                &s->source, s->source.size - static_cast<int64_t>(n) + static_cast<int64_t>(got),
                tail.data() + got, n - got);
            if (k == 0)
                break;
            got += k;
        }
        if (s->source.failed) {
            mpa_stream_close(s);
            return MPA_ERR_IO;
        }
        const int64_t at = s->source.size - static_cast<int64_t>(n);
        const int64_t tags = mpa_stream_tail_tags(s, tail.data(), got, at);
        s->counts.tag_bytes += tags;
        mpa_window_set_end(&s->window, at + static_cast<int64_t>(got) - tags);
    }
    return finish_open(out, s);
}

int mpa_stream_open_file(mpa_stream **out, const char *path, const mpa_stream_config *config)
{
    if (!out || !path)
        return out ? (*out = nullptr, MPA_ERR_NULL_ARG) : MPA_ERR_NULL_ARG;
    *out = nullptr;
    FILE *f = mpa_file_open_read(path);
    if (!f)
        return MPA_ERR_IO;
    mpa_stream_io io;
    io.opaque = f;
    io.read = file_read;
    io.size = file_size;
    io.seek = file_size(f) >= 0 ? file_seek : nullptr;
    const int r = mpa_stream_open_io(out, &io, config);
    if (r != MPA_OK) {
        std::fclose(f);
        return r;
    }
    (*out)->file = f;
    (*out)->parallel = mpa_parallel_create((*out)->config, path, nullptr, 0);
    return MPA_OK;
}

int mpa_stream_open_push(mpa_stream **out, const mpa_stream_config *config)
{
    mpa_stream *s = nullptr;
    int r = create(out, config, &s);
    if (r != MPA_OK)
        return r;
    s->push = true;
    mpa_window_open_push(&s->window, kWindowBytes);
    *out = s;
    return MPA_OK;
}

void mpa_stream_close(mpa_stream *s)
{
    if (!s)
        return;
    mpa_parallel_destroy(s->parallel);
    mpa_decoder_close(s->decoder);
    if (s->file)
        std::fclose(s->file);
    delete s;
}

int mpa_stream_feed(mpa_stream *s, const uint8_t *data, size_t size, size_t *accepted)
{
    if (accepted)
        *accepted = 0;
    if (!s || (!data && size > 0))
        return MPA_ERR_NULL_ARG;
    if (!s->push)
        return MPA_ERR_ARG;
    const size_t n = mpa_window_push(&s->window, data, size);
    if (accepted)
        *accepted = n;
    return MPA_OK;
}

int mpa_stream_end_input(mpa_stream *s)
{
    if (!s)
        return MPA_ERR_NULL_ARG;
    if (!s->push)
        return MPA_ERR_ARG;
    if (!s->window.eof) {
        s->window.eof = true;
        mpa_stream_trailing_tags(s);
    }
    return MPA_OK;
}

size_t mpa_stream_input_wanted(const mpa_stream *s)
{
    return s && s->push ? mpa_window_push_room(s->window) : 0;
}

int mpa_stream_read(mpa_stream *s, void *const dest[2], size_t room_bytes, size_t *samples)
{
    if (samples)
        *samples = 0;
    if (!s || !dest || !dest[0] || !samples)
        return MPA_ERR_NULL_ARG;
    size_t done = 0;
    for (;;) {
        mpa_frame_out &f = s->frame;
        if (!s->frame_ready || f.next >= f.count) {
            s->frame_ready = false;
            const int r = s->parallel ? mpa_stream_parallel_next_frame(s) : mpa_stream_next_frame(s);
            if (r != MPA_OK)
                return done > 0 ? MPA_OK : r;
        }
        // The run of samples of this frame that the output keeps.
        const int64_t end = f.sample + f.count;
        int64_t lo = std::max({f.sample + f.next, s->discard_until, s->keep_from});
        if (lo >= s->keep_to && lo < s->drop_to)
            lo = s->drop_to;
        if (lo >= end) {
            f.next = f.count;
            continue;
        }
        const int64_t hi = lo < s->keep_to ? std::min(end, s->keep_to) : end;
        const mpa_output_format wanted = mpa_output_format_of(s->config);
        const mpa_output_layout out = mpa_output_layout_of(wanted, f.channels);
        const int out_channels = out.channels;
        if (!s->format_known || f.sampling_rate != s->format.sampling_rate ||
            out_channels != s->format.channels) {
            if (done > 0)
                return MPA_OK;
            if (s->format_known)
                s->counts.format_changes++;
            s->format_known = true;
            mpa_stream_set_format(s, f);
            s->format.start = s->out_sample;
            return MPA_STREAM_FORMAT_CHANGED;
        }
        const bool planar = out.planar;
        if (planar && !dest[1])
            return done > 0 ? MPA_OK : MPA_ERR_NULL_ARG;
        const size_t period = out.period;
        const size_t capacity = room_bytes / period;
        if (capacity <= done)
            return done > 0 ? MPA_OK : MPA_ERR_OUTPUT_ROOM;
        if (f.converted && f.converted_as != wanted) {
            // Converted ahead to the format asked for before.
            const int r = mpa_stream_parallel_refloat(s);
            if (r != MPA_OK)
                return done > 0 ? MPA_OK : r;
            continue;
        }
        const int n = static_cast<int>(std::min<int64_t>(hi - lo, static_cast<int64_t>(capacity - done)));
        uint8_t *to[2] = {static_cast<uint8_t *>(dest[0]) + done * period,
                          planar ? static_cast<uint8_t *>(dest[1]) + done * period : nullptr};
        const size_t from = static_cast<size_t>(lo - f.sample);
        if (f.converted) {
            // Channels planar one after the other, as the output wants them.
            const size_t plane = static_cast<size_t>(f.count) * period;
            for (int c = 0; c < (planar ? 2 : 1); c++)
                std::memcpy(to[c], f.converted + c * plane + from * period, static_cast<size_t>(n) * period);
        } else {
            mpa_convert_samples(f.pcm ? f.pcm : kSilence, f.channels, static_cast<int>(from), n, out_channels,
                                s->config.sample_format, planar, to);
        }
        f.next = static_cast<int32_t>(lo - f.sample) + n;
        done += static_cast<size_t>(n);
        s->out_sample += n;
        *samples = done;
        if (done == capacity)
            return MPA_OK;
    }
}

int mpa_stream_set_output(mpa_stream *s, int32_t sample_format, int32_t channels)
{
    if (!s)
        return MPA_ERR_NULL_ARG;
    mpa_stream_config c = s->config;
    c.sample_format = sample_format;
    c.channels = channels;
    if (!valid_config(c))
        return MPA_ERR_ARG;
    s->config = c;
    s->format.sample_format = sample_format;
    s->format.bytes_per_sample = mpa_sample_bytes(sample_format);
    if (s->format.source_channels > 0)
        s->format.channels = channels ? channels : s->format.source_channels;
    return MPA_OK;
}

int mpa_stream_get_format(const mpa_stream *s, mpa_stream_format *format)
{
    if (!s || !format)
        return MPA_ERR_NULL_ARG;
    if (!s->format_known && s->phase != MPA_PHASE_FRAMES)
        return s->phase == MPA_PHASE_DONE ? MPA_ERR_NO_STREAM : MPA_STREAM_NEED_INPUT;
    *format = s->format;
    return MPA_OK;
}

int mpa_stream_seek(mpa_stream *s, int64_t sample)
{
    if (!s)
        return MPA_ERR_NULL_ARG;
    const int r = mpa_stream_seek_frames(s, sample);
    if (s->parallel)
        mpa_stream_parallel_seeked(s, r);
    return r;
}

int64_t mpa_stream_tell(const mpa_stream *s)
{
    return s ? s->out_sample : -1;
}

int mpa_stream_tag_count(const mpa_stream *s)
{
    return s ? static_cast<int>(s->tags.items.size()) : 0;
}

int mpa_stream_tag(const mpa_stream *s, int index, const char **key, const char **value)
{
    if (!s || !key || !value)
        return MPA_ERR_NULL_ARG;
    if (index < 0 || static_cast<size_t>(index) >= s->tags.items.size())
        return MPA_ERR_ARG;
    *key = s->tags.items[static_cast<size_t>(index)].first.c_str();
    *value = s->tags.items[static_cast<size_t>(index)].second.c_str();
    return MPA_OK;
}

const char *mpa_stream_tag_value(const mpa_stream *s, const char *key)
{
    if (!s || !key)
        return nullptr;
    for (const auto &kv : s->tags.items)
        if (kv.first == key)
            return kv.second.c_str();
    return nullptr;
}

int mpa_stream_picture(const mpa_stream *s, const uint8_t **data, size_t *size, const char **mime)
{
    if (!s || !data || !size || !mime)
        return MPA_ERR_NULL_ARG;
    if (s->tags.picture.empty())
        return MPA_ERR_NO_HEADER;
    *data = s->tags.picture.data();
    *size = s->tags.picture.size();
    *mime = s->tags.picture_mime.c_str();
    return MPA_OK;
}

}  // extern "C"
