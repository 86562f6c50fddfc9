// What the frame driver hands to a layer decoder for one frame.
#ifndef ROVAZ_CORE_FRAME_CTX_H
#define ROVAZ_CORE_FRAME_CTX_H

#include <cstdint>
#include "core/bitstream.h"
#include "core/decoder.h"

struct mpa_layer2_alloc_table;

enum {
    MPA_FRAME_SCRATCH_FLOATS = 2304,  // Layer III [channel][granule][576]
    MPA_FRAME_SCRATCH_BYTES = 192
};

// The per-frame scratch, on the caller's stack.
struct mpa_frame_scratch {
    float values[MPA_FRAME_SCRATCH_FLOATS];  // Layer III spectrum or Layers I/II subband samples
    uint8_t allocation[MPA_FRAME_SCRATCH_BYTES];
    uint8_t scalefactor_index[MPA_FRAME_SCRATCH_BYTES];
};

struct mpa_frame_ctx {
    mpa_bitstream *bits;          // starts after header and CRC word, ends at the data's end
    float *pcm;                   // 2 x 1152 floats, channel-major
    mpa_decoder *decoder;         // decoder->header is the current frame's
    mpa_synth_state *synth;       // the instance's synthesis history and phases
    float *imdct_overlap;         // the instance's Layer III overlap store [2][576]
    uint8_t *reservoir;           // the instance's bit reservoir
    float *spectrum;              // frame scratch: Layer III [channel][granule][576]
    float *samples;               // same scratch: Layers I/II subband samples [slot][ch][32]
    uint8_t *allocation;          // frame scratch, 192 bytes
    uint8_t *scalefactor_index;   // frame scratch, 192 bytes
    int32_t skip_crc;
    int32_t reservoir_fill;       // written back to the instance after Layer III
    const mpa_layer2_alloc_table *alloc_table;
    const uint8_t (*grouping[4])[4];  // {null, grouping_9, grouping_3, grouping_5}
};

// Wires ctx to the instance dec, the PCM buffer, the reader and the scratch.
// dec, pcm and scratch may be null for stages that only read bits; their
// fields are then null (and the counters 0).
void mpa_frame_ctx_init(mpa_frame_ctx *ctx, mpa_decoder *dec, float *pcm, mpa_bitstream *bits,
                        mpa_frame_scratch *scratch);

#endif
