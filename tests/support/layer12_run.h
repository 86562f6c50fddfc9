// Test helper: runs the Layer I or Layer II decoder on one frame with a frame
// context built here, so that the dequantised subband samples stay visible.
#ifndef ROVAZ_TESTS_SUPPORT_LAYER12_RUN_H
#define ROVAZ_TESTS_SUPPORT_LAYER12_RUN_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/decoder.h"
#include "core/frame_ctx.h"
#include "layer12/layer1.h"
#include "layer12/layer2.h"
#include "rovaz/mpa.h"

namespace mpa_test {

// Exact value of the ISO/IEC 11172-3 requantisation of sample code x out of
// `levels` levels (2x - (levels - 1)) / levels, times the scale factor
// 2^(1 - scf/3) and 32768.
inline double requantised(uint32_t x, uint32_t levels, int scf)
{
    return (2.0 * x - (levels - 1.0)) / levels * pow(2.0, 1.0 - scf / 3.0) * 32768.0;
}

struct Layer12Run {
    static constexpr float kUnwritten = 12345.0f;

    mpa_decoder *dec = nullptr;
    float pcm[MPA_PCM_BUFFER_FLOATS];
    mpa_frame_scratch scratch;
    mpa_bitstream bits;
    mpa_frame_ctx ctx;
    int header_status = 0;

    Layer12Run() { mpa_decoder_open(&dec); }
    ~Layer12Run() { mpa_decoder_close(dec); }
    Layer12Run(const Layer12Run &) = delete;
    Layer12Run &operator=(const Layer12Run &) = delete;

    // Parses the header of data[0..len) and calls the layer decoder; len < 0
    // means all of data. As in a running stream, the instance's header
    // already matches the frame's version, layer and sampling rate, so a
    // frame at position 0 is taken even when no successor confirms it.
    int decode(const std::vector<uint8_t> &data, int len = -1)
    {
        if (len < 0)
            len = static_cast<int>(data.size());
        if (data.size() >= 3) {
            dec->header.id = (data[1] >> 3) & 1;
            dec->header.layer_bits = (data[1] >> 1) & 3;
            dec->header.sampling_index = (data[2] >> 2) & 3;
        }
        header_status = mpa_get_header(&dec->header, data.data(), len);
        if (header_status < 0)
            return header_status;
        const int start = dec->header.header_offset + dec->header.header_bits / 8;
        mpa_bits_init(&bits, data.data() + start, len - start);
        for (float &v : pcm)
            v = kUnwritten;
        for (float &v : scratch.values)
            v = kUnwritten;
        mpa_frame_ctx_init(&ctx, dec, pcm, &bits, &scratch);
        return dec->header.layer_bits == 3 ? mpa_layer1_decode(&ctx) : mpa_layer2_decode(&ctx);
    }

    float sample(int slot, int ch, int sb) const { return scratch.values[slot * 64 + ch * 32 + sb]; }

    // True when the frame left pcm and the synthesis state as they were.
    bool nothing_output() const
    {
        for (float v : pcm)
            if (v != kUnwritten)
                return false;
        return dec->synth.synth_phase[0] == 0 && dec->synth.synth_phase[1] == 0;
    }
};

// Checks that the CRC of the protected frame good covers exactly the crc_bits
// bits after the header and its check word: a flip of the last one is caught,
// one of the bit after it is not, and one of mask in byte at (of the check
// word) is caught too.
inline void expect_crc_covers_exactly(const std::vector<uint8_t> &good, size_t crc_bits, size_t at,
                                      uint8_t mask)
{
    Layer12Run run;
    EXPECT_EQ(run.decode(good), MPA_OK);
    const size_t last = 48 + crc_bits - 1;
    std::vector<uint8_t> bad = good;
    bad[last / 8] ^= static_cast<uint8_t>(0x80 >> (last % 8));
    EXPECT_EQ(run.decode(bad), MPA_ERR_CRC);
    bad = good;
    bad[(last + 1) / 8] ^= static_cast<uint8_t>(0x80 >> ((last + 1) % 8));
    EXPECT_EQ(run.decode(bad), MPA_OK);
    bad = good;
    bad[at] ^= mask;
    EXPECT_EQ(run.decode(bad), MPA_ERR_CRC);
}

// Per layer, frames the decoder must refuse, for the tests over the layers in
// test_refusal.cpp; each layer's test file builds its own with its writer.
struct ProtectedFrame {
    std::vector<uint8_t> bytes;  // a protected frame, then the next header
    size_t crc_bits;             // as its writer counted them
    size_t expected_crc_bits;    // what the layer's rules give, 0 when not fixed here
};

struct LayerRefusals {
    std::vector<uint8_t> frame;           // a valid frame, then the next header
    std::vector<int> short_lengths;       // cuts of frame that need more data
    std::vector<std::pair<std::string, std::vector<uint8_t>>> bad;  // frames refused whole
    std::vector<ProtectedFrame> protected_frames;
    size_t crc_word_byte;                 // a byte of the CRC word and a bit of it to flip
    uint8_t crc_word_mask;
};

LayerRefusals layer1_refusals();
LayerRefusals layer2_refusals();

}  // namespace mpa_test

#endif
