#include "stream/byte_window.h"

#include <algorithm>
#include <cstring>

size_t mpa_source_read_at(mpa_byte_source *s, int64_t offset, uint8_t *dst, size_t max)
{
    if (s->failed || max == 0)
        return 0;
    if (offset != s->position) {
        if (!s->seekable || !s->io.seek || s->io.seek(s->io.opaque, offset) != 0) {
            s->failed = true;
            return 0;
        }
        s->position = offset;
    }
    const long got = s->io.read(s->io.opaque, dst, max);
    if (got < 0 || static_cast<size_t>(got) > max) {
        s->failed = true;
        return 0;
    }
    s->position += got;
    return static_cast<size_t>(got);
}

void mpa_window_open_memory(mpa_byte_window *w, const uint8_t *data, size_t size)
{
    *w = mpa_byte_window();
    w->memory = data;
    w->data = data;
    w->len = size;
    w->eof = true;
}

void mpa_window_open_source(mpa_byte_window *w, mpa_byte_source *source, size_t capacity)
{
    *w = mpa_byte_window();
    w->source = source;
    w->buf.resize(capacity);
    w->data = w->buf.data();
}

void mpa_window_open_push(mpa_byte_window *w, size_t capacity)
{
    *w = mpa_byte_window();
    w->buf.resize(capacity);
    w->data = w->buf.data();
    w->max_bytes = capacity;
}

namespace {

// Keeps at most MPA_WINDOW_HISTORY bytes before the window's start.
void compact(mpa_byte_window *w)
{
    if (w->pos <= MPA_WINDOW_HISTORY)
        return;
    const size_t drop = w->pos - MPA_WINDOW_HISTORY;
    std::memmove(w->buf.data(), w->buf.data() + drop, w->len - drop);
    w->pos -= drop;
    w->len -= drop;
    w->base += static_cast<int64_t>(drop);
}

// Bytes that may still be read before the end of the audio.
size_t room_to_end(const mpa_byte_window &w, size_t room)
{
    const int64_t left = w.end - (w.base + static_cast<int64_t>(w.len));
    return left <= 0 ? 0 : static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(room)));
}

}  // namespace

bool mpa_window_fill(mpa_byte_window *w, size_t want)
{
    if (w->len - w->pos >= want || w->eof || w->memory)
        return w->len - w->pos >= want;
    compact(w);
    if (w->buf.size() < w->pos + want) {
        w->buf.resize(w->pos + want);
        w->data = w->buf.data();
    }
    if (!w->source)
        return false;  // push: the caller feeds
    // Read as much as the buffer takes, so that what the decoder sees does
    // not depend on how the source splits its data between reads.
    while (w->len - w->pos < want && !w->eof) {
        const size_t room = room_to_end(*w, w->buf.size() - w->len);
        const size_t got = room == 0 ? 0
                                     : mpa_source_read_at(w->source, w->base + static_cast<int64_t>(w->len),
                                                          w->buf.data() + w->len, room);
        if (got == 0)
            w->eof = true;
        w->len += got;
    }
    return w->len - w->pos >= want;
}

void mpa_window_seek(mpa_byte_window *w, int64_t offset)
{
    if (w->memory) {
        w->pos = static_cast<size_t>(std::min<int64_t>(offset, static_cast<int64_t>(w->len)));
        return;
    }
    w->base = offset;
    w->pos = w->len = 0;
    w->eof = offset >= w->end;
}

void mpa_window_set_end(mpa_byte_window *w, int64_t end)
{
    w->end = end;
    if (w->base + static_cast<int64_t>(w->len) > end)
        w->len = static_cast<size_t>(std::max<int64_t>(end - w->base, static_cast<int64_t>(w->pos)));
    if (w->base + static_cast<int64_t>(w->len) >= end)
        w->eof = true;
}

size_t mpa_window_push_room(const mpa_byte_window &w)
{
    if (w.memory || w.source || w.eof)
        return 0;
    const size_t drop = w.pos > MPA_WINDOW_HISTORY ? w.pos - MPA_WINDOW_HISTORY : 0;
    const size_t cap = std::max(w.buf.size(), w.max_bytes);
    return cap - std::min(cap, w.len - drop);
}

size_t mpa_window_push(mpa_byte_window *w, const uint8_t *data, size_t size)
{
    if (w->memory || w->source || w->eof || size == 0)
        return 0;
    compact(w);
    const size_t cap = std::max(w->buf.size(), w->max_bytes);
    if (w->buf.size() < cap) {
        w->buf.resize(cap);
        w->data = w->buf.data();
    }
    const size_t n = std::min(size, w->buf.size() - w->len);
    std::memcpy(w->buf.data() + w->len, data, n);
    w->len += n;
    return n;
}
