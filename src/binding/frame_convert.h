// The work of one nConvert call on memory the caller has already pinned,
// free of JNI so that the fuzz target drives exactly what the Java methods
// run: find one frame, check it against the output room, decode it, store
// its 16-bit PCM.
#ifndef ROVAZ_BINDING_FRAME_CONVERT_H
#define ROVAZ_BINDING_FRAME_CONVERT_H

#include <cstdint>

struct mpa_decoder;

struct mpa_convert_result {
    int32_t consumed = 0;
    int32_t produced = 0;
    int32_t needed = 0;
    bool ok = false;            // the call's boolean result
    int status = 0;             // what the decode step returned
    int pcm_status = 0;         // non-zero: the PCM conversion failed
};

// Decodes the first frame of input[0..input_length), with preceding_bytes of
// earlier stream data before input, and writes its PCM to
// output[0..output_room). Nothing outside that range is ever written: a frame
// whose PCM would not fit is refused (ok false, counters 0) before the
// instance changes.
void mpa_convert_frame(mpa_decoder *dec, const uint8_t *input, int32_t input_length, int32_t preceding_bytes,
                       uint8_t *output, int32_t output_room, mpa_convert_result *r);

#endif
