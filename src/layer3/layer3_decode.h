// Layer III frame decoder.
#ifndef ROVAZ_LAYER3_LAYER3_DECODE_H
#define ROVAZ_LAYER3_LAYER3_DECODE_H

#include "core/frame_ctx.h"

// Bytes of the main-data assembly buffer: the largest reservoir prefix (511)
// plus the largest frame's own main data.
enum { MPA_MAIN_DATA_BYTES = 1936 };

// Decodes one frame into ctx->pcm. bytes_before: the input bytes before the
// frame's header, which an empty reservoir takes the main data from;
// header_status: MPA_OK, or MPA_HEADER_UNCONFIRMED when no following header
// was found (the next frame is then taken to reach back for nothing).
int mpa_layer3_decode(mpa_frame_ctx *ctx, int bytes_before, int header_status);

// Reads main_data_begin of the frame that follows the current one into the
// header's next_main_data_begin; -1 (stored and returned) when it cannot.
int mpa_layer3_next_main_data_begin(mpa_frame_ctx *ctx);

#endif
