// A window over a stream's bytes, from memory, from a caller's reader (with
// or without seek) or from bytes pushed by the caller. The window keeps up to
// MPA_WINDOW_HISTORY bytes before its start for the Layer III bit reservoir
// and never reaches past the end of the audio (where trailing tags begin).
#ifndef ROVAZ_STREAM_BYTE_WINDOW_H
#define ROVAZ_STREAM_BYTE_WINDOW_H

#include <cstddef>
#include <cstdint>

#include <vector>

#include "rovaz/mpa_stream.h"

// A pull source shared by the windows reading it (decoding and scanning):
// it remembers where it stands so that each window seeks only when another
// one moved it.
struct mpa_byte_source {
    mpa_stream_io io{};
    bool seekable = false;
    int64_t size = -1;      // total bytes, -1 when unknown
    int64_t position = 0;   // where the next read comes from
    bool failed = false;    // a read or seek failed
};

// Reads up to max bytes at offset; 0 at the end or on failure (source->failed).
size_t mpa_source_read_at(mpa_byte_source *source, int64_t offset, uint8_t *dst, size_t max);

constexpr size_t MPA_WINDOW_HISTORY = 4096;

struct mpa_byte_window {
    // Exactly one of memory (a caller's block), source (pull) or neither (push).
    const uint8_t *memory = nullptr;
    mpa_byte_source *source = nullptr;
    std::vector<uint8_t> buf;
    const uint8_t *data = nullptr;  // memory, or buf.data()
    size_t pos = 0;                 // start of the window in data
    size_t len = 0;                 // valid bytes in data
    int64_t base = 0;               // stream offset of data[0]
    int64_t end = INT64_MAX;        // stream offset where the audio ends
    bool eof = false;               // nothing follows data[len)
    size_t max_bytes = 0;           // largest buffer a push window grows to
};

void mpa_window_open_memory(mpa_byte_window *w, const uint8_t *data, size_t size);
void mpa_window_open_source(mpa_byte_window *w, mpa_byte_source *source, size_t capacity);
void mpa_window_open_push(mpa_byte_window *w, size_t capacity);

inline size_t mpa_window_avail(const mpa_byte_window &w) { return w.len - w.pos; }
inline const uint8_t *mpa_window_at(const mpa_byte_window &w) { return w.data + w.pos; }
inline int64_t mpa_window_offset(const mpa_byte_window &w) { return w.base + static_cast<int64_t>(w.pos); }

// Makes the window hold want bytes, or all there are. A push window only
// compacts and makes room: false then means the caller must feed more.
bool mpa_window_fill(mpa_byte_window *w, size_t want);
// Drops n bytes from the window's start (n <= avail).
inline void mpa_window_skip(mpa_byte_window *w, size_t n) { w->pos += n; }
// Moves a pull or memory window to stream offset `offset`, emptied.
void mpa_window_seek(mpa_byte_window *w, int64_t offset);
// Sets where the audio ends; a window already past it is cut there.
void mpa_window_set_end(mpa_byte_window *w, int64_t end);

// Push windows: room for more bytes now, and taking them.
size_t mpa_window_push_room(const mpa_byte_window &w);
size_t mpa_window_push(mpa_byte_window *w, const uint8_t *data, size_t size);

#endif
