// Layer III streams made by lame, decoded whole through the stream layer:
// quality against the encoded signal, gapless length, and a stream that
// starts in the middle of the bit reservoir.
#include <gtest/gtest.h>

#include "support/encoded_streams.h"

namespace {

// lame lowers the level of this signal by about 5% at CBR rates up to 160
// kbit/s (an independent decoder gives the same output), which caps the SNR
// there at 26 dB (31-34 dB at 192-224 kbit/s); from 256 kbit/s and with VBR
// it measures 68-79 dB.
const mpa_test::StreamCase kCases[] = {
    {"-b 128", 44100, 2, 1, 128, false, 23},
    {"-m s -b 320", 44100, 2, 0, 320, false, 65},
    {"-V 2", 44100, 2, 1, 128, false, 60},  // the first frame is lame's 128 kbit/s tag frame
    {"--freeformat -b 256", 44100, 2, 1, 0, false, 65},
    {"-p -b 128", 44100, 2, 1, 128, true, 23},
    {"-m m -b 64", 44100, 1, 3, 64, false, 23},
    {"-m d -b 160", 48000, 2, 2, 160, false, 23},
    {"-m f -b 128", 32000, 2, 1, 128, false, 23},
    {"-b 64", 16000, 2, 1, 64, false, 23},
    {"-p -b 64", 22050, 2, 1, 64, true, 23},
    {"-m m -b 48", 24000, 1, 3, 48, false, 23},
    {"-m s -b 160", 24000, 2, 0, 160, false, 23},
    {"-V 4", 22050, 2, 1, 64, false, 60},
    {"--freeformat -m m -b 96", 16000, 1, 3, 0, false, 23},
    {"-p -m d -b 96", 16000, 2, 2, 96, true, 23},
    // MPEG 2.5
    {"-b 16", 8000, 2, 1, 16, false, 23},
    {"-m m -V 6", 8000, 1, 3, 32, false, 60},
    {"-p -m m -b 24", 11025, 1, 3, 24, true, 23},
    {"-V 5", 11025, 2, 1, 32, false, 60},
    {"-m s -b 32", 12000, 2, 0, 32, false, 23},
    {"-m m -V 4", 12000, 1, 3, 32, false, 60},
};

TEST(Layer3Streams, LameStreamsDecodeCleanly)
{
    MPA_SKIP_WITHOUT("sox");
    MPA_SKIP_WITHOUT("lame");
    for (const mpa_test::StreamCase &c : kCases) {
        SCOPED_TRACE(std::string(c.options) + " at " + std::to_string(c.rate) + " Hz");
        const mpa_test::Encoded *e = mpa_test::encode("lame", c.options, c.rate, c.channels);
        ASSERT_NE(e, nullptr);
        mpa_stream_config gapless;
        mpa_stream_config_default(&gapless);
        const mpa_test::Decoded d = mpa_test::decode_stream(e->bytes, &gapless);
        mpa_test::expect_clean_decode(d, e->bytes, 1, c.rate, c.mode, c.bit_rate, c.crc);
        if (c.rate < 16000) {
            // MPEG 2.5, which the switch turns off: its frames are junk then
            // (where false syncs may pass for a frame or two).
            mpa_stream_config off = gapless;
            off.mpeg25 = 0;
            const mpa_test::Decoded junk = mpa_test::decode_stream(e->bytes, &off);
            EXPECT_NE(junk.format.sampling_rate, c.rate);
            EXPECT_LT(junk.interleaved.size(), d.interleaved.size() / 10);
        }

        const mpa_test::Snr snr = mpa_test::snr_against_source(e->source->pcm, d.interleaved, c.channels);
        ASSERT_GE(snr.lag, 0);
        EXPECT_GT(snr.db, c.min_snr_db) << "delay " << snr.lag;
        // With lame's tag the output is the signal, sample for sample (lame
        // writes none where it does not fit a frame: 48 kbit/s at 24 kHz).
        if (d.info.info_kind != MPA_INFO_NONE) {
            EXPECT_TRUE(d.info.gapless);
            EXPECT_EQ(snr.lag, 0);
            EXPECT_EQ(d.interleaved.size(), e->source->pcm.size());
        }
    }
}

// A stream cut in front of a frame that reaches back into the reservoir, or
// inside the frame before such a frame: the frames whose main data lies
// before the cut give silence, and from the frame after them on the output
// is that of the uncut stream once the overlap and filterbank history of
// the first decoded granule have been replaced: one frame of two granules
// (MPEG-1), two frames of one granule (LSF).
TEST(Layer3Streams, StreamStartingInsideTheReservoir)
{
    MPA_SKIP_WITHOUT("sox");
    MPA_SKIP_WITHOUT("lame");
    const struct {
        const char *options;
        int rate;
    } streams[] = {{"-b 128", 44100}, {"-V 2", 44100}, {"-b 64", 22050}};
    for (const auto &st : streams) {
        const mpa_test::Encoded *e = mpa_test::encode("lame", st.options, st.rate, 2);
        ASSERT_NE(e, nullptr);
        const std::vector<mpa_test::FrameSpan> frames = mpa_test::frame_spans(e->bytes);
        const mpa_test::Decoded full = mpa_test::decode_stream(e->bytes);
        const size_t info_frame = full.info.info_kind != MPA_INFO_NONE ? 1 : 0;

        size_t n = 10;
        while (n < frames.size() && frames[n].main_data_begin == 0)
            n++;
        ASSERT_LT(n + 20, frames.size());

        for (const bool mid_frame : {false, true}) {
            SCOPED_TRACE(std::string(st.options) + (mid_frame ? ", cut inside a frame" : ", cut at a frame"));
            // Cut inside frame n - 1, so that the first header is frame n's.
            const size_t start = mid_frame ? frames[n - 1].offset + 40 : frames[n].offset;
            const mpa_test::Decoded part =
                mpa_test::decode_stream(e->bytes.data() + start, e->bytes.size() - start);
            EXPECT_EQ(part.info.frames_concealed, 0);
            EXPECT_EQ(part.info.bytes_skipped, static_cast<long long>(frames[n].offset - start));
            EXPECT_GE(part.info.frames_silent, 1);
            EXPECT_LE(part.info.frames_silent, 3);
            ASSERT_EQ(part.frames.size() + n, full.frames.size() + info_frame);

            const size_t settle = static_cast<size_t>(part.info.frames_silent) + (st.rate >= 32000 ? 1 : 2);
            for (size_t k = settle; k < part.frames.size(); k++)
                ASSERT_EQ(part.frames[k], full.frames[n + k - info_frame]) << "decoded frame " << k;
        }
    }
}

}  // namespace
