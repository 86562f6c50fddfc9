// rovaz: MPEG-1 / MPEG-2 LSF audio decoder (Layers I, II, III, free format).
// Public native API. All functions are reentrant; one decoder instance must be
// used by one thread at a time, distinct instances are independent.
#ifndef ROVAZ_MPA_H
#define ROVAZ_MPA_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes. Zero is success, the one positive value is a soft result of
 * the header search (header found but not confirmed by its successor), and
 * negative values are errors. */
enum {
    MPA_OK = 0,
    MPA_HEADER_UNCONFIRMED = 1,
    MPA_ERROR = -1,
    MPA_ERR_CRC = -2,
    MPA_ERR_NEED_DATA = -3,
    MPA_ERR_FRAME_TRUNCATED = -4,
    MPA_ERR_NULL_ARG = -5,
    MPA_ERR_NO_HEADER = -7,
    MPA_ERR_RESERVOIR_SHORT = -9,
    /* The frame's PCM does not fit the room the caller gave; nothing was
     * decoded or written and the instance is as it was. */
    MPA_ERR_OUTPUT_ROOM = -10
};

/* Flags of mpa_output_pcm. */
enum {
    MPA_PCM_STEREO = 1,      /* two source channels (pcm[0], pcm[1152]) */
    MPA_PCM_S16 = 0,         /* signed 16-bit, native byte order */
    MPA_PCM_S24 = 4,         /* signed 24-bit packed, most significant byte first */
    MPA_PCM_S32 = 6,         /* signed 24-bit value in a native 32-bit word */
    MPA_PCM_FORMAT_MASK = 6,
    MPA_PCM_INTERLEAVED = 8  /* one interleaved destination */
};

/* Floats in the PCM work buffer of one frame: 2 channels x 1152 samples,
 * channel-major, on the 16-bit scale (+-32768 is full amplitude). */
#define MPA_PCM_BUFFER_FLOATS 2304
/* Largest number of 16-bit interleaved output bytes of one frame. */
#define MPA_MAX_FRAME_PCM_BYTES 4608

/* One frame header: the twelve fields in bitstream order, then derived sizes. */
typedef struct mpa_header {
    int32_t id;              /* 1 = MPEG-1, 0 = MPEG-2 low sampling frequencies */
    int32_t layer_bits;      /* 3 = Layer I, 2 = Layer II, 1 = Layer III */
    int32_t protection_bit;  /* 0 = CRC word follows the header */
    int32_t bitrate_index;   /* 0 = free format */
    int32_t sampling_index;
    int32_t padding_bit;
    int32_t private_bit;
    int32_t mode;            /* 0 stereo, 1 joint, 2 dual channel, 3 mono */
    int32_t mode_extension;
    int32_t copyright;
    int32_t original;
    int32_t emphasis;
    int32_t header_offset;   /* byte offset of the header in the searched buffer */
    int32_t bits_in_frame;   /* frame length in bits, header included */
    int32_t bit_rate;        /* kbit/s, 0 for free format */
    int32_t sampling_rate;   /* Hz */
    int32_t n_channels;
    int32_t n_samples;       /* samples per channel in one frame */
    int32_t neg_offset;      /* Layer III main_data_begin, else 0 */
    int32_t crc_word;
    int32_t next_main_data_begin;
    int32_t header_bits;     /* 32, or 48 with a CRC word */
    int32_t crc_header_bits; /* header bytes 2 and 3, covered by the CRC */
} mpa_header;

/* The library's version, "MAJOR.MINOR.PATCH" (the CMake project's). */
const char *mpa_version(void);

typedef struct mpa_decoder mpa_decoder;

/* Instance life cycle. open stores the new instance (or null) in *out. */
int mpa_decoder_open(mpa_decoder **out);
int mpa_decoder_reset(mpa_decoder *dec);
void mpa_decoder_close(mpa_decoder *dec);
/* The header of the frame decoded (or parsed) last. */
const mpa_header *mpa_decoder_header(const mpa_decoder *dec);
/* Makes the next header search start afresh, as at the start of a stream:
 * the last frame's header is no longer the stream that a frame at the start
 * of the data continues (nor, in free format, the length it is tried with
 * first). The decoding history (filterbank, overlap, bit reservoir) stays.
 * For stream drivers resynchronising after damage. */
int mpa_decoder_restart_search(mpa_decoder *dec);

/* Finds, confirms and parses the first frame header in data[0..len). The
 * headers of MPEG 2.5 (eleven sync bits), which no standard defines, are
 * refused here and by every decode call of this header; the stream layer
 * takes them (mpa_stream_config.mpeg25). */
int mpa_get_header(mpa_header *hdr, const uint8_t *data, int len);

/* Decodes the first frame found in data[0..len) into pcm (MPA_PCM_BUFFER_FLOATS
 * floats). preceding_bytes tells how many bytes of earlier stream data lie in
 * memory directly before data (Layer III may take main data from there). */
int mpa_decode_frame(mpa_decoder *dec, float *pcm, const uint8_t *data, int len,
                     int preceding_bytes);

/* Converts count samples per channel of a decoded frame to integer PCM. */
int mpa_output_pcm(unsigned flags, const float *pcm, uint8_t *const dest[2], int count);
/* mpa_output_pcm into destinations of dest_room bytes each: when count samples
 * do not fit, MPA_ERR_OUTPUT_ROOM and nothing is written. On success *written
 * (may be null) is the number of bytes written to each destination. */
int mpa_output_pcm_bounded(unsigned flags, const float *pcm, uint8_t *const dest[2], int count,
                           int dest_room, int *written);

/* One step of a frame-by-frame stream decode, exactly as the Java binding's
 * nConvert drives the decoder: finds and decodes one frame of
 * input[0..input_len), retrying the same frame once on the input cut at its
 * end when the first attempt ran out of data. sample_room is how many samples
 * (all channels together) the caller's output takes: a frame with more is
 * refused before anything is decoded. Results:
 *   MPA_OK: a frame is in pcm; *consumed covers skipped bytes and the frame.
 *   MPA_ERR_OUTPUT_ROOM: the frame found needs more than sample_room; the
 *     instance is unchanged, its header included.
 *   MPA_ERR_NEED_DATA: *needed holds the bytes from the start of input that the
 *     frame needs (skipped bytes before its header plus the frame); nothing consumed.
 *   MPA_ERR_RESERVOIR_SHORT: the frame was consumed without output.
 *   other negative statuses: the frame could not be decoded; nothing consumed
 *   (a frame that fails within its own length after the retry gives MPA_ERROR).
 * The header of the frame is available through mpa_decoder_header. */
int mpa_decode_step(mpa_decoder *dec, float *pcm, const uint8_t *input, int input_len,
                    int preceding_bytes, int sample_room, int *consumed, int *needed);

#ifdef __cplusplus
}
#endif

#endif
