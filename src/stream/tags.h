// Metadata blocks around an MPEG audio stream: ID3v2 (2.2, 2.3, 2.4) in
// front or appended at the end, APEv1/v2, Lyrics3v2 and ID3v1/1.1 behind.
// Parsed into UTF-8 key/value pairs. Every size a tag declares is checked
// against the bytes there are: one that reaches past them is clamped and
// counted, and never sizes a buffer.
#ifndef ROVAZ_STREAM_TAGS_H
#define ROVAZ_STREAM_TAGS_H

#include <cstddef>
#include <cstdint>

#include <string>
#include <utility>
#include <vector>

struct mpa_tag_set {
    // "title", "artist", "album", "date", "track", "genre", "comment", then
    // other text frames by id ("TPE2", "TXXX:description", APE keys as
    // given). A key is kept once: the first source to give it wins.
    std::vector<std::pair<std::string, std::string>> items;
    std::vector<uint8_t> picture;  // only when asked for; front cover first
    std::string picture_mime;
    int32_t picture_type = -1;     // ID3v2 picture type of the kept picture
    int32_t clamped = 0;           // declared sizes that reached past the data
    std::vector<std::string> kinds; // "ID3v2.3", "APEv2", "Lyrics3v2", "ID3v1.1", ... in the order parsed
};

// Adds key = value unless key is there already or value is empty.
void mpa_tag_add(mpa_tag_set *tags, const std::string &key, const std::string &value);

// Bytes of ID3v2 header. The header alone tells the tag's declared length.
constexpr size_t MPA_ID3V2_HEADER_BYTES = 10;

// The declared length (header, body, footer) of an ID3v2 tag whose header
// starts at d[0], from its first 10 bytes; 0 when d[0..len) does not start
// with a valid ID3v2 header.
int64_t mpa_id3v2_length(const uint8_t *d, size_t len);

// Parses the ID3v2 tag starting at d[0]. len is what is at hand, which may be
// less than the declared length (a tag cut by the end of the data, or larger
// than the caller keeps): the tag is parsed as far as it goes and counted as
// clamped when cut. want_picture keeps the first front cover (else the first
// picture). Compressed and encrypted frames are skipped.
void mpa_id3v2_parse(const uint8_t *d, size_t len, bool want_picture, mpa_tag_set *tags);

// The declared length of an ID3v2 tag whose footer ("3DI") ends at d[len]
// (a tag appended at the end of a file), or 0.
int64_t mpa_id3v2_footer_length(const uint8_t *d, size_t len);

// The tags at the end of a file, d[0..len) being its last len bytes and
// before_bytes how many bytes of the file precede d. Parses an ID3v1 tag,
// then before it any number of APEv1/v2 (with or without header), Lyrics3v2
// and appended ID3v2 tags, last first, into tags, and returns how many bytes
// at the end they take. A tag reaching before d (declared longer than len)
// is trimmed by its declared length, clamped to before_bytes + len, and
// counted as clamped; its items are not parsed.
int64_t mpa_trailing_tags(const uint8_t *d, size_t len, int64_t before_bytes, bool want_picture,
                          mpa_tag_set *tags);

#endif
