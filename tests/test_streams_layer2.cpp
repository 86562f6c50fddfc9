// Layer II streams made by twolame, decoded whole through the stream layer and
// compared with the signal that was encoded.
#include <gtest/gtest.h>

#include "support/encoded_streams.h"

namespace {

// Measured SNRs: about 63-71 dB at the MPEG-1 rates, 47-50 dB at the LSF
// rates (where twolame has fewer bits per subband).
const mpa_test::StreamCase kCases[] = {
    {"-m s -b 192", 44100, 2, 0, 192, false, 55},
    {"-m s -b 192", 48000, 2, 0, 192, false, 55},
    {"-m j -b 128", 32000, 2, 1, 128, false, 55},
    {"-m d -b 256", 44100, 2, 2, 256, false, 55},
    {"-m m -b 96", 48000, 1, 3, 96, false, 55},
    {"-p -m s -b 192", 44100, 2, 0, 192, true, 55},
    {"-p -m j -b 160", 32000, 2, 1, 160, true, 55},
    {"--freeformat -m s -b 200", 44100, 2, 0, 0, false, 55},
    {"--freeformat -m m -b 100", 24000, 1, 3, 0, false, 42},
    {"-m s -b 96", 16000, 2, 0, 96, false, 42},
    {"-m j -b 96", 22050, 2, 1, 96, false, 42},
    {"-m m -b 64", 24000, 1, 3, 64, false, 42},
    {"-p -m d -b 128", 22050, 2, 2, 128, true, 42},
};

TEST(Layer2Streams, TwolameStreamsDecodeCleanly)
{
    MPA_SKIP_WITHOUT("sox");
    MPA_SKIP_WITHOUT("twolame");
    for (const mpa_test::StreamCase &c : kCases) {
        SCOPED_TRACE(std::string(c.options) + " at " + std::to_string(c.rate) + " Hz");
        const mpa_test::Encoded *e = mpa_test::encode("twolame", c.options, c.rate, c.channels);
        ASSERT_NE(e, nullptr);
        const mpa_test::Decoded d = mpa_test::decode_stream(e->bytes);
        mpa_test::expect_clean_decode(d, e->bytes, 2, c.rate, c.mode, c.bit_rate, c.crc);

        const mpa_test::Snr snr = mpa_test::snr_against_source(e->source->pcm, d.interleaved, c.channels);
        ASSERT_GE(snr.lag, 0);
        // twolame codes whole frames of input and no more, so the last
        // samples (the codec delay) are missing, but no frame is.
        EXPECT_GE(d.interleaved.size() / c.channels, e->source->pcm.size() / c.channels);
        EXPECT_GT(snr.db, c.min_snr_db) << "delay " << snr.lag;
    }
}

}  // namespace
