#include "frame_convert.h"

#include "rovaz/mpa.h"

void mpa_convert_frame(mpa_decoder *dec, const uint8_t *input, int32_t input_length, int32_t preceding_bytes,
                       uint8_t *output, int32_t output_room, mpa_convert_result *r)
{
    *r = mpa_convert_result();
    if (output_room < 0)
        output_room = 0;
    alignas(64) float pcm[MPA_PCM_BUFFER_FLOATS];
    int consumed = 0, needed = 0;
    // Room in 16-bit samples: the step refuses a larger frame before
    // decoding, and the store below is bounded by the same room.
    r->status = mpa_decode_step(dec, pcm, input, input_length, preceding_bytes, output_room / 2, &consumed,
                                &needed);
    if (r->status == MPA_ERR_RESERVOIR_SHORT) {
        r->consumed = consumed;
        r->ok = true;
        return;
    }
    if (r->status == MPA_ERR_NEED_DATA && needed > 0) {
        r->needed = needed;
        r->ok = true;
        return;
    }
    if (r->status != MPA_OK)
        return;

    const mpa_header *h = mpa_decoder_header(dec);
    uint8_t *dest[2] = {output, nullptr};
    const unsigned flags = h->n_channels == 2 ? MPA_PCM_STEREO | MPA_PCM_INTERLEAVED : 0;
    int written = 0;
    r->pcm_status = mpa_output_pcm_bounded(flags, pcm, dest, h->n_samples, output_room, &written);
    if (r->pcm_status != MPA_OK)
        return;
    r->produced = written;
    r->consumed = consumed;
    r->ok = true;
}
