// Frame header search, confirmation and parse.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/decoder.h"
#include "core/header.h"
#include "rovaz/mpa.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Four header bytes. layer: 1..3; id: 1 MPEG-1, 0 MPEG-2.
Bytes header(int id, int layer, int bitrate_index, int sampling_index, int padding = 0, int mode = 0,
             bool crc = false, int emphasis = 0)
{
    return {0xFF, static_cast<uint8_t>(0xF0 | id << 3 | (4 - layer) << 1 | (crc ? 0 : 1)),
            static_cast<uint8_t>(bitrate_index << 4 | sampling_index << 2 | padding << 1),
            static_cast<uint8_t>(mode << 6 | emphasis)};
}

// A frame of the given length: header, then zeros.
Bytes frame(const Bytes &h, size_t bytes)
{
    Bytes f(bytes, 0);
    std::copy(h.begin(), h.end(), f.begin());
    return f;
}

Bytes cat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

mpa_header zeroed()
{
    mpa_header h;
    std::memset(&h, 0, sizeof(h));
    return h;
}

TEST(Header, FrameLengthsAndDerivedFieldsOfEachLayer)
{
    struct Case {
        int id, layer, bitrate_index, sampling_index, padding;
        int bits, rate, sampling_rate, samples;
    } cases[] = {
        {1, 3, 9, 0, 0, 3336, 128, 44100, 1152},   // 417 bytes
        {1, 3, 9, 0, 1, 3344, 128, 44100, 1152},
        {1, 2, 10, 1, 0, 4608, 192, 48000, 1152},
        {1, 1, 6, 0, 0, 1664, 192, 44100, 384},    // Layer I: whole 32-bit slots
        {1, 1, 6, 0, 1, 1696, 192, 44100, 384},
        {0, 3, 8, 1, 0, 1536, 64, 24000, 576},     // MPEG-2 Layer III: 576 samples
        {0, 2, 8, 2, 0, 4608, 64, 16000, 1152},
        {0, 1, 1, 0, 0, 544, 32, 22050, 384},
    };
    for (const Case &c : cases) {
        const Bytes h = header(c.id, c.layer, c.bitrate_index, c.sampling_index, c.padding, 3);
        Bytes f = frame(h, static_cast<size_t>(c.bits) / 8);
        f = cat(f, h);
        mpa_header out = zeroed();
        ASSERT_EQ(mpa_get_header(&out, f.data(), static_cast<int>(f.size())), MPA_OK) << c.bits;
        EXPECT_EQ(out.bits_in_frame, c.bits);
        EXPECT_EQ(out.bit_rate, c.rate);
        EXPECT_EQ(out.sampling_rate, c.sampling_rate);
        EXPECT_EQ(out.n_samples, c.samples);
        EXPECT_EQ(out.n_channels, 1);
        EXPECT_EQ(out.layer_bits, 4 - c.layer);
        EXPECT_EQ(out.header_bits, 32);
        EXPECT_EQ(out.header_offset, 0);
    }
    // The flag bits each land in their own field.
    Bytes h = header(1, 3, 9, 0, 0, 1, false, 1);
    h[2] |= 1;           // private
    h[3] |= 2 << 4 | 8;  // mode extension 2, copyright; not original
    mpa_header out = zeroed();
    ASSERT_EQ(mpa_get_header(&out, cat(frame(h, 417), h).data(), 421), MPA_OK);
    EXPECT_EQ(out.private_bit, 1);
    EXPECT_EQ(out.mode, 1);
    EXPECT_EQ(out.mode_extension, 2);
    EXPECT_EQ(out.copyright, 1);
    EXPECT_EQ(out.original, 0);
    EXPECT_EQ(out.emphasis, 1);
}

TEST(Header, ConfirmationByTheNextHeader)
{
    const Bytes h = header(1, 3, 9, 0);
    const Bytes alone = frame(h, 417);
    mpa_header out = zeroed();
    EXPECT_EQ(mpa_get_header(&out, alone.data(), static_cast<int>(alone.size())), MPA_HEADER_UNCONFIRMED);
    EXPECT_EQ(out.header_offset, 0);
    EXPECT_EQ(out.bits_in_frame, 3336);

    // Two bytes of the successor suffice; its protection bit is free.
    const Bytes confirmed = cat(alone, {0xFF, 0xFA});
    out = zeroed();
    EXPECT_EQ(mpa_get_header(&out, confirmed.data(), static_cast<int>(confirmed.size())), MPA_OK);

    // A successor of another layer contradicts the candidate: passed over.
    const Bytes other_layer = cat(alone, {0xFF, 0xFD});
    out = zeroed();
    EXPECT_EQ(mpa_get_header(&out, other_layer.data(), static_cast<int>(other_layer.size())),
              MPA_ERR_NO_HEADER);
}

TEST(Header, FalseSyncInGarbageLosesToConfirmedFrame)
{
    Bytes data = {0x12, 0x34, 0xFF, 0xFB, 0x90, 0x00, 0x55, 0x66, 0x77};  // false sync at 2
    const size_t genuine = data.size();
    data = cat(data, frame(header(1, 3, 9, 0), 417));
    data = cat(data, frame(header(1, 3, 9, 0), 417));
    mpa_header out = zeroed();
    EXPECT_EQ(mpa_get_header(&out, data.data(), static_cast<int>(data.size())), MPA_OK);
    EXPECT_EQ(out.header_offset, static_cast<int>(genuine));
}

TEST(Header, ContinuationRuleAtPositionZero)
{
    // A frame at position 0 whose successor is garbage.
    Bytes data = cat(frame(header(1, 3, 9, 0), 417), {0x00, 0x00, 0x00, 0x00});
    mpa_header previous = zeroed();
    previous.id = 1;
    previous.layer_bits = 1;
    previous.sampling_index = 0;
    EXPECT_EQ(mpa_get_header(&previous, data.data(), static_cast<int>(data.size())), MPA_HEADER_UNCONFIRMED);
    EXPECT_EQ(previous.header_offset, 0);

    // With a zeroed record the search goes on and finds nothing else.
    mpa_header fresh = zeroed();
    EXPECT_EQ(mpa_get_header(&fresh, data.data(), static_cast<int>(data.size())), MPA_ERR_NO_HEADER);

    // A different sampling rate in the previous header does not continue.
    previous.sampling_index = 1;
    EXPECT_EQ(mpa_get_header(&previous, data.data(), static_cast<int>(data.size())), MPA_ERR_NO_HEADER);
}

TEST(Header, CandidateFilters)
{
    const Bytes rejected[] = {
        {0xFF, 0xF1, 0x90, 0x00},           // layer code 0
        {0xFF, 0xFB, 0x9C, 0x00},           // sampling index 3
        {0xFF, 0xFB, 0xF0, 0x00},           // bit-rate index 15
        {0xFF, 0xFB, 0x90, 0x02},           // emphasis 2
        {0xFF, 0xE3, 0x90, 0x00},           // 11-bit sync extension
        {0xFE, 0xFB, 0x90, 0x00},
    };
    for (const Bytes &r : rejected) {
        Bytes data = cat(r, Bytes(600, 0));
        mpa_header out = zeroed();
        out.header_offset = 1234;
        EXPECT_EQ(mpa_get_header(&out, data.data(), static_cast<int>(data.size())), MPA_ERR_NO_HEADER);
        EXPECT_EQ(out.header_offset, 1234) << "record must stay untouched";
    }
}

// MPEG 2.5 (eleven sync bits, version bits 00) only where opted in: never
// by mpa_get_header nor by an instance as opened (the frame API and the JNI
// methods), by the search option and an instance's flag, Layer III only.
TEST(Header, Mpeg25OnlyWhereOptedIn)
{
    const struct {
        uint8_t b2;  // bit-rate index, sampling index, padding
        int bits, rate, sampling_rate;
    } cases[] = {
        {0x28, 144 * 8, 16, 8000},    // 72 * 16000 / 8000
        {0x32, 157 * 8, 24, 11025},   // 156 bytes, padded
        {0xE4, 960 * 8, 160, 12000},
    };
    for (const auto &c : cases) {
        const Bytes h = {0xFF, 0xE3, c.b2, 0xC0};
        const Bytes data = cat(frame(h, static_cast<size_t>(c.bits) / 8),
                               frame(h, 5)); // the successor's main_data_begin too
        mpa_header out = zeroed();
        EXPECT_EQ(mpa_get_header(&out, data.data(), static_cast<int>(data.size())), MPA_ERR_NO_HEADER);
        EXPECT_EQ(mpa_search_header(&out, data.data(), static_cast<int>(data.size()), 0), MPA_ERR_NO_HEADER);
        ASSERT_EQ(mpa_search_header(&out, data.data(), static_cast<int>(data.size()), MPA_SEARCH_MPEG25),
                  MPA_OK);
        EXPECT_EQ(out.id, 0);
        EXPECT_EQ(out.sampling_rate, c.sampling_rate);
        EXPECT_EQ(out.bit_rate, c.rate);
        EXPECT_EQ(out.bits_in_frame, c.bits);
        EXPECT_EQ(out.n_samples, 576);
        EXPECT_TRUE(mpa_header_is_mpeg25(out));

        mpa_decoder *dec = nullptr;
        ASSERT_EQ(mpa_decoder_open(&dec), MPA_OK);
        float pcm[MPA_PCM_BUFFER_FLOATS];
        int consumed = -1, needed = -1;
        EXPECT_EQ(mpa_decode_frame(dec, pcm, data.data(), static_cast<int>(data.size()), 0),
                  MPA_ERR_NO_HEADER);
        EXPECT_EQ(mpa_decode_step(dec, pcm, data.data(), static_cast<int>(data.size()), 0,
                                  MPA_PCM_BUFFER_FLOATS, &consumed, &needed),
                  MPA_ERR_NO_HEADER);
        dec->accept_mpeg25 = 1;
        EXPECT_EQ(mpa_decode_step(dec, pcm, data.data(), static_cast<int>(data.size()), 0,
                                  MPA_PCM_BUFFER_FLOATS, &consumed, &needed),
                  MPA_OK);
        EXPECT_EQ(consumed, c.bits / 8);
        mpa_decoder_close(dec);
    }
    // Layers I and II, and the reserved version bits 01, stay refused.
    for (const uint8_t b1 : {0xE5, 0xE7, 0xEB}) {
        const Bytes h = {0xFF, b1, 0x28, 0xC0};
        const Bytes data = cat(frame(h, 144), h);
        mpa_header out = zeroed();
        EXPECT_EQ(mpa_search_header(&out, data.data(), static_cast<int>(data.size()), MPA_SEARCH_MPEG25),
                  MPA_ERR_NO_HEADER)
            << static_cast<int>(b1);
    }
}

TEST(Header, ShortAndNullInput)
{
    const uint8_t three[] = {0xFF, 0xFB, 0x90};
    mpa_header out = zeroed();
    EXPECT_EQ(mpa_get_header(&out, three, 3), MPA_ERR_NO_HEADER);
    EXPECT_EQ(mpa_get_header(&out, three, -5), MPA_ERR_NO_HEADER);
    EXPECT_EQ(mpa_get_header(nullptr, three, 3), MPA_ERR_NULL_ARG);
    EXPECT_EQ(mpa_get_header(&out, nullptr, 3), MPA_ERR_NULL_ARG);
}

TEST(Header, FreeFormatLengthFromTheNextHeader)
{
    const Bytes h = header(1, 3, 0, 0, 0, 1);
    Bytes data = cat(frame(h, 417), frame(h, 417));
    mpa_header out = zeroed();
    EXPECT_EQ(mpa_get_header(&out, data.data(), static_cast<int>(data.size())), MPA_OK);
    EXPECT_EQ(out.bits_in_frame, 3336);
    EXPECT_EQ(out.bit_rate, 0);

    // The successor's padding and private bits are free.
    Bytes padded = cat(frame(h, 417), frame(header(1, 3, 0, 0, 1, 1), 100));
    out = zeroed();
    EXPECT_EQ(mpa_get_header(&out, padded.data(), static_cast<int>(padded.size())), MPA_OK);
    EXPECT_EQ(out.bits_in_frame, 3336);

    // Nearer than 48 bytes is not a successor: the frame stays unconfirmed
    // and extends to the end of the buffer.
    Bytes near = cat(frame(h, 40), frame(h, 40));
    out = zeroed();
    EXPECT_EQ(mpa_get_header(&out, near.data(), static_cast<int>(near.size())), MPA_HEADER_UNCONFIRMED);
    EXPECT_EQ(out.bits_in_frame, static_cast<int>(near.size()) * 8);

    // Farther than the Layer III limit (1440 bytes): the first candidate is
    // passed over; the second cannot be confirmed within the buffer.
    Bytes far = cat(frame(h, 1441), frame(h, 1441));
    out = zeroed();
    EXPECT_EQ(mpa_get_header(&out, far.data(), static_cast<int>(far.size())), MPA_HEADER_UNCONFIRMED);
    EXPECT_EQ(out.header_offset, 1441);

    // Layer I allows up to 672 bytes.
    const Bytes h1 = header(1, 1, 0, 0);
    Bytes l1 = cat(frame(h1, 672), frame(h1, 700));
    out = zeroed();
    EXPECT_EQ(mpa_get_header(&out, l1.data(), static_cast<int>(l1.size())), MPA_OK);
    EXPECT_EQ(out.bits_in_frame, 672 * 8);
}

TEST(Header, FirstUnconfirmedCandidateIsReported)
{
    // Two free-format candidates, neither confirmable within the buffer.
    Bytes data = cat(cat(Bytes(5, 0), header(1, 3, 0, 0)), Bytes(10, 0));
    data = cat(data, header(1, 3, 0, 0));
    mpa_header out = zeroed();
    EXPECT_EQ(mpa_get_header(&out, data.data(), static_cast<int>(data.size())), MPA_HEADER_UNCONFIRMED);
    EXPECT_EQ(out.header_offset, 5);
    EXPECT_EQ(out.bits_in_frame, (static_cast<int>(data.size()) - 5) * 8);
}

TEST(Header, LayerThreeBackReferenceAndCrcWord)
{
    // MPEG-1, protected: CRC word, then main_data_begin = 9 bits.
    Bytes h = header(1, 3, 9, 0, 0, 0, true);
    Bytes f = frame(h, 417);
    f[4] = 0xAB;
    f[5] = 0xCD;
    f[6] = 0x80;  // main_data_begin = 0x80 * 2 + 1 = 257
    f[7] = 0x80;
    f = cat(f, h);
    mpa_header out = zeroed();
    ASSERT_EQ(mpa_get_header(&out, f.data(), static_cast<int>(f.size())), MPA_OK);
    EXPECT_EQ(out.header_bits, 48);
    EXPECT_EQ(out.crc_word, 0xABCD);
    EXPECT_EQ(out.crc_header_bits, f[2] << 8 | f[3]);
    EXPECT_EQ(out.neg_offset, 257);

    // MPEG-2 24 kHz 64 kbit/s: 8-bit main_data_begin.
    Bytes h2 = header(0, 3, 8, 1);
    Bytes f2 = frame(h2, 192);
    f2[4] = 0xC8;
    f2[5] = 0xFF;
    f2 = cat(f2, h2);
    out = zeroed();
    ASSERT_EQ(mpa_get_header(&out, f2.data(), static_cast<int>(f2.size())), MPA_OK);
    EXPECT_EQ(out.bits_in_frame, 1536);
    EXPECT_EQ(out.n_samples, 576);
    EXPECT_EQ(out.neg_offset, 0xC8);

    // Layers I and II have no back-reference.
    Bytes l2 = cat(frame(header(1, 2, 8, 0), 417), header(1, 2, 8, 0));
    l2[4] = 0xFF;
    out = zeroed();
    ASSERT_EQ(mpa_get_header(&out, l2.data(), static_cast<int>(l2.size())), MPA_OK);
    EXPECT_EQ(out.neg_offset, 0);
}

TEST(Header, HeaderAtTheVeryEndReadsNothingBeyondTheBuffer)
{
    // A protected Layer III header in the last four bytes: the CRC word and
    // main_data_begin lie past the end and read as zero.
    Bytes data = header(1, 3, 9, 0, 0, 0, true);
    std::vector<uint8_t> exact(data.begin(), data.end());
    mpa_header out = zeroed();
    ASSERT_EQ(mpa_get_header(&out, exact.data(), static_cast<int>(exact.size())), MPA_HEADER_UNCONFIRMED);
    EXPECT_EQ(out.crc_word, 0);
    EXPECT_EQ(out.neg_offset, 0);
}

TEST(Header, ContinuingFrameBeatsFalseSyncsInItsOwnData)
{
    mpa_header previous = zeroed();
    previous.id = 1;
    previous.layer_bits = 1;
    previous.sampling_index = 0;

    // The last frame of a stream, holding a sync word "confirmed" by another
    // one in its own data: the continuing frame at position 0 wins.
    Bytes last = frame(header(1, 3, 9, 0), 417);
    const Bytes fake = header(1, 1, 1, 0);  // Layer I, 32 kbit/s: 32 bytes
    std::copy(fake.begin(), fake.end(), last.begin() + 100);
    std::copy(fake.begin(), fake.end(), last.begin() + 132);
    mpa_header out = previous;
    EXPECT_EQ(mpa_get_header(&out, last.data(), static_cast<int>(last.size())), MPA_HEADER_UNCONFIRMED);
    EXPECT_EQ(out.header_offset, 0);
    EXPECT_EQ(out.bits_in_frame, 3336);

    // Free format: a sync-like word at byte 60 of a 417-byte frame. A frame
    // continuing a free-format stream of 417-byte frames keeps that length.
    const Bytes h = header(1, 3, 0, 0);
    Bytes ff = cat(frame(h, 417), frame(h, 417));
    std::copy(h.begin(), h.end(), ff.begin() + 60);
    previous.bitrate_index = 0;
    previous.bits_in_frame = 417 * 8;
    out = previous;
    EXPECT_EQ(mpa_get_header(&out, ff.data(), static_cast<int>(ff.size())), MPA_OK);
    EXPECT_EQ(out.bits_in_frame, 417 * 8);
    // A padded frame after an unpadded one is one byte longer.
    Bytes padded = cat(frame(header(1, 3, 0, 0, 1), 418), frame(h, 417));
    std::copy(h.begin(), h.end(), padded.begin() + 60);
    out = previous;
    EXPECT_EQ(mpa_get_header(&out, padded.data(), static_cast<int>(padded.size())), MPA_OK);
    EXPECT_EQ(out.bits_in_frame, 418 * 8);
    // Without a previous frame the first match wins, as for any new stream.
    out = zeroed();
    EXPECT_EQ(mpa_get_header(&out, ff.data(), static_cast<int>(ff.size())), MPA_OK);
    EXPECT_EQ(out.bits_in_frame, 60 * 8);
}

}  // namespace
