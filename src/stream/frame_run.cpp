#include "stream/frame_run.h"

#include <algorithm>
#include <cstring>

#include "core/header.h"

bool mpa_header_at(const uint8_t *p, size_t avail, bool with_length, mpa_header *h, unsigned options)
{
    std::memset(h, 0, sizeof(*h));
    // In four bytes the search has one position to try.
    if (avail < 4 || mpa_search_header(h, p, 4, options) < 0)
        return false;
    if (h->bitrate_index != 0 || !with_length)
        return true;
    mpa_header f;
    std::memset(&f, 0, sizeof(f));
    const int n = static_cast<int>(std::min(avail, static_cast<size_t>(1) << 30));
    if (mpa_search_header(&f, p, n, options) != MPA_OK || f.header_offset != 0)
        return false;
    h->bits_in_frame = f.bits_in_frame;
    return true;
}

namespace {

bool run_from(const uint8_t *d, size_t len, size_t i, bool exact_end, unsigned options)
{
    mpa_header first, h;
    if (!mpa_header_at(d + i, len - i, true, &first, options))
        return false;
    size_t at = i + static_cast<size_t>(first.bits_in_frame >> 3);
    for (int k = 0; k < 2; k++) {
        // At the end of the data: for a first frame, its successor must have
        // been seen or the frame must end exactly there.
        if (at + 4 > len)
            return !exact_end || at == len || k > 0;
        if (!mpa_header_at(d + at, len - at, k == 0, &h, options))
            return false;
        // The rate tells MPEG 2.5 from MPEG-2 at the same sampling index.
        if (h.id != first.id || h.layer_bits != first.layer_bits || h.sampling_rate != first.sampling_rate)
            return false;
        at += static_cast<size_t>(h.bits_in_frame >> 3);
    }
    return true;
}

}  // namespace

bool mpa_starts_frame_run(const uint8_t *d, size_t len, size_t i, unsigned options)
{
    return run_from(d, len, i, false, options);
}

bool mpa_starts_stream(const uint8_t *d, size_t len, size_t i, unsigned options)
{
    return run_from(d, len, i, true, options);
}
