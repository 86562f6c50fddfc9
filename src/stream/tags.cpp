// Tag parsing. Everything here reads bytes a stranger wrote: each size a tag
// declares is compared with the bytes that are there before it is used, and
// buffers are only ever as large as the bytes they are made from.
#include "stream/tags.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <unordered_set>

#include "stream/id3_genres.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t be16(const uint8_t *p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }
uint32_t be24(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
}
uint32_t be32(const uint8_t *p) { return static_cast<uint32_t>(p[0]) << 24 | be24(p + 1); }
uint32_t le32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[3]) << 24 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[1]) << 8 | p[0];
}

bool synchsafe_ok(const uint8_t *p) { return ((p[0] | p[1] | p[2] | p[3]) & 0x80) == 0; }
uint32_t synchsafe(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 21 | static_cast<uint32_t>(p[1]) << 14 |
           static_cast<uint32_t>(p[2]) << 7 | p[3];
}

bool iequal(const std::string &a, const char *b)
{
    const size_t n = strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; i++) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// mpa_tag_add looks through the items for each key, which a tag with tens
// of thousands of frames would turn quadratic; the parsers keep an index.
struct TagWriter {
    mpa_tag_set *tags;
    std::unordered_set<std::string> keys;

    explicit TagWriter(mpa_tag_set *t) : tags(t)
    {
        for (const auto &kv : t->items)
            keys.insert(kv.first);
    }
    void add(const std::string &key, std::string value)
    {
        if (value.empty() || !keys.insert(key).second)
            return;
        tags->items.emplace_back(key, std::move(value));
    }
};

// ---- text ----

void put_utf8(std::string &out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

constexpr uint32_t kReplacement = 0xFFFD;

std::string from_latin1(const uint8_t *p, size_t n)
{
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; i++)
        put_utf8(out, p[i]);
    return out;
}

// Valid UTF-8 is copied; each maximal invalid part (a stray byte, a
// sequence cut short, an overlong form, a surrogate) becomes one U+FFFD.
std::string from_utf8(const uint8_t *p, size_t n)
{
    std::string out;
    out.reserve(n);
    size_t i = 0;
    while (i < n) {
        const uint8_t c = p[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
            i++;
            continue;
        }
        if (c < 0xC2 || c > 0xF4) {
            put_utf8(out, kReplacement);
            i++;
            continue;
        }
        const size_t need = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;  // continuation bytes
        uint32_t cp = c & (0x7Fu >> (need + 1));
        // Allowed range of the second byte: E0 and F0 would start overlong forms below it, ED a
        // surrogate and F4 a code point past U+10FFFF above it.
        const uint8_t lo = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
        const uint8_t hi = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
        size_t k = 1;
        for (; k <= need && i + k < n; k++) {
            const uint8_t b = p[i + k];
            if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF))
                break;
            cp = cp << 6 | (b & 0x3F);
        }
        if (k <= need) {
            put_utf8(out, kReplacement);
            i += k;
            continue;
        }
        put_utf8(out, cp);
        i += need + 1;
    }
    return out;
}

// A trailing odd byte is half a unit and is dropped.
std::string from_utf16(const uint8_t *p, size_t n, bool big_endian)
{
    std::string out;
    out.reserve(n);
    const size_t units = n / 2;
    auto unit = [&](size_t i) {
        return big_endian ? static_cast<uint32_t>(p[2 * i]) << 8 | p[2 * i + 1]
                          : static_cast<uint32_t>(p[2 * i + 1]) << 8 | p[2 * i];
    };
    for (size_t i = 0; i < units; i++) {
        const uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
            put_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
            i++;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            put_utf8(out, kReplacement);
        } else {
            put_utf8(out, u);
        }
    }
    return out;
}

void trim_end(std::string &s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.pop_back();
}

std::string join(const std::vector<std::string> &values)
{
    std::string out;
    for (const std::string &v : values) {
        if (!out.empty())
            out += "; ";
        out += v;
    }
    return out;
}

enum : int { kLatin1 = 0, kUtf16 = 1, kUtf16be = 2, kUtf8 = 3 };

// The length of the string at p[0..n) in ID3v2 encoding enc, up to its
// terminator (one zero byte, or two at an even offset for UTF-16), and in
// *next where the string after it starts. Without a terminator the string
// runs to n.
size_t string_end(int enc, const uint8_t *p, size_t n, size_t *next)
{
    if (enc == kUtf16 || enc == kUtf16be) {
        for (size_t i = 0; i + 1 < n; i += 2) {
            if (p[i] == 0 && p[i + 1] == 0) {
                *next = i + 2;
                return i;
            }
        }
    } else if (n > 0) {
        const void *z = memchr(p, 0, n);
        if (z) {
            const size_t i = static_cast<size_t>(static_cast<const uint8_t *>(z) - p);
            *next = i + 1;
            return i;
        }
    }
    *next = n;
    return n;
}

// One string, terminator excluded. Each UTF-16 string carries its own BOM;
// one without takes the byte order of the string before it, little-endian
// for the first, as the writers that leave it out are mostly Windows ones.
std::string decode_string(int enc, const uint8_t *p, size_t n, bool *big_endian)
{
    switch (enc) {
    case kLatin1:
        return from_latin1(p, n);
    case kUtf16:
        if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
            *big_endian = false;
            p += 2, n -= 2;
        } else if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF) {
            *big_endian = true;
            p += 2, n -= 2;
        }
        return from_utf16(p, n, *big_endian);
    case kUtf16be:
        if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF)
            p += 2, n -= 2;
        return from_utf16(p, n, true);
    default:
        if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF)
            p += 3, n -= 3;
        return from_utf8(p, n);
    }
}

// The zero-separated values of a text field (ID3v2.4 allows several),
// each converted and trimmed; empty ones are left out.
std::vector<std::string> text_values(int enc, const uint8_t *p, size_t n, bool big_endian = false)
{
    std::vector<std::string> values;
    size_t pos = 0;
    while (pos < n) {
        size_t next;
        const size_t len = string_end(enc, p + pos, n - pos, &next);
        std::string s = decode_string(enc, p + pos, len, &big_endian);
        trim_end(s);
        if (!s.empty())
            values.push_back(std::move(s));
        pos += next;
    }
    return values;
}

// ---- genres ----

// A genre number of one to three digits, or -1.
int genre_number(const std::string &s)
{
    if (s.empty() || s.size() > 3)
        return -1;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

const char *genre_reference(const std::string &s)
{
    if (s == "RX")
        return "Remix";
    if (s == "CR")
        return "Cover";
    return mpa_id3_genre_name(genre_number(s));
}

// Names compared without case; the index keeps a TCON of many values linear.
struct GenreNames {
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;

    void add(std::string name)
    {
        std::string folded = name;
        for (char &c : folded)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        if (seen.insert(std::move(folded)).second)
            names.push_back(std::move(name));
    }
};

// "(17)", "(17)Rock", "(4)Eurodisco", "17", "RX", "(CR)" or plain text.
// Leading references are resolved to names; the text after them refines
// the genre and is kept unless it only repeats a name. "((" starts text
// that itself begins with a parenthesis.
void resolve_genre(const std::string &v, GenreNames *names)
{
    size_t i = 0;
    while (i < v.size() && v[i] == '(' && !(i + 1 < v.size() && v[i + 1] == '(')) {
        const size_t close = v.find(')', i + 1);
        if (close == std::string::npos)
            break;
        const char *name = genre_reference(v.substr(i + 1, close - i - 1));
        if (!name)
            break;
        names->add(name);
        i = close + 1;
    }
    std::string rest = v.substr(i);
    if (rest.compare(0, 2, "((") == 0)
        rest.erase(0, 1);
    if (const char *name = genre_reference(rest))
        rest = name;
    if (!rest.empty())
        names->add(std::move(rest));
}

// ---- pictures ----

const char *sniff_mime(const uint8_t *p, size_t n)
{
    if (n >= 3 && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF)
        return "image/jpeg";
    if (n >= 4 && p[0] == 0x89 && p[1] == 'P' && p[2] == 'N' && p[3] == 'G')
        return "image/png";
    if (n >= 4 && !memcmp(p, "GIF8", 4))
        return "image/gif";
    return "application/octet-stream";
}

constexpr int kFrontCover = 3;

// Keeps the first picture until a front cover comes, then that one.
void offer_picture(mpa_tag_set *tags, int type, std::string mime, const uint8_t *p, size_t n)
{
    if (n == 0)
        return;
    if (!tags->picture.empty() && (tags->picture_type == kFrontCover || type != kFrontCover))
        return;
    if (mime.find('/') == std::string::npos)  // empty, or "jpg" and the like
        mime = sniff_mime(p, n);
    tags->picture.assign(p, p + n);
    tags->picture_mime = std::move(mime);
    tags->picture_type = type;
}

// ---- ID3v2 ----

bool id3v2_header_ok(const uint8_t *p)
{
    return p[3] >= 2 && p[3] != 0xFF && p[4] != 0xFF && synchsafe_ok(p + 6);
}

bool frame_id_ok(const uint8_t *p, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (!((p[i] >= 'A' && p[i] <= 'Z') || (p[i] >= '0' && p[i] <= '9')))
            return false;
    return true;
}

// Drops the zero byte that unsynchronisation put after each 0xFF.
Bytes unsync_decode(const uint8_t *p, size_t n)
{
    Bytes out;
    out.reserve(n);
    for (size_t i = 0; i < n; i++) {
        out.push_back(p[i]);
        if (p[i] == 0xFF && i + 1 < n && p[i + 1] == 0)
            i++;
    }
    return out;
}

const char *id3_key(const char *id)
{
    static const char *const keys[][2] = {
        {"TIT2", "title"}, {"TT2", "title"}, {"TPE1", "artist"}, {"TP1", "artist"}, {"TALB", "album"},
        {"TAL", "album"},  {"TYER", "date"}, {"TYE", "date"},    {"TDRC", "date"},  {"TRCK", "track"},
        {"TRK", "track"},  {"TCON", "genre"}, {"TCO", "genre"},
    };
    for (const auto &k : keys)
        if (!strcmp(k[0], id))
            return k[1];
    return id;
}

struct Id3Frames {
    TagWriter out;
    bool want_picture;
    std::string comment;        // the first comment without a description
    std::string other_comment;  // else the first with one
};

bool frame_wanted(const Id3Frames &fr, const char *id)
{
    if (id[0] == 'T' || !strcmp(id, "COMM") || !strcmp(id, "COM"))
        return true;
    return fr.want_picture && (!strcmp(id, "APIC") || !strcmp(id, "PIC"));
}

// APIC: encoding, MIME type, picture type, description, data. PIC (2.2)
// has a three-letter image format in place of the MIME type.
void picture_frame(Id3Frames *fr, bool v22, const uint8_t *p, size_t n)
{
    const int enc = p[0];
    if (enc > kUtf8)
        return;  // the description's terminator is unknown, so is where the data starts
    std::string mime;
    size_t i = 1;
    if (v22) {
        if (n < 5)
            return;
        const std::string format(reinterpret_cast<const char *>(p) + 1, 3);
        if (format == "-->")
            return;  // a link to the picture, not the picture
        mime = iequal(format, "JPG") ? "image/jpeg" : iequal(format, "PNG") ? "image/png" : "";
        i = 4;
    } else {
        const void *z = memchr(p + 1, 0, n - 1);
        if (!z)
            return;
        const size_t end = static_cast<size_t>(static_cast<const uint8_t *>(z) - p);
        mime.assign(reinterpret_cast<const char *>(p) + 1, end - 1);
        if (mime == "-->")
            return;
        i = end + 1;
    }
    if (i >= n)
        return;
    const int type = p[i++];
    size_t next;
    string_end(enc, p + i, n - i, &next);
    i += next;
    offer_picture(fr->out.tags, type, std::move(mime), p + i, n - i);
}

void comment_frame(Id3Frames *fr, const uint8_t *p, size_t n)
{
    const int enc = p[0];
    if (n < 4)
        return;
    size_t next;
    const size_t len = string_end(enc, p + 4, n - 4, &next);  // after the 3-byte language
    bool big_endian = false;
    std::string desc = decode_string(enc, p + 4, len, &big_endian);
    trim_end(desc);
    std::string text = join(text_values(enc, p + 4 + next, n - 4 - next, big_endian));
    if (text.empty())
        return;
    if (desc.empty()) {
        if (fr->comment.empty())
            fr->comment = std::move(text);
    } else if (fr->other_comment.empty() && desc.compare(0, 4, "iTun") != 0) {
        // iTunNORM, iTunSMPB and the like hold numbers for the player, not a comment.
        fr->other_comment = std::move(text);
    }
}

void handle_frame(Id3Frames *fr, const char *id, const uint8_t *p, size_t n)
{
    if (n == 0)
        return;
    const int enc = p[0];
    if (!strcmp(id, "APIC") || !strcmp(id, "PIC")) {
        picture_frame(fr, id[3] == 0, p, n);
        return;
    }
    if (enc > kUtf8)
        return;
    if (!strcmp(id, "COMM") || !strcmp(id, "COM")) {
        comment_frame(fr, p, n);
        return;
    }
    if (id[0] != 'T')
        return;
    if (!strcmp(id, "TXXX") || !strcmp(id, "TXX")) {
        size_t next;
        const size_t len = string_end(enc, p + 1, n - 1, &next);
        bool big_endian = false;
        std::string desc = decode_string(enc, p + 1, len, &big_endian);
        trim_end(desc);
        fr->out.add("TXXX:" + desc, join(text_values(enc, p + 1 + next, n - 1 - next, big_endian)));
        return;
    }
    const std::vector<std::string> values = text_values(enc, p + 1, n - 1);
    const char *key = id3_key(id);
    if (!strcmp(key, "genre")) {
        GenreNames names;
        for (const std::string &v : values)
            resolve_genre(v, &names);
        fr->out.add(key, join(names.names));
    } else {
        fr->out.add(key, join(values));
    }
}

// The frame flags of 2.3 and 2.4, then the frame.
void frame_payload(Id3Frames *fr, int major, bool tag_unsync, const char *id, uint32_t flags,
                   const uint8_t *p, size_t n)
{
    if (!frame_wanted(*fr, id))
        return;
    Bytes plain;
    size_t skip = 0;
    if (major == 3) {
        if (flags & 0x00C0)
            return;  // compressed or encrypted
        if (flags & 0x0020)
            skip += 1;  // group id
    } else if (major == 4) {
        if (flags & 0x000C)
            return;  // compressed or encrypted
        // Unsynchronisation covers all the frame's data, the group id and
        // data length in front of it included.
        if ((flags & 0x0002) || tag_unsync) {
            plain = unsync_decode(p, n);
            p = plain.data();
            n = plain.size();
        }
        if (flags & 0x0040)
            skip += 1;  // group id
        if (flags & 0x0001)
            skip += 4;  // data length indicator
    }
    skip = std::min(skip, n);
    handle_frame(fr, id, p + skip, n - skip);
}

// Whether a 2.4 frame ending at b[at] ends on what may follow a frame: the
// end of the tag, another frame's id, or padding to the end. Past the
// bytes at hand but within the declared body it cannot be told, and counts.
bool lands_well(const uint8_t *b, size_t n, size_t declared_n, size_t at)
{
    if (at >= n)
        return at <= declared_n;
    if (at + 4 <= n && frame_id_ok(b + at, 4))
        return true;
    for (size_t i = at; i < n; i++)
        if (b[i])
            return false;
    return true;
}

// 2.4 frame sizes are synchsafe, but iTunes long wrote plain ones. The plain
// reading is taken when the synchsafe one does not end the frame on
// something that may follow it and the plain one does.
size_t v24_frame_size(const uint8_t *b, size_t n, size_t declared_n, size_t pos)
{
    const uint8_t *s = b + pos + 4;
    const size_t plain = be32(s);
    if (!synchsafe_ok(s))
        return plain;
    const size_t safe = synchsafe(s);
    if (safe == plain || lands_well(b, n, declared_n, pos + 10 + safe))
        return safe;
    if (lands_well(b, n, declared_n, pos + 10 + plain))
        return plain;
    return safe;
}

// The frames in b[0..n). declared_n is how long the frame area was declared
// (n or more): a frame reaching past n but not past declared_n is cut with
// the tag, which has been counted already.
void parse_frames(Id3Frames *fr, int major, bool tag_unsync, const uint8_t *b, size_t n, size_t declared_n)
{
    const size_t header = major == 2 ? 6 : 10;
    const size_t id_len = major == 2 ? 3 : 4;
    size_t pos = 0;
    while (n - pos >= header && b[pos] != 0 && frame_id_ok(b + pos, id_len)) {
        size_t size = major == 2   ? be24(b + pos + 3)
                      : major == 3 ? be32(b + pos + 4)
                                   : v24_frame_size(b, n, declared_n, pos);
        const uint32_t flags = major == 2 ? 0 : be16(b + pos + 8);
        const size_t start = pos + header;
        if (size > n - start) {
            if (n == declared_n || size > declared_n - start)
                fr->out.tags->clamped++;
            size = n - start;
        }
        char id[5] = {};
        memcpy(id, b + pos, id_len);
        frame_payload(fr, major, tag_unsync, id, flags, b + start, size);
        pos = start + size;
    }
}

// ---- ID3v1 ----

// Old writers leave garbage after the terminating zero.
std::string v1_field(const uint8_t *p, size_t n)
{
    const void *z = memchr(p, 0, n);
    if (z)
        n = static_cast<size_t>(static_cast<const uint8_t *>(z) - p);
    std::string s = from_latin1(p, n);
    trim_end(s);
    return s;
}

void parse_id3v1(const uint8_t *t, mpa_tag_set *tags)
{
    // 1.1 took the last two comment bytes for a zero and the track number.
    const bool v11 = t[125] == 0 && t[126] != 0;
    tags->kinds.push_back(v11 ? "ID3v1.1" : "ID3v1");
    TagWriter out(tags);
    out.add("title", v1_field(t + 3, 30));
    out.add("artist", v1_field(t + 33, 30));
    out.add("album", v1_field(t + 63, 30));
    out.add("date", v1_field(t + 93, 4));
    out.add("comment", v1_field(t + 97, v11 ? 28 : 30));
    if (v11)
        out.add("track", std::to_string(t[126]));
    if (const char *genre = mpa_id3_genre_name(t[127]))
        out.add("genre", genre);
}

// ---- APE ----

constexpr size_t kApeFooterBytes = 32;

struct ApeFooter {
    uint32_t version, size, count, flags;
};

bool ape_footer(const uint8_t *p, ApeFooter *f)
{
    if (memcmp(p, "APETAGEX", 8) != 0)
        return false;
    f->version = le32(p + 8);
    f->size = le32(p + 12);  // items and footer
    f->count = le32(p + 16);
    f->flags = f->version == 2000 ? le32(p + 20) : 0;  // APEv1 has no flags
    if (f->version != 1000 && f->version != 2000)
        return false;
    if (f->size < kApeFooterBytes || (f->flags & 1u << 29))  // bit 29: this is a header
        return false;
    return true;
}

int64_t ape_length(const ApeFooter &f)
{
    return static_cast<int64_t>(f.size) + ((f.flags & 1u << 31) ? static_cast<int64_t>(kApeFooterBytes) : 0);
}

const char *ape_key(const std::string &key)
{
    static const char *const keys[][2] = {
        {"Title", "title"}, {"Artist", "artist"}, {"Album", "album"},     {"Year", "date"},
        {"Track", "track"}, {"Genre", "genre"},   {"Comment", "comment"},
    };
    for (const auto &k : keys)
        if (iequal(key, k[0]))
            return k[1];
    return nullptr;
}

void ape_item(TagWriter *out, bool want_picture, const std::string &key, int type, const uint8_t *p, size_t n)
{
    if (key.size() < 2 || key.size() > 255)
        return;
    for (char c : key)
        if (c < 0x20 || c > 0x7E)
            return;
    if (type == 1) {
        // Binary: a cover is its file name, a zero, then the image.
        if (!want_picture || !iequal(key, "Cover Art (Front)") || n == 0)
            return;
        const void *z = memchr(p, 0, n);
        if (!z)
            return;
        const size_t start = static_cast<size_t>(static_cast<const uint8_t *>(z) - p) + 1;
        offer_picture(out->tags, kFrontCover, "", p + start, n - start);
        return;
    }
    if (type == 3)
        return;  // reserved
    // UTF-8 text, or a locator (a URL, also UTF-8); values are zero-separated.
    const char *mapped = ape_key(key);
    out->add(mapped ? std::string(mapped) : key, join(text_values(kUtf8, p, n)));
}

// The items in p[0..n).
void parse_ape(const uint8_t *p, size_t n, const ApeFooter &f, bool want_picture, mpa_tag_set *tags)
{
    TagWriter out(tags);
    size_t pos = 0;
    for (uint32_t i = 0; i < f.count && n - pos > 8; i++) {
        const size_t value_size = le32(p + pos);
        const uint32_t flags = le32(p + pos + 4);
        const uint8_t *key = p + pos + 8;
        const void *z = memchr(key, 0, n - pos - 8);
        if (!z) {
            tags->clamped++;  // the key runs past the items
            break;
        }
        const size_t key_len = static_cast<size_t>(static_cast<const uint8_t *>(z) - key);
        const size_t start = pos + 8 + key_len + 1;
        size_t size = value_size;
        if (size > n - start) {
            tags->clamped++;
            size = n - start;
        }
        const int type = f.version == 2000 ? static_cast<int>(flags >> 1 & 3) : 0;
        ape_item(&out, want_picture, std::string(reinterpret_cast<const char *>(key), key_len), type,
                 p + start, size);
        pos = start + size;
    }
}

// ---- Lyrics3v2 ----

constexpr size_t kLyricsBegin = 11;   // "LYRICSBEGIN"
constexpr size_t kLyricsEnd = 6 + 9;  // size digits and "LYRICS200"

bool digits(const uint8_t *p, size_t n, size_t *value)
{
    size_t v = 0;
    for (size_t i = 0; i < n; i++) {
        if (p[i] < '0' || p[i] > '9')
            return false;
        v = v * 10 + (p[i] - '0');
    }
    *value = v;
    return true;
}

// The length of the Lyrics3v2 tag ending at d[end], or 0. Its size counts
// from "LYRICSBEGIN" to the size digits.
int64_t lyrics3_length(const uint8_t *d, size_t end)
{
    size_t size;
    if (end < kLyricsEnd || memcmp(d + end - 9, "LYRICS200", 9) != 0 ||
        !digits(d + end - kLyricsEnd, 6, &size) || size < kLyricsBegin)
        return 0;
    const size_t n = size + kLyricsEnd;
    if (n <= end && memcmp(d + end - n, "LYRICSBEGIN", kLyricsBegin) != 0)
        return 0;
    return static_cast<int64_t>(n);
}

// Fields: a three-letter id, five size digits, the text.
void parse_lyrics3(const uint8_t *p, size_t n, mpa_tag_set *tags)
{
    static const char *const keys[][2] = {
        {"LYR", "lyrics"}, {"ETT", "title"}, {"EAR", "artist"}, {"EAL", "album"}, {"INF", "comment"},
    };
    TagWriter out(tags);
    size_t pos = 0;
    while (n - pos >= 8) {
        size_t size;
        if (!(p[pos] >= 'A' && p[pos] <= 'Z' && frame_id_ok(p + pos, 3)) || !digits(p + pos + 3, 5, &size))
            break;
        const size_t start = pos + 8;
        if (size > n - start) {
            tags->clamped++;
            size = n - start;
        }
        for (const auto &k : keys) {
            if (!memcmp(p + pos, k[0], 3)) {
                std::string s = from_latin1(p + start, size);
                trim_end(s);
                out.add(k[1], std::move(s));
            }
        }
        pos = start + size;
    }
}

void merge(TagWriter *out, const mpa_tag_set &src)
{
    mpa_tag_set *dst = out->tags;
    for (const auto &kv : src.items)
        out->add(kv.first, kv.second);
    dst->kinds.insert(dst->kinds.end(), src.kinds.begin(), src.kinds.end());
    dst->clamped += src.clamped;
    offer_picture(dst, src.picture_type, src.picture_mime, src.picture.data(), src.picture.size());
}

}  // namespace

void mpa_tag_add(mpa_tag_set *tags, const std::string &key, const std::string &value)
{
    if (value.empty())
        return;
    for (const auto &kv : tags->items)
        if (kv.first == key)
            return;
    tags->items.emplace_back(key, value);
}

int64_t mpa_id3v2_length(const uint8_t *d, size_t len)
{
    if (!d || len < MPA_ID3V2_HEADER_BYTES || memcmp(d, "ID3", 3) != 0 || !id3v2_header_ok(d))
        return 0;
    const bool footer = d[3] >= 4 && (d[5] & 0x10);
    return static_cast<int64_t>(MPA_ID3V2_HEADER_BYTES) + synchsafe(d + 6) + (footer ? 10 : 0);
}

int64_t mpa_id3v2_footer_length(const uint8_t *d, size_t len)
{
    if (!d || len < 10)
        return 0;
    const uint8_t *f = d + len - 10;
    if (memcmp(f, "3DI", 3) != 0 || !id3v2_header_ok(f))
        return 0;
    return static_cast<int64_t>(synchsafe(f + 6)) + 20;
}

void mpa_id3v2_parse(const uint8_t *d, size_t len, bool want_picture, mpa_tag_set *tags)
{
    const int64_t declared = mpa_id3v2_length(d, len);
    if (declared == 0)
        return;
    const int major = d[3];
    if (major > 4)
        return;  // a later version may have changed anything past the header
    tags->kinds.push_back(std::string("ID3v2.") + static_cast<char>('0' + major));
    const bool cut = static_cast<uint64_t>(declared) > len;
    if (cut)
        tags->clamped++;
    const uint8_t flags = d[5];
    if (major == 2 && (flags & 0x40))
        return;  // 2.2 flags a compression it never defined
    size_t declared_n = synchsafe(d + 6);
    const uint8_t *b = d + MPA_ID3V2_HEADER_BYTES;
    size_t n = std::min(len - MPA_ID3V2_HEADER_BYTES, declared_n);
    Bytes plain;
    if (major < 4 && (flags & 0x80)) {
        // The whole body was unsynchronised, and frame sizes count the
        // decoded bytes; how many the declared body decodes to is known only
        // when it is all there.
        plain = unsync_decode(b, n);
        b = plain.data();
        n = plain.size();
        declared_n = cut ? SIZE_MAX : n;
    }
    if (major >= 3 && (flags & 0x40)) {
        // Extended header: 2.3 gives its size without the 4 size bytes, 2.4
        // as a synchsafe number with them.
        size_t skip;
        if (n < 4) {
            skip = 4;
        } else if (major == 3) {
            skip = static_cast<size_t>(be32(b)) + 4;
        } else {
            if (!synchsafe_ok(b) || synchsafe(b) < 6)
                return;  // nothing after it can be found
            skip = synchsafe(b);
        }
        if (skip > n) {
            if (!cut || skip > declared_n)
                tags->clamped++;
            return;
        }
        b += skip;
        n -= skip;
        declared_n -= std::min(declared_n, skip);
    }
    Id3Frames fr{TagWriter(tags), want_picture, {}, {}};
    parse_frames(&fr, major, major == 4 && (flags & 0x80), b, n, std::max(n, declared_n));
    fr.out.add("comment", fr.comment.empty() ? fr.other_comment : fr.comment);
}

int64_t mpa_trailing_tags(const uint8_t *d, size_t len, int64_t before_bytes, bool want_picture,
                          mpa_tag_set *tags)
{
    if (!d)
        len = 0;
    before_bytes = std::max<int64_t>(before_bytes, 0);
    // Each kind is gathered in a set of its own and merged afterwards, so
    // that which one gives a key depends on the kind, not on the order the
    // tags happen to be in. Each tag is parsed into a fresh set first: a
    // parser indexes the keys of the set it adds to, and a file ending in
    // thousands of tiny tags must not make that quadratic.
    struct Gathered {
        mpa_tag_set set;
        TagWriter out{&set};
    };
    Gathered ape, lyrics, id3, v1;
    size_t end = len;  // the tags found take d[end..len)
    int64_t reached = -1;
    if (end >= 128 && !memcmp(d + end - 128, "TAG", 3)) {
        parse_id3v1(d + end - 128, &v1.set);
        end -= 128;
        // Enhanced ID3v1: its longer fields are not read, only stepped over.
        if (end >= 227 && !memcmp(d + end - 227, "TAG+", 4))
            end -= 227;
    }
    for (;;) {
        ApeFooter f{};
        Gathered *into;
        int64_t n;
        std::string kind;
        if (end >= kApeFooterBytes && ape_footer(d + end - kApeFooterBytes, &f)) {
            into = &ape;
            n = ape_length(f);
            kind = f.version == 2000 ? "APEv2" : "APEv1";
        } else if ((n = lyrics3_length(d, end)) > 0) {
            into = &lyrics;
            kind = "Lyrics3v2";
        } else if ((n = mpa_id3v2_footer_length(d, end)) > 0) {
            into = &id3;
            if (static_cast<uint64_t>(n) <= end && mpa_id3v2_length(d + end - n, static_cast<size_t>(n)) != n)
                break;  // a footer without its header
            kind = std::string("ID3v2.") + static_cast<char>('0' + std::min<int>(d[end - 7], 9));
        } else {
            break;
        }
        if (static_cast<uint64_t>(n) > end) {
            into->set.kinds.push_back(kind);
            into->set.clamped++;
            reached = std::min(before_bytes + static_cast<int64_t>(len), static_cast<int64_t>(len - end) + n);
            break;
        }
        const uint8_t *t = d + end - n;
        mpa_tag_set one;
        if (into == &ape) {
            one.kinds.push_back(kind);
            const size_t items = static_cast<size_t>(f.size) - kApeFooterBytes;
            parse_ape(d + end - kApeFooterBytes - items, items, f, want_picture, &one);
        } else if (into == &lyrics) {
            one.kinds.push_back(kind);
            parse_lyrics3(t + kLyricsBegin, static_cast<size_t>(n) - kLyricsBegin - kLyricsEnd, &one);
        } else {
            mpa_id3v2_parse(t, static_cast<size_t>(n), want_picture, &one);
        }
        merge(&into->out, one);
        end -= static_cast<size_t>(n);
    }
    TagWriter out(tags);
    for (const Gathered *g : {&ape, &lyrics, &id3, &v1})
        merge(&out, g->set);
    return reached >= 0 ? reached : static_cast<int64_t>(len - end);
}
