// The scan of a seekable stream and its exact seek.
#ifndef ROVAZ_STREAM_STREAM_SEEK_H
#define ROVAZ_STREAM_STREAM_SEEK_H

#include <cstddef>
#include <cstdint>

#include "stream/stream_internal.h"

// The scan of a seekable stream (once).
int mpa_stream_scan(mpa_stream *s);
// mpa_stream_seek on the stream's own decoding (a pipeline follows it).
int mpa_stream_seek_frames(mpa_stream *s, int64_t sample);
// Output samples of the whole stream from untrimmed ones.
int64_t mpa_stream_trimmed(const mpa_stream *s, int64_t untrimmed);

#endif
