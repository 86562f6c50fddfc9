// One frame of a stream decode, driven the way the Java binding drives it.
//
// The frame is chosen once: the header search runs on a copy of the
// instance's header, the frame's output is checked against the caller's room
// before anything in the instance changes, and every decode attempt after
// that works on that same parsed header. A second search over a shorter
// window could pick another frame (an earlier header whose successor is now
// cut off), one with more samples than the room was checked for.
#include "core/decoder.h"
#include "core/frame.h"
#include "core/header.h"
#include "rovaz/mpa.h"

namespace {

int frame_end(const mpa_header &h)
{
    return h.header_offset + (h.bits_in_frame >> 3);
}

}  // namespace

int mpa_decode_step(mpa_decoder *dec, float *pcm, const uint8_t *input, int input_len,
                    int preceding_bytes, int sample_room, int *consumed, int *needed)
{
    if (!dec || !pcm || !input || !consumed || !needed)
        return MPA_ERR_NULL_ARG;
    *consumed = 0;
    *needed = 0;

    mpa_header frame = dec->header;
    const int header_status = mpa_search_header(&frame, input, input_len, mpa_decoder_search_options(dec));
    if (header_status < 0)
        return header_status;  // the instance's header is untouched, as after a failed search
    if (frame.n_samples * frame.n_channels > sample_room)
        return MPA_ERR_OUTPUT_ROOM;

    dec->header = frame;
    int status = mpa_decode_parsed_frame(dec, pcm, input, input_len, preceding_bytes, header_status);
    if (status == MPA_ERR_NEED_DATA || status == MPA_ERR_FRAME_TRUNCATED) {
        // The first attempt saw the whole input; the frame may simply be
        // incomplete, or the data beyond it may have confused the decode.
        // Counted from the start of the input, so that bytes skipped before
        // the header never cut the frame short nor make the caller ask for
        // too little again and again. The length is the one the decode left
        // (Layer III shortens a frame whose successor it cannot read).
        const int end = frame_end(dec->header);
        if (end > input_len) {
            *needed = end;
            return MPA_ERR_NEED_DATA;
        }
        // The same frame again, on the input cut at its end, where its
        // successor is out of sight.
        dec->header = frame;
        status = mpa_decode_parsed_frame(dec, pcm, input, end, preceding_bytes, MPA_HEADER_UNCONFIRMED);
        // Within its own length the frame must decode: anything short of
        // that now is damage, not a lack of input.
        if (status == MPA_ERR_NEED_DATA || status == MPA_ERR_FRAME_TRUNCATED ||
            status == MPA_ERR_RESERVOIR_SHORT)
            return MPA_ERROR;
    }
    if (status != MPA_OK && status != MPA_ERR_RESERVOIR_SHORT)
        return status;
    *consumed = frame_end(dec->header);
    return status;
}
