// Tag parsing: crafted ID3v2, ID3v1, APE and Lyrics3v2 tags, then the same
// tags declared larger than they are, cut short and damaged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream/tags.h"

namespace {

using namespace std::string_literals;
using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes B(const std::string &s) { return Bytes(s.begin(), s.end()); }
Bytes num(uint32_t v, int n)  // big-endian
{
    Bytes b;
    for (int i = n - 1; i >= 0; i--)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return b;
}
Bytes le32(uint32_t v)
{
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}
Bytes ss(uint32_t v)
{
    return {static_cast<uint8_t>(v >> 21 & 127), static_cast<uint8_t>(v >> 14 & 127),
            static_cast<uint8_t>(v >> 7 & 127), static_cast<uint8_t>(v & 127)};
}
Bytes u16(const std::u16string &s, bool big_endian)
{
    Bytes b;
    for (char16_t c : s)
        b = b + (big_endian ? num(c, 2) : Bytes{static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
    return b;
}
Bytes unsync(const Bytes &in)
{
    Bytes out;
    for (uint8_t x : in) {
        out.push_back(x);
        if (x == 0xFF)
            out.push_back(0);
    }
    return out;
}
Bytes text(int enc, const Bytes &s) { return Bytes{static_cast<uint8_t>(enc)} + s; }
Bytes text(int enc, const std::string &s) { return text(enc, B(s)); }

Bytes frame(int major, const std::string &id, const Bytes &data, uint16_t flags = 0)
{
    const uint32_t n = static_cast<uint32_t>(data.size());
    if (major == 2)
        return B(id) + num(n, 3) + data;
    return B(id) + (major == 4 ? ss(n) : num(n, 4)) + num(flags, 2) + data;
}
Bytes id3v2(int major, uint8_t flags, const Bytes &body)
{
    const Bytes rest = Bytes{static_cast<uint8_t>(major), 0, flags} + ss(static_cast<uint32_t>(body.size()));
    return B("ID3") + rest + body + ((flags & 0x10) ? B("3DI") + rest : Bytes{});
}
Bytes ape_item(const std::string &key, const Bytes &value, uint32_t flags = 0)
{
    return le32(static_cast<uint32_t>(value.size())) + le32(flags) + B(key) + Bytes{0} + value;
}
Bytes ape(const std::vector<Bytes> &items, bool header, uint32_t version = 2000)
{
    Bytes body;
    for (const Bytes &i : items)
        body = body + i;
    auto block = [&](uint32_t flags) {
        return B("APETAGEX") + le32(version) + le32(static_cast<uint32_t>(body.size()) + 32) +
               le32(static_cast<uint32_t>(items.size())) + le32(flags) + Bytes(8, 0);
    };
    return (header ? block(0xA0000000u) : Bytes{}) + body + block(header ? 0x80000000u : 0);
}
std::string digits(size_t v, int n)
{
    std::string s = std::to_string(v);
    return std::string(n - s.size(), '0') + s;
}
Bytes lyrics3(const std::vector<std::pair<std::string, std::string>> &fields)
{
    std::string body = "LYRICSBEGIN";
    for (const auto &f : fields)
        body += f.first + digits(f.second.size(), 5) + f.second;
    return B(body + digits(body.size(), 6) + "LYRICS200");
}
Bytes id3v1(const std::string &title, const std::string &year, const std::string &comment, int track,
            int genre)
{
    Bytes t = B("TAG") + Bytes(125, 0);
    std::copy(title.begin(), title.end(), t.begin() + 3);
    std::copy(year.begin(), year.end(), t.begin() + 93);
    std::copy(comment.begin(), comment.end(), t.begin() + 97);
    if (track)
        t[126] = static_cast<uint8_t>(track);
    t[127] = static_cast<uint8_t>(genre);
    return t;
}

const Bytes kJpeg = {0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3};
const Bytes kPng = {0x89, 'P', 'N', 'G', 4, 5};
const Bytes kAudio(100, 0x55);  // before the trailing tags

struct Case {
    const char *name;
    Bytes data;
    bool trailing;  // else an ID3v2 tag at the front
    std::vector<std::string> kinds;
    std::vector<std::pair<std::string, std::string>> items;  // "" = absent
    std::string mime;                                         // of the picture kept, "" = none
};

std::vector<Case> cases()
{
    const Bytes plain300(299, 'x');  // an iTunes size of 300 reads as synchsafe 172
    return {
        {"v2.2",
         id3v2(2, 0,
               frame(2, "TT2", text(0, "Caf\xE9")) + frame(2, "TCO", text(0, "(17)")) +
                   frame(2, "TP2", text(0, "Band")) + frame(2, "COM", text(0, "eng\0Hi"s)) +
                   frame(2, "PIC", text(0, "PNG\x03\0"s) + kPng) + Bytes(20, 0)),
         false,
         {"ID3v2.2"},
         {{"title", "Caf\xC3\xA9"}, {"genre", "Rock"}, {"TP2", "Band"}, {"comment", "Hi"}},
         "image/png"},
        {"v2.3 encodings, flags, comments and pictures",
         id3v2(3, 0,
               frame(3, "TIT2", text(0, "\0\0\0\x10zzz"s), 0x0080) +
                   frame(3, "TIT2", text(1, Bytes{0xFF, 0xFE} + u16(u"T\u00EF\U0001F600", false))) +
                   frame(3, "TPE1", text(0, "secret"), 0x0040) + frame(3, "TPE1", text(0, "Artist")) +
                   frame(3, "TALB", Bytes{7} + text(0, "Album"), 0x0020) +
                   frame(3, "TCON", text(0, "(17)Rock")) + frame(3, "TRCK", text(0, "3/12")) +
                   frame(3, "COMM", text(0, "engNote\0described"s)) +
                   frame(3, "COMM", text(0, "eng\0Nice  "s)) + frame(3, "TXXX", text(0, "MOOD\0Calm"s)) +
                   frame(3, "APIC", text(0, "image/png\0\x00\0"s) + kPng) +
                   frame(3, "APIC",
                         text(0, "\0\x03"
                                 "cover\0"s) +
                             kJpeg)),
         false,
         {"ID3v2.3"},
         {{"title", "T\xC3\xAF\xF0\x9F\x98\x80"},
          {"artist", "Artist"},
          {"album", "Album"},
          {"genre", "Rock"},
          {"track", "3/12"},
          {"comment", "Nice"},
          {"TXXX:MOOD", "Calm"}},
         "image/jpeg"},
        {"v2.3 unsynchronised, extended header",
         id3v2(3, 0xC0,
               unsync(num(6, 4) + Bytes(6, 0) +
                      frame(3, "TIT2",
                            text(0, "a\xFF\xE0"
                                    "b")))),
         false,
         {"ID3v2.3"},
         {{"title", "a\xC3\xBF\xC3\xA0"
                    "b"}},
         ""},
        {"v2.4 frame unsync, data length, extended header, footer",
         id3v2(4, 0x50,
               ss(6) + Bytes{1, 0} + frame(4, "TIT2", unsync(ss(4) + text(0, "x\xFFy")), 0x0003) +
                   frame(4, "TPE1", text(3, "A\0B\0"s)) +
                   frame(4, "TALB", text(2, u16(u"\u00C5lbum", true))) + frame(4, "TDRC", text(0, "2024")) +
                   frame(4, "TCON", text(0, "17\0(CR)\0Rock"s)) + frame(4, "TXXX", text(3, "K\0V"s)) +
                   Bytes(10, 0)),
         false,
         {"ID3v2.4"},
         {{"title", "x\xC3\xBFy"},
          {"artist", "A; B"},
          {"album", "\xC3\x85lbum"},
          {"date", "2024"},
          {"genre", "Rock; Cover"},
          {"TXXX:K", "V"}},
         ""},
        {"v2.4 tag unsync, plain sizes",
         id3v2(4, 0x80,
               B("TIT2") + num(300, 4) + Bytes{0, 0} + text(0, plain300) +
                   frame(4, "TPE1", unsync(text(0, "\xFF\xFF")))),
         false,
         {"ID3v2.4"},
         {{"title", std::string(299, 'x')}, {"artist", "\xC3\xBF\xC3\xBF"}},
         ""},
        {"APEv2, Lyrics3v2, appended ID3v2, ID3v1.1",
         kAudio +
             ape({ape_item("TITLE", B("Ape Title")), ape_item("Custom Key", B("One\0Two"s)),
                  ape_item("Cover Art (Front)", B("c.jpg\0"s) + kJpeg, 2)},
                 true) +
             lyrics3({{"IND", "10"}, {"LYR", "la la"}, {"EAR", "Lyr Artist"}}) +
             id3v2(4, 0x10, frame(4, "TALB", text(0, "Id3 Album")) + frame(4, "TIT2", text(0, "Id3 Title"))) +
             id3v1("V1 Title", "1999", "v1", 7, 17),
         true,
         {"APEv2", "Lyrics3v2", "ID3v2.4", "ID3v1.1"},
         {{"title", "Ape Title"},
          {"Custom Key", "One; Two"},
          {"lyrics", "la la"},
          {"artist", "Lyr Artist"},
          {"album", "Id3 Album"},
          {"date", "1999"},
          {"track", "7"},
          {"genre", "Rock"},
          {"comment", "v1"}},
         "image/jpeg"},
        {"APEv2 without header, ID3v1",
         kAudio + ape({ape_item("Artist", B("Ape Artist")), ape_item("Year", B("2001"))}, false) +
             id3v1("V1", "1999", std::string(30, 'c'), 0, 255),
         true,
         {"APEv2", "ID3v1"},
         {{"artist", "Ape Artist"},
          {"date", "2001"},
          {"comment", std::string(30, 'c')},
          {"track", ""},
          {"genre", ""}},
         ""},
        {"APEv1",
         kAudio + ape({ape_item("Genre", B("Jazz"))}, false, 1000),
         true,
         {"APEv1"},
         {{"genre", "Jazz"}},
         ""},
    };
}

// value "" or null: key absent.
void expect_item(const mpa_tag_set &t, const std::string &key, const char *value)
{
    for (const auto &kv : t.items) {
        if (kv.first == key) {
            EXPECT_EQ(kv.second, value ? value : "(absent)") << key;
            return;
        }
    }
    EXPECT_TRUE(!value || !*value) << key << " missing";
}

// Front tags are parsed as the stream layer does, trailing ones from the end.
int64_t parse(const Bytes &d, bool trailing, int64_t before, mpa_tag_set *t)
{
    if (trailing)
        return mpa_trailing_tags(d.data(), d.size(), before, true, t);
    mpa_id3v2_parse(d.data(), d.size(), true, t);
    return 0;
}

TEST(Tags, CraftedTagsParse)
{
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.name);
        mpa_tag_set t;
        const int64_t taken = parse(c.data, c.trailing, 0, &t);
        if (c.trailing) {
            EXPECT_EQ(taken, static_cast<int64_t>(c.data.size() - kAudio.size()));
        } else {
            EXPECT_EQ(mpa_id3v2_length(c.data.data(), c.data.size()), static_cast<int64_t>(c.data.size()));
        }
        EXPECT_EQ(t.kinds, c.kinds);
        EXPECT_EQ(t.clamped, 0);
        for (const auto &kv : c.items)
            expect_item(t, kv.first, kv.second.c_str());
        EXPECT_EQ(t.picture_mime, c.mime);
        if (!c.mime.empty()) {
            EXPECT_EQ(t.picture, c.mime == "image/png" ? kPng : kJpeg);
        }
    }
}

TEST(Tags, DeclaredSizesAreClampedAndDamageStaysInBounds)
{
    const Bytes v23 = id3v2(3, 0, frame(3, "TIT2", text(0, "Title")));
    const Bytes v24_footer = id3v2(4, 0x10, frame(4, "TIT2", text(0, "T")));
    Bytes bad_version = v23, bad_revision = v23, bad_size = v23;
    bad_version[3] = 0xFF, bad_revision[4] = 0xFF, bad_size[8] = 0x80;
    EXPECT_EQ(mpa_id3v2_length(v23.data(), v23.size()), static_cast<int64_t>(v23.size()));
    EXPECT_EQ(mpa_id3v2_length(v24_footer.data(), 10), static_cast<int64_t>(v24_footer.size()));
    EXPECT_EQ(mpa_id3v2_footer_length(v24_footer.data(), v24_footer.size()),
              static_cast<int64_t>(v24_footer.size()));
    for (const Bytes *b : {&bad_version, &bad_revision, &bad_size})
        EXPECT_EQ(mpa_id3v2_length(b->data(), b->size()), 0);

    struct Clamp {
        const char *name;
        Bytes data;
        bool trailing;
        int64_t before, taken;  // bytes before d; what the trailing tags take
        const char *title;      // as far as it was parsed
    };
    const Bytes long_frame = id3v2(3, 0, B("TIT2") + num(1000, 4) + Bytes{0, 0} + text(0, "Cut"));
    const Bytes long_tag = id3v2(3, 0, frame(3, "TIT2", text(0, "Whole")) + Bytes(2000, 0));
    const Bytes ape_long =
        ape({ape_item("Title", B("Ape")), le32(500) + le32(0) + B("Comment") + Bytes{0} + B("xy")}, false);
    Bytes huge_ape = ape({ape_item("Title", B("Never"))}, false);
    huge_ape[huge_ape.size() - 18] = 0x10;  // size += 1 MiB
    const Clamp clamps[] = {
        {"frame past its tag", long_frame, false, 0, 0, "Cut"},
        {"tag past the data", Bytes(long_tag.begin(), long_tag.begin() + 40), false, 0, 0, "Whole"},
        {"APE item past its tag", kAudio + ape_long, true, 0, static_cast<int64_t>(ape_long.size()), "Ape"},
        {"APE tag before the data", huge_ape, true, 500, 500 + static_cast<int64_t>(huge_ape.size()),
         nullptr},
        {"APE tag before the file", huge_ape, true, 0, static_cast<int64_t>(huge_ape.size()), nullptr},
        {"Lyrics3 field past its tag", B("LYRICSBEGINETT00009Lyr") + B("000022LYRICS200"), true, 0, 37,
         "Lyr"},
    };
    for (const Clamp &c : clamps) {
        SCOPED_TRACE(c.name);
        mpa_tag_set t;
        EXPECT_EQ(parse(c.data, c.trailing, c.before, &t), c.taken);
        EXPECT_EQ(t.clamped, 1);
        expect_item(t, "title", c.title);
    }

    // Every cut and every damaged byte of the crafted tags, each parsed from
    // a buffer of exactly its size so that the sanitizer sees any read past
    // it. What is kept is bounded by the input, whatever the sizes declare.
    auto check = [](const Bytes &d) {
        for (bool trailing : {false, true}) {
            mpa_tag_set t;
            parse(d, trailing, 1 << 20, &t);
            size_t kept = t.picture.size();
            for (const auto &kv : t.items)
                kept += kv.first.size() + kv.second.size();
            ASSERT_LE(kept, 4 * d.size());
        }
    };
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.name);
        for (size_t n = 0; n <= c.data.size(); n++)
            check(c.trailing ? Bytes(c.data.end() - n, c.data.end())
                             : Bytes(c.data.begin(), c.data.begin() + n));
        Bytes d = c.data;
        for (size_t i = 0; i < d.size(); i++) {
            for (uint8_t flip : {0x80, 0xFF}) {
                d[i] ^= flip;
                check(d);
                d[i] ^= flip;
            }
        }
    }
}

}  // namespace
