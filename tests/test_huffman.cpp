// Layer III Huffman decoding: every code table against data written with the
// plain codes of Table B.7, count1 budget rules, region sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "core/bitstream.h"
#include "core/frame_ctx.h"
#include "layer3/granule.h"
#include "layer3/granule_info.h"
#include "layer3/huffman.h"
#include "layer3/pow43_tables.h"
#include "layer3/sfb_tables.h"
#include "support/huffman_writer.h"

using mpa_test::BitWriter;
using mpa_test::huffman_value;

namespace {

// A frame context whose reader starts `skip` bits into the bytes.
struct test_reader {
    mpa_bitstream bits{};
    mpa_frame_ctx ctx{};
    test_reader(const std::vector<uint8_t> &bytes, int skip)
    {
        mpa_bits_init(&bits, bytes.data(), static_cast<int>(bytes.size()));
        if (skip)
            mpa_bits_skip(&bits, skip);
        mpa_frame_ctx_init(&ctx, nullptr, nullptr, &bits, nullptr);
    }
};

testing::AssertionResult same_values(const float *got, const std::vector<float> &want)
{
    for (size_t i = 0; i < want.size(); i++)
        if (got[i] != want[i])
            return testing::AssertionFailure()
                   << "line " << i << ": got " << got[i] << ", want " << want[i];
    return testing::AssertionSuccess();
}

int random_signed(std::mt19937 &rng, int magnitude)
{
    return (rng() & 1) ? -magnitude : magnitude;
}

// Rows of the band tables: MPEG-1 at 44.1 kHz.
constexpr int kLong44k = (1 * 4 + 0) * 3 + MPA_BLOCK_LONG;
constexpr int kShort44k = (1 * 4 + 0) * 3 + MPA_BLOCK_SHORT;
constexpr int kMixed44k = (1 * 4 + 0) * 3 + MPA_BLOCK_MIXED;

mpa_granule_info granule(int list, int big_values, int region0, int region1)
{
    mpa_granule_info g;
    std::memset(&g, 0, sizeof(g));
    g.big_values = static_cast<uint16_t>(big_values);
    g.region0_count = static_cast<uint16_t>(region0);
    g.region1_count = static_cast<uint16_t>(region1);
    mpa_layer3_set_band_list(&g, list);
    return g;
}

}  // namespace

TEST(Layer3Huffman, PowerTablesFollowTheirRule)
{
    for (int n = 0; n < 8208; n++) {
        const double want = std::pow(static_cast<double>(n), 4.0 / 3.0);
        ASSERT_NEAR(mpa_pow43[n], want, want * 6e-8) << n;
    }
    for (int n = 0; n < 16; n++) {
        EXPECT_EQ(mpa_pow43_signed[2 * n], mpa_pow43[n]);
        EXPECT_EQ(mpa_pow43_signed[2 * n + 1], -mpa_pow43[n]);
    }
    // The decoders read a zero's "sign" from whatever bit follows its code.
    EXPECT_FALSE(std::signbit(mpa_pow43_signed[1]));
    EXPECT_EQ(mpa_unit_signed[0], 1.0f);
    EXPECT_EQ(mpa_unit_signed[1], -1.0f);
    for (int t = 0; t < 32; t++)
        EXPECT_EQ(mpa_linbits[t], huffman_code_linbits[t]) << t;
}

// Every code of every table (with both signs), the linbits extremes, then
// random pairs, decoded in regions of up to 288 pairs from varying bit offsets
// so that codes straddle every refill position. Random bits follow the data:
// the decoder must stop exactly after it.
TEST(Layer3Huffman, EveryPairTableDecodesWhatItsCodesEncode)
{
    std::mt19937 rng(20240611);
    for (int table = 0; table < 32; table++) {
        if (table == 4 || table == 14)
            continue;
        SCOPED_TRACE(testing::Message() << "table " << table);
        const int direct = huffman_code_xmax[table];
        const int largest = mpa_test::huffman_max_magnitude(table);

        std::vector<std::pair<int, int>> pairs;
        for (int rep = 0; rep < 2; rep++)
            for (int x = 0; x <= direct; x++)
                for (int y = 0; y <= direct; y++)
                    pairs.emplace_back(random_signed(rng, x), random_signed(rng, y));
        if (huffman_code_linbits[table]) {
            pairs.emplace_back(largest, -largest);
            pairs.emplace_back(-15, 15);
            pairs.emplace_back(0, -largest);
            pairs.emplace_back(largest, 1);
        }
        while (pairs.size() < 1000)
            pairs.emplace_back(random_signed(rng, rng() % (largest + 1)),
                               random_signed(rng, rng() % (largest + 1)));
        std::shuffle(pairs.begin(), pairs.end(), rng);

        for (size_t at = 0; at < pairs.size(); at += 288) {
            const int n = static_cast<int>(std::min<size_t>(288, pairs.size() - at));
            const int lead = static_cast<int>(rng() % 32);
            BitWriter w;
            w.put(rng(), lead);
            std::vector<float> want(576, 0.0f);
            for (int i = 0; i < n; i++) {
                const auto &p = pairs[at + i];
                mpa_test::huffman_put_pair(w, table, p.first, p.second);
                want[2 * i] = huffman_value(p.first);
                want[2 * i + 1] = huffman_value(p.second);
            }
            const int coded_end = static_cast<int>(w.bits());
            w.put(rng(), 32);

            test_reader r(w.bytes(), lead);
            float spectrum[576] = {};
            float *cursor = spectrum;
            mpa_huff_pair_decoders[table](&r.ctx, &cursor, n, mpa_linbits[table]);
            ASSERT_EQ(cursor - spectrum, 2 * n);
            ASSERT_EQ(mpa_bits_position(&r.bits), coded_end) << "pairs from " << at;
            ASSERT_TRUE(same_values(spectrum, want)) << "pairs from " << at;
        }
    }
}

namespace {

// Bits [pos, pos + n) of a 64-bit window, first bit highest.
uint32_t window_bits(uint64_t word, int pos, int n)
{
    return n ? static_cast<uint32_t>(word << pos >> (64 - n)) : 0;
}

std::vector<uint8_t> window_bytes(uint64_t word)
{
    std::vector<uint8_t> b(8);
    for (int i = 0; i < 8; i++)
        b[i] = static_cast<uint8_t>(word >> (56 - 8 * i));
    return b;
}

// Reads one value after its code the way ISO/IEC 11172-3 orders the fields.
float reference_value(uint64_t word, int *pos, int magnitude, int linbits)
{
    if (linbits && magnitude == 15) {
        magnitude += static_cast<int>(window_bits(word, *pos, linbits));
        *pos += linbits;
    }
    if (!magnitude)
        return 0.0f;
    return window_bits(word, (*pos)++, 1) ? -mpa_pow43[magnitude] : mpa_pow43[magnitude];
}

}  // namespace

// Each code followed by every pattern of the bits that complete a 16-bit
// window (then random bits): this reaches every entry of every lookup.
TEST(Layer3Huffman, EveryCodeDecodesWhateverFollowsIt)
{
    std::mt19937_64 rng(42);
    for (int table : {1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16, 23, 24, 31}) {
        SCOPED_TRACE(testing::Message() << "table " << table);
        const int linbits = huffman_code_linbits[table];
        for (int cell = 0; cell < 256; cell++) {
            const huffman_code &code = huffman_pair_codes[huffman_code_source[table]][cell];
            const int len = static_cast<int>(code.length);
            if (!len)
                continue;
            const int tail = len < 16 ? 16 - len : 0;
            for (uint32_t t = 0; t < (1u << tail); t++) {
                const uint64_t word = static_cast<uint64_t>(code.bits) << (64 - len) |
                                      static_cast<uint64_t>(t) << (64 - len - tail) |
                                      rng() >> (len + tail);
                int pos = len;
                const float x = reference_value(word, &pos, cell >> 4, linbits);
                const float y = reference_value(word, &pos, cell & 15, linbits);

                const std::vector<uint8_t> bytes = window_bytes(word);
                test_reader r(bytes, 0);
                float out[2] = {0.0f, 0.0f};
                float *cursor = out;
                mpa_huff_pair_decoders[table](&r.ctx, &cursor, 1, linbits);
                ASSERT_TRUE(out[0] == x && out[1] == y && mpa_bits_position(&r.bits) == pos)
                    << "cell (" << (cell >> 4) << ", " << (cell & 15) << ") tail " << t
                    << ": got " << out[0] << ", " << out[1] << " at " << mpa_bits_position(&r.bits)
                    << ", want " << x << ", " << y << " at " << pos;
            }
        }
    }
    for (int table = 0; table < 2; table++) {
        for (int cell = 0; cell < 16; cell++) {
            const huffman_code &code = huffman_quad_codes[table][cell];
            const int len = static_cast<int>(code.length);
            for (uint32_t t = 0; t < (1u << (10 - len)); t++) {
                const uint64_t word =
                    static_cast<uint64_t>(code.bits) << (64 - len) | static_cast<uint64_t>(t) << (54 - len);
                int pos = len;
                float want[4];
                for (int k = 0; k < 4; k++)
                    want[k] = reference_value(word, &pos, cell >> (3 - k) & 1, 0);

                const std::vector<uint8_t> bytes = window_bytes(word);
                test_reader r(bytes, 0);
                float out[4] = {0.0f, 0.0f, 0.0f, 0.0f};
                float *cursor = out;
                ASSERT_EQ(mpa_huff_quad_decoders[table](&r.ctx, &cursor, pos, out + 4), 0);
                ASSERT_TRUE(out[0] == want[0] && out[1] == want[1] && out[2] == want[2] &&
                            out[3] == want[3] && mpa_bits_position(&r.bits) == pos)
                    << "count1 table " << table << " cell " << cell << " tail " << t;
            }
        }
    }
}

// Long runs of pairs of random cells (mostly long codes) meet the reader at
// every fill level, in particular with the fewest valid bits.
TEST(Layer3Huffman, RunsOfPairsDecodeAtEveryReaderPosition)
{
    std::mt19937 rng(17);
    for (int table : {13, 15, 16, 24}) {
        const int linbits = huffman_code_linbits[table];
        BitWriter w;
        std::vector<float> want;
        for (int i = 0; i < 3000; i++) {
            const int cell = static_cast<int>(rng() % 256);
            int x = cell >> 4, y = cell & 15;
            if (linbits) {
                x = x == 15 ? 15 + static_cast<int>(rng() % (1u << linbits)) : x;
                y = y == 15 ? 15 + static_cast<int>(rng() % (1u << linbits)) : y;
            }
            x = random_signed(rng, x);
            y = random_signed(rng, y);
            mpa_test::huffman_put_pair(w, table, x, y);
            want.push_back(huffman_value(x));
            want.push_back(huffman_value(y));
        }
        const int bits = static_cast<int>(w.bits());
        w.put(0, 32);
        test_reader r(w.bytes(), 0);
        std::vector<float> out(want.size(), 7.0f);
        float *cursor = out.data();
        mpa_huff_pair_decoders[table](&r.ctx, &cursor, 3000, linbits);
        EXPECT_TRUE(same_values(out.data(), want)) << "table " << table;
        EXPECT_EQ(mpa_bits_position(&r.bits), bits) << "table " << table;
    }
}

TEST(Layer3Huffman, UnusedTablesDecodeNothingAndTableZeroOnlyAdvances)
{
    const std::vector<uint8_t> bytes = {0x5A, 0xA5, 0x5A, 0xA5, 0x5A, 0xA5};
    for (int table : {0, 4, 14}) {
        test_reader r(bytes, 3);
        float spectrum[576] = {};
        float *cursor = spectrum + 10;
        mpa_huff_pair_decoders[table](&r.ctx, &cursor, 40, 0);
        EXPECT_EQ(cursor - spectrum, table == 0 ? 90 : 10) << table;
        EXPECT_EQ(mpa_bits_position(&r.bits), 3) << table;
        EXPECT_TRUE(same_values(spectrum, std::vector<float>(576, 0.0f))) << table;
    }
}

TEST(Layer3Huffman, RegionSizesFollowTheBandList)
{
    // MPEG-1 44.1 kHz long bands: 4 x6, 6, 6, 8, 8, 10, 12, 16, 20, ...
    mpa_granule_info g = granule(kLong44k, 100, 3, 2);
    mpa_layer3_regions(&g);
    EXPECT_EQ(g.region_pairs[0], 8);   // bands 0..3: 16 lines
    EXPECT_EQ(g.region_pairs[1], 7);   // bands 4..6: 14 lines
    EXPECT_EQ(g.region_pairs[2], 85);

    // 20 lines reach into band 4 (k = 5): region 1 keeps the one band left.
    g = granule(kLong44k, 10, 3, 2);
    mpa_layer3_regions(&g);
    EXPECT_EQ(g.region_pairs[0], 8);
    EXPECT_EQ(g.region_pairs[1], 2);
    EXPECT_EQ(g.region_pairs[2], 0);

    // Fewer big values than region 0 holds.
    g = granule(kLong44k, 5, 15, 7);
    mpa_layer3_regions(&g);
    EXPECT_EQ(g.region_pairs[0], 5);
    EXPECT_EQ(g.region_pairs[1] + g.region_pairs[2], 0);

    g = granule(kLong44k, 0, 3, 2);
    mpa_layer3_regions(&g);
    EXPECT_EQ(g.region_pairs[0] + g.region_pairs[1] + g.region_pairs[2], 0);

    // Window switching: region 0 is 36 lines (three short bands of three
    // windows, or eight long bands), region 1 takes the rest, region 2 is empty.
    for (int list : {kShort44k, kMixed44k, kLong44k}) {
        for (int big : {288, 200, 18, 7}) {
            g = granule(list, big, list == kShort44k ? 8 : 7, 63);
            mpa_layer3_regions(&g);
            EXPECT_EQ(g.region_pairs[0], std::min(big, 18)) << big;
            EXPECT_EQ(g.region_pairs[1], big - std::min(big, 18)) << big;
            EXPECT_EQ(g.region_pairs[2], 0) << big;
        }
    }
}

namespace {

// One granule's Huffman data after `part2` bits of scale factors: the three
// big-value regions with their tables, then count1 quadruples.
struct granule_data {
    mpa_granule_info info;
    std::vector<uint8_t> bytes;
    std::vector<float> want;  // 576 lines
    int huffman_bits = 0;     // part2_3_length - part2
    std::vector<int> quad_ends;  // bit position (from the Huffman start) after each quadruple
};

granule_data make_granule(int big_values, const int tables[3], int count1_table, int quads,
                          int part2, std::mt19937 &rng)
{
    granule_data d;
    d.info = granule(kLong44k, big_values, 5, 3);
    for (int i = 0; i < 3; i++)
        d.info.table_select[i] = static_cast<uint16_t>(tables[i]);
    d.info.count1table_select = static_cast<uint16_t>(count1_table);
    mpa_layer3_regions(&d.info);
    d.want.assign(576, 0.0f);

    BitWriter w;
    w.put(rng(), part2);
    int line = 0;
    for (int i = 0; i < 3; i++) {
        const int largest = tables[i] ? mpa_test::huffman_max_magnitude(tables[i]) : 0;
        for (int p = 0; p < d.info.region_pairs[i]; p++, line += 2) {
            const int x = random_signed(rng, rng() % (largest + 1));
            const int y = random_signed(rng, rng() % (largest + 1));
            mpa_test::huffman_put_pair(w, tables[i], x, y);
            d.want[line] = huffman_value(x);
            d.want[line + 1] = huffman_value(y);
        }
    }
    for (int i = 0; i < quads; i++, line += 4) {
        int q[4];
        for (int k = 0; k < 4; k++)
            q[k] = static_cast<int>(rng() % 3) - 1;
        mpa_test::huffman_put_quad(w, count1_table, q);
        d.quad_ends.push_back(static_cast<int>(w.bits()) - part2);
        for (int k = 0; k < 4 && line + k < 576; k++)
            d.want[line + k] = static_cast<float>(q[k]);
    }
    d.huffman_bits = static_cast<int>(w.bits()) - part2;
    d.info.part2_3_length = static_cast<uint16_t>(w.bits());
    w.put(rng(), 32);
    d.bytes = w.bytes();
    return d;
}

}  // namespace

TEST(Layer3Huffman, GranuleDecodesRegionsThenCount1UpToItsEnd)
{
    std::mt19937 rng(99);
    const int tables[3] = {7, 0, 24 + 7};  // region 1 reads nothing, region 2 has 13 linbits
    granule_data d = make_granule(150, tables, 1, 20, 17, rng);
    ASSERT_GT(d.info.region_pairs[1], 0);

    test_reader r(d.bytes, 0);
    mpa_bits_skip(&r.bits, 17);
    // Every line up to the reported end is written, zeros included; none after.
    std::vector<float> spectrum(576, 7.0f), want(d.want.begin(), d.want.begin() + 380);
    want.resize(576, 7.0f);
    int lines = 0;
    ASSERT_EQ(mpa_layer3_huffman_lines(&d.info, &r.ctx, spectrum.data(), 17, &lines), 0);
    EXPECT_EQ(lines, 2 * 150 + 4 * 20);
    EXPECT_TRUE(same_values(spectrum.data(), want));
    EXPECT_EQ(mpa_bits_position(&r.bits), d.info.part2_3_length);  // data ends exactly there
}

TEST(Layer3Huffman, QuadrupleThatOverrunsTheGranuleIsDropped)
{
    std::mt19937 rng(5);
    for (int count1_table = 0; count1_table < 2; count1_table++) {
        const int tables[3] = {13, 16 + 3, 5};
        granule_data d = make_granule(120, tables, count1_table, 30, 9, rng);
        // The quadruple that needs one bit more than remains: ends the data one bit early.
        d.info.part2_3_length = static_cast<uint16_t>(d.info.part2_3_length - 1);
        std::vector<float> want = d.want;
        std::fill(want.begin() + 240 + 4 * 29, want.begin() + 240 + 4 * 30, 0.0f);

        test_reader r(d.bytes, 9);
        float spectrum[576] = {};
        ASSERT_EQ(mpa_layer3_huffman(&d.info, &r.ctx, spectrum, 9), 0);
        EXPECT_TRUE(same_values(spectrum, want)) << count1_table;
        EXPECT_EQ(mpa_bits_position(&r.bits), 9 + d.quad_ends[28]) << count1_table;
    }
}

TEST(Layer3Huffman, Count1StopsAtTheLastLine)
{
    std::mt19937 rng(11);
    const int tables[3] = {15, 15, 15};
    // 284 pairs leave 8 lines: two quadruples, whatever budget remains.
    granule_data d = make_granule(284, tables, 0, 6, 0, rng);
    test_reader r(d.bytes, 0);
    float spectrum[580];
    std::fill(spectrum, spectrum + 580, 0.0f);
    spectrum[576] = spectrum[577] = spectrum[578] = spectrum[579] = 123.0f;
    ASSERT_EQ(mpa_layer3_huffman(&d.info, &r.ctx, spectrum, 0), 0);
    EXPECT_TRUE(same_values(spectrum, d.want));
    EXPECT_EQ(spectrum[576], 123.0f);
    EXPECT_EQ(spectrum[579], 123.0f);
    EXPECT_EQ(mpa_bits_position(&r.bits), d.quad_ends[1]);
}

TEST(Layer3Huffman, BigValuesPastTheGranuleEndFail)
{
    std::mt19937 rng(3);
    const int tables[3] = {9, 12, 2};
    granule_data d = make_granule(100, tables, 0, 0, 25, rng);

    // One bit short of the big-value data: the overrun shows after region 2.
    d.info.part2_3_length = static_cast<uint16_t>(d.info.part2_3_length - 1);
    test_reader r(d.bytes, 25);
    float spectrum[576] = {};
    EXPECT_EQ(mpa_layer3_huffman(&d.info, &r.ctx, spectrum, 25), 1);
    EXPECT_EQ(mpa_bits_position(&r.bits), 25);  // reader back at the Huffman start

    // Scale factors that took more than part2_3_length: fails even with no big values.
    mpa_granule_info empty = granule(kLong44k, 0, 0, 0);
    empty.part2_3_length = 20;
    test_reader r2(d.bytes, 25);
    EXPECT_EQ(mpa_layer3_huffman(&empty, &r2.ctx, spectrum, 25), 1);
    EXPECT_EQ(mpa_bits_position(&r2.bits), 25);

    // Big values running far past a 3-byte buffer: the reader yields zeros and
    // nothing outside the bytes is touched (checked under the sanitizers).
    const std::vector<uint8_t> tiny(3, 0x00);
    mpa_granule_info g = granule(kLong44k, 288, 15, 7);
    g.table_select[0] = g.table_select[1] = g.table_select[2] = 13;
    g.part2_3_length = 24;
    test_reader r3(tiny, 0);
    EXPECT_EQ(mpa_layer3_huffman(&g, &r3.ctx, spectrum, 0), 1);
}
