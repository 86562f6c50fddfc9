// The header search behind mpa_get_header, with the options of the decoders
// that opt in to more than the standards define.
#ifndef ROVAZ_CORE_HEADER_H
#define ROVAZ_CORE_HEADER_H

#include <cstdint>
#include "core/decoder.h"
#include "rovaz/mpa.h"

enum : unsigned {
    // Also MPEG 2.5, the extension of MPEG-2 low sampling frequencies to
    // 11025, 12000 and 8000 Hz: eleven sync bits (the twelfth is 0) and
    // version bits 00. Its frames are parsed as MPEG-2 ones (id 0, LSF side
    // information and bit rates, 576 samples, 72 * bitrate / rate bytes) at
    // the rates of mpa_sampling_rate_table[2]. Layer III only: Layers I and
    // II were never defined at these rates, and such headers stay refused.
    // mpa_get_header and the frame API never set it; the stream layer does.
    MPA_SEARCH_MPEG25 = 1
};

// mpa_get_header with options (0: exactly mpa_get_header).
int mpa_search_header(mpa_header *hdr, const uint8_t *data, int len, unsigned options);

// The options an instance searches with.
inline unsigned mpa_decoder_search_options(const mpa_decoder *dec)
{
    return dec->accept_mpeg25 ? static_cast<unsigned>(MPA_SEARCH_MPEG25) : 0u;
}

// Whether a parsed header is an MPEG 2.5 one.
inline bool mpa_header_is_mpeg25(const mpa_header &h)
{
    return h.id == 0 && h.sampling_rate > 0 && h.sampling_rate < 16000;
}

#endif
