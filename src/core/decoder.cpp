// Decoder instance life cycle.
#include "core/decoder.h"
#include "core/grouping_tables.h"

#include <cstdlib>
#include <cstring>

void mpa_build_grouping_table(uint8_t (*dest)[4], int n)
{
    int c = 0;
    for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++)
            for (int k = 0; k < n; k++, c++) {
                dest[c][0] = static_cast<uint8_t>(k);
                dest[c][1] = static_cast<uint8_t>(j);
                dest[c][2] = static_cast<uint8_t>(i);
                dest[c][3] = 0;
            }
}

int mpa_decoder_reset(mpa_decoder *dec)
{
    if (!dec)
        return MPA_ERR_NULL_ARG;
    std::memset(dec, 0, sizeof(*dec));
    // The tables are what mpa_build_grouping_table writes for 9, 3 and 5
    // levels; copying the precomputed ones makes opening a stream cheap.
    std::memcpy(dec->grouping_9, mpa_grouping_9_initial, sizeof(dec->grouping_9));
    std::memcpy(dec->grouping_3, mpa_grouping_3_initial, sizeof(dec->grouping_3));
    std::memcpy(dec->grouping_5, mpa_grouping_5_initial, sizeof(dec->grouping_5));
    return MPA_OK;
}

int mpa_decoder_open(mpa_decoder **out)
{
    if (!out)
        return MPA_ERR_NULL_ARG;
    // malloc rather than new: the record is plain data and a failed
    // allocation must be reported, not thrown.
    mpa_decoder *dec = static_cast<mpa_decoder *>(std::malloc(sizeof(mpa_decoder)));
    *out = dec;
    if (!dec)
        return MPA_ERROR;
    return mpa_decoder_reset(dec);
}

void mpa_decoder_close(mpa_decoder *dec)
{
    std::free(dec);
}

int mpa_decoder_restart_search(mpa_decoder *dec)
{
    if (!dec)
        return MPA_ERR_NULL_ARG;
    std::memset(&dec->header, 0, sizeof(dec->header));
    return MPA_OK;
}

const mpa_header *mpa_decoder_header(const mpa_decoder *dec)
{
    return dec ? &dec->header : nullptr;
}
