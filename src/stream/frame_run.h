// Frame-structure checks that the stream layer's framing decisions rest on:
// a header read alone, a run of frames that false syncs rarely imitate, and
// whether a frame is followed by its successor.
#ifndef ROVAZ_STREAM_FRAME_RUN_H
#define ROVAZ_STREAM_FRAME_RUN_H

#include <cstddef>
#include <cstdint>

#include "rovaz/mpa.h"

// The header at p, parsed alone (its successor is not looked at), with the
// frame length when with_length; a free-format frame needs the next header
// in p[0..avail) for that. options: of the header search (core/header.h).
bool mpa_header_at(const uint8_t *p, size_t avail, bool with_length, mpa_header *h, unsigned options);

// Whether a frame at d[i] starts a run of frames: its next two headers follow
// where the frame lengths say, with the same version, layer and sampling
// rate. A run that reaches the end of d[0..len) counts.
bool mpa_starts_frame_run(const uint8_t *d, size_t len, size_t i, unsigned options);

// The stricter rule for the first frame of a stream: as mpa_starts_frame_run,
// but a run cut by the end of the data counts only once the frame's
// successor was seen there, or when the frame ends exactly at the end:
// non-MPEG data must not be claimed by one header near its end.
bool mpa_starts_stream(const uint8_t *d, size_t len, size_t i, unsigned options);

// Three frames of the longest kind: how far ahead the run checks look.
constexpr size_t MPA_RUN_REACH = 3 * 1732;

#endif
