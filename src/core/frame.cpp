// Frame decode driver: locate the header, set up the frame context with its
// stack scratch, dispatch by layer.
#include "core/frame.h"

#include "core/frame_ctx.h"
#include "core/header.h"
#include "layer12/layer1.h"
#include "layer12/layer2.h"
#include "layer3/layer3_decode.h"
#include "rovaz/mpa.h"

int mpa_decode_frame(mpa_decoder *dec, float *pcm, const uint8_t *data, int len,
                     int preceding_bytes)
{
    if (!dec || !pcm || !data)
        return MPA_ERR_NULL_ARG;

    // The instance is its own header record, so a buffer starting at a frame
    // of the same stream continues it even without a following header.
    const int header_status = mpa_search_header(&dec->header, data, len, mpa_decoder_search_options(dec));
    if (header_status < 0)
        return header_status;
    return mpa_decode_parsed_frame(dec, pcm, data, len, preceding_bytes, header_status);
}

int mpa_decode_parsed_frame(mpa_decoder *dec, float *pcm, const uint8_t *data, int len,
                            int preceding_bytes, int header_status)
{
    const mpa_header *h = &dec->header;
    if (h->header_offset < 0 || h->header_offset > len - 4)
        return MPA_ERROR;  // not a header parsed from these bytes
    if (len - h->header_offset < 21)
        return MPA_ERR_NEED_DATA;
    // A Layer I or II frame is decoded only when all of it is there: its
    // audio data may fit in less, but the caller then consumes the whole
    // frame, bytes it has not been given included. (Layer III checks its
    // own main data.)
    if (h->layer_bits != 1 && static_cast<long long>(len - h->header_offset) * 8 < h->bits_in_frame)
        return MPA_ERR_NEED_DATA;

    const int start = h->header_offset + h->header_bits / 8;
    mpa_bitstream bits;
    mpa_bits_init(&bits, data + start, len - start);

    mpa_frame_scratch scratch;
    mpa_frame_ctx ctx;
    mpa_frame_ctx_init(&ctx, dec, pcm, &bits, &scratch);

    switch (h->layer_bits) {
    case 1: {
        const int status = mpa_layer3_decode(&ctx, preceding_bytes + h->header_offset, header_status);
        dec->reservoir_fill = ctx.reservoir_fill;
        return status;
    }
    case 2:
        return mpa_layer2_decode(&ctx);
    case 3:
        return mpa_layer1_decode(&ctx);
    default:
        return MPA_ERROR;
    }
}
