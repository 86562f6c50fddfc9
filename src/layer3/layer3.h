// Layer III: the per-granule record and the stages that work on it.
#ifndef ROVAZ_LAYER3_LAYER3_H
#define ROVAZ_LAYER3_LAYER3_H

#include <stdint.h>
#include "core/bitstream.h"
#include "core/frame.h"

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
    uint16_t band_count;
    uint16_t short_band_count;
    uint16_t slen[4];
    uint16_t nr_of_sfb[4];
    uint16_t intensity_scale;
};

enum { MPA_BLOCK_LONG = 0, MPA_BLOCK_SHORT = 1, MPA_BLOCK_MIXED = 2 };

// Band lists: 24 entries of 41 bytes, indexed by
// (id * 4 + sampling_index) * 3 + block_kind; byte 0 = band count,
// byte 1 = short band count, bytes 2..40 = widths.
extern const uint8_t mpa_sfb_bands[24][41];

// Granule setup: block kind, implied region counts and band list.
void mpa_layer3_granule_bands(const mpa_frame_ctx *ctx, mpa_granule_info *info);

// Scale factors (one byte per band-list entry, three zero bytes after the last).
int mpa_read_scalefactors(mpa_bitstream *bits, uint8_t *dest, int w, int n);
int mpa_layer3_scalefactors_mpeg1(mpa_granule_info *info, const uint16_t scfsi[4],
                                  mpa_bitstream *bits, uint8_t *dest, int granule);
int mpa_layer3_scalefactors_lsf(const mpa_frame_ctx *ctx, mpa_granule_info *info,
                                uint8_t *dest, int channel);

// Huffman decoding of one granule into signed n^(4/3) values.
// Returns 0, or 1 when a big-value region ran past the granule's end.
int mpa_layer3_huffman(mpa_granule_info *info, mpa_frame_ctx *ctx, float *spectrum,
                       int part2_bits);
void mpa_layer3_regions(mpa_granule_info *info);

// Requantisation and short-block reordering.
void mpa_layer3_requantize(const mpa_granule_info *info, const uint8_t *scalefactors,
                           float *spectrum);
void mpa_layer3_reorder(const uint8_t *widths, int short_band_count, int band_count,
                        float *spectrum);

// Stereo processing.
void mpa_layer3_ms_stereo(float *left, float *right, int count);
void mpa_layer3_intensity_stereo(const mpa_frame_ctx *ctx, const mpa_granule_info *info,
                                 float *left, float *right, const uint8_t *scalefactors);

// Hybrid synthesis of one granule and channel into 18 filterbank time slots.
int mpa_layer3_hybrid(mpa_frame_ctx *ctx, float *spectrum, float *output, int block_type,
                      int long_subbands, int channel);

#endif
