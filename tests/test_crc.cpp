// CRC-16 arithmetic and the per-layer frame checks.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "core/crc.h"
#include "core/frame_ctx.h"

namespace {

TEST(Crc, CatalogueValues)
{
    uint32_t crc = 0xFFFF;
    for (const char *p = "123456789"; *p; p++)
        crc = mpa_crc_update_word(static_cast<uint8_t>(*p), crc, 8);
    EXPECT_EQ(crc, 0xAEE7u);
    EXPECT_EQ(mpa_crc_update_word(0, 0xFFFF, 16), 0x800Du);

    crc = mpa_crc_update_word(0x9064, 0xFFFF, 16);
    EXPECT_EQ(crc, 0x615Cu);
    const uint8_t zeros[16] = {};
    mpa_bitstream b;
    mpa_bits_init(&b, zeros, sizeof(zeros));
    EXPECT_EQ(mpa_crc_update_bits(&b, crc, 128), 0x1A88u);
}

TEST(Crc, WordAndBitPathsAgreeForEverySplit)
{
    std::mt19937 rng(7);
    uint8_t data[16];
    for (auto &x : data)
        x = static_cast<uint8_t>(rng());
    for (int n = 0; n <= 100; n++) {
        mpa_bitstream words, single;
        mpa_bits_init(&words, data, sizeof(data));
        mpa_bits_init(&single, data, sizeof(data));
        const uint32_t a = mpa_crc_update_bits(&words, 0xFFFF, n);
        uint32_t c = 0xFFFF;
        for (int i = 0; i < n; i++)
            c = mpa_crc_update_bits(&single, c, 1);
        ASSERT_EQ(a, c) << n;
        ASSERT_EQ(mpa_bits_position(&words), n);
    }
}

struct CrcFrame {
    mpa_decoder dec;
    mpa_bitstream bits;
    mpa_frame_ctx ctx;
    uint8_t data[40];

    explicit CrcFrame(int protection_bit)
    {
        std::memset(&dec, 0, sizeof(dec));
        std::mt19937 rng(9);
        for (auto &x : data)
            x = static_cast<uint8_t>(rng());
        dec.header.protection_bit = protection_bit;
        dec.header.crc_header_bits = 0x9064;
        mpa_bits_init(&bits, data, sizeof(data));
        mpa_frame_ctx_init(&ctx, &dec, nullptr, &bits, nullptr);
    }
    // Stores the right CRC for n protected bits.
    void seal(int n)
    {
        mpa_bitstream copy = bits;
        dec.header.crc_word =
            static_cast<int32_t>(mpa_crc_update_bits(&copy, mpa_crc_update_word(0x9064, 0xFFFF, 16), n));
    }
};

TEST(Crc, FrameChecksDetectEveryProtectedBitAndLeaveTheReader)
{
    CrcFrame f(0);
    const int n = 176;  // Layer I joint stereo, mode_extension 2
    f.seal(n);
    EXPECT_EQ(mpa_crc_check_layer1(&f.ctx, n), 0);
    EXPECT_EQ(mpa_bits_position(&f.bits), 0);
    EXPECT_EQ(mpa_crc_check_layer2(&f.bits, &f.ctx, n), 0);
    EXPECT_EQ(mpa_crc_check_layer3(&f.ctx, n), 0);
    for (int bit = 0; bit < n; bit++) {
        f.data[bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
        mpa_bits_init(&f.bits, f.data, sizeof(f.data));
        ASSERT_NE(mpa_crc_check_layer1(&f.ctx, n), 0) << bit;
        f.data[bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
    }
    mpa_bits_init(&f.bits, f.data, sizeof(f.data));
    // A bit beyond the protected run changes nothing; the stored word does.
    f.data[n / 8 + 1] ^= 1;
    EXPECT_EQ(mpa_crc_check_layer1(&f.ctx, n), 0);
    f.dec.header.crc_word ^= 0x0100;
    EXPECT_NE(mpa_crc_check_layer1(&f.ctx, n), 0);
    f.dec.header.crc_word ^= 0x0101;
    EXPECT_NE(mpa_crc_check_layer1(&f.ctx, n), 0);
}

TEST(Crc, UnprotectedLayerThreeFrameNeverFails)
{
    CrcFrame f(1);
    f.dec.header.crc_word = 0x1234;
    EXPECT_EQ(mpa_crc_check_layer3(&f.ctx, 136), 0);
    EXPECT_EQ(f.dec.header.crc_word, 0);
}

}  // namespace
