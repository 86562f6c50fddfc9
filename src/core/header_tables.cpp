#include "core/header_tables.h"

// ISO/IEC 11172-3 2.4.2.3 and ISO/IEC 13818-3 2.4.2.3; index 0 is free format,
// index 15 forbidden, layer code 0 reserved.
const int16_t mpa_bitrate_table[2][4][16] = {
    {   // MPEG-2 low sampling frequencies
        {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},       // III
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},       // II
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1},  // I
    },
    {   // MPEG-1
        {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1},     // III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1},    // II
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1}, // I
    },
};

// Row 2 is the MPEG 2.5 extension (eleven sync bits, version bits 00): the
// MPEG-2 rates halved, in the same index order.
const uint16_t mpa_sampling_rate_table[3][4] = {
    {22050, 24000, 16000, 0},
    {44100, 48000, 32000, 0},
    {11025, 12000, 8000, 0},
};

const uint16_t mpa_samples_per_frame[2][4] = {
    {0, 576, 1152, 384},
    {0, 1152, 1152, 384},
};

// Layer I frames are whole 32-bit slots, Layers II and III whole bytes.
const uint8_t mpa_slot_mask[4] = {0, 7, 7, 31};

// Longest free-format frame searched for: the frame length at the highest
// MPEG-1 bit rate and 32 kHz.
const uint16_t mpa_free_format_limit[4] = {0, 11520, 13824, 5376};
