// Frame header search, confirmation and parse.
#include <cstddef>

#include "core/header.h"
#include "core/header_tables.h"
#include "rovaz/mpa.h"

namespace {

// A plausible header: twelve sync bits and a layer (or, with mpeg25, eleven
// sync bits, version bits 00 and Layer III), a usable bit rate and sampling
// rate, and an allowed emphasis.
inline bool is_candidate(const uint8_t *p, bool mpeg25)
{
    const bool sync = (p[1] & 0xF6) > 0xF0 || (mpeg25 && (p[1] & 0xFE) == 0xE2);
    return p[0] == 0xFF && sync && (p[2] & 0xF0) != 0xF0 && (p[2] & 0x0C) != 0x0C && (p[3] & 0x03) != 2;
}

// Row of mpa_sampling_rate_table: the id, or 2 for MPEG 2.5 (twelfth sync bit 0).
inline int rate_row(const uint8_t *p)
{
    return (p[1] & 0x10) ? (p[1] >> 3) & 1 : 2;
}

// Frame length in bits of a fixed-rate header.
inline uint32_t fixed_frame_bits(const uint8_t *p)
{
    const int id = (p[1] >> 3) & 1;
    const int layer = (p[1] >> 1) & 3;
    const int rate = mpa_bitrate_table[id][layer][p[2] >> 4];
    const uint32_t sr = mpa_sampling_rate_table[rate_row(p)][(p[2] >> 2) & 3];
    const uint32_t mask = mpa_slot_mask[layer];
    uint32_t bits = static_cast<uint32_t>(rate) * mpa_samples_per_frame[id][layer] * 1000u / sr;
    bits &= ~mask;
    if (p[2] & 2)
        bits += mask + 1;
    return bits;
}

// The next header of a free-format frame p: same sync, version, layer,
// bit-rate index and sampling rate; padding and private bits free.
inline bool is_free_format_successor(const uint8_t *p, const uint8_t *q)
{
    return q[0] == 0xFF && ((q[1] ^ p[1]) & 0xFE) == 0 && ((q[2] ^ p[2]) & 0xFC) == 0 && (q[3] & 3) != 2;
}

// Byte at offset i, or 0 past the end of the buffer.
inline uint32_t byte_or_zero(const uint8_t *data, long long len, long long i)
{
    return i < len ? data[i] : 0u;
}

void parse(mpa_header *hdr, const uint8_t *data, int len, int offset, int status,
           uint32_t free_format_bytes)
{
    const uint8_t *p = data + offset;
    hdr->id = (p[1] >> 3) & 1;
    hdr->layer_bits = (p[1] >> 1) & 3;
    hdr->protection_bit = p[1] & 1;
    hdr->bitrate_index = p[2] >> 4;
    hdr->sampling_index = (p[2] >> 2) & 3;
    hdr->padding_bit = (p[2] >> 1) & 1;
    hdr->private_bit = p[2] & 1;
    hdr->mode = p[3] >> 6;
    hdr->mode_extension = (p[3] >> 4) & 3;
    hdr->copyright = (p[3] >> 3) & 1;
    hdr->original = (p[3] >> 2) & 1;
    hdr->emphasis = p[3] & 3;
    hdr->header_offset = offset;

    hdr->bit_rate = mpa_bitrate_table[hdr->id][hdr->layer_bits][hdr->bitrate_index];
    hdr->sampling_rate = mpa_sampling_rate_table[rate_row(p)][hdr->sampling_index];
    hdr->n_samples = mpa_samples_per_frame[hdr->id][hdr->layer_bits];
    if (hdr->bitrate_index != 0)
        hdr->bits_in_frame = static_cast<int32_t>(fixed_frame_bits(p));
    else if (status == MPA_OK)
        hdr->bits_in_frame = static_cast<int32_t>(free_format_bytes * 8);
    else
        hdr->bits_in_frame = (len - offset) * 8;  // everything to the end of the buffer
    hdr->n_channels = hdr->mode == 3 ? 1 : 2;

    // Bytes past the buffer read as zero; the frame driver rejects such
    // short frames afterwards.
    const long long at = offset;
    if (hdr->protection_bit == 0) {
        hdr->crc_word =
            static_cast<int32_t>(byte_or_zero(data, len, at + 4) << 8 | byte_or_zero(data, len, at + 5));
        hdr->header_bits = 48;
        hdr->crc_header_bits = p[2] << 8 | p[3];
    } else {
        hdr->header_bits = 32;
    }
    if (hdr->layer_bits == 1) {
        const long long side = at + hdr->header_bits / 8;
        const uint32_t b0 = byte_or_zero(data, len, side);
        hdr->neg_offset = hdr->id ? static_cast<int32_t>(b0 * 2 + (byte_or_zero(data, len, side + 1) >> 7))
                                  : static_cast<int32_t>(b0);
    } else {
        hdr->neg_offset = 0;
    }
}

}  // namespace

int mpa_get_header(mpa_header *hdr, const uint8_t *data, int len)
{
    return mpa_search_header(hdr, data, len, 0);
}

int mpa_search_header(mpa_header *hdr, const uint8_t *data, int len, unsigned options)
{
    const bool mpeg25 = (options & MPA_SEARCH_MPEG25) != 0;
    if (!hdr || !data)
        return MPA_ERR_NULL_ARG;
    if (len < 4)
        return MPA_ERR_NO_HEADER;

    int first_unconfirmed = -1;
    for (long long i = 0; i + 4 <= len; i++) {
        const uint8_t *p = data + i;
        if (!is_candidate(p, mpeg25))
            continue;
        // A buffer that starts exactly at a frame of the stream being
        // decoded (same version, layer and sampling rate as the previous
        // header) continues it.
        const bool continues = i == 0 && ((p[1] >> 3) & 1) == hdr->id &&
                               ((p[1] >> 1) & 3) == hdr->layer_bits &&
                               ((p[2] >> 2) & 3) == hdr->sampling_index &&
                               (!mpeg25 || ((p[1] & 0x10) == 0) == mpa_header_is_mpeg25(*hdr));

        if ((p[2] >> 4) != 0) {
            const long long next = i + fixed_frame_bits(p) / 8;
            const bool successor_in_buffer = next + 1 < len;
            if (successor_in_buffer && data[next] == 0xFF && ((data[next + 1] ^ p[1]) & 0xFE) == 0) {
                parse(hdr, data, len, static_cast<int>(i), MPA_OK, 0);
                return MPA_OK;
            }
            // A continuing frame is taken without its successor, also when
            // the buffer ends before the successor (the last frame of a
            // stream): otherwise a false sync in its own data that happens
            // to look confirmed would win and the frame would be lost.
            if (continues) {
                parse(hdr, data, len, 0, MPA_HEADER_UNCONFIRMED, 0);
                return MPA_HEADER_UNCONFIRMED;
            }
            if (!successor_in_buffer && first_unconfirmed < 0)
                first_unconfirmed = static_cast<int>(i);
            continue;
        }

        // Free format: the frame length is the distance to the next header
        // with the same version, layer, bit-rate index and sampling rate.
        // Main data may hold sync-like words, so a frame continuing a
        // free-format stream first tries the previous frame's length
        // (adjusted for padding) before scanning.
        if (continues && hdr->bitrate_index == 0 && hdr->bits_in_frame > 0) {
            const int slot = (p[1] & 6) == 6 ? 4 : 1;  // Layer I pads 4-byte slots
            const long long k = hdr->bits_in_frame / 8 + slot * (((p[2] >> 1) & 1) - hdr->padding_bit);
            if (k >= 48 && k <= mpa_free_format_limit[(p[1] >> 1) & 3] / 8 && i + k + 4 <= len &&
                is_free_format_successor(p, data + i + k)) {
                parse(hdr, data, len, static_cast<int>(i), MPA_OK, static_cast<uint32_t>(k));
                return MPA_OK;
            }
        }
        const int limit = mpa_free_format_limit[(p[1] >> 1) & 3] / 8;
        for (int k = 48; k <= limit; k++) {
            const long long q = i + k;
            if (q + 4 > len) {
                if (first_unconfirmed < 0)
                    first_unconfirmed = static_cast<int>(i);
                break;
            }
            if (is_free_format_successor(p, data + q)) {
                parse(hdr, data, len, static_cast<int>(i), MPA_OK, static_cast<uint32_t>(k));
                return MPA_OK;
            }
        }
    }
    if (first_unconfirmed < 0)
        return MPA_ERR_NO_HEADER;
    parse(hdr, data, len, first_unconfirmed, MPA_HEADER_UNCONFIRMED, 0);
    return MPA_HEADER_UNCONFIRMED;
}
