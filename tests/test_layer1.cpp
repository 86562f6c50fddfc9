// Layer I frame decoding, checked on frames built here against the
// requantisation formula of ISO/IEC 11172-3.
#include <gtest/gtest.h>

#include <random>

#include "support/bitwriter.h"
#include "support/layer12_run.h"

using mpa_test::BitWriter;
using mpa_test::HeaderFields;
using mpa_test::Layer12Run;

namespace {

// One Layer I frame's content; above the bound channel 1 repeats channel 0's
// allocation and codes.
struct Layer1Frame {
    HeaderFields h;
    int nch = 2;
    int bound = 32;
    int alloc[2][32] = {};
    int scf[2][32] = {};
    uint32_t code[12][2][32] = {};
    size_t content_bits = 0;  // header, CRC word and audio data
    size_t crc_bits = 0;      // allocation bits, covered by the CRC
};

Layer1Frame make_frame(int mode, int mode_extension, bool crc)
{
    Layer1Frame f;
    f.h.layer_bits = 3;
    f.h.sampling_index = 2;   // 32 kHz
    f.h.bitrate_index = 14;   // 448 kbit/s: 5376 bits
    f.h.mode = mode;
    f.h.mode_extension = mode_extension;
    f.h.protection_bit = crc ? 0 : 1;
    f.nch = mode == 3 ? 1 : 2;
    f.bound = mode == 1 ? 4 * mode_extension + 4 : 32;
    return f;
}

size_t audio_bits(const Layer1Frame &f)
{
    size_t n = 0;
    for (int sb = 0; sb < 32; sb++)
        for (int ch = 0; ch < f.nch; ch++) {
            const bool coded = sb < f.bound || ch == 0;
            n += coded ? 4 : 0;
            if (f.alloc[ch][sb])
                n += 6 + (coded ? 12 * (f.alloc[ch][sb] + 1) : 0);
        }
    return n;
}

// Random allocations (all values 1..14 and 0) that fit in a 5376-bit frame,
// random scale factors and codes.
void fill_random(Layer1Frame &f, std::mt19937 &rng)
{
    for (int ch = 0; ch < f.nch; ch++)
        for (int sb = 0; sb < 32; sb++)
            f.alloc[ch][sb] = (rng() % 3 == 0) ? 0 : static_cast<int>(1 + rng() % 14);
    for (int sb = f.bound; sb < 32 && f.nch == 2; sb++)
        f.alloc[1][sb] = f.alloc[0][sb];
    // Subband 0 always keeps a scale factor and samples.
    while (audio_bits(f) > 5376 - 48) {
        const int sb = 1 + static_cast<int>(rng() % 31);
        f.alloc[rng() % f.nch][sb] = 0;
        if (sb >= f.bound)
            f.alloc[0][sb] = f.alloc[1][sb] = 0;
    }
    for (int ch = 0; ch < f.nch; ch++)
        for (int sb = 0; sb < 32; sb++) {
            f.scf[ch][sb] = static_cast<int>(rng() % 63);
            for (int b = 0; b < 12; b++)
                f.code[b][ch][sb] = (sb >= f.bound && ch == 1)
                                        ? f.code[b][0][sb]
                                        : rng() & ((2u << f.alloc[ch][sb]) - 1);
        }
}

// The frame with its declared length, then the next frame's header.
std::vector<uint8_t> write_frame(Layer1Frame &f, int frame_bits)
{
    BitWriter w;
    mpa_test::put_header(w, f.h);
    const size_t audio = w.bits();
    for (int sb = 0; sb < 32; sb++)
        for (int ch = 0; ch < (sb < f.bound ? f.nch : 1); ch++)
            w.put(f.alloc[ch][sb], 4);
    f.crc_bits = w.bits() - audio;
    for (int sb = 0; sb < 32; sb++)
        for (int ch = 0; ch < f.nch; ch++)
            if (f.alloc[ch][sb])
                w.put(f.scf[ch][sb], 6);
    for (int b = 0; b < 12; b++)
        for (int sb = 0; sb < 32; sb++)
            for (int ch = 0; ch < (sb < f.bound ? f.nch : 1); ch++)
                if (f.alloc[ch][sb])
                    w.put(f.code[b][ch][sb], f.alloc[ch][sb] + 1);
    f.content_bits = w.bits();
    return mpa_test::end_frame(w, f.h, frame_bits, f.crc_bits);
}

void expect_samples(const Layer12Run &run, const Layer1Frame &f)
{
    for (int b = 0; b < 12; b++)
        for (int ch = 0; ch < f.nch; ch++)
            for (int sb = 0; sb < 32; sb++) {
                const int a = f.alloc[ch][sb];
                const double want =
                    a ? mpa_test::requantised(f.code[b][ch][sb], (2u << a) - 1, f.scf[ch][sb]) : 0.0;
                ASSERT_NEAR(run.sample(b, ch, sb), want, 1e-6 * fabs(want))
                    << "block " << b << " ch " << ch << " sb " << sb << " alloc " << a;
            }
}

}  // namespace

TEST(Layer1, DequantisesEveryChannelModeLikeTheStandard)
{
    std::mt19937 rng(11);
    const int modes[][2] = {{3, 0}, {0, 3}, {2, 1}, {1, 0}, {1, 1}, {1, 2}, {1, 3}};
    for (const auto &m : modes) {
        for (int round = 0; round < 4; round++) {
            Layer1Frame f = make_frame(m[0], m[1], round & 1);
            fill_random(f, rng);
            std::vector<uint8_t> data = write_frame(f, 5376);
            ASSERT_LE(f.content_bits, 5376u);
            Layer12Run run;
            ASSERT_EQ(run.decode(data), MPA_OK) << "mode " << m[0] << " ext " << m[1];
            expect_samples(run, f);
            EXPECT_EQ(run.dec->ancillary_bits, 5376 - static_cast<int>(f.content_bits));
            // Each channel went through 12 synthesis slots; a mono frame
            // leaves channel 1 alone.
            EXPECT_EQ(run.dec->synth.synth_phase[0], 4);
            EXPECT_EQ(run.dec->synth.synth_phase[1], f.nch == 2 ? 4 : 0);
        }
    }
}

// For the tests over the layers (test_refusal.cpp).
mpa_test::LayerRefusals mpa_test::layer1_refusals()
{
    LayerRefusals r;
    std::mt19937 rng(7);
    Layer1Frame f = make_frame(0, 0, true);
    fill_random(f, rng);
    r.frame = write_frame(f, 5376);
    // CRC present, allocation incomplete; cut in the scale factors; in the last block.
    r.short_lengths = {6 + 31, 6 + 40, static_cast<int>(f.content_bits) / 8 - 2};
    // Content longer than the declared frame (32 kbit/s at 32 kHz: 384 bits).
    Layer1Frame g = make_frame(3, 0, false);
    g.h.bitrate_index = 1;
    for (int sb = 0; sb < 32; sb++)
        g.alloc[0][sb] = 1;
    r.bad.emplace_back("overlong", write_frame(g, 384));
    r.bad.back().second.resize(r.bad.back().second.size() + 400, 0);
    // Allocation 15 (forbidden): channel 1 below the joint stereo bound of 4,
    // and a shared subband above it.
    for (int sb : {3, 20}) {
        Layer1Frame b = make_frame(1, 0, false);
        b.alloc[1][sb] = 15;
        if (sb >= b.bound)
            b.alloc[0][sb] = 15;
        r.bad.emplace_back("allocation 15 in subband " + std::to_string(sb), write_frame(b, 5376));
    }
    // The CRC covers the allocation bits: mono 128, joint stereo (bound 12) 176, stereo 256.
    const int modes[][3] = {{3, 0, 128}, {1, 2, 176}, {0, 0, 256}};
    std::mt19937 crc_rng(5);
    for (const auto &m : modes) {
        Layer1Frame c = make_frame(m[0], m[1], true);
        fill_random(c, crc_rng);
        std::vector<uint8_t> bytes = write_frame(c, 5376);
        r.protected_frames.push_back({std::move(bytes), c.crc_bits, static_cast<size_t>(m[2])});
    }
    r.crc_word_byte = 5;
    r.crc_word_mask = 1;
    return r;
}
