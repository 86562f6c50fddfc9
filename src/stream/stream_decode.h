// The stream's decoding loop: the next frame of output, and what the other
// stream files share of it.
#ifndef ROVAZ_STREAM_STREAM_DECODE_H
#define ROVAZ_STREAM_STREAM_DECODE_H

#include <cstddef>
#include <cstdint>

#include "stream/stream_internal.h"

// Fills the window to want bytes (false: a pushed stream must be fed).
bool mpa_stream_fill(mpa_stream *s, size_t want);
// An I/O failure's status over another.
int mpa_stream_status(const mpa_stream *s, int status);
// A frame's format from its header.
void mpa_frame_out_set(mpa_frame_out *f, const mpa_header &h);
// The output format of frames like f (the start is the caller's to set).
void mpa_stream_set_format(mpa_stream *s, const mpa_frame_out &f);
// How many window bytes the decoder is given.
int mpa_stream_input_length(size_t avail);

// Makes s->frame the next frame of output (decoded, concealed or silent).
// MPA_OK, MPA_STREAM_END, MPA_STREAM_NEED_INPUT or an error.
int mpa_stream_next_frame(mpa_stream *s);
// Decodes the next frames into sink (MPA_PCM_BUFFER_FLOATS floats, unchanged
// by the caller until the next frame is asked for) where it can, or into the
// stream's own buffers again (sink null).
void mpa_stream_set_sink(mpa_stream *s, float *sink);

#endif
