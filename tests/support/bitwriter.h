// Test helper: writes MPEG audio bitstreams most significant bit first, the
// 4-byte frame header, and the frame CRC-16.
#ifndef ROVAZ_TESTS_SUPPORT_BITWRITER_H
#define ROVAZ_TESTS_SUPPORT_BITWRITER_H

#include <cstddef>
#include <cstdint>

#include <vector>

namespace mpa_test {

class BitWriter {
public:
    // Appends the low n bits (0..32) of value, most significant first.
    void put(uint32_t value, int n)
    {
        for (int i = n - 1; i >= 0; i--) {
            if ((bits_ & 7) == 0)
                bytes_.push_back(0);
            if ((value >> i) & 1)
                bytes_.back() |= static_cast<uint8_t>(0x80 >> (bits_ & 7));
            bits_++;
        }
    }
    // Zero bits up to a total of nbits (nothing if already there).
    void pad_to(size_t nbits)
    {
        while (bits_ < nbits)
            put(0, 1);
    }
    void put_bytes(const std::vector<uint8_t> &b)
    {
        for (uint8_t v : b)
            put(v, 8);
    }
    size_t bits() const { return bits_; }
    const std::vector<uint8_t> &bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    size_t bits_ = 0;
};

// Header fields as in mpa_header, with a 128 kbit/s MPEG-1 Layer II stereo
// 44.1 kHz frame without CRC as the default.
struct HeaderFields {
    int id = 1;
    int layer_bits = 2;      // 3 = Layer I, 2 = Layer II, 1 = Layer III
    int protection_bit = 1;  // 0 = CRC word follows
    int bitrate_index = 8;
    int sampling_index = 0;
    int padding_bit = 0;
    int private_bit = 0;
    int mode = 0;
    int mode_extension = 0;
    int copyright = 0;
    int original = 0;
    int emphasis = 0;
};

// The 4 header bytes, and for protected frames a CRC word of zero (to be
// filled in with set_frame_crc once the frame is complete).
inline void put_header(BitWriter &w, const HeaderFields &h)
{
    w.put(0xFFF, 12);
    w.put(h.id, 1);
    w.put(h.layer_bits, 2);
    w.put(h.protection_bit, 1);
    w.put(h.bitrate_index, 4);
    w.put(h.sampling_index, 2);
    w.put(h.padding_bit, 1);
    w.put(h.private_bit, 1);
    w.put(h.mode, 2);
    w.put(h.mode_extension, 2);
    w.put(h.copyright, 1);
    w.put(h.original, 1);
    w.put(h.emphasis, 2);
    if (h.protection_bit == 0)
        w.put(0, 16);
}

// CRC-16 of ISO/IEC 11172-3 (polynomial 0x8005, MSB first) over nbits bits
// of data starting at bit first_bit.
inline uint16_t crc16(const uint8_t *data, size_t first_bit, size_t nbits, uint16_t crc = 0xFFFF)
{
    for (size_t i = first_bit; i < first_bit + nbits; i++) {
        const int bit = (data[i >> 3] >> (7 - (i & 7))) & 1;
        const int top = (crc >> 15) & 1;
        crc = static_cast<uint16_t>(crc << 1);
        if (bit ^ top)
            crc ^= 0x8005;
    }
    return crc;
}

// Stores the CRC word of a protected frame that starts at frame[0]: header
// bits 16..31, then protected_bits bits after the CRC word.
inline void set_frame_crc(std::vector<uint8_t> &frame, size_t protected_bits)
{
    uint16_t crc = crc16(frame.data(), 16, 16);
    crc = crc16(frame.data(), 48, protected_bits, crc);
    frame[4] = static_cast<uint8_t>(crc >> 8);
    frame[5] = static_cast<uint8_t>(crc);
}

// Ends a frame of frame_bits (from w's first bit): pads it, appends the next
// frame's header (h again) and, for a protected frame, stores the CRC over
// the crc_bits after the CRC word.
inline std::vector<uint8_t> end_frame(BitWriter &w, const HeaderFields &h, size_t frame_bits, size_t crc_bits)
{
    w.pad_to(frame_bits);
    put_header(w, h);
    std::vector<uint8_t> data = w.bytes();
    if (!h.protection_bit)
        set_frame_crc(data, crc_bits);
    return data;
}

}  // namespace mpa_test

#endif
