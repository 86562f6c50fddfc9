// Layer II frame decoding, checked on frames built here against the
// requantisation formula of ISO/IEC 11172-3.
#include <gtest/gtest.h>

#include <random>

#include "layer12/layer2.h"
#include "layer12/layer12_tables.h"
#include "support/bitwriter.h"
#include "support/layer12_run.h"

using mpa_test::BitWriter;
using mpa_test::HeaderFields;
using mpa_test::Layer12Run;

namespace {

// Quantisation levels of the classes of ISO/IEC 11172-3 Table B.4.
const uint32_t kLevels[17] = {3,   5,    7,    9,    15,   31,    63,    127,  255,
                              511, 1023, 2047, 4095, 8191, 16383, 32767, 65535};

// One Layer II frame's content. Above the bound channel 1 repeats channel 0's
// allocation and codes; scf holds the indices per part after scfsi.
struct Layer2Frame {
    HeaderFields h;
    const mpa_layer2_alloc_table *t = nullptr;
    int nch = 2, bound = 0, sblimit = 0;
    int alloc[2][32] = {};
    int scfsi[2][32] = {};
    int scf[3][2][32] = {};
    uint32_t code[12][2][32][3] = {};
    size_t content_bits = 0;
    size_t crc_bits = 0;  // allocation and scfsi
};

Layer2Frame make_frame(const HeaderFields &h, int table)
{
    Layer2Frame f;
    f.h = h;
    f.t = &mpa_layer2_alloc_tables[table];
    f.nch = h.mode == 3 ? 1 : 2;
    f.sblimit = f.t->sblimit;
    f.bound = h.mode == 1 ? std::min(4 * (h.mode_extension + 1), f.sblimit) : f.sblimit;
    if (f.nch == 1)
        f.bound = 0;
    return f;
}

int frame_bits(const HeaderFields &h)
{
    static const int rates[2][15] = {{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
                                     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384}};
    static const int fs[2][3] = {{22050, 24000, 16000}, {44100, 48000, 32000}};
    return ((rates[h.id][h.bitrate_index] * 1152000 / fs[h.id][h.sampling_index]) & ~7) + 8 * h.padding_bit;
}

bool coded(const Layer2Frame &f, int ch, int sb)
{
    return ch == 0 || sb < f.bound;
}

size_t audio_bits(const Layer2Frame &f)
{
    static const int scf_count[4] = {3, 2, 1, 2};
    size_t n = 0;
    for (int sb = 0; sb < f.sblimit; sb++)
        for (int ch = 0; ch < f.nch; ch++) {
            const int a = f.alloc[ch][sb];
            n += coded(f, ch, sb) ? f.t->nbal[sb] : 0;
            if (!a)
                continue;
            n += 2 + 6 * scf_count[f.scfsi[ch][sb]];
            const int w = f.t->bits_row[sb][a];
            if (coded(f, ch, sb))
                n += 12 * (w < 0 ? -w : 3 * w);
        }
    return n;
}

// Random allocations, scfsi, scale factors and codes that fit the frame.
void fill_random(Layer2Frame &f, std::mt19937 &rng)
{
    const size_t room = frame_bits(f.h) - 48;
    for (int ch = 0; ch < f.nch; ch++)
        for (int sb = 0; sb < f.sblimit; sb++) {
            const uint32_t n = 1u << f.t->nbal[sb];
            const bool keep = sb == 0 || rng() % 4;  // subband 0 always coded
            f.alloc[ch][sb] =
                coded(f, ch, sb) ? (keep ? static_cast<int>(1 + rng() % (n - 1)) : 0) : f.alloc[0][sb];
            f.scfsi[ch][sb] = static_cast<int>(rng() % 4);
        }
    while (audio_bits(f) > room) {
        const int sb = 1 + static_cast<int>(rng() % (f.sblimit - 1));
        f.alloc[rng() % f.nch][sb] = 0;
        if (sb >= f.bound)
            f.alloc[0][sb] = f.alloc[1][sb] = 0;
    }
    for (int ch = 0; ch < f.nch; ch++)
        for (int sb = 0; sb < f.sblimit; sb++) {
            int v[3];
            for (int &x : v)
                x = static_cast<int>(rng() % 63);
            static const int parts[4][3] = {{0, 1, 2}, {0, 0, 2}, {0, 0, 0}, {0, 1, 1}};
            for (int p = 0; p < 3; p++)
                f.scf[p][ch][sb] = v[parts[f.scfsi[ch][sb]][p]];
            const int a = f.alloc[ch][sb];
            for (int g = 0; g < 12; g++)
                for (int s = 0; s < 3; s++)
                    f.code[g][ch][sb][s] = coded(f, ch, sb) ? rng() % kLevels[f.t->class_row[sb][a]]
                                                            : f.code[g][0][sb][s];
        }
}

// The frame with its declared length, then the next frame's header.
std::vector<uint8_t> write_frame(Layer2Frame &f)
{
    BitWriter w;
    mpa_test::put_header(w, f.h);
    const size_t audio = w.bits();
    for (int sb = 0; sb < f.sblimit; sb++)
        for (int ch = 0; ch < f.nch; ch++)
            if (coded(f, ch, sb))
                w.put(f.alloc[ch][sb], f.t->nbal[sb]);
    for (int sb = 0; sb < f.sblimit; sb++)
        for (int ch = 0; ch < f.nch; ch++)
            if (f.alloc[ch][sb])
                w.put(f.scfsi[ch][sb], 2);
    f.crc_bits = w.bits() - audio;
    for (int sb = 0; sb < f.sblimit; sb++)
        for (int ch = 0; ch < f.nch; ch++) {
            if (!f.alloc[ch][sb])
                continue;
            const int *s = &f.scf[0][ch][sb];  // parts 64 ints apart
            switch (f.scfsi[ch][sb]) {
            case 0: w.put(s[0], 6); w.put(s[64], 6); w.put(s[128], 6); break;
            case 1: w.put(s[0], 6); w.put(s[128], 6); break;
            case 2: w.put(s[0], 6); break;
            case 3: w.put(s[0], 6); w.put(s[64], 6); break;
            }
        }
    for (int g = 0; g < 12; g++)
        for (int sb = 0; sb < f.sblimit; sb++)
            for (int ch = 0; ch < f.nch; ch++) {
                const int a = f.alloc[ch][sb];
                if (!a || !coded(f, ch, sb))
                    continue;
                const int width = f.t->bits_row[sb][a];
                const uint32_t *x = f.code[g][ch][sb];
                if (width < 0) {
                    const uint32_t n = kLevels[f.t->class_row[sb][a]];
                    w.put(x[0] + n * x[1] + n * n * x[2], -width);
                } else {
                    for (int s = 0; s < 3; s++)
                        w.put(x[s], width);
                }
            }
    f.content_bits = w.bits();
    return mpa_test::end_frame(w, f.h, frame_bits(f.h), f.crc_bits);
}

void expect_samples(const Layer12Run &run, const Layer2Frame &f)
{
    for (int g = 0; g < 12; g++)
        for (int s = 0; s < 3; s++)
            for (int ch = 0; ch < f.nch; ch++)
                for (int sb = 0; sb < 32; sb++) {
                    const int a = sb < f.sblimit ? f.alloc[ch][sb] : 0;
                    const double want =
                        a ? mpa_test::requantised(f.code[g][ch][sb][s], kLevels[f.t->class_row[sb][a]],
                                                  f.scf[g / 4][ch][sb])
                          : 0.0;
                    // The sum step * low bits + offset cancels near zero: allow
                    // rounding relative to the scale factor, not to the value.
                    const double scale = a ? mpa_test::requantised(1, 1, f.scf[g / 4][ch][sb]) : 0.0;
                    ASSERT_NEAR(run.sample(3 * g + s, ch, sb), want, 3e-7 * scale)
                        << "granule " << g << " ch " << ch << " sb " << sb << " alloc " << a;
                }
}

HeaderFields header(int id, int sampling_index, int bitrate_index, int mode, int mode_extension = 0)
{
    HeaderFields h;
    h.id = id;
    h.sampling_index = sampling_index;
    h.bitrate_index = bitrate_index;
    h.mode = mode;
    h.mode_extension = mode_extension;
    return h;
}

}  // namespace

TEST(Layer2, DequantisesEveryTableAndChannelModeLikeTheStandard)
{
    struct Case {
        HeaderFields h;
        int table;
    };
    const Case cases[] = {
        {header(1, 1, 8, 0), 0},      // 48 kHz stereo 128 kbit/s
        {header(1, 1, 14, 0, 2), 0},  // 48 kHz stereo 384: 192 per channel
        {header(1, 0, 10, 1, 0), 1},  // 44.1 kHz joint stereo 192, bounds 4..16
        {header(1, 0, 10, 1, 1), 1},
        {header(1, 0, 10, 1, 2), 1},
        {header(1, 0, 10, 1, 3), 1},
        {header(1, 0, 14, 2), 1},     // dual channel 384
        {header(1, 0, 4, 3), 0},      // mono 64
        {header(1, 2, 2, 3), 3},      // 32 kHz mono 48
        {header(1, 1, 4, 1, 3), 2},   // 48 kHz joint 64, bound 16 above sblimit 8
        {header(0, 1, 14, 1, 1), 4},  // MPEG-2 24 kHz joint 160
        {header(0, 2, 8, 3), 4},      // MPEG-2 16 kHz mono 64
    };
    std::mt19937 rng(3);
    for (const Case &c : cases) {
        for (int round = 0; round < 4; round++) {
            Layer2Frame f = make_frame(c.h, c.table);
            f.h.protection_bit = round & 1;
            fill_random(f, rng);
            std::vector<uint8_t> data = write_frame(f);
            Layer12Run run;
            ASSERT_EQ(run.decode(data), MPA_OK) << "table " << c.table << " mode " << c.h.mode;
            ASSERT_EQ(run.ctx.alloc_table, f.t);
            expect_samples(run, f);
            EXPECT_EQ(run.dec->ancillary_bits, frame_bits(f.h) - static_cast<int>(f.content_bits));
            EXPECT_EQ(run.dec->synth.synth_phase[0], 12);  // 36 slots
            EXPECT_EQ(run.dec->synth.synth_phase[1], f.nch == 2 ? 12 : 0);
        }
    }
}

TEST(Layer2, ChoosesTheAllocationTableByRatePerChannel)
{
    struct Case {
        int id, sampling_index, bit_rate, nch, table;
    };
    // Each side of the 48, 80 and 192 kbit/s per channel boundaries.
    const Case cases[] = {
        {1, 2, 48, 1, 3},  {1, 0, 48, 1, 2},   {1, 1, 96, 2, 2},  {1, 0, 56, 1, 0},
        {1, 2, 112, 2, 0}, {1, 0, 80, 1, 0},   {1, 1, 96, 1, 0},  {1, 0, 96, 1, 1},
        {1, 2, 192, 2, 1}, {1, 1, 384, 2, 0},  {1, 0, 384, 2, 1}, {1, 0, 224, 1, -1},
        {0, 1, 160, 1, 4}, {0, 0, 8, 2, 4},
    };
    for (const Case &c : cases) {
        mpa_header h = {};
        h.id = c.id;
        h.sampling_index = c.sampling_index;
        h.bit_rate = c.bit_rate;
        h.n_channels = c.nch;
        EXPECT_EQ(mpa_layer2_select_table(&h), c.table) << c.bit_rate << " kbit/s, " << c.nch << " ch";
    }
}

TEST(Layer2, FreeFormatTakesTheTableOfTheHighestRates)
{
    // ISO/IEC 11172-3 Tables B.2a (48 kHz) and B.2b (44.1, 32 kHz) cover free
    // format at any frame length, low rates included.
    struct Case {
        int sampling_index, mode, bytes, table;
    };
    const Case cases[] = {
        {0, 3, 156, 1},   // 44.1 kHz mono, as long as a 48 kbit/s frame
        {2, 3, 252, 1},   // 32 kHz mono, 56 kbit/s
        {0, 0, 940, 1},   // 44.1 kHz stereo, 288 kbit/s
        {1, 3, 144, 0},   // 48 kHz mono, 48 kbit/s
        {1, 3, 1152, 0},  // 48 kHz mono, 384 kbit/s
    };
    for (const Case &c : cases) {
        BitWriter w;
        HeaderFields h = header(1, c.sampling_index, 0, c.mode);
        mpa_test::put_header(w, h);
        w.pad_to(8 * c.bytes);
        mpa_test::put_header(w, h);
        Layer12Run run;
        ASSERT_EQ(run.decode(w.bytes()), MPA_OK) << c.bytes;
        EXPECT_EQ(run.dec->header.bit_rate, 0);
        EXPECT_EQ(run.ctx.alloc_table, &mpa_layer2_alloc_tables[c.table]) << c.bytes;
        EXPECT_EQ(run.sample(35, 0, 0), 0.0f);
    }
}

TEST(Layer2, GroupedCodesBeyondTheirTableRefuseTheFrame)
{
    // 44.1 kHz mono 48 kbit/s, table 2: allocation 1, 2, 3 of subband 0 are
    // 3, 5 and 9 levels in 5-, 7- and 10-bit grouped codes.
    const uint32_t levels[4] = {0, 3, 5, 9};
    for (int a = 1; a <= 3; a++) {
        const uint32_t n = levels[a], width = a == 3 ? 10 : 3 + 2 * a;
        for (uint32_t c : {n * n * n - 1, n * n * n, (1u << width) - 1}) {
            BitWriter w;
            const HeaderFields h = header(1, 0, 2, 3);
            mpa_test::put_header(w, h);
            w.put(a, 4);       // subband 0; the other seven allocations are 0
            w.put(0, 22);
            w.put(2, 2);       // scfsi: one scale factor
            w.put(9, 6);
            for (int g = 0; g < 12; g++)
                w.put(g == 5 ? c : 0, width);
            w.pad_to(1248);
            mpa_test::put_header(w, h);
            Layer12Run run;
            if (c < n * n * n) {
                // The largest valid code is the top level in all three samples.
                ASSERT_EQ(run.decode(w.bytes()), MPA_OK);
                for (int s = 0; s < 3; s++)
                    EXPECT_NEAR(run.sample(15 + s, 0, 0), mpa_test::requantised(n - 1, n, 9), 1e-3);
                EXPECT_NEAR(run.sample(18, 0, 0), mpa_test::requantised(0, n, 9), 1e-3);
            } else {
                EXPECT_EQ(run.decode(w.bytes()), MPA_ERROR) << n << " levels, code " << c;
                EXPECT_TRUE(run.nothing_output());
            }
        }
    }
}

// For the tests over the layers (test_refusal.cpp).
mpa_test::LayerRefusals mpa_test::layer2_refusals()
{
    LayerRefusals r;
    std::mt19937 rng(1);
    Layer2Frame f = make_frame(header(1, 0, 10, 0), 1);
    fill_random(f, rng);
    r.frame = write_frame(f);
    // Cut in the allocation, then in the last granule.
    r.short_lengths = {4 + 20, static_cast<int>(f.content_bits) / 8 - 2};
    // 32 kHz mono 32 kbit/s, table 3: 1152 bits declared, far more written.
    Layer2Frame g = make_frame(header(1, 2, 1, 3), 3);
    for (int sb = 0; sb < 12; sb++)
        g.alloc[0][sb] = 7;
    r.bad.emplace_back("overlong", write_frame(g));
    r.bad.back().second.resize(r.bad.back().second.size() + 2000, 0);
    // MPEG-1 mono at 224 kbit/s has no allocation table.
    Layer2Frame m = make_frame(header(1, 0, 11, 3), 0);
    r.bad.emplace_back("no allocation table", write_frame(m));
    // The CRC covers the allocation and scfsi bits, of tables 0 and 2.
    std::mt19937 crc_rng(9);
    for (int table : {0, 2}) {
        Layer2Frame c = make_frame(header(1, 1, table == 0 ? 8 : 4, 0), table);
        c.h.protection_bit = 0;
        fill_random(c, crc_rng);
        std::vector<uint8_t> bytes = write_frame(c);
        r.protected_frames.push_back({std::move(bytes), c.crc_bits, 0});
    }
    r.crc_word_byte = 4;
    r.crc_word_mask = 0x80;
    return r;
}
