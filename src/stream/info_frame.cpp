// Info frame parsing. Every field is read through bounds checks against the
// bytes at hand (cut to the frame's own length): the frame comes straight
// from the input and may be cut or made up.
#include "stream/info_frame.h"

#include <cstring>

#include "rovaz/mpa_stream.h"

namespace {

enum : uint32_t { kHasFrames = 1, kHasBytes = 2, kHasToc = 4, kHasQuality = 8 };

constexpr size_t kTocBytes = 100;
// The LAME extension: 9 bytes of encoder name, then revision, lowpass,
// replay gain, flags and bitrate; delay and padding in bytes 21..23; the CRC
// of everything in the frame before it in the last two of its 36 bytes.
constexpr size_t kLameNameBytes = 9;
constexpr size_t kLameDelayAt = 21;
constexpr size_t kLameCrcAt = 34;
constexpr size_t kLameBytes = 36;
// Fraunhofer's header sits after a fixed 32 bytes of side information.
constexpr size_t kVbriAt = 4 + 32;
constexpr size_t kVbriHeaderBytes = 26;

uint32_t be16(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 8 | p[1];
}

uint32_t be32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// n bytes at pos lie within len (pos itself may be past it).
bool fits(size_t len, size_t pos, size_t n)
{
    return pos <= len && n <= len - pos;
}

size_t side_info_bytes(const mpa_header &h)
{
    const bool mono = h.mode == 3;
    if (h.id == 1)
        return mono ? 17 : 32;
    return mono ? 9 : 17;
}

// CRC-16 with the reflected polynomial 0x8005 (0xA001), initial 0: what
// LAME stores for its tag.
uint32_t lame_crc(const uint8_t *d, size_t n)
{
    uint32_t crc = 0;
    for (size_t i = 0; i < n; i++) {
        crc ^= d[i];
        for (int b = 0; b < 8; b++)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001u : crc >> 1;
    }
    return crc;
}

// The extension is only trusted from encoders known to write it in this
// layout; anything else there is some other encoder's private data.
bool known_encoder(const uint8_t *name)
{
    static const char *const kPrefixes[] = {"LAME", "Lavf", "Lavc", "L3.99"};
    for (const char *prefix : kPrefixes)
        if (memcmp(name, prefix, strlen(prefix)) == 0)
            return true;
    return false;
}

void parse_lame(const mpa_header &h, const uint8_t *f, size_t len, size_t at, mpa_info_frame *info)
{
    if (!fits(len, at, kLameNameBytes) || !known_encoder(f + at))
        return;
    size_t n = 0;
    while (n < kLameNameBytes && f[at + n] >= 0x20 && f[at + n] < 0x7F) {
        info->encoder[n] = static_cast<char>(f[at + n]);
        n++;
    }
    while (n > 0 && info->encoder[n - 1] == ' ')
        info->encoder[--n] = '\0';

    if (!fits(len, at + kLameDelayAt, 3))
        return;
    const uint8_t *dp = f + at + kLameDelayAt;
    const int32_t delay = static_cast<int32_t>(dp[0] << 4 | dp[1] >> 4);
    const int32_t padding = static_cast<int32_t>((dp[1] & 0x0F) << 8 | dp[2]);

    // A stored CRC of 0 is taken as none written; any other must match, or
    // the delay and padding (which would cut audio) are not believed. The
    // frame counts stay: they only estimate length and seek positions.
    if (fits(len, at, kLameBytes)) {
        const uint32_t stored = be16(f + at + kLameCrcAt);
        if (stored != 0 && lame_crc(f, at + kLameCrcAt) != stored)
            return;
    }
    if (info->frames >= 0 &&
        static_cast<int64_t>(delay) + padding > info->frames * static_cast<int64_t>(h.n_samples))
        return;
    info->encoder_delay = delay;
    info->encoder_padding = padding;
}

bool parse_xing(const mpa_header &h, const uint8_t *f, size_t len, size_t at, mpa_info_frame *info)
{
    if (!fits(len, at, 8))
        return false;
    if (memcmp(f + at, "Xing", 4) == 0)
        info->kind = MPA_INFO_XING;
    else if (memcmp(f + at, "Info", 4) == 0)
        info->kind = MPA_INFO_INFO;
    else
        return false;

    const uint32_t flags = be32(f + at + 4);
    size_t pos = at + 8;
    // A field cut by the end of the frame ends the parse: what follows it
    // cannot be placed.
    if (flags & kHasFrames) {
        if (!fits(len, pos, 4))
            return true;
        info->frames = be32(f + pos);
        pos += 4;
    }
    if (flags & kHasBytes) {
        if (!fits(len, pos, 4))
            return true;
        info->bytes = be32(f + pos);
        pos += 4;
    }
    if (flags & kHasToc) {
        if (!fits(len, pos, kTocBytes))
            return true;
        memcpy(info->toc, f + pos, kTocBytes);
        info->has_toc = true;
        pos += kTocBytes;
    }
    if (flags & kHasQuality)
        pos += 4;
    parse_lame(h, f, len, pos, info);
    return true;
}

// VBRI entries give the bytes of successive runs of frames_per_entry frames;
// the Xing form wants the byte position, in 256ths of the stream, at each
// percent of the frames. Positions inside a run are interpolated.
void vbri_toc(const uint8_t *table, uint32_t entries, uint32_t entry_bytes, uint32_t scale,
              uint32_t frames_per_entry, uint32_t frames, uint32_t bytes, uint8_t *toc)
{
    auto entry = [&](uint32_t k) {
        uint32_t v = 0;
        for (uint32_t b = 0; b < entry_bytes; b++)
            v = v << 8 | table[static_cast<size_t>(k) * entry_bytes + b];
        return static_cast<double>(v) * scale;
    };
    double before = 0.0;  // bytes of the runs before run k
    uint32_t k = 0;
    for (int i = 0; i < 100; i++) {
        const double target = static_cast<double>(frames) * i / 100.0;
        while (k < entries && static_cast<double>(k + 1) * frames_per_entry <= target)
            before += entry(k++);
        double pos = before;
        if (k < entries)
            pos += entry(k) * (target - static_cast<double>(k) * frames_per_entry) / frames_per_entry;
        const double t = pos * 256.0 / bytes;
        toc[i] = t >= 255.0 ? 255 : static_cast<uint8_t>(t);
    }
}

bool parse_vbri(const uint8_t *f, size_t len, mpa_info_frame *info)
{
    if (!fits(len, kVbriAt, kVbriHeaderBytes) || memcmp(f + kVbriAt, "VBRI", 4) != 0)
        return false;
    const uint8_t *v = f + kVbriAt;
    info->kind = MPA_INFO_VBRI;
    const uint32_t bytes = be32(v + 10), frames = be32(v + 14);
    info->bytes = bytes;
    info->frames = frames;
    const uint32_t entries = be16(v + 18), scale = be16(v + 20);
    const uint32_t entry_bytes = be16(v + 22), frames_per_entry = be16(v + 24);
    if (entries == 0 || entry_bytes < 1 || entry_bytes > 4 || frames_per_entry == 0 || frames == 0 ||
        bytes == 0)
        return true;
    if (!fits(len, kVbriAt + kVbriHeaderBytes, static_cast<size_t>(entries) * entry_bytes))
        return true;
    vbri_toc(v + kVbriHeaderBytes, entries, entry_bytes, scale, frames_per_entry, frames, bytes, info->toc);
    info->has_toc = true;
    return true;
}

}  // namespace

bool mpa_parse_info_frame(const mpa_header &h, const uint8_t *frame, size_t len, mpa_info_frame *info)
{
    if (!info)
        return false;
    *info = mpa_info_frame();
    if (!frame || h.layer_bits != 1)
        return false;
    // A tag never reaches into the next frame.
    const size_t frame_bytes = h.bits_in_frame > 0 ? static_cast<size_t>(h.bits_in_frame) / 8 : 0;
    if (frame_bytes >= 4 && frame_bytes < len)
        len = frame_bytes;

    // LAME writes the tag right after the side information even when a CRC
    // word precedes it, so that place is tried first.
    const size_t at = 4 + side_info_bytes(h);
    if (parse_xing(h, frame, len, at, info))
        return true;
    if (h.protection_bit == 0 && parse_xing(h, frame, len, at + 2, info))
        return true;
    return parse_vbri(frame, len, info);
}
