// One frame of a stream decode, driven the way the Java binding drives it.
#include "core/decoder.h"
#include "rovaz/mpa.h"

int mpa_decode_step(mpa_decoder *dec, float *pcm, const uint8_t *input, int input_len,
                    int preceding_bytes, int *consumed, int *needed)
{
    if (!dec || !pcm || !input || !consumed || !needed)
        return MPA_ERR_NULL_ARG;
    *consumed = 0;
    *needed = 0;

    int status = mpa_decode_frame(dec, pcm, input, input_len, preceding_bytes);
    if (status == MPA_ERR_NEED_DATA || status == MPA_ERR_FRAME_TRUNCATED) {
        // The first attempt searched the whole input; the frame may simply
        // be incomplete, or the data beyond it may have confused the decode.
        // Counted from the start of the input, so that bytes skipped before
        // the header never cut the frame short nor make the caller ask for
        // too little again and again.
        const int frame_end = dec->header.header_offset + (dec->header.bits_in_frame >> 3);
        if (frame_end > input_len) {
            *needed = frame_end;
            return MPA_ERR_NEED_DATA;
        }
        status = mpa_decode_frame(dec, pcm, input, frame_end, preceding_bytes);
        // Within its own length the frame must decode: anything short of
        // that now is damage, not a lack of input.
        if (status == MPA_ERR_NEED_DATA || status == MPA_ERR_FRAME_TRUNCATED ||
            status == MPA_ERR_RESERVOIR_SHORT)
            return MPA_ERROR;
    }
    if (status == MPA_ERR_RESERVOIR_SHORT) {
        *consumed = dec->header.header_offset + (dec->header.bits_in_frame >> 3);
        return MPA_ERR_RESERVOIR_SHORT;
    }
    if (status != MPA_OK)
        return status;
    *consumed = dec->header.header_offset + (dec->header.bits_in_frame >> 3);
    return MPA_OK;
}
