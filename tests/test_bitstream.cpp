// The MSB-first bit reader.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "core/bitstream.h"

namespace {

// The bytes live in an exactly sized heap block, so the address sanitizer
// catches any read past the end.
std::unique_ptr<uint8_t[]> exact_copy(const std::vector<uint8_t> &v)
{
    std::unique_ptr<uint8_t[]> p(new uint8_t[v.size() ? v.size() : 1]);
    std::copy(v.begin(), v.end(), p.get());
    return p;
}

std::vector<uint8_t> random_bytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto &b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

// Reference: bit i of the buffer, zero past the end.
uint32_t bit_at(const std::vector<uint8_t> &v, size_t i)
{
    return i / 8 < v.size() ? (v[i / 8] >> (7 - i % 8)) & 1 : 0;
}

uint64_t bits_at(const std::vector<uint8_t> &v, size_t pos, int n)
{
    uint64_t r = 0;
    for (int i = 0; i < n; i++)
        r = r << 1 | bit_at(v, pos + static_cast<size_t>(i));
    return r;
}

TEST(BitReader, ReadsFieldsMostSignificantFirst)
{
    const uint8_t bytes[] = {0xFF, 0xFB, 0x90, 0x64};
    mpa_bitstream b;
    mpa_bits_init(&b, bytes, 4);
    EXPECT_EQ(mpa_bits_get(&b, 12), 0xFFFu);
    EXPECT_EQ(mpa_bits_get(&b, 1), 1u);
    EXPECT_EQ(mpa_bits_get(&b, 2), 1u);
    EXPECT_EQ(mpa_bits_position(&b), 15);
}

TEST(BitReader, RandomReadsAcrossRefillsMatchReference)
{
    const std::vector<uint8_t> v = random_bytes(300, 1);
    auto data = exact_copy(v);
    std::mt19937 rng(2);
    mpa_bitstream b;
    mpa_bits_init(&b, data.get(), static_cast<int>(v.size()));
    size_t pos = 0;
    while (pos + 16 <= v.size() * 8) {
        const int kind = rng() % 3;
        if (kind == 0) {
            const int n = 1 + rng() % 16;
            ASSERT_EQ(mpa_bits_get(&b, n), bits_at(v, pos, n)) << pos;
            pos += static_cast<size_t>(n);
        } else if (kind == 1) {
            ASSERT_EQ(mpa_bits_get1(&b) >> 31, bit_at(v, pos));
            pos += 1;
        } else {
            ASSERT_EQ(mpa_bits_get16(&b) >> 16, bits_at(v, pos, 16));
            pos += 16;
        }
        ASSERT_EQ(mpa_bits_position(&b), static_cast<int32_t>(pos));
        ASSERT_EQ(mpa_bits_left(&b), static_cast<int32_t>(v.size() * 8 - pos));
        ASSERT_GE(b.count, 17);
    }
}

TEST(BitReader, GetAndGet16Agree)
{
    const std::vector<uint8_t> v = random_bytes(16, 3);
    mpa_bitstream a, c;
    mpa_bits_init(&a, v.data(), 16);
    mpa_bits_get(&a, 5);
    mpa_bits_copy(&c, &a);
    const uint32_t x = mpa_bits_get(&a, 16);
    const uint32_t y = mpa_bits_get16(&c);
    EXPECT_EQ(x, y >> 16);
    EXPECT_EQ(mpa_bits_position(&a), mpa_bits_position(&c));
    EXPECT_EQ(mpa_bits_get(&a, 9), mpa_bits_get(&c, 9));
}

TEST(BitReader, SkipsForwardAndBackToAnyBit)
{
    const std::vector<uint8_t> v = random_bytes(200, 4);
    auto data = exact_copy(v);
    std::mt19937 rng(5);
    mpa_bitstream b;
    mpa_bits_init(&b, data.get(), static_cast<int>(v.size()));
    int32_t pos = 0;
    for (int i = 0; i < 2000; i++) {
        const int32_t target = static_cast<int32_t>(rng() % (v.size() * 8 - 16));
        mpa_bits_skip(&b, target - pos);
        pos = target;
        ASSERT_EQ(mpa_bits_position(&b), pos);
        const int n = 1 + rng() % 16;
        ASSERT_EQ(mpa_bits_get(&b, n), bits_at(v, static_cast<size_t>(pos), n));
        pos += n;
    }
    // Back by k right after reading k bits gives the same bits again.
    mpa_bits_skip(&b, -pos);
    const uint32_t first = mpa_bits_get(&b, 13);
    mpa_bits_skip(&b, -13);
    EXPECT_EQ(mpa_bits_get(&b, 13), first);
}

TEST(BitReader, PastTheEndReadsZerosWithoutTouchingMemory)
{
    for (size_t len : {0u, 1u, 2u, 3u, 5u, 8u}) {
        const std::vector<uint8_t> v(len, 0xFF);
        auto data = exact_copy(v);
        mpa_bitstream b;
        mpa_bits_init(&b, data.get(), static_cast<int>(len));
        for (size_t i = 0; i < len; i++)
            ASSERT_EQ(mpa_bits_get(&b, 8), 0xFFu);
        EXPECT_EQ(mpa_bits_left(&b), 0);
        EXPECT_EQ(mpa_bits_get(&b, 1), 0u);
        EXPECT_LT(mpa_bits_left(&b), 0);
        for (int i = 0; i < 20; i++) {
            EXPECT_EQ(mpa_bits_get(&b, 16), 0u);
            EXPECT_EQ(mpa_bits_get16(&b), 0u);
        }
        // A skip far past the end, and back inside, still reads correctly.
        mpa_bits_skip(&b, 1000);
        EXPECT_EQ(mpa_bits_get(&b, 8), 0u);
        mpa_bits_skip(&b, -mpa_bits_position(&b));
        if (len) {
            EXPECT_EQ(mpa_bits_get(&b, 8), 0xFFu);
        }
    }
}

// The wide reader on buffers short and long, read far past the end, handing
// the position back and forth with the 32-bit reader at random points.
TEST(BitReader, WideReaderMatchesReferenceAcrossHandovers)
{
    std::mt19937 rng(6);
    for (size_t len : {0u, 1u, 7u, 8u, 9u, 300u}) {
        const std::vector<uint8_t> v = random_bytes(len, static_cast<unsigned>(len) + 7);
        auto data = exact_copy(v);
        mpa_bitstream b;
        mpa_bits_init(&b, data.get(), static_cast<int>(len));
        size_t pos = 0;
        while (pos < len * 8 + 200) {
            mpa_bits_wide w;
            mpa_bits_wide_begin(&w, &b);
            for (int k = rng() % 12; k > 0; k--) {
                const int n = 1 + rng() % 56;
                uint64_t got;
                if (rng() % 2) {
                    got = mpa_bits_wide_get(&w, n);
                } else {
                    mpa_bits_wide_refill(&w);
                    got = mpa_bits_wide_take(&w, n);
                }
                ASSERT_EQ(got, bits_at(v, pos, n)) << len << " " << pos << " " << n;
                pos += static_cast<size_t>(n);
            }
            mpa_bits_wide_end(&w, &b);
            ASSERT_EQ(mpa_bits_position(&b), static_cast<int32_t>(pos));
            ASSERT_EQ(mpa_bits_left(&b), static_cast<int32_t>(len * 8) - static_cast<int32_t>(pos));
            ASSERT_GE(b.count, 17);
            ASSERT_LE(b.count, 32);
            ASSERT_EQ(b.cache & ~(~0u << (32 - b.count)), 0u);  // zeros below the valid bits
            const int n = 1 + rng() % 16;
            ASSERT_EQ(mpa_bits_get(&b, n), bits_at(v, pos, n)) << len << " " << pos;
            pos += static_cast<size_t>(n);
        }
    }
}

}  // namespace
