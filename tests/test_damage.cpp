// A damaged frame costs that frame (and the frames its damaged header claims),
// and for Layer III the frames whose main data it held, and nothing more:
// bits flipped and bytes cut inside one frame of real streams, decoded with
// the stream layer, give the clean output again a few frames later, at the
// same sample positions whenever the damage kept the frame structure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/encoded_streams.h"
#include "support/robustness_streams.h"

namespace {

using mpa_test::FrameInfo;

using Pcm = std::vector<float>;

// The output frame by frame (damaged frames concealed, so that the timeline
// stays the stream's).
std::vector<Pcm> decode_all(const std::vector<uint8_t> &bytes, long *concealed = nullptr)
{
    mpa_test::Decoded d = mpa_test::decode_stream(bytes);
    if (concealed)
        *concealed = static_cast<long>(d.info.frames_concealed);
    return std::move(d.frames);
}

// The last frame whose main data may lie in frame k: Layer III frames
// reach back main_data_begin bytes into the main data of earlier frames.
size_t last_fed_by(const std::vector<FrameInfo> &frames, size_t k)
{
    long end_of_k = 0;  // main-data bytes up to the end of frame k
    for (size_t i = 0; i <= k; i++)
        end_of_k += frames[i].main_data_bytes;
    size_t last = k;
    long start = end_of_k;  // main-data bytes before frame j
    for (size_t j = k + 1; j < frames.size(); j++) {
        if (start - frames[j].main_data_begin < end_of_k)
            last = j;
        start += frames[j].main_data_bytes;
    }
    return last;
}

// The last frame that starts inside the frame the damaged header of frame k
// claims: a frame accepted without its successor (a buffer that starts
// exactly at a frame of the stream is taken as it is) swallows them. At least
// frame k + 1, whose start a cut or a lost sync may hide. cut bytes are
// missing from frame k of the damaged stream.
size_t last_claimed(const std::vector<FrameInfo> &frames, const std::vector<uint8_t> &damaged, size_t k,
                    size_t cut)
{
    mpa_header h;
    std::memset(&h, 0, sizeof(h));
    size_t end = frames[k].offset + frames[k].bytes;
    if (mpa_get_header(&h, damaged.data() + frames[k].offset, 4) >= 0)
        end = std::max(end, frames[k].offset + static_cast<size_t>(h.bits_in_frame >> 3) + cut);
    size_t last = k + 1;
    while (last + 1 < frames.size() && frames[last + 1].offset < end)
        last++;
    return last;
}

struct Damage {
    size_t first_changed;  // frames of the damaged decode equal to the clean one before this
    size_t clean_again;    // clean frames from this on are all in the damaged decode's tail
    long lost;             // frames fewer than the clean decode
};

Damage compare(const std::vector<Pcm> &clean, const std::vector<Pcm> &damaged)
{
    size_t prefix = 0;
    while (prefix < clean.size() && prefix < damaged.size() && clean[prefix] == damaged[prefix])
        prefix++;
    size_t suffix = 0;
    while (suffix < clean.size() && suffix < damaged.size() &&
           clean[clean.size() - 1 - suffix] == damaged[damaged.size() - 1 - suffix])
        suffix++;
    return {prefix, clean.size() - suffix,
            static_cast<long>(clean.size()) - static_cast<long>(damaged.size())};
}

// Stream excerpts of this many frames, damaged at frame kAt, keep the runs short.
constexpr size_t kExcerpt = 24;
constexpr size_t kAt = 8;

void check_stream(const mpa_test::TestStream &s, uint32_t seed)
{
    SCOPED_TRACE(s.name);
    const std::vector<FrameInfo> all = mpa_test::frame_walk(s.bytes);
    ASSERT_GE(all.size(), kExcerpt + 2);
    const bool layer3 = all[1].main_data_bytes > 0;
    uint32_t rng = seed;
    auto next = [&rng](uint32_t n) {
        rng = rng * 1664525u + 1013904223u;
        return (rng >> 8) % n;
    };
    // ROVAZ_DAMAGE_TRIALS sets another count; the sanitizer build runs
    // fewer (it is twenty times slower), the release build the full 500.
    const char *env_trials = std::getenv("ROVAZ_DAMAGE_TRIALS");
    const int trials =
        env_trials && std::atoi(env_trials) > 0 ? std::atoi(env_trials) : ROVAZ_DAMAGE_TRIALS_DEFAULT;
    for (int t = 0; t < trials; t++) {
        // An excerpt from the middle of the stream, frames renumbered from 0.
        const size_t from = 1 + (all.size() - kExcerpt - 1) * static_cast<size_t>(t) / trials;
        std::vector<FrameInfo> frames(all.begin() + static_cast<long>(from),
                                      all.begin() + static_cast<long>(from + kExcerpt));
        const size_t begin = frames[0].offset;
        for (FrameInfo &f : frames)
            f.offset -= begin;
        const std::vector<uint8_t> excerpt(
            s.bytes.begin() + static_cast<long>(begin),
            s.bytes.begin() + static_cast<long>(begin + frames.back().offset + frames.back().bytes));
        long concealed_clean = 0;
        const std::vector<Pcm> clean = decode_all(excerpt, &concealed_clean);
        if (concealed_clean > 0)
            continue;  // a frame the stream itself has damaged (l3-hecommon)
        ASSERT_EQ(clean.size(), kExcerpt);  // Layer III frames reaching back before it are silent

        std::vector<uint8_t> damaged = excerpt;
        const FrameInfo &f = frames[kAt];
        std::string what;
        size_t cut = 0;
        if (t % 3 != 2) {
            // One to eight bits flipped anywhere in the frame, header included.
            const int flips = 1 + static_cast<int>(next(8));
            what = "bits flipped:";
            for (int i = 0; i < flips; i++) {
                const size_t bit = next(static_cast<uint32_t>(f.bytes) * 8);
                damaged[f.offset + bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
                what += " " + std::to_string(bit);
            }
        } else {
            // Bytes cut from inside the frame, up to all of it.
            const size_t at = next(static_cast<uint32_t>(f.bytes));
            const size_t n = 1 + next(static_cast<uint32_t>(f.bytes - at));
            cut = n;
            damaged.erase(damaged.begin() + static_cast<long>(f.offset + at),
                          damaged.begin() + static_cast<long>(f.offset + at + n));
            what = std::to_string(n) + " bytes cut at " + std::to_string(at);
        }
        SCOPED_TRACE("frame " + std::to_string(from + kAt) + ": " + what);
        // The frame structure stays when the header still gives the frame's
        // own length: then nothing may be lost or added.
        mpa_header dh{};
        const bool structure_kept = cut == 0 && mpa_get_header(&dh, damaged.data() + f.offset, 4) >= 0 &&
                                    dh.bits_in_frame / 8 == static_cast<int>(f.bytes);

        const Damage d = compare(clean, decode_all(damaged));
        if (structure_kept) {
            EXPECT_EQ(d.lost, 0);
        }
        // Frames before the damage are untouched but for the one just before
        // it, which looks ahead at the damaged frame's header (and, in Layer
        // III, its main_data_begin).
        EXPECT_GE(d.first_changed + 1, kAt);
        // A damaged header may claim a longer frame and swallow the frames
        // after it (or hide the frame from the search, so that it is skipped
        // whole), so the damage reaches those too, and in Layer III the
        // frames that take main data from any of them. The frames after those
        // inherit their history: 15 time slots of filterbank history, and
        // in Layer III before that one granule (18 slots) of overlap. So one
        // more frame differs, two where a frame is shorter than that (Layer
        // I: 12 slots; LSF Layer III: one granule); then the output is the
        // clean one again.
        const uint8_t id_layer = s.bytes[all[0].offset + 1];
        const bool layer1 = (id_layer & 6) == 6, lsf = (id_layer & 8) == 0;
        const size_t claimed = last_claimed(frames, damaged, kAt, cut);
        const size_t last = layer3 ? last_fed_by(frames, claimed) : claimed;
        const size_t recovery = layer1 || (layer3 && lsf) ? 2 : 1;
        EXPECT_LE(d.clean_again, last + recovery + 1);
        // Lost at most: those frames, no more.
        EXPECT_LE(d.lost, static_cast<long>(last - kAt) + 1);
        EXPECT_GE(d.lost, -1);  // a false sync in the damage may pass for a frame
    }
}

TEST(DamagedFrames, CostOnlyTheirNeighbourhood)
{
    uint32_t seed = 7;
    for (const mpa_test::TestStream &s :
         mpa_test::robustness_streams({"l1-fl1", "l1-fl8", "l2-fl10", "l2-test32", "l3-compl", "l3-he_free",
                                       "l3-hecommon", "l3-test45", "M2L3_bitrate_16_all"}))
        check_stream(s, seed++);
}

// Bytes inserted inside a frame: its header is no longer confirmed by the
// next one, so the search from the damaged frame's position lands on the
// next good frame. Only the damaged frame may be lost.
TEST(DamagedFrames, InsertedBytesCostOnlyTheirFrame)
{
    std::vector<uint8_t> s;
    ASSERT_TRUE(mpa_test::read_file(std::string(ROVAZ_SOURCE_DIR) + "/samples/sample.mp2", &s));
    const std::vector<FrameInfo> all = mpa_test::frame_walk(s);  // 44.1 kHz, 192 kbit/s, Layer II
    ASSERT_GE(all.size(), kExcerpt);
    const FrameInfo &end = all[kExcerpt - 1];
    const std::vector<uint8_t> excerpt(s.begin(), s.begin() + static_cast<long>(end.offset + end.bytes));
    const std::vector<Pcm> clean = decode_all(excerpt);
    ASSERT_EQ(clean.size(), kExcerpt);
    for (uint8_t fill : {0x00, 0x55, 0xFF}) {
        std::vector<uint8_t> damaged = excerpt;
        damaged.insert(damaged.begin() + static_cast<long>(all[kAt].offset + 100), 20, fill);
        long concealed = 0;
        const Damage damage = compare(clean, decode_all(damaged, &concealed));
        EXPECT_EQ(damage.lost, 0) << static_cast<int>(fill);
        EXPECT_LE(concealed, 1) << static_cast<int>(fill);
        EXPECT_GE(damage.first_changed + 1, kAt);
        EXPECT_LE(damage.clean_again, kAt + 2);
    }
    // A frame hidden by a damaged sync byte is counted lost, also when it is
    // one byte shorter (unpadded) than the frames before it.
    std::vector<uint8_t> mp3;
    ASSERT_TRUE(mpa_test::read_file(std::string(ROVAZ_SOURCE_DIR) + "/samples/sample.mp3", &mp3));
    const std::vector<FrameInfo> frames = mpa_test::frame_walk(mp3);
    size_t k = 2;
    while (k < frames.size() &&
           !(frames[k].bytes < frames[k - 1].bytes && frames[k - 1].bytes == frames[k - 2].bytes))
        k++;
    ASSERT_LT(k + 3, frames.size());
    std::vector<uint8_t> damaged = mp3;
    damaged[frames[k].offset] = 0xFE;
    EXPECT_EQ(compare(decode_all(mp3), decode_all(damaged)).lost, 0);
}

}  // namespace
