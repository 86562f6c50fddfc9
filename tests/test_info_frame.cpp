// Xing/Info/VBRI info frames and the LAME extension: where the tag is looked
// for, what is believed of a damaged one, cut frames, and lame's own output.
#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <array>
#include <string>
#include <vector>

#include "rovaz/mpa.h"
#include "rovaz/mpa_stream.h"
#include "stream/info_frame.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Header = std::array<uint8_t, 4>;

const Header kStereo = {0xFF, 0xFB, 0x90, 0x64};     // MPEG-1 Layer III 128 kbit/s 44.1 kHz
const Header kMono = {0xFF, 0xFB, 0x90, 0xC4};
const Header kCrc = {0xFF, 0xFA, 0x90, 0x64};        // the same with a CRC word
const Header kLsfStereo = {0xFF, 0xF3, 0x80, 0x64};  // MPEG-2 64 kbit/s 22.05 kHz
const Header kLsfMono = {0xFF, 0xF3, 0x80, 0xC4};
const Header kLayer2 = {0xFF, 0xFD, 0x90, 0x64};

struct Frame {
    Bytes b;
    mpa_header h;
};

// A zeroed frame of the length its header gives.
Frame make_frame(const Header &header)
{
    Frame f{Bytes(header.begin(), header.end()), {}};
    EXPECT_GE(mpa_get_header(&f.h, f.b.data(), (int)f.b.size()), 0);  // unconfirmed: no successor
    EXPECT_EQ(f.h.header_offset, 0);
    f.b.resize((size_t)f.h.bits_in_frame / 8);
    return f;
}

void put(Bytes &b, size_t at, uint64_t v, int n)  // big-endian
{
    for (int i = 0; i < n; i++)
        b.at(at + i) = (uint8_t)(v >> 8 * (n - 1 - i));
}

void put(Bytes &b, size_t at, const char *s)
{
    for (size_t i = 0; s[i]; i++)
        b.at(at + i) = (uint8_t)s[i];
}

uint32_t lame_crc(const Bytes &b, size_t n)
{
    uint32_t crc = 0;
    for (size_t i = 0; i < n; i++) {
        crc ^= b[i];
        for (int k = 0; k < 8; k++)
            crc = crc & 1 ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

enum Crc { kGood, kZero, kBad };

// Xing or Info at `at` with the fields flags ask for (bytes 123456, toc 0,
// 2, 4, ...), then the LAME extension when name is given.
Frame xing(const Header &header, size_t at, const char *tag, uint32_t flags, uint32_t frames,
           const char *name = nullptr, int delay = 0, int padding = 0, Crc crc = kGood)
{
    Frame f = make_frame(header);
    put(f.b, at, tag);
    put(f.b, at + 4, flags, 4);
    size_t p = at + 8;
    if (flags & 1)
        put(f.b, p, frames, 4), p += 4;
    if (flags & 2)
        put(f.b, p, 123456, 4), p += 4;
    if (flags & 4)
        for (int i = 0; i < 100; i++)
            f.b.at(p++) = (uint8_t)(2 * i);
    if (flags & 8)
        put(f.b, p, 78, 4), p += 4;
    if (name) {
        put(f.b, p, name);
        put(f.b, p + 21, (uint32_t)(delay << 12 | padding), 3);
        const uint32_t sum = lame_crc(f.b, p + 34);
        put(f.b, p + 34, crc == kZero ? 0 : crc == kBad ? sum ^ 1 : sum, 2);
    }
    return f;
}

// VBRI with 1000 frames, 100000 bytes, runs of 100 frames.
Frame vbri(int entry_bytes, int scale, const std::vector<uint32_t> &entries, int frames_per_entry = 100)
{
    Frame f = make_frame(kStereo);
    put(f.b, 36, "VBRI");
    put(f.b, 40, 1, 2);
    put(f.b, 42, 1105, 2);
    put(f.b, 44, 75, 2);
    put(f.b, 46, 100000, 4);
    put(f.b, 50, 1000, 4);
    put(f.b, 54, (uint32_t)entries.size(), 2);
    put(f.b, 56, scale, 2);
    put(f.b, 58, entry_bytes, 2);
    put(f.b, 60, frames_per_entry, 2);
    for (size_t k = 0; k < entries.size() && 62 + (k + 1) * entry_bytes <= f.b.size(); k++)
        put(f.b, 62 + k * entry_bytes, entries[k], entry_bytes);
    return f;
}

mpa_info_frame parse(const Frame &f, bool *found = nullptr)
{
    mpa_info_frame info;
    const bool ok = mpa_parse_info_frame(f.h, f.b.data(), f.b.size(), &info);
    if (found)
        *found = ok;
    EXPECT_EQ(ok, info.kind != MPA_INFO_NONE);
    return info;
}

TEST(InfoFrame, XingInfoAndLameExtension)
{
    const struct {
        const char *what;
        Frame frame;
        int kind;
        int64_t frames;
        int32_t delay, padding;
        const char *encoder;
    } cases[] = {
        {"stereo Xing", xing(kStereo, 36, "Xing", 15, 40, "LAME3.100", 576, 1404), MPA_INFO_XING, 40, 576, 1404, "LAME3.100"},
        {"mono Info", xing(kMono, 21, "Info", 15, 40, "LAME3.99r", 576, 1404), MPA_INFO_INFO, 40, 576, 1404, "LAME3.99r"},
        {"MPEG-2, frames and quality", xing(kLsfStereo, 21, "Xing", 9, 40, "Lavf58.76", 1105, 300), MPA_INFO_XING, 40, 1105, 300, "Lavf58.76"},
        {"MPEG-2 mono", xing(kLsfMono, 13, "Info", 15, 40, "Lavc60.3 ", 1105, 300), MPA_INFO_INFO, 40, 1105, 300, "Lavc60.3"},
        {"CRC word, tag after the side info", xing(kCrc, 36, "Xing", 15, 40, "LAME3.100", 576, 0), MPA_INFO_XING, 40, 576, 0, "LAME3.100"},
        {"CRC word, tag after it", xing(kCrc, 38, "Xing", 15, 40, "LAME3.100", 576, 0), MPA_INFO_XING, 40, 576, 0, "LAME3.100"},
        {"no CRC word, tag 2 bytes late", xing(kStereo, 38, "Xing", 15, 40, "LAME3.100", 576, 0), MPA_INFO_NONE, -1, -1, -1, ""},
        {"stored CRC 0: not checked", xing(kStereo, 36, "Info", 15, 40, "LAME3.100", 576, 9, kZero), MPA_INFO_INFO, 40, 576, 9, "LAME3.100"},
        {"wrong CRC: counts only", xing(kStereo, 36, "Info", 15, 40, "LAME3.100", 576, 9, kBad), MPA_INFO_INFO, 40, -1, -1, "LAME3.100"},
        {"delay + padding = all samples", xing(kStereo, 36, "Xing", 15, 1, "LAME3.100", 576, 576), MPA_INFO_XING, 1, 576, 576, "LAME3.100"},
        {"delay + padding > all samples", xing(kStereo, 36, "Xing", 15, 1, "LAME3.100", 576, 577), MPA_INFO_XING, 1, -1, -1, "LAME3.100"},
        {"no frame count: no limit", xing(kStereo, 36, "Xing", 0, 0, "LAME3.100", 4000, 4000), MPA_INFO_XING, -1, 4000, 4000, "LAME3.100"},
        {"unknown encoder", xing(kStereo, 36, "Xing", 15, 40, "GOGO3.1xy", 576, 9), MPA_INFO_XING, 40, -1, -1, ""},
        {"name ends at a control byte", xing(kStereo, 36, "Xing", 15, 40, "LAME3.1\x01x", 576, 9), MPA_INFO_XING, 40, 576, 9, "LAME3.1"},
        {"no extension", xing(kStereo, 36, "Xing", 15, 40), MPA_INFO_XING, 40, -1, -1, ""},
        {"Layer II", xing(kLayer2, 36, "Xing", 15, 40, "LAME3.100", 576, 9), MPA_INFO_NONE, -1, -1, -1, ""},
        {"plain frame", make_frame(kStereo), MPA_INFO_NONE, -1, -1, -1, ""},
    };
    for (const auto &c : cases) {
        const mpa_info_frame info = parse(c.frame);
        EXPECT_EQ(info.kind, c.kind) << c.what;
        EXPECT_EQ(info.frames, c.frames) << c.what;
        EXPECT_EQ(info.encoder_delay, c.delay) << c.what;
        EXPECT_EQ(info.encoder_padding, c.padding) << c.what;
        EXPECT_STREQ(info.encoder, c.encoder) << c.what;
    }
    const mpa_info_frame full = parse(cases[0].frame);
    EXPECT_EQ(full.bytes, 123456);
    EXPECT_TRUE(full.has_toc);
    EXPECT_EQ(full.toc[99], 198);
    const mpa_info_frame lean = parse(cases[2].frame);
    EXPECT_EQ(lean.bytes, -1);
    EXPECT_FALSE(lean.has_toc);
}

TEST(InfoFrame, VbriTableBecomesToc)
{
    const mpa_info_frame even = parse(vbri(2, 2, std::vector<uint32_t>(10, 5000)));
    EXPECT_EQ(even.kind, MPA_INFO_VBRI);
    EXPECT_EQ(even.frames, 1000);
    EXPECT_EQ(even.bytes, 100000);
    EXPECT_EQ(even.encoder_delay, -1);
    ASSERT_TRUE(even.has_toc);
    for (int i = 0; i < 100; i++)
        EXPECT_EQ(even.toc[i], (int)(i * 2.56 + 1e-9)) << i;

    // Three times the bytes in the first half: 25% is 37.5% of the bytes.
    std::vector<uint32_t> skewed(5, 15000);
    skewed.resize(10, 5000);
    const mpa_info_frame s = parse(vbri(3, 1, skewed));
    ASSERT_TRUE(s.has_toc);
    EXPECT_EQ(s.toc[25], 96);
    EXPECT_EQ(s.toc[50], 192);
    EXPECT_EQ(s.toc[75], 224);

    // Tables that cannot be read give the counts alone.
    const Frame bad[] = {vbri(0, 1, skewed), vbri(5, 1, skewed), vbri(2, 1, skewed, 0),
                         vbri(2, 1, std::vector<uint32_t>(200, 500))};  // past the frame's end
    for (const Frame &f : bad) {
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
    const Frame frames[] = {
        xing(kStereo, 36, "Xing", 15, 40, "LAME3.100", 576, 1404),
        xing(kCrc, 38, "Info", 15, 40, "LAME3.100", 576, 1404, kZero),
        xing(kLsfMono, 13, "Xing", 15, 40, "LAME3.100", 576, 1404),
        vbri(4, 1, std::vector<uint32_t>(10, 10000)),
    };
    for (const Frame &whole : frames) {
        const mpa_info_frame full = parse(whole);
        ASSERT_NE(full.kind, MPA_INFO_NONE);
        for (size_t len = 0; len <= whole.b.size(); len++) {
            Frame cut{Bytes(whole.b.begin(), whole.b.begin() + len), whole.h};
            const mpa_info_frame info = parse(cut);
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
    if (access("/usr/bin/lame", X_OK) != 0)
        GTEST_SKIP() << "no /usr/bin/lame";
    const std::string base = testing::TempDir() + "rovaz_info_frame_" + std::to_string(getpid());
    const std::string wav = base + ".wav", mp3 = base + ".mp3";
    const int samples = 30000;
    {
        FILE *f = fopen(wav.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        const uint32_t data = samples * 4;
        auto le = [f](uint32_t v, int n) {
            for (int i = 0; i < n; i++)
                fputc((int)(v >> 8 * i & 0xFF), f);
        };
        fputs("RIFF", f), le(36 + data, 4), fputs("WAVEfmt ", f), le(16, 4), le(1, 2), le(2, 2);
        le(44100, 4), le(44100 * 4, 4), le(4, 2), le(16, 2), fputs("data", f), le(data, 4);
        for (int i = 0; i < samples; i++) {
            const int v = (int)(8000 * sin(i * 0.0627));
            le((uint32_t)(v & 0xFFFF) | (uint32_t)(-v & 0xFFFF) << 16, 4);
        }
        fclose(f);
    }
    const struct { const char *options; int kind; } encodes[] = {{"-b 128", MPA_INFO_INFO}, {"-V 2", MPA_INFO_XING}};
    for (const auto &e : encodes) {
        const std::string cmd = std::string("/usr/bin/lame --quiet ") + e.options + " '" + wav + "' '" + mp3 + "'";
        ASSERT_EQ(system(cmd.c_str()), 0) << cmd;
        Bytes data;
        FILE *f = fopen(mp3.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        for (int c; (c = fgetc(f)) != EOF;)
            data.push_back((uint8_t)c);
        fclose(f);

        mpa_header first{}, h{};
        int64_t count = 0;
        for (size_t pos = 0; pos + 4 <= data.size(); pos += (size_t)h.bits_in_frame / 8, count++) {
            if (mpa_get_header(&h, data.data() + pos, (int)(data.size() - pos)) < 0 || h.header_offset != 0)
                break;
            if (count == 0)
                first = h;
        }
        mpa_info_frame info;
        ASSERT_TRUE(mpa_parse_info_frame(first, data.data(), data.size(), &info)) << e.options;
        EXPECT_EQ(info.kind, e.kind) << e.options;
        EXPECT_EQ(info.frames, count - 1) << e.options;
        EXPECT_EQ(info.encoder_delay, 576) << e.options;
        EXPECT_EQ(info.frames * 1152 - info.encoder_delay - info.encoder_padding, samples) << e.options;
        EXPECT_EQ(strncmp(info.encoder, "LAME", 4), 0) << info.encoder;
    }
    remove(wav.c_str());
    remove(mp3.c_str());
}

}  // namespace
