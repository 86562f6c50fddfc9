// The decoder instance: one flat record holding everything that survives
// from one frame to the next.
#ifndef ROVAZ_CORE_DECODER_H
#define ROVAZ_CORE_DECODER_H

#include <cstdint>
#include "rovaz/mpa.h"

// Polyphase synthesis history: per channel two banks of 16 columns (a ring of
// 16 time slots) of 17 values each, and the ring position of each channel.
struct mpa_synth_state {
    float synth_history[2][544];
    int32_t synth_phase[2];
};

struct mpa_decoder {
    mpa_header header;
    int32_t ancillary_bits;
    mpa_synth_state synth;
    float imdct_overlap[2][576];
    uint8_t reservoir[2016];
    uint8_t grouping_9[729][4];
    uint8_t grouping_3[27][4];
    uint8_t grouping_5[125][4];
    int32_t reservoir_fill;
    int32_t skip_crc;
    // 1: the header search also takes MPEG 2.5 frames (MPA_SEARCH_MPEG25 of
    // core/header.h). Opt-in: 0 after open and reset, as the frame API and
    // the JNI methods use it; the stream layer sets it.
    int32_t accept_mpeg25;
};

// Writes n^3 degrouping entries {c mod n, (c / n) mod n, c / n^2, 0}.
void mpa_build_grouping_table(uint8_t (*dest)[4], int n);

#endif
