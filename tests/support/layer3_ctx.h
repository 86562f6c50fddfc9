// Test helper: a decoder instance and a frame context wired to it, enough for
// the Layer III stages that read the header and the degrouping tables.
#ifndef ROVAZ_TESTS_SUPPORT_LAYER3_CTX_H
#define ROVAZ_TESTS_SUPPORT_LAYER3_CTX_H

#include <cstring>

#include "core/bitstream.h"
#include "core/decoder.h"
#include "core/frame_ctx.h"
#include "layer3/granule.h"

struct layer3_test_ctx {
    mpa_decoder *dec = nullptr;
    mpa_bitstream bits{};
    mpa_frame_ctx ctx{};

    layer3_test_ctx(int id, int sampling_index, int mode_extension = 0)
    {
        mpa_decoder_open(&dec);
        dec->header.id = id;
        dec->header.layer_bits = 1;
        dec->header.sampling_index = sampling_index;
        dec->header.mode_extension = mode_extension;
        mpa_frame_ctx_init(&ctx, dec, nullptr, &bits, nullptr);
    }
    ~layer3_test_ctx() { mpa_decoder_close(dec); }
    layer3_test_ctx(const layer3_test_ctx &) = delete;
    layer3_test_ctx &operator=(const layer3_test_ctx &) = delete;
};

// A granule record with side information for the given block layout, run
// through the granule setup.
inline mpa_granule_info layer3_test_granule(const mpa_frame_ctx *ctx, int block_type,
                                            int mixed_block_flag)
{
    mpa_granule_info info;
    std::memset(&info, 0, sizeof(info));
    info.window_switching_flag = block_type != 0;
    info.block_type = static_cast<uint16_t>(block_type);
    info.mixed_block_flag = static_cast<uint16_t>(mixed_block_flag);
    mpa_layer3_granule_bands(ctx, &info);
    return info;
}

#endif
