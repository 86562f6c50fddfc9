// Layer III: the per-granule record the stages share, and the sizes of a
// frame's spectrum and scale-factor scratch.
#ifndef ROVAZ_LAYER3_GRANULE_INFO_H
#define ROVAZ_LAYER3_GRANULE_INFO_H

#include <cstdint>

enum {
    MPA_GRANULE_LINES = 576,                    // spectral lines per granule and channel
    MPA_CHANNEL_LINES = 2 * MPA_GRANULE_LINES,  // a channel's two granules in the spectrum scratch
    MPA_BAND_ENTRIES_MAX = 39,                  // band-list entries: 13 short bands of 3 windows
    // Scale-factor scratch: one byte per band-list entry, per granule and per channel.
    MPA_GRANULE_SCF_BYTES = MPA_BAND_ENTRIES_MAX,
    MPA_CHANNEL_SCF_BYTES = 2 * MPA_GRANULE_SCF_BYTES
};

// One granule of one channel.
struct mpa_granule_info {
    uint16_t part2_3_length;
    uint16_t big_values;
    uint16_t global_gain;
    uint16_t scalefac_compress;
    uint16_t window_switching_flag;
    uint16_t block_type;          // 0..3; 0 without window switching
    uint16_t mixed_block_flag;
    uint16_t table_select[3];
    uint16_t subblock_gain[3];
    uint16_t region0_count;
    uint16_t region1_count;
    uint16_t preflag;
    uint16_t scalefac_scale;
    uint16_t count1table_select;
    uint16_t block_kind;          // 0 long, 1 short, 2 mixed
    uint16_t region_pairs[3];     // big-value pairs per Huffman region
    const uint8_t *band_widths;   // list of band widths in bitstream order
    const uint16_t *band_starts;  // first line of each, then 576 (band_count + 1 and more)
    uint16_t band_count;
    uint16_t short_band_count;
    uint16_t slen[4];
    uint16_t nr_of_sfb[4];
    uint16_t intensity_scale;
};

enum { MPA_BLOCK_LONG = 0, MPA_BLOCK_SHORT = 1, MPA_BLOCK_MIXED = 2 };

#endif
