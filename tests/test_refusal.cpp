// What the Layer I and Layer II decoders refuse, the same checks for each
// layer: input cut short asks for more, frames that break the layer's rules
// are errors, and the CRC covers exactly the protected bits. None of it
// writes output. (Layer III refuses through its reservoir: test_layer3_decode.)
#include <gtest/gtest.h>

#include "support/layer12_run.h"

namespace {

struct LayerParam {
    const char *name;
    mpa_test::LayerRefusals (*make)();
};

class LayerRefusal : public testing::TestWithParam<LayerParam> {};

TEST_P(LayerRefusal, ShortAndBadFramesGiveNoOutput)
{
    const mpa_test::LayerRefusals r = GetParam().make();
    {
        mpa_test::Layer12Run run;
        ASSERT_EQ(run.decode(r.frame), MPA_OK);
    }
    for (int len : r.short_lengths) {
        mpa_test::Layer12Run run;
        EXPECT_EQ(run.decode(r.frame, len), MPA_ERR_NEED_DATA) << len;
        EXPECT_TRUE(run.nothing_output()) << len;
    }
    for (const auto &[what, bytes] : r.bad) {
        mpa_test::Layer12Run run;
        EXPECT_EQ(run.decode(bytes), MPA_ERROR) << what;
        EXPECT_TRUE(run.nothing_output()) << what;
    }
}

TEST_P(LayerRefusal, CrcCoversExactlyTheProtectedBits)
{
    const mpa_test::LayerRefusals r = GetParam().make();
    ASSERT_FALSE(r.protected_frames.empty());
    for (const mpa_test::ProtectedFrame &p : r.protected_frames) {
        if (p.expected_crc_bits) {
            EXPECT_EQ(p.crc_bits, p.expected_crc_bits);
        }
        mpa_test::expect_crc_covers_exactly(p.bytes, p.crc_bits, r.crc_word_byte, r.crc_word_mask);
    }
}

INSTANTIATE_TEST_SUITE_P(Layers, LayerRefusal,
                         testing::Values(LayerParam{"Layer1", mpa_test::layer1_refusals},
                                         LayerParam{"Layer2", mpa_test::layer2_refusals}),
                         [](const testing::TestParamInfo<LayerParam> &info) { return info.param.name; });

}  // namespace
