// Decoder instance life cycle, the frame driver and the stream step.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/decoder.h"
#include "rovaz/mpa.h"
#include "support/bitwriter.h"
#include "support/robustness_streams.h"

namespace {

using mpa_test::BitWriter;
using mpa_test::HeaderFields;

struct Instance {
    mpa_decoder *dec = nullptr;
    Instance() { EXPECT_EQ(mpa_decoder_open(&dec), MPA_OK); }
    ~Instance() { mpa_decoder_close(dec); }
};

// A silent mono Layer I frame (all allocations 0) of 192 kbit/s, 44.1 kHz:
// 208 bytes.
std::vector<uint8_t> silent_layer1_frame(bool crc = false, int bitrate_index = 6)
{
    HeaderFields f;
    f.layer_bits = 3;
    f.bitrate_index = bitrate_index;
    f.mode = 3;
    f.protection_bit = crc ? 0 : 1;
    BitWriter w;
    mpa_test::put_header(w, f);
    w.pad_to(208 * 8);
    std::vector<uint8_t> frame = w.bytes();
    if (crc)
        mpa_test::set_frame_crc(frame, 128);
    return frame;
}

TEST(DecoderInstance, ResetBuildsDegroupingTables)
{
    Instance i;
    const uint8_t zero[4] = {0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(i.dec->grouping_3[0], zero, 4), 0);
    EXPECT_EQ(std::memcmp(i.dec->grouping_5[0], zero, 4), 0);
    EXPECT_EQ(std::memcmp(i.dec->grouping_9[0], zero, 4), 0);
    const uint8_t g3_1[4] = {1, 0, 0, 0}, g3_3[4] = {0, 1, 0, 0}, g3_26[4] = {2, 2, 2, 0};
    EXPECT_EQ(std::memcmp(i.dec->grouping_3[1], g3_1, 4), 0);
    EXPECT_EQ(std::memcmp(i.dec->grouping_3[3], g3_3, 4), 0);
    EXPECT_EQ(std::memcmp(i.dec->grouping_3[26], g3_26, 4), 0);
    // Reset copies precomputed tables; they must be what the builder writes,
    // and the builder must follow the formula.
    const struct { int n; const uint8_t (*table)[4]; } tables[] = {
        {3, i.dec->grouping_3}, {5, i.dec->grouping_5}, {9, i.dec->grouping_9}};
    for (const auto &t : tables) {
        uint8_t built[729][4];
        mpa_build_grouping_table(built, t.n);
        for (int c = 0; c < t.n * t.n * t.n; c++) {
            const uint8_t expected[4] = {static_cast<uint8_t>(c % t.n), static_cast<uint8_t>(c / t.n % t.n),
                                         static_cast<uint8_t>(c / (t.n * t.n)), 0};
            ASSERT_EQ(std::memcmp(built[c], expected, 4), 0) << t.n << " levels, entry " << c;
            ASSERT_EQ(std::memcmp(t.table[c], expected, 4), 0) << t.n << " levels, entry " << c;
        }
    }
    EXPECT_EQ(i.dec->reservoir_fill, 0);
    EXPECT_EQ(i.dec->header.layer_bits, 0);
    EXPECT_EQ(mpa_decoder_reset(nullptr), MPA_ERR_NULL_ARG);
    EXPECT_EQ(mpa_decoder_open(nullptr), MPA_ERR_NULL_ARG);
    EXPECT_EQ(mpa_decoder_header(i.dec), &i.dec->header);
}

TEST(FrameDriver, TwentyOneBytesFromTheHeaderAreTheMinimum)
{
    Instance i;
    static float pcm[MPA_PCM_BUFFER_FLOATS];
    // An unconfirmed free-format frame spans the buffer: with 21 bytes it
    // reaches the Layer I decoder, whose 128 allocation bits are there.
    const std::vector<uint8_t> free_format = silent_layer1_frame(false, 0);
    EXPECT_EQ(mpa_decode_frame(i.dec, pcm, free_format.data(), 20, 0), MPA_ERR_NEED_DATA);
    EXPECT_EQ(mpa_decode_frame(i.dec, pcm, free_format.data(), 21, 0), MPA_OK);

    // A fixed-rate frame is decoded only when all of it is there.
    const std::vector<uint8_t> frame = silent_layer1_frame();
    EXPECT_EQ(mpa_decode_frame(i.dec, pcm, frame.data(), 207, 0), MPA_ERR_NEED_DATA);
    EXPECT_EQ(mpa_decode_frame(i.dec, pcm, frame.data(), static_cast<int>(frame.size()), 0), MPA_OK);
    for (int s = 0; s < 384; s++)
        ASSERT_EQ(pcm[s], 0.0f);
}

TEST(FrameDriver, NoSyncKeepsThePreviousHeader)
{
    Instance i;
    static float pcm[MPA_PCM_BUFFER_FLOATS];
    const std::vector<uint8_t> frame = silent_layer1_frame();
    ASSERT_EQ(mpa_decode_frame(i.dec, pcm, frame.data(), static_cast<int>(frame.size()), 0), MPA_OK);
    const mpa_header before = i.dec->header;
    const std::vector<uint8_t> garbage(500, 0x5A);
    EXPECT_EQ(mpa_decode_frame(i.dec, pcm, garbage.data(), static_cast<int>(garbage.size()), 0),
              MPA_ERR_NO_HEADER);
    EXPECT_EQ(std::memcmp(&before, &i.dec->header, sizeof(before)), 0);
    EXPECT_EQ(mpa_decode_frame(nullptr, pcm, frame.data(), 10, 0), MPA_ERR_NULL_ARG);
    EXPECT_EQ(mpa_decode_frame(i.dec, nullptr, frame.data(), 10, 0), MPA_ERR_NULL_ARG);
}

TEST(FrameDriver, ProtectedFrameIsReadAfterItsCrcWord)
{
    Instance i;
    static float pcm[MPA_PCM_BUFFER_FLOATS];
    std::vector<uint8_t> frame = silent_layer1_frame(true);
    EXPECT_EQ(mpa_decode_frame(i.dec, pcm, frame.data(), static_cast<int>(frame.size()), 0), MPA_OK);
    EXPECT_EQ(i.dec->header.header_bits, 48);
    // A flipped allocation bit right after the CRC word is caught by the CRC.
    frame[6] ^= 0x80;
    EXPECT_EQ(mpa_decode_frame(i.dec, pcm, frame.data(), static_cast<int>(frame.size()), 0), MPA_ERR_CRC);
}

int step(mpa_decoder *dec, const uint8_t *input, int len, int *consumed, int *needed)
{
    static float pcm[MPA_PCM_BUFFER_FLOATS];
    return mpa_decode_step(dec, pcm, input, len, 0, MPA_PCM_BUFFER_FLOATS, consumed, needed);
}

TEST(StreamStep, ReportsNeededBytesAndSkippedGarbage)
{
    Instance i;
    std::vector<uint8_t> stream(37, 0x11);  // garbage first
    const std::vector<uint8_t> frame = silent_layer1_frame();
    for (int k = 0; k < 3; k++)
        stream.insert(stream.end(), frame.begin(), frame.end());

    int consumed = -1, needed = -1;
    // Only part of the first frame: what is asked for covers the bytes
    // before the header and the whole frame.
    EXPECT_EQ(step(i.dec, stream.data(), 37 + 100, &consumed, &needed), MPA_ERR_NEED_DATA);
    EXPECT_EQ(consumed, 0);
    EXPECT_EQ(needed, 37 + 208);
    EXPECT_EQ(step(i.dec, stream.data(), needed, &consumed, &needed), MPA_OK);
    EXPECT_EQ(consumed, 37 + 208);
    mpa_decoder_reset(i.dec);

    EXPECT_EQ(step(i.dec, stream.data(), static_cast<int>(stream.size()), &consumed, &needed), MPA_OK);
    EXPECT_EQ(consumed, 37 + 208);
    EXPECT_EQ(needed, 0);
    EXPECT_EQ(mpa_decoder_header(i.dec)->header_offset, 37);

    // The last frame, exactly: taken by the continuation rule.
    const uint8_t *last = stream.data() + stream.size() - frame.size();
    EXPECT_EQ(step(i.dec, last, static_cast<int>(frame.size()), &consumed, &needed), MPA_OK);
    EXPECT_EQ(consumed, 208);

    // A whole frame whose codes run past its end is damage, not a lack of input.
    std::vector<uint8_t> overrun = frame;
    std::fill(overrun.begin() + 4, overrun.begin() + 20, 0xEE);  // allocation 14 in every subband
    EXPECT_EQ(step(i.dec, overrun.data(), static_cast<int>(overrun.size()), &consumed, &needed), MPA_ERROR);
    EXPECT_EQ(needed, 0);
}

// A whole file of hundreds of megabytes handed over as the data after each
// frame (as a Java caller holding the file in one array does): the frames
// decode as they do in a window of their own. The bytes past the stream are
// untouched zero pages.
TEST(StreamStep, HugeWindowDecodesLikeASmallOne)
{
    std::vector<uint8_t> mp3;
    ASSERT_TRUE(mpa_test::read_file(std::string(ROVAZ_SOURCE_DIR) + "/samples/sample.mp3", &mp3));
    for (const std::vector<uint8_t> &stream : {mpa_test::layer1_stream(3, true), mp3}) {
        const size_t huge = static_cast<size_t>(600) << 20;
#ifdef _WIN32
        void *map = VirtualAlloc(nullptr, huge, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        ASSERT_NE(map, nullptr);
#else
        void *map =
            mmap(nullptr, huge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        ASSERT_NE(map, MAP_FAILED);
#endif
        uint8_t *bytes = static_cast<uint8_t *>(map);
        const size_t head = std::min<size_t>(stream.size(), 20000);
        std::memcpy(bytes, stream.data(), head);
        Instance big, small;
        static float pcm_big[MPA_PCM_BUFFER_FLOATS], pcm_small[MPA_PCM_BUFFER_FLOATS];
        size_t pos = 0;
        for (int frame = 0; frame < 3; frame++) {
            int consumed = 0, needed = 0, small_consumed = 0;
            const int preceding = static_cast<int>(pos);
            ASSERT_EQ(mpa_decode_step(big.dec, pcm_big, bytes + pos, static_cast<int>(huge - pos), preceding,
                                      MPA_PCM_BUFFER_FLOATS, &consumed, &needed), MPA_OK) << frame;
            ASSERT_EQ(mpa_decode_step(small.dec, pcm_small, bytes + pos, 4000, preceding,
                                      MPA_PCM_BUFFER_FLOATS, &small_consumed, &needed), MPA_OK) << frame;
            EXPECT_EQ(consumed, small_consumed);
            EXPECT_EQ(std::memcmp(pcm_big, pcm_small, sizeof(pcm_big)), 0);
            pos += static_cast<size_t>(consumed);
        }
#ifdef _WIN32
        VirtualFree(map, 0, MEM_RELEASE);
#else
        munmap(map, huge);
#endif
    }
}

}  // namespace
