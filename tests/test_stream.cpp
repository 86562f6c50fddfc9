// The stream layer on real streams: every source gives the same samples,
// seeks land on the samples of a decode from the start, the scan counts
// exactly what a decode gives, format changes come at their sample, a
// stream whose CRC words are all wrong is decoded, the output format can
// change between reads, and worker threads give what one thread gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "rovaz/mpa_stream.h"
#include "support/encoded_streams.h"
#include "support/robustness_streams.h"

namespace {

struct Output {
    std::vector<int16_t> pcm;  // interleaved 16-bit
    std::vector<mpa_stream_format> formats;
    mpa_stream_info info{};
    int status = MPA_OK;
};

// Reads everything that is left, recording each format's start.
void drain(mpa_stream *s, Output *o)
{
    mpa_stream_format f;
    mpa_stream_get_format(s, &f);
    o->formats.push_back(f);
    int16_t buf[3000];
    void *dest[2] = {buf, nullptr};
    for (;;) {
        size_t n = 0;
        // Rooms that split frames anywhere.
        const size_t room = 2 * static_cast<size_t>(f.channels) * (1 + (o->pcm.size() * 7 + 997) % 1499);
        o->status = mpa_stream_read(s, dest, room, &n);
        if (o->status == MPA_STREAM_FORMAT_CHANGED) {
            mpa_stream_get_format(s, &f);
            o->formats.push_back(f);
        } else if (o->status == MPA_OK) {
            o->pcm.insert(o->pcm.end(), buf, buf + n * static_cast<size_t>(f.channels));
        } else {
            break;
        }
    }
    mpa_stream_get_info(s, &o->info);
}

Output decode_memory(const std::vector<uint8_t> &bytes, const mpa_stream_config *config = nullptr)
{
    Output o;
    mpa_stream *s = nullptr;
    o.status = mpa_stream_open_memory(&s, bytes.data(), bytes.size(), config);
    if (s) {
        drain(s, &o);
        mpa_stream_close(s);
    }
    return o;
}

// Pushed in chunks of varying sizes, each no larger than the stream wants.
Output decode_pushed(const std::vector<uint8_t> &bytes)
{
    Output o;
    mpa_stream *s = nullptr;
    EXPECT_EQ(mpa_stream_open_push(&s, nullptr), MPA_OK);
    size_t fed = 0, turn = 0;
    int16_t buf[2048];
    void *dest[2] = {buf, nullptr};
    mpa_stream_format f{};
    for (;;) {
        const size_t chunk =
            std::min({bytes.size() - fed, mpa_stream_input_wanted(s), 1 + (turn++ * 389) % 5000});
        size_t took = 0;
        mpa_stream_feed(s, bytes.data() + fed, chunk, &took);
        EXPECT_EQ(took, chunk);
        fed += took;
        if (fed == bytes.size())
            mpa_stream_end_input(s);
        size_t n = 0;
        const int r = mpa_stream_read(s, dest, sizeof(buf), &n);
        if (r == MPA_STREAM_FORMAT_CHANGED) {
            mpa_stream_get_format(s, &f);
            o.formats.push_back(f);
        } else if (r == MPA_OK) {
            o.pcm.insert(o.pcm.end(), buf, buf + n * static_cast<size_t>(f.channels));
        } else if (r != MPA_STREAM_NEED_INPUT) {
            o.status = r;
            break;
        }
    }
    mpa_stream_get_info(s, &o.info);
    mpa_stream_close(s);
    return o;
}

struct Source {
    const std::vector<uint8_t> *bytes;
    size_t pos = 0;
    unsigned turn = 0;
};

long source_read(void *opaque, uint8_t *dst, size_t max)
{
    Source *src = static_cast<Source *>(opaque);
    const size_t n =
        std::min({max, src->bytes->size() - src->pos, static_cast<size_t>(1 + (src->turn++ * 577) % 4000)});
    std::memcpy(dst, src->bytes->data() + src->pos, n);
    src->pos += n;
    return static_cast<long>(n);
}

int source_seek(void *opaque, int64_t offset)
{
    Source *src = static_cast<Source *>(opaque);
    src->pos = static_cast<size_t>(std::min<int64_t>(offset, static_cast<int64_t>(src->bytes->size())));
    return 0;
}

int64_t source_size(void *opaque)
{
    return static_cast<int64_t>(static_cast<Source *>(opaque)->bytes->size());
}

// A seekable stream over the caller's short reads.
mpa_stream *open_io(Source *src, bool seekable)
{
    mpa_stream_io io{src, source_read, seekable ? source_seek : nullptr, seekable ? source_size : nullptr};
    mpa_stream *s = nullptr;
    EXPECT_EQ(mpa_stream_open_io(&s, &io, nullptr), MPA_OK);
    return s;
}

std::vector<uint8_t> bytes_of(const char *encoder, const char *options, int rate, int channels)
{
    const mpa_test::Encoded *e = mpa_test::encode(encoder, options, rate, channels);
    return e ? e->bytes : std::vector<uint8_t>();
}

// An ID3v2.3 tag with a title, and an ID3v1 tag.
std::vector<uint8_t> with_tags(std::vector<uint8_t> audio)
{
    const std::string title = "Stream title";
    const size_t body = 11 + title.size() + 100;  // one frame and padding
    std::vector<uint8_t> out = {'I',
                                'D',
                                '3',
                                3,
                                0,
                                0,
                                0,
                                0,
                                static_cast<uint8_t>(body >> 7),
                                static_cast<uint8_t>(body & 0x7F),
                                'T',
                                'I',
                                'T',
                                '2',
                                0,
                                0,
                                0,
                                static_cast<uint8_t>(title.size() + 1),
                                0,
                                0,
                                0};
    for (char c : title)
        out.push_back(static_cast<uint8_t>(c));
    out.resize(10 + body);
    out.insert(out.end(), audio.begin(), audio.end());
    std::vector<uint8_t> v1(128, 0);
    std::memcpy(v1.data(), "TAG", 3);
    std::memcpy(v1.data() + 33, "Artist v1", 9);
    out.insert(out.end(), v1.begin(), v1.end());
    return out;
}

TEST(Stream, EverySourceGivesTheSameSamples)
{
    MPA_SKIP_WITHOUT("lame");
    const std::vector<uint8_t> bytes = with_tags(bytes_of("lame", "-V 2", 44100, 2));
    ASSERT_FALSE(bytes.empty());
    const Output memory = decode_memory(bytes);
    ASSERT_EQ(memory.status, MPA_STREAM_END);
    EXPECT_EQ(memory.info.tag_bytes, 10 + 11 + 12 + 100 + 128);
    EXPECT_EQ(memory.info.bytes_skipped, 0);
    EXPECT_EQ(static_cast<int64_t>(memory.pcm.size()), memory.info.samples * 2);

    const Output pushed = decode_pushed(bytes);
    EXPECT_EQ(pushed.status, MPA_STREAM_END);
    EXPECT_EQ(pushed.pcm, memory.pcm);
    EXPECT_EQ(pushed.info.length_exact, 0);
    for (const bool seekable : {true, false}) {
        Source src{&bytes};
        mpa_stream *s = open_io(&src, seekable);
        ASSERT_NE(s, nullptr);
        EXPECT_STREQ(mpa_stream_tag_value(s, "title"), "Stream title");
        // Tags at the end of an unseekable source are met at its end.
        if (seekable) {
            EXPECT_STREQ(mpa_stream_tag_value(s, "artist"), "Artist v1");
        }
        Output o;
        drain(s, &o);
        EXPECT_STREQ(mpa_stream_tag_value(s, "artist"), "Artist v1");
        mpa_stream_close(s);
        EXPECT_EQ(o.pcm, memory.pcm) << seekable;
    }
}

// After a seek to any sample, the samples are those of the decode from the
// start at that position: Layer I (when the conformance streams are there),
// II and III, MPEG-1, MPEG-2 and MPEG 2.5, CBR, VBR and free format.
TEST(Stream, SeekLandsOnTheSamplesOfAFullDecode)
{
    MPA_SKIP_WITHOUT("lame");
    MPA_SKIP_WITHOUT("twolame");
    std::vector<std::vector<uint8_t>> streams = {
        bytes_of("lame", "-b 128", 44100, 2),       bytes_of("lame", "-V 2", 44100, 2),
        bytes_of("lame", "-b 32", 22050, 1),        bytes_of("lame", "--freeformat -b 256", 44100, 2),
        bytes_of("twolame", "-b 192", 44100, 2),    bytes_of("lame", "-b 8 --resample 16", 16000, 1),
        bytes_of("lame", "-V 5", 11025, 2),
    };
    std::vector<uint8_t> layer1;
    if (mpa_test::read_file(std::string(ROVAZ_CONFORMANCE_DIR) + "/l1-fl8.bit", &layer1))
        streams.push_back(layer1);
    for (const std::vector<uint8_t> &bytes : streams) {
        ASSERT_FALSE(bytes.empty());
        const Output full = decode_memory(bytes);
        ASSERT_EQ(full.status, MPA_STREAM_END);
        const int channels = full.formats[0].channels;
        const int64_t total = static_cast<int64_t>(full.pcm.size()) / channels;
        mpa_stream *s = nullptr;
        ASSERT_EQ(mpa_stream_open_memory(&s, bytes.data(), bytes.size(), nullptr), MPA_OK);
        for (int64_t at : {total / 2, static_cast<int64_t>(0), total - 1, static_cast<int64_t>(1151),
                           static_cast<int64_t>(1152), total / 3 + 17, total, total / 5, total - 700}) {
            SCOPED_TRACE(std::to_string(at) + " of " + std::to_string(total));
            ASSERT_EQ(mpa_stream_seek(s, at), MPA_OK);
            EXPECT_EQ(mpa_stream_tell(s), at);
            Output tail;
            drain(s, &tail);
            ASSERT_EQ(tail.pcm.size(), full.pcm.size() - static_cast<size_t>(at) * channels);
            ASSERT_TRUE(std::equal(tail.pcm.begin(), tail.pcm.end(), full.pcm.begin() + at * channels));
        }
        mpa_stream_close(s);
    }
}

// The scan's count is exact without any tag, in VBR without Xing, and with
// junk between frames; a pushed stream has only an estimate.
TEST(Stream, ScanCountsExactlyWhatADecodeGives)
{
    MPA_SKIP_WITHOUT("lame");
    MPA_SKIP_WITHOUT("twolame");
    std::vector<uint8_t> junk_inside = bytes_of("lame", "-t -b 128", 44100, 2);
    const std::vector<mpa_test::FrameSpan> spans = mpa_test::frame_spans(junk_inside);
    ASSERT_GT(spans.size(), 40u);
    std::vector<uint8_t> junk(777);
    for (size_t i = 0; i < junk.size(); i++)
        junk[i] = static_cast<uint8_t>(i * 37 + 11);
    junk_inside.insert(junk_inside.begin() + static_cast<long>(spans[30].offset), junk.begin(), junk.end());
    for (const std::vector<uint8_t> &bytes :
         {bytes_of("lame", "-t -b 128", 44100, 2), bytes_of("lame", "-t -V 3", 48000, 2),
          bytes_of("twolame", "-b 160", 48000, 2), junk_inside}) {
        ASSERT_FALSE(bytes.empty());
        mpa_stream *s = nullptr;
        ASSERT_EQ(mpa_stream_open_memory(&s, bytes.data(), bytes.size(), nullptr), MPA_OK);
        mpa_stream_info before;
        ASSERT_EQ(mpa_stream_get_info(s, &before), MPA_OK);
        EXPECT_EQ(before.info_kind, MPA_INFO_NONE);
        EXPECT_TRUE(before.length_exact);
        Output o;
        drain(s, &o);
        mpa_stream_close(s);
        EXPECT_EQ(before.samples * o.formats[0].channels, static_cast<int64_t>(o.pcm.size()));
        EXPECT_EQ(o.info.frames_decoded, before.audio_frames);
    }
}

// 44.1 kHz stereo, then 48 kHz, then 22.05 kHz mono: each format from its
// first sample on, none lost; with a fixed layout the mono part is duplicated.
TEST(Stream, FormatChangesComeAtTheirSample)
{
    MPA_SKIP_WITHOUT("twolame");
    const std::vector<uint8_t> parts[3] = {bytes_of("twolame", "-b 192", 44100, 2),
                                           bytes_of("twolame", "-b 192", 48000, 2),
                                           bytes_of("twolame", "-m m -b 64", 22050, 1)};
    std::vector<uint8_t> joined;
    std::vector<Output> alone;
    for (const auto &p : parts) {
        ASSERT_FALSE(p.empty());
        joined.insert(joined.end(), p.begin(), p.end());
        alone.push_back(decode_memory(p));
    }
    const Output o = decode_memory(joined);
    ASSERT_EQ(o.formats.size(), 3u);
    EXPECT_EQ(o.info.format_changes, 2);
    const int rates[3] = {44100, 48000, 22050};
    int64_t at = 0;
    size_t pos = 0;
    double seconds = 0;
    for (int k = 0; k < 3; k++) {
        seconds += static_cast<double>(alone[k].pcm.size()) / o.formats[k].channels / rates[k];
        EXPECT_EQ(o.formats[k].sampling_rate, rates[k]);
        EXPECT_EQ(o.formats[k].start, at);
        const size_t n = alone[k].pcm.size();
        // The frames at a join see the other part's history: compare inside.
        EXPECT_TRUE(std::equal(o.pcm.begin() + static_cast<long>(pos) + 4608,
                               o.pcm.begin() + static_cast<long>(pos + n), alone[k].pcm.begin() + 4608));
        at += static_cast<int64_t>(n) / o.formats[k].channels;
        pos += n;
    }
    EXPECT_EQ(pos, o.pcm.size());
    EXPECT_NEAR(o.info.duration_us, seconds * 1e6, 1);
    mpa_stream_config stereo;
    mpa_stream_config_default(&stereo);
    stereo.channels = 2;
    const Output fixed = decode_memory(joined, &stereo);
    ASSERT_EQ(fixed.formats.size(), 3u);
    EXPECT_EQ(fixed.formats[2].channels, 2);
    EXPECT_EQ(fixed.pcm.size(), o.pcm.size() + alone[2].pcm.size());
}

// A clean stream whose every CRC word is wrong: a 48 kHz Layer II stream
// with CRC words turned into free format (the CRC covers the bit-rate
// field). Decoded whole, with the CRC ignored and reported, as the stream
// it came from.
TEST(Stream, WrongCrcWordsEverywhereAreIgnored)
{
    MPA_SKIP_WITHOUT("twolame");
    const std::vector<uint8_t> crc = bytes_of("twolame", "-p -b 192", 48000, 2);
    ASSERT_FALSE(crc.empty());
    std::vector<uint8_t> free_format = crc;
    const std::vector<mpa_test::FrameSpan> spans = mpa_test::frame_spans(crc);
    for (const mpa_test::FrameSpan &f : spans)
        free_format[f.offset + 2] &= 0x0F;
    const Output clean = decode_memory(crc), damaged = decode_memory(free_format);
    EXPECT_EQ(clean.info.crc_ignored, 0);
    EXPECT_EQ(damaged.info.crc_ignored, 1);
    EXPECT_EQ(damaged.info.frames_decoded, static_cast<int64_t>(spans.size()));
    EXPECT_EQ(damaged.pcm, clean.pcm);
}

// Leading junk: found after any amount on a seekable source; a pushed
// stream looks through a bounded amount only.
TEST(Stream, FirstFrameAfterLeadingJunk)
{
    std::vector<uint8_t> audio;
    ASSERT_TRUE(mpa_test::read_file(std::string(ROVAZ_SOURCE_DIR) + "/samples/sample.mp2", &audio));
    const Output plain = decode_memory(audio);
    for (const size_t lead : {static_cast<size_t>(10) << 10, static_cast<size_t>(3) << 20}) {
        std::vector<uint8_t> bytes(lead);
        uint32_t x = 1;
        for (uint8_t &b : bytes)
            b = static_cast<uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
        // A header and its successor in the junk, but no third: no stream starts there.
        mpa_header h{};
        ASSERT_GE(mpa_get_header(&h, audio.data(), 4), 0);
        for (const size_t at : {size_t{1000}, 1000 + static_cast<size_t>(h.bits_in_frame / 8)})
            std::copy(audio.begin(), audio.begin() + 4, bytes.begin() + static_cast<long>(at));
        bytes.insert(bytes.end(), audio.begin(), audio.end());
        const Output o = decode_memory(bytes);
        EXPECT_EQ(o.pcm, plain.pcm) << lead;
        EXPECT_EQ(o.info.bytes_skipped, static_cast<int64_t>(lead));
        EXPECT_EQ(o.info.leading_junk, static_cast<int64_t>(lead));
        const Output pushed = decode_pushed(bytes);
        if (lead < (1 << 20)) {
            EXPECT_EQ(pushed.pcm, plain.pcm);
        } else {
            EXPECT_EQ(pushed.status, MPA_ERR_NO_STREAM);
        }
    }
}

// The output changed between reads goes on with the same samples, in the
// new layout and size, as a stream opened that way.
TEST(Stream, OutputChangesBetweenReads)
{
    std::vector<uint8_t> audio;
    ASSERT_TRUE(mpa_test::read_file(std::string(ROVAZ_SOURCE_DIR) + "/samples/sample.mp2", &audio));
    mpa_stream_config mono;
    mpa_stream_config_default(&mono);
    mono.channels = 1;
    Output want = decode_memory(audio, &mono);
    mpa_stream *s = nullptr;
    ASSERT_EQ(mpa_stream_open_memory(&s, audio.data(), audio.size(), nullptr), MPA_OK);
    float stereo[2 * 1000];
    void *dest[2] = {stereo, nullptr};
    size_t n = 0;
    ASSERT_EQ(mpa_stream_set_output(s, MPA_SAMPLE_F32, 0), MPA_OK);
    ASSERT_EQ(mpa_stream_read(s, dest, sizeof stereo, &n), MPA_OK);
    ASSERT_EQ(n, 1000u);
    EXPECT_EQ(mpa_stream_set_output(s, MPA_SAMPLE_F32 + 1, 1), MPA_ERR_ARG);
    ASSERT_EQ(mpa_stream_set_output(s, MPA_SAMPLE_S16, 1), MPA_OK);
    Output rest;
    drain(s, &rest);
    mpa_stream_close(s);
    ASSERT_EQ(rest.formats[0].channels, 1);
    ASSERT_EQ(rest.formats[0].bytes_per_sample, 2);
    want.pcm.erase(want.pcm.begin(), want.pcm.begin() + 1000);
    EXPECT_EQ(rest.pcm, want.pcm);
}

// Decoded ahead by worker threads, a memory or file stream gives what one
// thread gives: samples, formats and counts, from the start and after
// seeks, on clean streams of each layer and on a damaged one, whose blocks
// must not be taken from a seek where the damage makes it inexact.
TEST(Stream, ThreadsGiveWhatOneThreadGives)
{
    MPA_SKIP_WITHOUT("lame");
    MPA_SKIP_WITHOUT("twolame");
    // Bits flipped, bytes scrambled, cut out and put in, anywhere.
    std::vector<uint8_t> damaged = bytes_of("lame", "-b 128", 44100, 2);
    ASSERT_GT(damaged.size(), 20000u);
    uint32_t seed = 1;
    const auto next = [&seed](size_t n) {
        return static_cast<size_t>((seed = seed * 1664525u + 1013904223u) >> 8) % n;
    };
    for (int k = 0; k < 24; k++) {
        const long at = static_cast<long>(next(damaged.size() - 600));
        switch (k % 4) {
        case 0: damaged[at] ^= static_cast<uint8_t>(1 << next(8)); break;
        case 1: for (long j = 0; j < 20; j++) damaged[at + j] = static_cast<uint8_t>(next(256)); break;
        case 2:
            damaged.erase(damaged.begin() + at, damaged.begin() + at + 1 + static_cast<long>(next(400)));
            break;
        default: damaged.insert(damaged.begin() + at, 1 + next(500), static_cast<uint8_t>(next(256)));
        }
    }
    // An info frame that declares a stream far longer than it is: the first
    // block is begun before the scan, which then finds it short.
    std::vector<uint8_t> overstated = bytes_of("lame", "-V 2", 44100, 2);
    const auto tag =
        std::search(overstated.begin(), overstated.end(), std::begin("Xing"), std::end("Xing") - 1);
    ASSERT_NE(tag, overstated.end());
    ASSERT_TRUE(tag[7] & 1);  // the frame count is there
    tag[8] = 0x01;
    const std::vector<std::vector<uint8_t>> streams = {with_tags(bytes_of("lame", "-V 2", 44100, 2)),
                                                       bytes_of("lame", "-b 32", 22050, 1),
                                                       bytes_of("twolame", "-b 192", 48000, 2),
                                                       mpa_test::layer1_stream(300, true),
                                                       damaged,
                                                       overstated};
    mpa_stream_config one, many;
    mpa_stream_config_default(&one);
    mpa_stream_config_default(&many);
    many.threads = 3;
    const auto expect_same = [](const Output &got, const Output &want) {
        EXPECT_EQ(got.status, want.status);
        EXPECT_TRUE(got.pcm == want.pcm);
        ASSERT_EQ(got.formats.size(), want.formats.size());
        for (size_t i = 0; i < got.formats.size(); i++)
            EXPECT_EQ(std::memcmp(&got.formats[i], &want.formats[i], sizeof(mpa_stream_format)), 0) << i;
        EXPECT_EQ(std::memcmp(&got.info, &want.info, sizeof(mpa_stream_info)), 0);
    };
    for (size_t k = 0; k < streams.size(); k++) {
        SCOPED_TRACE(k);
        const std::vector<uint8_t> &bytes = streams[k];
        ASSERT_FALSE(bytes.empty());
        const Output want = decode_memory(bytes, &one);
        ASSERT_EQ(want.status, MPA_STREAM_END);
        expect_same(decode_memory(bytes, &many), want);
        const int64_t total = static_cast<int64_t>(want.pcm.size()) / want.formats[0].channels;
        mpa_stream *a = nullptr, *b = nullptr;
        ASSERT_EQ(mpa_stream_open_memory(&a, bytes.data(), bytes.size(), &one), MPA_OK);
        ASSERT_EQ(mpa_stream_open_memory(&b, bytes.data(), bytes.size(), &many), MPA_OK);
        for (int64_t at : {total / 2, total / 3 + 1151, static_cast<int64_t>(0), total - 5000, total}) {
            SCOPED_TRACE(at);
            ASSERT_EQ(mpa_stream_seek(a, at), MPA_OK);
            ASSERT_EQ(mpa_stream_seek(b, at), MPA_OK);
            Output tail_one, tail_many;
            drain(a, &tail_one);
            drain(b, &tail_many);
            expect_same(tail_many, tail_one);
        }
        // Another format asked for mid-block: what was converted ahead is converted again.
        std::vector<uint8_t> got[2];
        for (int i = 0; i < 2; i++) {
            mpa_stream *s = i ? b : a;
            ASSERT_EQ(mpa_stream_seek(s, total / 4), MPA_OK);
            uint8_t buf[4096];
            void *dest[2] = {buf, nullptr};
            size_t n = 0;
            for (int step = 0; mpa_stream_read(s, dest, sizeof buf, &n) == MPA_OK; step++) {
                mpa_stream_format format;
                mpa_stream_get_format(s, &format);
                got[i].insert(got[i].end(), buf,
                              buf + n * static_cast<size_t>(format.bytes_per_sample * format.channels));
                if (step == 2) {
                    ASSERT_EQ(mpa_stream_set_output(s, MPA_SAMPLE_F32, 1), MPA_OK);
                }
            }
        }
        EXPECT_TRUE(got[1] == got[0]);
        mpa_stream_close(a);
        mpa_stream_close(b);
    }
    // A file is opened again by each worker.
    const std::string path = mpa_test::scratch_dir() + "/threads.mp3";
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(damaged.data(), 1, damaged.size(), f), damaged.size());
    std::fclose(f);
    mpa_stream *s = nullptr;
    ASSERT_EQ(mpa_stream_open_file(&s, path.c_str(), &many), MPA_OK);
    Output from_file;
    drain(s, &from_file);
    mpa_stream_close(s);
    expect_same(from_file, decode_memory(damaged, &one));
}

}  // namespace
