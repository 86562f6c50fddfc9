// Data that is not MPEG audio must not be taken for it: a player handed a
// FLAC, a picture or random bytes should say "no stream", not play noise.
// Sync-like words occur by chance in such data (and JPEG APPn markers even
// look like MPEG-2.5 headers); only a run of frames that follow each other
// may open a stream.
#include <cstdint>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rovaz/mpa_stream.h"
#include "support/encoded_streams.h"

namespace {

struct Lcg {
    uint32_t state;
    uint8_t next() { return static_cast<uint8_t>((state = state * 1664525u + 1013904223u) >> 24); }
};

// Opened from memory and pushed in uneven chunks, the data gives no stream and no samples.
void expect_no_stream(const std::vector<uint8_t> &data)
{
    mpa_stream *s = nullptr;
    const int opened = mpa_stream_open_memory(&s, data.data(), data.size(), nullptr);
    EXPECT_EQ(opened, MPA_ERR_NO_STREAM);
    if (opened == MPA_OK) {
        mpa_stream_format f;
        mpa_stream_get_format(s, &f);
        ADD_FAILURE() << "claimed as Layer " << f.layer << ", " << f.sampling_rate << " Hz";
        mpa_stream_close(s);
    }

    ASSERT_EQ(mpa_stream_open_push(&s, nullptr), MPA_OK);
    std::vector<int16_t> buf(4608);
    void *dest[2] = {buf.data(), nullptr};
    size_t samples = 0, at = 0, chunk = 1000;
    bool ended = false;
    int r;
    for (;;) {
        size_t n = 0;
        r = mpa_stream_read(s, dest, buf.size() * sizeof(int16_t), &n);
        samples += n;
        if (r == MPA_OK || r == MPA_STREAM_FORMAT_CHANGED)
            continue;
        if (r != MPA_STREAM_NEED_INPUT || ended)
            break;
        if (at == data.size()) {
            mpa_stream_end_input(s);
            ended = true;
            continue;
        }
        size_t accepted = 0;
        ASSERT_EQ(mpa_stream_feed(s, data.data() + at, std::min(data.size() - at, chunk), &accepted), MPA_OK);
        ASSERT_GT(accepted, 0u) << "a pushed stream that wants input took none";
        at += accepted;
        chunk = chunk * 7 % 9973 + 1;  // uneven chunks, 1 to ~10000 bytes
    }
    EXPECT_EQ(samples, 0u);
    EXPECT_EQ(r, MPA_ERR_NO_STREAM);
    mpa_stream_close(s);
}

TEST(StreamNonMpeg, RandomBytes)
{
#if defined(__SANITIZE_ADDRESS__)
    const size_t size = 256 << 10;  // ASan is ~20x slower
#else
    const size_t size = 1 << 20;
#endif
    for (uint32_t seed = 1; seed <= 6; seed++) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Lcg g{seed * 2654435761u};
        std::vector<uint8_t> data(size);
        for (uint8_t &b : data)
            b = g.next();
        expect_no_stream(data);
        if (seed == 1) {
            // The same junk before a real stream: the search did go through all of it.
            const std::vector<uint8_t> mp3 =
                mpa_test::read_file_bytes(ROVAZ_SOURCE_DIR "/samples/sample.mp3");
            data.insert(data.end(), mp3.begin(), mp3.end());
            mpa_stream *s = nullptr;
            ASSERT_EQ(mpa_stream_open_memory(&s, data.data(), data.size(), nullptr), MPA_OK);
            mpa_stream_info info;
            mpa_stream_get_info(s, &info);
            EXPECT_EQ(info.first_frame_offset, static_cast<int64_t>(size));
            mpa_stream_close(s);
        }
    }
}

// Audio files sox writes: PCM noise and a sweep, FLAC and Ogg Vorbis.
TEST(StreamNonMpeg, OtherAudioFormats)
{
    MPA_SKIP_WITHOUT("sox");
    const std::string dir = mpa_test::scratch_dir();
    const struct {
        const char *type, *signal;
    } kFiles[] = {
        {"wav", "whitenoise"}, {"wav", "sine 100-15000"}, {"flac", "pinknoise"}, {"ogg", "sine 100-15000"},
    };
    int made = 0;
    for (const auto &f : kFiles) {
        SCOPED_TRACE(std::string(f.type) + " " + f.signal);
        const std::string path = dir + "/non_mpeg_" + std::to_string(made) + "." + f.type;
        const std::string cmd = "sox -D -n -r 44100 -c 2 -t " + std::string(f.type) + " " + path +
                                " synth 2 " + f.signal + " 2>/dev/null";
        if (std::system(cmd.c_str()) != 0)
            continue;  // this sox cannot write the format
        made++;
        expect_no_stream(mpa_test::read_file_bytes(path));
    }
    if (made < static_cast<int>(sizeof(kFiles) / sizeof(kFiles[0])))
        GTEST_SKIP() << "sox wrote only " << made << " of the files";
}

void put_segment(std::vector<uint8_t> *out, uint8_t marker, const std::vector<uint8_t> &body)
{
    const size_t len = body.size() + 2;
    out->insert(out->end(), {0xFF, marker, static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len)});
    out->insert(out->end(), body.begin(), body.end());
}

// A JPEG's structure: APP0..APP2 (FF E0..FF E2, sync-like), tables, a frame
// and scan header, then entropy-coded bytes with FF stuffed as FF 00 and
// restart markers, as a real JPEG has them.
TEST(StreamNonMpeg, JpegLikeBytes)
{
    Lcg g{7};
    std::vector<uint8_t> j = {0xFF, 0xD8};
    put_segment(&j, 0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 72, 0, 72, 0, 0});
    put_segment(&j, 0xE1, std::vector<uint8_t>{'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42});
    std::vector<uint8_t> icc(600);
    for (uint8_t &b : icc)
        b = g.next();
    put_segment(&j, 0xE2, icc);
    for (int t = 0; t < 2; t++) {
        std::vector<uint8_t> dqt(65);
        dqt[0] = static_cast<uint8_t>(t);
        for (int i = 1; i < 65; i++)
            dqt[i] = static_cast<uint8_t>(1 + g.next() % 100);
        put_segment(&j, 0xDB, dqt);
    }
    put_segment(&j, 0xC0, {8, 0x04, 0x00, 0x06, 0x00, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1});
    std::vector<uint8_t> dht(29, 0);
    dht[1 + 3] = 12;
    for (int i = 0; i < 12; i++)
        dht[17 + i] = static_cast<uint8_t>(i);
    put_segment(&j, 0xC4, dht);
    put_segment(&j, 0xDA, {3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0});
    for (int i = 0; i < 400000; i++) {
        const uint8_t b = g.next();
        j.push_back(b);
        if (b == 0xFF)
            j.push_back(0x00);
        if (i % 8192 == 8191)
            j.insert(j.end(), {0xFF, static_cast<uint8_t>(0xD0 + (i / 8192) % 8)});
    }
    j.insert(j.end(), {0xFF, 0xD9});
    expect_no_stream(j);
}

TEST(StreamNonMpeg, Text)
{
    const std::string lorem =
        "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor incididunt ut "
        "labore et dolore magna aliqua.\nUt enim ad minim veniam, quis nostrud exercitation ullamco.\n"
        "Größe, Ærø, naïve café, Ελληνικά, Русский текст, 日本語のテキスト, emoji 🎵🎶\n";
    std::string text;
    while (text.size() < 200000)
        text += lorem;
    expect_no_stream(std::vector<uint8_t>(text.begin(), text.end()));
}

}  // namespace
