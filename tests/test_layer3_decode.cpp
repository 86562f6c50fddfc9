// The Layer III frame decoder on real lame frames, driven by direct
// mpa_decode_frame calls on one instance: the bit reservoir across frames,
// the look-ahead into the next frame, and each way a frame can fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/decoder.h"
#include "layer3/layer3_decode.h"
#include "rovaz/mpa.h"
#include "support/bitwriter.h"
#include "support/encoded_streams.h"
#include "support/layer3_ctx.h"

namespace {

uint32_t get_bits(const uint8_t *p, size_t bit, int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n; i++, bit++)
        v = v << 1 | ((p[bit >> 3] >> (7 - (bit & 7))) & 1);
    return v;
}

void put_bits(uint8_t *p, size_t bit, int n, uint32_t v)
{
    for (int i = n - 1; i >= 0; i--, bit++) {
        const uint8_t m = static_cast<uint8_t>(0x80 >> (bit & 7));
        p[bit >> 3] = static_cast<uint8_t>((v >> i) & 1 ? p[bit >> 3] | m : p[bit >> 3] & ~m);
    }
}

struct Frame {
    size_t offset;
    int size;
    int header_bytes;  // 4, or 6 with the CRC word
    int main_data_begin;
    int md_bits;       // sum of part2_3_length
    size_t own_main;   // index in Stream::main_data of the frame's first byte after its side info
    int own_bytes;     // the frame's bytes after its side info
};

// A lame stream split into frames, with the main data of all frames laid end
// to end: what the bit reservoir is a window on.
struct Stream {
    std::vector<uint8_t> bytes;
    std::vector<Frame> frames;
    std::vector<uint8_t> main_data;
    int id = 0, channels = 0, side_bytes = 0;

    // Side-information bit of a granule record's first field (part2_3_length).
    size_t granule_bit(int gr, int ch) const
    {
        if (id)
            return (channels == 2 ? 20 : 18) + 59 * static_cast<size_t>(gr * channels + ch);
        return (channels == 2 ? 10 : 9) + 63 * static_cast<size_t>(ch);
    }
    uint8_t *side(std::vector<uint8_t> &b, size_t k) const
    {
        return b.data() + frames[k].offset + frames[k].header_bytes;
    }
    // The main data that ends where frame k's own bytes end.
    std::vector<uint8_t> main_data_tail(size_t k, int n) const
    {
        const size_t end = frames[k].own_main + frames[k].own_bytes;
        return std::vector<uint8_t>(main_data.begin() + static_cast<long>(end - n),
                                    main_data.begin() + static_cast<long>(end));
    }
    // Bytes from frame k to the end of the stream, in a buffer of exactly
    // that size, with `before` bytes of the stream in front of it.
    std::vector<uint8_t> from_frame(size_t k, int before = 0, size_t len = 0) const
    {
        const size_t start = frames[k].offset - before;
        const size_t end = len ? frames[k].offset + len : bytes.size();
        return std::vector<uint8_t>(bytes.begin() + static_cast<long>(start),
                                    bytes.begin() + static_cast<long>(end));
    }
};

const Stream *lame_stream(const char *options, int rate, int channels)
{
    static std::map<std::string, std::unique_ptr<Stream>> cache;
    const std::string key = std::string(options) + "@" + std::to_string(rate);
    auto it = cache.find(key);
    if (it != cache.end())
        return it->second.get();
    const mpa_test::Encoded *e = mpa_test::encode("lame", options, rate, channels);
    if (!e)
        return nullptr;
    auto s = std::make_unique<Stream>();
    s->bytes = e->bytes;
    for (const mpa_test::FrameSpan &span : mpa_test::frame_spans(s->bytes)) {
        mpa_header h{};
        mpa_get_header(&h, s->bytes.data() + span.offset, 4);
        s->id = h.id;
        s->channels = h.n_channels;
        s->side_bytes = h.id ? (h.n_channels == 2 ? 32 : 17) : (h.n_channels == 2 ? 17 : 9);
        Frame f{};
        f.offset = span.offset;
        f.size = span.size;
        f.header_bytes = h.header_bits / 8;
        f.main_data_begin = span.main_data_begin;
        f.own_main = s->main_data.size();
        f.own_bytes = f.size - f.header_bytes - s->side_bytes;
        const uint8_t *side = s->bytes.data() + f.offset + f.header_bytes;
        for (int gr = 0; gr < (h.id ? 2 : 1); gr++)
            for (int ch = 0; ch < h.n_channels; ch++)
                f.md_bits += static_cast<int>(get_bits(side, s->granule_bit(gr, ch), 12));
        s->main_data.insert(s->main_data.end(), side + s->side_bytes, side + s->side_bytes + f.own_bytes);
        s->frames.push_back(f);
    }
    return cache.emplace(key, std::move(s)).first->second.get();
}

#define LAME_STREAM(var, options, rate, channels)                 \
    MPA_SKIP_WITHOUT("sox");                                      \
    MPA_SKIP_WITHOUT("lame");                                     \
    const Stream *var = lame_stream(options, rate, channels);     \
    ASSERT_NE(var, nullptr);                                      \
    ASSERT_GT(var->frames.size(), 40u)

constexpr float kUntouched = 1234.5f;

struct Decoder {
    mpa_decoder *dec = nullptr;
    float pcm[MPA_PCM_BUFFER_FLOATS];

    Decoder() { mpa_decoder_open(&dec); }
    ~Decoder() { mpa_decoder_close(dec); }
    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;

    int decode(const uint8_t *data, size_t len, int preceding = 0)
    {
        std::fill(pcm, pcm + MPA_PCM_BUFFER_FLOATS, kUntouched);
        return mpa_decode_frame(dec, pcm, data, static_cast<int>(len), preceding);
    }
    int decode(const std::vector<uint8_t> &b, int preceding = 0)
    {
        return decode(b.data() + preceding, b.size() - preceding, preceding);
    }
    // Frame k of s with the rest of the stream after it, none before.
    int decode(const Stream &s, size_t k, const std::vector<uint8_t> *bytes = nullptr)
    {
        const std::vector<uint8_t> &b = bytes ? *bytes : s.bytes;
        return decode(b.data() + s.frames[k].offset, b.size() - s.frames[k].offset);
    }
    void decode_up_to(const Stream &s, size_t k)
    {
        for (size_t j = 0; j < k; j++)
            ASSERT_EQ(decode(s, j), MPA_OK) << "frame " << j;
    }
    bool pcm_untouched() const
    {
        return std::all_of(pcm, pcm + MPA_PCM_BUFFER_FLOATS, [](float v) { return v == kUntouched; });
    }
    std::vector<uint8_t> reservoir() const
    {
        return std::vector<uint8_t>(dec->reservoir, dec->reservoir + dec->reservoir_fill);
    }
};

// First frame at or after `from` that reaches back into the reservoir and
// whose successor's back-reference lies within its own bytes.
size_t reaching_frame(const Stream &s, size_t from)
{
    size_t k = from;
    while (k + 2 < s.frames.size() &&
           (s.frames[k].main_data_begin == 0 || s.frames[k + 1].main_data_begin > s.frames[k].own_bytes))
        k++;
    return k;
}

// Every frame decoded in turn leaves the reservoir holding exactly the main
// data the next frame reaches back for. Taking that prefix from the input
// bytes in front of the frame instead of the reservoir gives the same frame.
TEST(Layer3Reservoir, CarriesMainDataAcrossFrames)
{
    MPA_SKIP_WITHOUT("sox");
    MPA_SKIP_WITHOUT("lame");
    for (const auto &c : {std::make_pair("-b 128", 44100), std::make_pair("-b 64", 22050)}) {
        SCOPED_TRACE(c.first + std::string(" at ") + std::to_string(c.second));
        const Stream *s = lame_stream(c.first, c.second, 2);
        ASSERT_NE(s, nullptr);
        Decoder a, b;
        int compared = 0;
        for (size_t k = 0; k + 1 < s->frames.size(); k++) {
            const Frame &f = s->frames[k];
            *b.dec = *a.dec;
            ASSERT_EQ(a.decode(*s, k), MPA_OK) << "frame " << k;
            EXPECT_EQ(a.dec->header.next_main_data_begin, s->frames[k + 1].main_data_begin);
            ASSERT_EQ(a.reservoir(), s->main_data_tail(k, s->frames[k + 1].main_data_begin)) << "frame " << k;
            // Ancillary data: from the end of the frame's audio data to where
            // the next frame's main data starts.
            const long audio_start = static_cast<long>(f.own_main) - f.main_data_begin;
            const long next_start =
                static_cast<long>(f.own_main + f.own_bytes) - s->frames[k + 1].main_data_begin;
            EXPECT_EQ(a.dec->ancillary_bits, 8 * (next_start - audio_start) - f.md_bits) << "frame " << k;

            // The bytes in front of the frame are main data only when the
            // previous frame's own bytes cover the back-reference.
            if (k > 0 && f.main_data_begin <= s->frames[k - 1].own_bytes) {
                // Half of them in the buffer before the header, half before the buffer.
                const int in_buffer = f.main_data_begin / 2;
                b.dec->reservoir_fill = 0;
                ASSERT_EQ(b.decode(s->bytes.data() + f.offset - in_buffer,
                                   s->bytes.size() - f.offset + in_buffer, f.main_data_begin - in_buffer),
                          MPA_OK);
                ASSERT_EQ(std::memcmp(a.pcm, b.pcm, sizeof(a.pcm)), 0) << "frame " << k;
                ASSERT_EQ(a.reservoir(), b.reservoir());
                compared += f.main_data_begin > 0;
            }
        }
        EXPECT_GE(compared, 5);
    }
}

// Input that ends inside the side information or inside the frame's own
// share of its main data asks for more; input that ends after that share but
// before the frame's end decodes no output (truncated). None of it touches
// the reservoir or the output.
TEST(Layer3Decode, ShortInputLeavesTheReservoirAlone)
{
    LAME_STREAM(s, "-b 128", 44100, 2);
    size_t k = 10;
    auto share = [&](size_t j) {
        const Frame &f = s->frames[j];
        return (f.md_bits - 8 * f.main_data_begin + 7) / 8;
    };
    while (k + 1 < s->frames.size() && (share(k) < 8 || s->frames[k].own_bytes - share(k) < 8))
        k++;
    ASSERT_LT(k + 1, s->frames.size());
    const Frame &f = s->frames[k];

    Decoder d;
    d.decode_up_to(*s, k);
    const mpa_decoder saved = *d.dec;
    const struct {
        size_t len;
        int status;
    } cuts[] = {
        {static_cast<size_t>(f.header_bytes + s->side_bytes - 1), MPA_ERR_NEED_DATA},
        {static_cast<size_t>(f.header_bytes + s->side_bytes + share(k) - 1), MPA_ERR_NEED_DATA},
        {static_cast<size_t>(f.header_bytes + s->side_bytes + share(k)), MPA_ERR_FRAME_TRUNCATED},
        {static_cast<size_t>(f.size) - 1, MPA_ERR_FRAME_TRUNCATED},
    };
    for (const auto &cut : cuts) {
        SCOPED_TRACE("input of " + std::to_string(cut.len) + " bytes");
        const std::vector<uint8_t> part = s->from_frame(k, 0, cut.len);
        EXPECT_EQ(d.decode(part), cut.status);
        EXPECT_TRUE(d.pcm_untouched());
        EXPECT_EQ(d.dec->reservoir_fill, saved.reservoir_fill);
        EXPECT_EQ(std::memcmp(d.dec->reservoir, saved.reservoir, sizeof(saved.reservoir)), 0);
    }
    EXPECT_EQ(d.decode(*s, k), MPA_OK);
}

// A CRC mismatch gives no output, and the frame's own bytes join the
// reservoir so that the frames after it still find their main data. Several
// damaged frames in a row grow the reservoir until it is cut back to 511.
TEST(Layer3Decode, DamagedFramesJoinTheReservoir)
{
    LAME_STREAM(s, "-p -b 128", 44100, 2);
    ASSERT_EQ(s->frames[0].header_bytes, 6);
    const size_t k = reaching_frame(*s, 10);
    ASSERT_LT(k + 4, s->frames.size());

    std::vector<uint8_t> damaged = s->bytes;
    for (size_t j = k; j < k + 3; j++)
        s->side(damaged, j)[3] ^= 0x10;  // a bit of part2_3_length, covered by the CRC

    Decoder d;
    d.decode_up_to(*s, k);

    // Without its frame end in the input the damaged frame adds nothing.
    const std::vector<uint8_t> before = d.reservoir();
    std::vector<uint8_t> cut(damaged.begin() + static_cast<long>(s->frames[k].offset),
                             damaged.begin() + static_cast<long>(s->frames[k].offset) + s->frames[k].size -
                                 1);
    EXPECT_EQ(d.decode(cut), MPA_ERR_CRC);
    EXPECT_TRUE(d.pcm_untouched());
    EXPECT_EQ(d.reservoir(), before);

    int fill = d.dec->reservoir_fill;
    for (size_t j = k; j < k + 3; j++) {
        SCOPED_TRACE("damaged frame " + std::to_string(j));
        EXPECT_EQ(d.decode(*s, j, &damaged), MPA_ERR_CRC);
        EXPECT_TRUE(d.pcm_untouched());
        fill += s->frames[j].own_bytes;
        if (fill > 1024)
            fill = 511;
        ASSERT_EQ(d.dec->reservoir_fill, fill);
        EXPECT_EQ(d.reservoir(), s->main_data_tail(j, fill));
    }
    EXPECT_EQ(fill, 511);  // the third frame went past 1024
    EXPECT_EQ(d.decode(*s, k + 3), MPA_OK);
    EXPECT_FALSE(d.pcm_untouched());
}

// Side information the decoder cannot use, and Huffman data that runs past
// its granule, fail the frame without output (for neither granule) and feed
// the reservoir like a CRC mismatch does.
TEST(Layer3Decode, UnusableFramesAreErrors)
{
    LAME_STREAM(s, "-b 128", 44100, 2);
    const size_t k = reaching_frame(*s, 10);
    ASSERT_LT(k + 1, s->frames.size());
    const size_t g00 = s->granule_bit(0, 0), g11 = s->granule_bit(1, 1);

    const struct {
        const char *what;
        void (*patch)(uint8_t *side, size_t g00, size_t g11);
    } cases[] = {
        {"big_values 289", [](uint8_t *side, size_t g, size_t) { put_bits(side, g + 12, 9, 289); }},
        {"window switching with table 4",
         [](uint8_t *side, size_t g, size_t) {
             put_bits(side, g + 33, 4, 0xC);  // window_switching_flag, block_type 2, not mixed
             put_bits(side, g + 37, 5, 4);
         }},
        {"window switching with table 14",
         [](uint8_t *side, size_t, size_t g) {
             put_bits(side, g + 33, 4, 0xC);
             put_bits(side, g + 42, 5, 14);
         }},
        {"granule 1 overruns its part2_3_length",
         [](uint8_t *side, size_t, size_t g) {
             put_bits(side, g, 12, 1);
             put_bits(side, g + 12, 9, 288);
             put_bits(side, g + 33, 1, 0);                      // long blocks
             put_bits(side, g + 34, 22, 15u << 17 | 15u << 12 | 15u << 7 | 7u << 3 | 7u);
         }},
    };
    Decoder d;
    d.decode_up_to(*s, k);
    const mpa_decoder saved = *d.dec;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        *d.dec = saved;
        std::vector<uint8_t> bad = s->bytes;
        c.patch(s->side(bad, k), g00, g11);
        EXPECT_EQ(d.decode(*s, k, &bad), MPA_ERROR);
        EXPECT_TRUE(d.pcm_untouched());
        EXPECT_EQ(d.reservoir(), s->main_data_tail(k, saved.reservoir_fill + s->frames[k].own_bytes));
        EXPECT_EQ(d.decode(*s, k + 1), MPA_OK);
    }
}

// A frame that reaches back beyond what the instance holds is consumed
// without output, and keeps exactly the tail the next frame asks for. The
// bytes that the caller says lie before the frame (fewer than it reaches
// back for) are the only ones read: the buffers here are exactly sized, so
// the sanitizer build catches any read before them.
TEST(Layer3Decode, ReservoirShortFrameKeepsTheNextFramesData)
{
    LAME_STREAM(s, "-b 128", 44100, 2);
    const size_t k = reaching_frame(*s, 10);
    ASSERT_LT(k + 1, s->frames.size());
    const int mdb = s->frames[k].main_data_begin;
    const int next_mdb = s->frames[k + 1].main_data_begin;

    for (const int before : {0, mdb - 1}) {
        SCOPED_TRACE(std::to_string(before) + " bytes before the frame");
        Decoder d;
        const std::vector<uint8_t> buf = s->from_frame(k, before);
        EXPECT_EQ(d.decode(buf, before), MPA_ERR_RESERVOIR_SHORT);
        EXPECT_TRUE(d.pcm_untouched());
        EXPECT_EQ(d.reservoir(), s->main_data_tail(k, next_mdb));
        EXPECT_EQ(d.decode(buf.data() + before + s->frames[k].size, buf.size() - before - s->frames[k].size),
                  MPA_OK);
    }

    // A reservoir that holds some but not all of the back-reference.
    Decoder d;
    d.decode_up_to(*s, k);
    ASSERT_EQ(d.dec->reservoir_fill, mdb);
    std::memmove(d.dec->reservoir, d.dec->reservoir + 1, static_cast<size_t>(mdb) - 1);
    d.dec->reservoir_fill = mdb - 1;
    const std::vector<uint8_t> buf = s->from_frame(k);
    EXPECT_EQ(d.decode(buf), MPA_ERR_RESERVOIR_SHORT);
    EXPECT_EQ(d.reservoir(), s->main_data_tail(k, next_mdb));
}

// What the next frame's header says bounds what is kept: nothing after an
// unconfirmed frame; after a frame whose successor's back-reference cannot
// be read, the frame ends with its audio data and up to 511 bytes are kept.
TEST(Layer3Decode, LookAheadDecidesWhatTheReservoirKeeps)
{
    LAME_STREAM(s, "-b 128", 44100, 2);
    const size_t k = reaching_frame(*s, 10);
    ASSERT_LT(k + 2, s->frames.size());
    const Frame &f = s->frames[k];
    Decoder d;
    d.decode_up_to(*s, k);
    const mpa_decoder saved = *d.dec;

    // The frame alone: its header is not confirmed.
    EXPECT_EQ(d.decode(s->from_frame(k, 0, f.size)), MPA_OK);
    EXPECT_EQ(d.dec->header.next_main_data_begin, 0);
    EXPECT_EQ(d.dec->reservoir_fill, 0);
    EXPECT_EQ(d.decode(s->from_frame(k + 1)), MPA_ERR_RESERVOIR_SHORT);

    // Two bytes of the next header confirm the frame but hide main_data_begin.
    *d.dec = saved;
    EXPECT_EQ(d.decode(s->from_frame(k, 0, f.size + 2)), MPA_OK);
    EXPECT_EQ(d.dec->header.next_main_data_begin, -1);
    const int beyond = f.md_bits - 8 * f.main_data_begin;
    EXPECT_EQ(d.dec->header.bits_in_frame, 8 * (f.header_bytes + s->side_bytes) + (beyond > 0 ? beyond : 0));
    const int unused = f.main_data_begin + f.own_bytes - f.md_bits / 8;
    EXPECT_EQ(d.reservoir(), s->main_data_tail(k, unused < 511 ? unused : 511));
    EXPECT_EQ(d.decode(*s, k + 1), MPA_OK);

    // The look-ahead itself, on a 100-byte payload and the bytes after it.
    const struct {
        std::vector<uint8_t> next;
        int result;
    } cases[] = {
        {{0xFF, 0xFB, 0x90, 0x00, 0xAB, 0xCD}, 0xAB * 2 + 1},              // MPEG-1: 9 bits
        {{0xFF, 0xFA, 0x90, 0x00, 0x12, 0x34, 0xAB, 0x4D}, 0xAB * 2},      // after the CRC word
        {{0xFF, 0xF3, 0x90, 0x00, 0xAB}, 0xAB},                            // LSF: 8 bits
        {{0xFF, 0xFD, 0x90, 0x00, 0xAB, 0xCD}, -1},                        // Layer II
        {{0xFF, 0xFB, 0x90}, -1},                                          // header cut
        {{0xFF, 0xFB, 0x90, 0x00, 0xAB}, -1},                              // field cut
        {{0xFF, 0xFA, 0x90, 0x00, 0x12, 0x34}, -1},                        // CRC word, no field
    };
    for (const auto &c : cases) {
        layer3_test_ctx t(1, 0);
        t.dec->header.header_bits = 32;
        t.dec->header.bits_in_frame = 8 * (4 + 100);
        std::vector<uint8_t> buf(100, 0x55);
        buf.insert(buf.end(), c.next.begin(), c.next.end());
        mpa_bits_init(&t.bits, buf.data(), static_cast<int>(buf.size()));
        EXPECT_EQ(mpa_layer3_next_main_data_begin(&t.ctx), c.result < 0 ? -1 : 0);
        EXPECT_EQ(t.dec->header.next_main_data_begin, c.result);
    }
}

// Runs the Layer III decoder as the frame driver does, but with a frame
// length of the caller's choosing.
int decode_with_length(Decoder &d, const std::vector<uint8_t> &buf, int before, int bits_in_frame)
{
    std::fill(d.pcm, d.pcm + MPA_PCM_BUFFER_FLOATS, kUntouched);
    const uint8_t *frame = buf.data() + before;
    mpa_header *h = &d.dec->header;
    if (mpa_get_header(h, frame, 64) != MPA_HEADER_UNCONFIRMED || h->header_offset != 0)
        return MPA_ERR_NO_HEADER;
    h->bits_in_frame = bits_in_frame;
    mpa_bitstream bits;
    mpa_bits_init(&bits, frame + h->header_bits / 8,
                  static_cast<int>(buf.size()) - before - h->header_bits / 8);
    mpa_frame_scratch scratch;
    mpa_frame_ctx ctx;
    mpa_frame_ctx_init(&ctx, d.dec, d.pcm, &bits, &scratch);
    const int status = mpa_layer3_decode(&ctx, before, MPA_HEADER_UNCONFIRMED);
    d.dec->reservoir_fill = ctx.reservoir_fill;
    return status;
}

// A free-format frame whose length came from a distant (or no) following
// header may claim more main data than the 1936-byte assembly buffer holds:
// here 3000 bytes after a stereo side information that asks for 2000 bytes.
// Whatever it decodes to, nothing is written past that buffer nor read
// outside the input (run under the sanitizer build). The frame driver's
// header search cannot produce such a frame (a free-format frame without a
// successor within 1440 bytes is no frame to it), so the decoder is called
// directly.
TEST(Layer3Decode, OversizedFreeFormatFrameStaysInItsBuffers)
{
    const struct {
        int mdb, before, fill, status;
    } cases[] = {
        {0, 0, 0, MPA_OK},
        {511, 511, 0, MPA_OK},                  // prefix from the input
        {511, 0, 600, MPA_OK},                  // prefix from the reservoir
        {511, 0, 0, MPA_ERR_RESERVOIR_SHORT},
        {511, 100, 0, MPA_ERR_RESERVOIR_SHORT},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("main_data_begin " + std::to_string(c.mdb) + ", " + std::to_string(c.before) +
                     " bytes before, reservoir " + std::to_string(c.fill));
        mpa_test::BitWriter w;
        uint32_t x = 12345;
        auto noise = [&x]() {  // 7-bit values: no byte of a sync word
            x = x * 1103515245u + 12345u;
            return (x >> 16) & 0x7F;
        };
        for (int i = 0; i < c.before; i++)
            w.put(noise(), 8);
        w.put(0xFFFB0000u, 32);  // MPEG-1 Layer III, free format, 44.1 kHz, stereo
        w.put(static_cast<uint32_t>(c.mdb), 9);
        w.put(0, 3 + 8);
        for (int g = 0; g < 4; g++) {
            w.put(4000, 12);  // part2_3_length
            w.put(288, 9);    // big_values
            w.put(200, 8);    // global_gain
            w.put(0, 4 + 1);  // scalefac_compress, long blocks
            w.put(15u << 10 | 24u << 5 | 13u, 15);
            w.put(7, 4);
            w.put(7, 3);
            w.put(0, 3);
        }
        for (int i = 0; i < 3000; i++)
            w.put(noise(), 8);
        const std::vector<uint8_t> buf = w.bytes();
        Decoder d;
        for (int i = 0; i < c.fill; i++)
            d.dec->reservoir[i] = static_cast<uint8_t>(noise());
        d.dec->reservoir_fill = c.fill;
        const int frame_bits = 8 * static_cast<int>(buf.size() - c.before);
        const int status = decode_with_length(d, buf, c.before, frame_bits);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(d.dec->header.bits_in_frame, frame_bits);
        EXPECT_EQ(d.dec->reservoir_fill, 0);  // unconfirmed: the next frame takes nothing
    }
}

}  // namespace
