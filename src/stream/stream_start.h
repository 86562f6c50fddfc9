// The start of a stream (leading tags, an info frame) and its trailing tags.
#ifndef ROVAZ_STREAM_STREAM_START_H
#define ROVAZ_STREAM_STREAM_START_H

#include <cstddef>
#include <cstdint>

#include "stream/stream_internal.h"

// Advances through leading tags and an info frame to the first audio frame.
int mpa_stream_start(mpa_stream *s);
// Parses the tags at the end of the window's data once it has ended.
void mpa_stream_trailing_tags(mpa_stream *s);
// Parses the tags that end tail[0..len), the last bytes of a stream whose
// first is at `offset`; returns how many bytes at the end they take (the
// caller counts what it cuts).
int64_t mpa_stream_tail_tags(mpa_stream *s, const uint8_t *tail, size_t len, int64_t offset);

#endif
