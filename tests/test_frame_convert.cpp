// The binding's decode call, on memory it is given: whatever the bytes, no
// byte outside the output room is written and no count beyond it is reported.
// (fuzz_binding checks, besides, that a frame refused for room changes
// nothing in the instance.)
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/decoder.h"
#include "frame_convert.h"
#include "rovaz/mpa.h"
#include "support/robustness_streams.h"

namespace {

struct Instance {
    mpa_decoder *dec = nullptr;
    Instance() { EXPECT_EQ(mpa_decoder_open(&dec), MPA_OK); }
    ~Instance() { mpa_decoder_close(dec); }
};

constexpr size_t kGuard = 64;
constexpr uint8_t kGuardByte = 0xA5;

// An output room with guard bytes on either side.
struct GuardedOutput {
    std::vector<uint8_t> bytes;
    int room;
    explicit GuardedOutput(int room) : bytes(room + 2 * kGuard, kGuardByte), room(room) {}
    uint8_t *data() { return bytes.data() + kGuard; }
    bool guards_intact() const
    {
        for (size_t i = 0; i < kGuard; i++)
            if (bytes[i] != kGuardByte || bytes[kGuard + room + i] != kGuardByte)
                return false;
        return true;
    }
};

// Walks a stream as a Java caller does (the rest of the stream as the window,
// the bytes before it as preceding data) with the given output room, and
// checks the bound at every call.
void walk_with_room(const std::vector<uint8_t> &s, int room)
{
    Instance i;
    GuardedOutput out(room);
    size_t pos = 0;
    for (int calls = 0; pos < s.size() && calls < 10000; calls++) {
        mpa_convert_result r;
        mpa_convert_frame(i.dec, s.data() + pos, static_cast<int>(s.size() - pos), static_cast<int>(pos),
                          out.data(), room, &r);
        ASSERT_LE(r.produced, room) << "at " << pos;
        ASSERT_EQ(r.pcm_status, MPA_OK) << "at " << pos;  // the step checked the room
        ASSERT_TRUE(out.guards_intact()) << "at " << pos;
        pos += r.ok && r.consumed > 0 ? static_cast<size_t>(r.consumed) : 1;
    }
}

// An MPEG-1 Layer II stereo header (a 96-byte frame whose successor is not
// where it ends), then an MPEG-2 Layer III mono frame at 61 that asks for
// 4,095 bits of main data, confirmed by the header at 97. The Layer III frame
// fits 1,152 bytes of output; the Layer II header, found first once the input
// is cut at the Layer III frame's end, would give 4,608.
std::vector<uint8_t> frame_switch_stream()
{
    std::vector<uint8_t> s(101, 0);
    const uint8_t layer2[4] = {0xFF, 0xFD, 0x14, 0x00};
    const uint8_t layer3[8] = {0xFF, 0xF3, 0x18, 0xC0, 0x00, 0x7F, 0xF8, 0x00};
    std::memcpy(&s[0], layer2, 4);
    std::memcpy(&s[61], layer3, 8);
    std::memcpy(&s[97], layer3, 4);
    return s;
}

TEST(FrameConvert, DecodesOnlyTheFrameWhoseRoomItChecked)
{
    const std::vector<uint8_t> s = frame_switch_stream();
    for (int room : {1152, 4608}) {
        Instance i;
        GuardedOutput out(room);
        mpa_convert_result r;
        mpa_convert_frame(i.dec, s.data(), static_cast<int>(s.size()), 0, out.data(), room, &r);
        // The Layer III frame cannot be decoded within its own length.
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.produced, 0);
        EXPECT_EQ(r.consumed, 0);
        EXPECT_EQ(r.needed, 0);
        EXPECT_EQ(mpa_decoder_header(i.dec)->header_offset, 61);
        EXPECT_TRUE(out.guards_intact());
    }
    walk_with_room(s, 1152);
    // Stereo Layer II frames (4,608 bytes of output) with a byte less room.
    std::vector<uint8_t> mp2;
    ASSERT_TRUE(mpa_test::read_file(std::string(ROVAZ_SOURCE_DIR) + "/samples/sample.mp2", &mp2));
    walk_with_room(mp2, 4607);
}

// The reported faults' inputs, when they are beside the checkout.
TEST(FrameConvert, ReportedInputsStayWithinTheRoom)
{
    const std::string dir = std::string(ROVAZ_SOURCE_DIR) + "/../shared/repro/";
    std::vector<uint8_t> bypass, frame_switch;
    if (!mpa_test::read_file(dir + "output-bound-bypass.bin", &bypass) ||
        !mpa_test::read_file(dir + "frame-switch.bin", &frame_switch))
        GTEST_SKIP() << "no " << dir;
    for (int room : {0, 768, 1152, 1536, 2304, 4607})
        walk_with_room(bypass, room);
    walk_with_room(frame_switch, 1152);
}

}  // namespace
