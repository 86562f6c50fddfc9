// Xing/Info/VBRI info frames and the LAME extension: where the tag is looked
// for, what is believed of a damaged one, cut frames, and lame's own output.
#include <gtest/gtest.h>

#include <cstring>

#include <array>
#include <string>
#include <vector>

#include "rovaz/mpa.h"
#include "rovaz/mpa_stream.h"
#include "support/encoded_streams.h"
#include "stream/info_frame.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Header = std::array<uint8_t, 4>;

const Header kStereo = {0xFF, 0xFB, 0x90, 0x64};  // MPEG-1 Layer III 128 kbit/s 44.1 kHz
const Header kMono = {0xFF, 0xFB, 0x90, 0xC4};
const Header kCrc = {0xFF, 0xFA, 0x90, 0x64};        // the same with a CRC word
const Header kLsfStereo = {0xFF, 0xF3, 0x80, 0x64};  // MPEG-2 64 kbit/s 22.05 kHz
const Header kLsfMono = {0xFF, 0xF3, 0x80, 0xC4};
const Header kLayer2 = {0xFF, 0xFD, 0x90, 0x64};

struct Frame {
    Bytes b;
    mpa_header h;
    int64_t frames = -1;  // what the tag declares
    int32_t delay = -1, padding = -1;
};

// A zeroed frame of the length its header gives (the header alone parses, unconfirmed).
Frame make_frame(const Header &header)
{
    Frame f{Bytes(header.begin(), header.end()), {}};
    EXPECT_GE(mpa_get_header(&f.h, f.b.data(), 4), 0);
    f.b.resize(static_cast<size_t>(f.h.bits_in_frame) / 8);
    return f;
}

// Big-endian fields of n bytes each from p on; returns the position after them.
size_t put(Bytes &b, size_t p, std::initializer_list<std::pair<uint32_t, int>> fields)
{
    for (const auto &[v, n] : fields)
        for (int i = 0; i < n; i++)
            b.at(p++) = static_cast<uint8_t>(static_cast<uint64_t>(v) >> 8 * (n - 1 - i));
    return p;
}

size_t put(Bytes &b, size_t p, const char *s)
{
    for (; *s; s++)
        b.at(p++) = static_cast<uint8_t>(*s);
    return p;
}

enum Crc { kGood, kZero, kBad };

// Xing or Info at `at` with the fields flags ask for (bytes 123456, toc 0, 2,
// 4, ...), then the LAME extension when name is given.
Frame xing(const Header &header, size_t at, const char *tag, uint32_t flags, uint32_t frames,
           const char *name = nullptr, int delay = 0, int padding = 0, Crc crc = kGood)
{
    Frame f = make_frame(header);
    f.frames = flags & 1 ? static_cast<int64_t>(frames) : -1;
    size_t p =
        put(f.b, put(f.b, at, tag), {{flags, 4}, {frames, flags & 1 ? 4 : 0}, {123456, flags & 2 ? 4 : 0}});
    for (int i = 0; i < 100 && (flags & 4); i++)
        f.b.at(p++) = static_cast<uint8_t>(2 * i);
    p = put(f.b, p, {{78, flags & 8 ? 4 : 0}});
    if (name) {
        f.delay = delay, f.padding = padding;
        put(f.b, p, name);
        put(f.b, p + 21, {{static_cast<uint32_t>(delay << 12 | padding), 3}});
        uint32_t sum = 0;  // CRC-16, reflected 0x8005, of all before it
        for (size_t i = 0; i < p + 34; i++) {
            sum ^= f.b[i];
            for (int k = 0; k < 8; k++)
                sum = sum & 1 ? (sum >> 1) ^ 0xA001 : sum >> 1;
        }
        put(f.b, p + 34, {{crc == kZero ? 0 : crc == kBad ? sum ^ 1 : sum, 2}});
    }
    return f;
}

// The common case: MPEG-1 stereo, all fields, LAME's extension.
Frame lame(int delay, int padding, Crc crc = kGood, uint32_t frames = 40, const char *name = "LAME3.100")
{
    return xing(kStereo, 36, "Xing", 15, frames, name, delay, padding, crc);
}

// VBRI with 1000 frames, 100000 bytes, runs of frames_per_entry frames.
Frame vbri(int entry_bytes, int scale, const std::vector<uint32_t> &entries, int frames_per_entry = 100)
{
    Frame f = make_frame(kStereo);
    size_t p = put(f.b, put(f.b, 36, "VBRI"),
                   {{1, 2},
                    {1105, 2},
                    {75, 2},
                    {100000, 4},
                    {1000, 4},
                    {static_cast<uint32_t>(entries.size()), 2},
                    {scale, 2},
                    {entry_bytes, 2},
                    {frames_per_entry, 2}});
    for (size_t k = 0; k < entries.size() && p + entry_bytes <= f.b.size(); k++)
        p = put(f.b, p, {{entries[k], entry_bytes}});
    return f;
}

mpa_info_frame parse(const Frame &f)
{
    mpa_info_frame info;
    const bool found = mpa_parse_info_frame(f.h, f.b.data(), f.b.size(), &info);
    EXPECT_EQ(found, info.kind != MPA_INFO_NONE);
    return info;
}

TEST(InfoFrame, XingInfoAndLameExtension)
{
    const struct {
        const char *what;
        Frame frame;
        int kind;
        bool keeps_delay;
        const char *encoder;
    } cases[] = {
        {"stereo Xing", lame(576, 1404), MPA_INFO_XING, true, "LAME3.100"},
        {"mono Info", xing(kMono, 21, "Info", 15, 40, "LAME3.99r", 576, 1404), MPA_INFO_INFO, true,
         "LAME3.99r"},
        {"MPEG-2, no bytes or toc", xing(kLsfStereo, 21, "Xing", 9, 40, "Lavf58.76", 1105, 300),
         MPA_INFO_XING, true, "Lavf58.76"},
        {"MPEG-2 mono", xing(kLsfMono, 13, "Info", 15, 40, "Lavc60.3 ", 1105, 300), MPA_INFO_INFO, true,
         "Lavc60.3"},
        {"CRC word, tag after the side info", xing(kCrc, 36, "Xing", 15, 40, "LAME3.100", 576, 0),
         MPA_INFO_XING, true, "LAME3.100"},
        {"CRC word, tag after it", xing(kCrc, 38, "Xing", 15, 40, "LAME3.100", 576, 0), MPA_INFO_XING, true,
         "LAME3.100"},
        {"no CRC word, tag 2 bytes late", xing(kStereo, 38, "Xing", 15, 40, "LAME3.100", 576, 0),
         MPA_INFO_NONE, false, ""},
        {"stored CRC 0: not checked", lame(576, 9, kZero), MPA_INFO_XING, true, "LAME3.100"},
        {"wrong CRC: counts only", lame(576, 9, kBad), MPA_INFO_XING, false, "LAME3.100"},
        {"delay + padding = all samples", lame(576, 576, kGood, 1), MPA_INFO_XING, true, "LAME3.100"},
        {"delay + padding > all samples", lame(576, 577, kGood, 1), MPA_INFO_XING, false, "LAME3.100"},
        {"no frame count: no limit", xing(kStereo, 36, "Info", 0, 0, "LAME3.100", 4000, 4000), MPA_INFO_INFO,
         true, "LAME3.100"},
        {"unknown encoder", lame(576, 9, kGood, 40, "GOGO3.1xy"), MPA_INFO_XING, false, ""},
        {"name ends at a control byte", lame(576, 9, kGood, 40, "LAME3.1\x01x"), MPA_INFO_XING, true,
         "LAME3.1"},
        {"no extension", xing(kStereo, 36, "Xing", 15, 40), MPA_INFO_XING, false, ""},
        {"Layer II", xing(kLayer2, 36, "Xing", 15, 40, "LAME3.100", 576, 9), MPA_INFO_NONE, false, ""},
        {"plain frame", make_frame(kStereo), MPA_INFO_NONE, false, ""},
    };
    for (const auto &c : cases) {
        const mpa_info_frame info = parse(c.frame);
        EXPECT_EQ(info.kind, c.kind) << c.what;
        EXPECT_EQ(info.frames, c.kind ? c.frame.frames : -1) << c.what;
        EXPECT_EQ(info.encoder_delay, c.keeps_delay ? c.frame.delay : -1) << c.what;
        EXPECT_EQ(info.encoder_padding, c.keeps_delay ? c.frame.padding : -1) << c.what;
        EXPECT_STREQ(info.encoder, c.encoder) << c.what;
    }
    const mpa_info_frame full = parse(cases[0].frame), lean = parse(cases[2].frame);
    EXPECT_EQ(full.bytes, 123456);
    EXPECT_TRUE(full.has_toc && full.toc[99] == 198);
    EXPECT_EQ(lean.bytes, -1);
    EXPECT_FALSE(lean.has_toc);
}

TEST(InfoFrame, VbriTableBecomesToc)
{
    const mpa_info_frame even = parse(vbri(2, 2, std::vector<uint32_t>(10, 5000)));
    EXPECT_EQ(even.kind, MPA_INFO_VBRI);
    EXPECT_EQ(even.bytes, 100000);
    EXPECT_EQ(even.encoder_delay, -1);
    ASSERT_TRUE(even.has_toc);
    for (int i = 0; i < 100; i++)
        EXPECT_EQ(even.toc[i], static_cast<int>(i * 2.56 + 1e-9)) << i;

    // Three times the bytes in the first half: 25% is 37.5% of the bytes.
    std::vector<uint32_t> skewed(5, 15000);
    skewed.resize(10, 5000);
    const mpa_info_frame s = parse(vbri(3, 1, skewed));
    ASSERT_TRUE(s.has_toc);
    EXPECT_EQ(s.toc[25], 96);
    EXPECT_EQ(s.toc[50], 192);
    EXPECT_EQ(s.toc[75], 224);

    // Tables that cannot be read give the counts alone; the last runs past the frame.
    for (const Frame &f : {vbri(0, 1, skewed), vbri(5, 1, skewed), vbri(2, 1, skewed, 0),
                           vbri(2, 1, std::vector<uint32_t>(200, 500))}) {
        const mpa_info_frame info = parse(f);
        EXPECT_EQ(info.kind, MPA_INFO_VBRI);
        EXPECT_EQ(info.frames, 1000);
        EXPECT_FALSE(info.has_toc);
    }
}

// Every cut of each kind of frame, in a buffer of exactly that size: nothing
// read past it (the sanitizer build checks), and what is found is what the
// whole frame says.
TEST(InfoFrame, CutFrames)
{
    for (const Frame &whole : {lame(576, 1404), xing(kCrc, 38, "Info", 15, 40, "LAME3.100", 576, 1404, kZero),
                               xing(kLsfMono, 13, "Xing", 15, 40, "LAME3.100", 576, 1404),
                               vbri(4, 1, std::vector<uint32_t>(10, 10000))}) {
        const mpa_info_frame full = parse(whole);
        ASSERT_NE(full.kind, MPA_INFO_NONE);
        for (size_t len = 0; len <= whole.b.size(); len++) {
            const mpa_info_frame info = parse({Bytes(whole.b.begin(), whole.b.begin() + len), whole.h});
            if (info.kind == MPA_INFO_NONE)
                continue;
            EXPECT_EQ(info.kind, full.kind) << len;
            EXPECT_TRUE(info.frames == -1 || info.frames == full.frames) << len;
            EXPECT_TRUE(info.encoder_delay == -1 || info.encoder_delay == full.encoder_delay) << len;
            EXPECT_TRUE(!info.has_toc || memcmp(info.toc, full.toc, 100) == 0) << len;
        }
    }
}

// lame's own tags: CBR gives Info, VBR Xing; the frame count leaves out the
// info frame, and delay and padding trim the decode to the input's length.
TEST(InfoFrame, LameEncodedFiles)
{
    MPA_SKIP_WITHOUT("lame");
    MPA_SKIP_WITHOUT("sox");
    const int samples = 44100;  // one second of tones
    for (const auto &[options, kind] :
         {std::pair<const char *, int>{"-b 128", MPA_INFO_INFO}, {"-V 2", MPA_INFO_XING}}) {
        const mpa_test::Encoded *e = mpa_test::encode("lame", options, 44100, 2, 1.0, "tones");
        ASSERT_NE(e, nullptr) << options;
        const Bytes &data = e->bytes;

        mpa_header first{}, h{};
        int64_t count = 0;
        for (size_t pos = 0; pos + 4 <= data.size();
             pos += static_cast<size_t>(h.bits_in_frame) / 8, count++) {
            if (mpa_get_header(&h, data.data() + pos, static_cast<int>(data.size() - pos)) < 0 ||
                h.header_offset != 0)
                break;
            if (count == 0)
                first = h;
        }
        mpa_info_frame info;
        ASSERT_TRUE(mpa_parse_info_frame(first, data.data(), data.size(), &info)) << options;
        EXPECT_EQ(info.kind, kind) << options;
        EXPECT_EQ(info.frames, count - 1) << options;
        EXPECT_EQ(info.encoder_delay, 576) << options;
        EXPECT_EQ(info.frames * 1152 - info.encoder_delay - info.encoder_padding, samples) << options;
        EXPECT_EQ(strncmp(info.encoder, "LAME", 4), 0) << info.encoder;
    }
}

}  // namespace
