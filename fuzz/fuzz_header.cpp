// Fuzz target: the frame header search alone, with and without a previous
// header, so that the continuation rule (a buffer starting at a frame of the
// stream being decoded) is exercised as well as the confirmation search and
// the free-format length search. Whatever it answers must describe bytes
// that are really in the buffer.
//
// Byte 0 picks the previous header: 0 none (all zero), 1 the header found in
// the data itself (the search is then repeated from its frame's end, as a
// stream decode does), 2 arbitrary field values from the next 92 bytes,
// 3 version, layer and sampling index from byte 1. Bit 2 of byte 0 turns on
// the MPEG 2.5 search option. The rest is the data.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/header.h"
#include "core/header_tables.h"
#include "fuzz_check.h"
#include "rovaz/mpa.h"

namespace {

void check(const mpa_header &prev, const mpa_header &h, int status, const uint8_t *data, int len,
           unsigned options)
{
    FUZZ_CHECK(status == MPA_OK || status == MPA_HEADER_UNCONFIRMED || status == MPA_ERR_NO_HEADER);
    if (status < 0)
        return;
    const int off = h.header_offset;
    FUZZ_CHECK(off >= 0 && off + 4 <= len);
    const uint8_t *p = data + off;
    // The fields are the bits of the four header bytes; eleven sync bits
    // and version 00 only for MPEG 2.5 (Layer III), when asked for.
    const bool mpeg25 = (p[1] & 0x10) == 0;
    FUZZ_CHECK(p[0] == 0xFF && (p[1] & 0xE0) == 0xE0);
    FUZZ_CHECK(!mpeg25 || ((options & MPA_SEARCH_MPEG25) && (p[1] & 0x18) == 0 && h.layer_bits == 1));
    FUZZ_CHECK(mpeg25 == mpa_header_is_mpeg25(h));
    FUZZ_CHECK(h.id == ((p[1] >> 3) & 1) && h.layer_bits == ((p[1] >> 1) & 3));
    FUZZ_CHECK(h.protection_bit == (p[1] & 1) && h.bitrate_index == (p[2] >> 4));
    FUZZ_CHECK(h.sampling_index == ((p[2] >> 2) & 3) && h.padding_bit == ((p[2] >> 1) & 1));
    FUZZ_CHECK(h.mode == (p[3] >> 6) && h.mode_extension == ((p[3] >> 4) & 3));
    FUZZ_CHECK(h.emphasis == (p[3] & 3));
    // Only usable values are accepted.
    FUZZ_CHECK(h.layer_bits >= 1 && h.bitrate_index < 15 && h.sampling_index < 3 && h.emphasis != 2);
    FUZZ_CHECK(h.n_channels == (h.mode == 3 ? 1 : 2));
    FUZZ_CHECK(h.n_samples == mpa_samples_per_frame[h.id][h.layer_bits]);
    FUZZ_CHECK(h.sampling_rate == mpa_sampling_rate_table[mpeg25 ? 2 : h.id][h.sampling_index]);
    FUZZ_CHECK(h.header_bits == (h.protection_bit ? 32 : 48));
    FUZZ_CHECK(h.bits_in_frame > 0);
    const int frame_bytes = h.bits_in_frame >> 3;

    if (h.bitrate_index == 0) {
        FUZZ_CHECK(h.bit_rate == 0);
        if (status == MPA_OK) {
            // The successor is in the buffer, at least 48 bytes on, and alike.
            FUZZ_CHECK(frame_bytes >= 48 && frame_bytes * 8 <= mpa_free_format_limit[h.layer_bits]);
            FUZZ_CHECK(off + frame_bytes + 4 <= len);
            const uint8_t *q = p + frame_bytes;
            FUZZ_CHECK(q[0] == 0xFF && ((q[1] ^ p[1]) & 0xFE) == 0 && ((q[2] ^ p[2]) & 0xFC) == 0);
        } else {
            FUZZ_CHECK(h.bits_in_frame == (len - off) * 8);
        }
        return;
    }
    FUZZ_CHECK(h.bit_rate == mpa_bitrate_table[h.id][h.layer_bits][h.bitrate_index]);
    // Frame length from ISO/IEC 11172-3 2.4.3.1: whole slots of 4 bytes
    // (Layer I) or 1 byte, plus one slot when padded.
    const long long slot = h.layer_bits == 3 ? 4 : 1;
    const long long slots =
        static_cast<long long>(h.n_samples) / 8 * h.bit_rate * 1000 / h.sampling_rate / slot;
    FUZZ_CHECK(frame_bytes == (slots + h.padding_bit) * slot && (h.bits_in_frame & 7) == 0);
    if (status == MPA_OK) {
        FUZZ_CHECK(off + frame_bytes + 1 < len);
        const uint8_t *q = p + frame_bytes;
        FUZZ_CHECK(q[0] == 0xFF && ((q[1] ^ p[1]) & 0xFE) == 0);
    } else {
        // Unconfirmed: the successor lies beyond the buffer, or the buffer
        // starts exactly at a frame of the previous header's stream.
        const bool beyond = off + frame_bytes + 1 >= len;
        const bool continues = off == 0 && h.id == prev.id && h.layer_bits == prev.layer_bits &&
                               h.sampling_index == prev.sampling_index;
        FUZZ_CHECK(beyond || continues);
    }
}

// Searches a heap copy of exactly len bytes, so that a read past the end is caught.
int search(mpa_header *h, const uint8_t *data, int len, unsigned options)
{
    uint8_t *copy = static_cast<uint8_t *>(std::malloc(len > 0 ? static_cast<size_t>(len) : 1));
    std::memcpy(copy, data, static_cast<size_t>(len));
    const mpa_header prev = *h;
    const int status = options ? mpa_search_header(h, copy, len, options) : mpa_get_header(h, copy, len);
    check(prev, *h, status, copy, len, options);
    if (status < 0)  // a failed search leaves the record as it was
        FUZZ_CHECK(std::memcmp(&prev, h, sizeof prev) == 0);
    std::free(copy);
    return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > (1u << 18))
        return 0;
    mpa_header h;
    std::memset(&h, 0, sizeof(h));
    const int mode = data[0] & 3;
    const unsigned options = (data[0] & 4) ? static_cast<unsigned>(MPA_SEARCH_MPEG25) : 0u;
    data++;
    size--;
    if (mode == 2 && size >= sizeof(h)) {
        std::memcpy(&h, data, sizeof(h));
        data += sizeof(h);
        size -= sizeof(h);
    } else if (mode == 3 && size >= 1) {
        h.id = data[0] & 1;
        h.layer_bits = (data[0] >> 1) & 3;
        h.sampling_index = (data[0] >> 3) & 3;
        data++;
        size--;
    }
    int len = static_cast<int>(size);
    const int status = search(&h, data, len, options);
    if (mode == 1 && status >= 0) {
        // Walk on frame by frame with the record carried along, as the
        // frame driver does.
        for (int i = 0; i < 64; i++) {
            const long long next = static_cast<long long>(h.header_offset) + (h.bits_in_frame >> 3);
            if (next <= 0 || next >= len)
                break;
            data += next;
            len -= static_cast<int>(next);
            if (search(&h, data, len, options) < 0)
                break;
        }
    }
    return 0;
}
