// Frame decode driver: the frame API's decode after the header search.
#ifndef ROVAZ_CORE_FRAME_H
#define ROVAZ_CORE_FRAME_H

#include <cstdint>
#include "core/decoder.h"

// Decodes the frame whose header dec->header already holds, parsed from
// data[0..len) by mpa_get_header with header_status (0 or 1): the second half
// of mpa_decode_frame, for callers that must decode exactly the frame they
// looked at.
int mpa_decode_parsed_frame(mpa_decoder *dec, float *pcm, const uint8_t *data, int len,
                            int preceding_bytes, int header_status);

#endif
