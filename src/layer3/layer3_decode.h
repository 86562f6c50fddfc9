// Layer III frame decoding internals shared with the tests.
#ifndef ROVAZ_LAYER3_LAYER3_DECODE_H
#define ROVAZ_LAYER3_LAYER3_DECODE_H

#include "core/frame.h"

// Bytes of the main-data assembly buffer: the largest reservoir prefix (511)
// plus the largest frame's own main data.
enum { MPA_MAIN_DATA_BYTES = 1936 };

// Reads main_data_begin of the frame that follows the current one into the
// header's next_main_data_begin; -1 (stored and returned) when it cannot.
int mpa_layer3_next_main_data_begin(mpa_frame_ctx *ctx);

#endif
