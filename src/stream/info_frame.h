// The info frame that encoders put first in a Layer III stream: Xing (VBR)
// or Info (CBR) with frame and byte counts and a seek table, or VBRI
// (Fraunhofer), and LAME's extension with the encoder delay and padding.
#ifndef ROVAZ_STREAM_INFO_FRAME_H
#define ROVAZ_STREAM_INFO_FRAME_H

#include <cstddef>
#include <cstdint>

#include "rovaz/mpa.h"

struct mpa_info_frame {
    int32_t kind = 0;             // MPA_INFO_* of rovaz/mpa_stream.h
    int64_t frames = -1;          // audio frames declared (the info frame not counted)
    int64_t bytes = -1;           // stream bytes declared
    bool has_toc = false;
    // Xing seek table: toc[i] * bytes / 256 is the byte offset, from the info
    // frame's start, of the point i percent into the stream's duration. A
    // VBRI table is turned into the same form.
    uint8_t toc[100] = {};
    int32_t encoder_delay = -1;   // samples; -1 when no LAME tag gives it
    int32_t encoder_padding = -1;
    char encoder[10] = {};        // "LAME3.100", NUL-terminated, printable ASCII only
};

// Parses frame[0..len), the frame whose header h is (h from mpa_get_header on
// the frame, header_offset 0). True when it is an info frame; info then
// holds what it declares. Delay and padding that would cut more than all the
// declared samples are dropped (left -1) as a damaged tag.
bool mpa_parse_info_frame(const mpa_header &h, const uint8_t *frame, size_t len, mpa_info_frame *info);

#endif
