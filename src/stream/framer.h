// Where the frames of a stream are: the framing decisions of the stream
// layer, shared by the decoding loop and the header scan so that both count
// the same frames. A window over the stream goes in; out comes the next
// frame, or how many bytes to drop and how many the window must hold.
//
// The first frame, and the first after damage or after a frame without its
// successor, must start a run of frames (false syncs in audio data confirm
// each other often enough by the search's two-byte check). Bytes skipped
// after a frame are counted as lost frames when their extent says so: after
// a frame that failed to decode, or where the skipped bytes begin with a
// damaged copy of the stream's header.
#ifndef ROVAZ_STREAM_FRAMER_H
#define ROVAZ_STREAM_FRAMER_H

#include <cstddef>
#include <cstdint>

#include "rovaz/mpa.h"

struct mpa_framer {
    mpa_header search;        // the last frame taken: what the next search continues
    bool resync = true;       // the next frame must start a run (so does the first)
    bool at_start = true;     // no frame taken yet
    bool damaged = false;     // a frame failed since the last one taken
    int32_t damaged_bytes = 0;  // the failed frame's claimed length
    int64_t gap = 0;          // bytes passed over since the last frame taken ended
    int32_t last_bytes = 0;   // length of the last frame taken
    int32_t stable_bytes = 0; // length of the last frame as long as the one before it (padding aside)
    int32_t slot_bytes = 1;   // what padding adds to the last frame's kind: 4 in Layer I, else 1
    uint8_t last_head[2] = {0, 0};
    uint8_t after_last[2] = {0, 0};  // the two bytes after it, where its successor should be
    bool suspect = false;     // the last frame taken had no successor where it ended
    bool searched_afresh = false;  // set with each resynchronisation; the caller clears it
    unsigned search_options = 0;   // of the header search (core/header.h): MPA_SEARCH_MPEG25
};

enum {
    MPA_FRAMER_FRAME = 0,  // a frame at skip: header, lost_frames
    MPA_FRAMER_MORE = 1,   // drop skip bytes, then the window must hold want bytes
    MPA_FRAMER_END = 2     // drop skip bytes (the rest); no frame follows
};

struct mpa_framer_step {
    int event = MPA_FRAMER_END;
    size_t skip = 0;
    size_t want = 0;
    int header_status = 0;  // of the frame's search: MPA_OK or MPA_HEADER_UNCONFIRMED
    mpa_header header;      // the frame's, header_offset counted from the window start
    int32_t lost_frames = 0;  // frames lost in the bytes passed over before it
};

// Bytes the window should hold past its start while the input lasts: two
// frames of any kind and then some, so that the next header is always seen.
constexpr size_t MPA_FRAMER_LOOKAHEAD = 8192;

void mpa_framer_init(mpa_framer *f, unsigned search_options);
// The next frame in d[0..avail); eof says whether more input may follow.
mpa_framer_step mpa_framer_next(mpa_framer *f, const uint8_t *d, size_t avail, bool eof);
// The frame of the last step was taken: frame[0..avail) from its header on.
void mpa_framer_took(mpa_framer *f, const uint8_t *frame, size_t avail, bool eof, const mpa_header &h);
// The frame of the last step failed to decode: the caller steps one byte
// past its sync and the framer resynchronises.
void mpa_framer_failed(mpa_framer *f, const mpa_header &h);

#endif
