// Layer III scale factors (MPEG-1 and LSF).
#ifndef ROVAZ_LAYER3_SCALEFACTORS_H
#define ROVAZ_LAYER3_SCALEFACTORS_H

#include <cstdint>
#include "core/bitstream.h"
#include "core/frame_ctx.h"
#include "layer3/granule_info.h"

// Reads n scale factors of w bits into dest (zeros for w = 0); returns n.
int mpa_read_scalefactors(mpa_bitstream *bits, uint8_t *dest, int w, int n);
// A granule's scale factors: one byte per band-list entry, three zero bytes
// after the last. MPEG-1: granule 1 keeps the bands scfsi marks from granule 0 in dest.
int mpa_layer3_scalefactors_mpeg1(mpa_granule_info *info, const uint16_t scfsi[4],
                                  mpa_bitstream *bits, uint8_t *dest, int granule);
// LSF: read from ctx->bits; channel 1 of intensity stereo frames takes the
// intensity layout.
int mpa_layer3_scalefactors_lsf(const mpa_frame_ctx *ctx, mpa_granule_info *info,
                                uint8_t *dest, int channel);

#endif
