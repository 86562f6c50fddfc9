/* rovaz stream layer: whole MPEG audio streams, from memory, from bytes
 * pushed as they arrive, or from a seekable source. Finds the first frame
 * after tags and junk, parses ID3v2, ID3v1, APEv2 and Lyrics3v2 tags and the
 * Xing/Info/VBRI/LAME info frame, trims the encoder delay and padding
 * (gapless), knows the exact length of a seekable stream, seeks to any
 * sample, replaces damaged frames by concealment of the same duration and
 * reports format changes at their exact sample position.
 *
 * One stream must be used by one thread at a time; distinct streams are
 * independent. Every write into caller memory is bounded by the room the
 * caller passes with it. */
#ifndef ROVAZ_MPA_STREAM_H
#define ROVAZ_MPA_STREAM_H

#include <stddef.h>
#include <stdint.h>

#include "rovaz/mpa.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Results of the stream calls, beside the MPA_OK and MPA_ERR_* of mpa.h.
 * The positive ones are not errors. */
enum {
    MPA_STREAM_END = 2,             /* no more samples: the stream is done */
    MPA_STREAM_NEED_INPUT = 3,      /* pushed stream: feed more bytes (or end the input) */
    MPA_STREAM_FORMAT_CHANGED = 4,  /* the samples from here on have a new format */
    MPA_ERR_NO_STREAM = -20,        /* no MPEG audio frame in the input */
    MPA_ERR_IO = -21,               /* the source's read or seek failed */
    MPA_ERR_NOT_SEEKABLE = -22,     /* seek on a pushed stream */
    MPA_ERR_ARG = -23,              /* an argument out of range */
    MPA_ERR_NO_MEMORY = -24
};

/* Sample formats of the output, all in the machine's byte order. */
enum {
    MPA_SAMPLE_S16 = 0,            /* signed 16-bit, rounded to nearest */
    MPA_SAMPLE_S16_TRUNCATED = 1,  /* signed 16-bit, truncated toward zero as mpa_output_pcm */
    MPA_SAMPLE_S24 = 2,            /* signed 24-bit in three bytes */
    MPA_SAMPLE_S24_32 = 3,         /* signed 24-bit value in a 32-bit word, full scale +-2^23 */
    MPA_SAMPLE_S32 = 4,            /* signed 32-bit, full scale +-2^31 (24 bits of precision) */
    MPA_SAMPLE_F32 = 5             /* 32-bit float, full scale +-1.0, not clipped */
};

/* Info frame kinds. */
enum { MPA_INFO_NONE = 0, MPA_INFO_XING = 1, MPA_INFO_INFO = 2, MPA_INFO_VBRI = 3 };

typedef struct mpa_stream_config {
    int32_t gapless;          /* 1 (default): trim what a LAME tag declares as encoder delay and padding */
    int32_t sample_format;    /* MPA_SAMPLE_*, default MPA_SAMPLE_S16 */
    int32_t planar;           /* 0 (default): channels interleaved in dest[0]; 1: channel c in dest[c] */
    int32_t channels;         /* 0 (default): as the stream; 1: stereo downmixed; 2: mono duplicated */
    int32_t drop_damaged;     /* 0 (default): a damaged frame gives concealment of its duration; 1: nothing */
    int32_t want_picture;     /* 1: keep the bytes of an embedded picture (default 0) */
    int32_t mpeg25;           /* 1 (default): also MPEG 2.5 (Layer III at 8, 11.025 and 12 kHz, which
                               * no standard defines and mpa_get_header refuses); 0: refuse it too.
                               * Its Layer I and II headers are always refused. */
    int32_t threads;          /* 1 (default; 0 too): decode on the thread that reads. 2 to 64: a file
                               * or memory stream is decoded ahead by that many threads, in blocks
                               * of up to 5.9 s (44.1 kHz), each thread on its own opening of the
                               * source; about 2 MB of memory for each thread and two more. The
                               * samples, formats, counts and seeks are those of one thread, bit
                               * for bit. Other sources, and streams whose sampling rate or
                               * channel count changes, decode on the reading thread. */
} mpa_stream_config;

/* The caller's seekable source. read returns the bytes placed in dst (0 at
 * the end, negative on error); seek moves to an absolute offset and returns
 * 0, or nonzero on error; size returns the total bytes, or -1 if unknown. */
typedef struct mpa_stream_io {
    void *opaque;
    long (*read)(void *opaque, uint8_t *dst, size_t max);
    int (*seek)(void *opaque, int64_t offset);
    int64_t (*size)(void *opaque);
} mpa_stream_io;

typedef struct mpa_stream mpa_stream;

/* The format of the samples a read gives. */
typedef struct mpa_stream_format {
    int32_t sampling_rate;    /* Hz */
    int32_t channels;         /* of the output: 1 or 2 */
    int32_t source_channels;  /* of the frames */
    int32_t layer;            /* 1, 2 or 3 */
    int32_t version;          /* 1: MPEG-1, 2: MPEG-2 low sampling frequencies, 25: MPEG 2.5 */
    int32_t mode;             /* 0 stereo, 1 joint stereo, 2 dual channel, 3 mono */
    int32_t bit_rate;         /* kbit/s of the first frame in this format, 0 for free format */
    int32_t sample_format;    /* MPA_SAMPLE_* */
    int32_t bytes_per_sample; /* of one channel's sample */
    int32_t planar;
    int64_t start;            /* output sample where this format starts */
} mpa_stream_format;

typedef struct mpa_stream_info {
    int64_t samples;          /* samples per channel of the whole output, or -1 when unknown */
    int64_t duration_us;      /* its duration in microseconds (each format at its own rate), or -1 */
    int32_t length_exact;     /* 1: counted from every frame header; 0: an estimate */
    int32_t seekable;
    int32_t info_kind;        /* MPA_INFO_* */
    int32_t encoder_delay;    /* samples, from a LAME tag, or -1 */
    int32_t encoder_padding;  /* samples, from a LAME tag, or -1 */
    int32_t gapless;          /* 1 when delay and padding are trimmed */
    int64_t info_frames;      /* audio frames the info frame declares, or -1 */
    int64_t info_bytes;       /* stream bytes the info frame declares, or -1 */
    char encoder[16];         /* encoder named by the LAME tag, such as "LAME3.100", or "" */
    int64_t audio_frames;     /* frames of audio counted by the scan, or -1 before it */
    int64_t frames_decoded;
    int64_t frames_concealed; /* damaged frames replaced by concealment */
    int64_t frames_dropped;   /* damaged frames given no output (drop_damaged) */
    int64_t frames_silent;    /* Layer III frames whose main data lies before the stream: silence */
    int64_t bytes_skipped;    /* bytes that belong to no frame or tag */
    int32_t crc_ignored;      /* 1: every CRC failed on clean frames, so CRC words are ignored */
    int32_t format_changes;   /* formats after the first one (all of them once scanned) */
    int64_t tag_bytes;        /* bytes of tags before and after the audio */
    int32_t tags_clamped;     /* declared tag or item sizes beyond the data, clamped */
    int32_t first_frame_offset_valid;
    int64_t first_frame_offset; /* byte offset of the first frame */
    int64_t leading_junk;     /* bytes before the first frame that are no tag, or -1 before it */
} mpa_stream_info;

void mpa_stream_config_default(mpa_stream_config *config);

/* Opening. config may be null for the defaults. Memory and seekable
 * sources read up to the first audio frame before returning (MPA_ERR_NO_STREAM
 * when there is none); the memory block must outlive the stream. A pushed
 * stream opens at once and learns its format from the bytes fed. */
int mpa_stream_open_memory(mpa_stream **out, const uint8_t *data, size_t size,
                           const mpa_stream_config *config);
int mpa_stream_open_io(mpa_stream **out, const mpa_stream_io *io, const mpa_stream_config *config);
int mpa_stream_open_file(mpa_stream **out, const char *path, const mpa_stream_config *config);
int mpa_stream_open_push(mpa_stream **out, const mpa_stream_config *config);
void mpa_stream_close(mpa_stream *stream);

/* Pushed streams. feed copies as many of the size bytes as the stream takes
 * now into its own buffer (*accepted; all of them whenever
 * mpa_stream_input_wanted was at least size). end_input says no more come. */
int mpa_stream_feed(mpa_stream *stream, const uint8_t *data, size_t size, size_t *accepted);
int mpa_stream_end_input(mpa_stream *stream);
/* Bytes the stream can take now. */
size_t mpa_stream_input_wanted(const mpa_stream *stream);

/* Reads up to room_bytes into each destination (dest[0] alone when
 * interleaved; dest[0], dest[1] for planar stereo), whole sample periods
 * only: *samples (per channel) never exceeds what room_bytes holds.
 * MPA_OK with *samples > 0; MPA_STREAM_FORMAT_CHANGED with *samples == 0
 * before the first samples of a new format (mpa_stream_get_format gives it);
 * MPA_STREAM_END; MPA_STREAM_NEED_INPUT on a pushed stream;
 * MPA_ERR_OUTPUT_ROOM when room_bytes holds no whole sample period; an error. */
int mpa_stream_read(mpa_stream *stream, void *const dest[2], size_t room_bytes, size_t *samples);

/* Changes the sample format and channel layout (as config.sample_format and
 * config.channels) of the samples that later reads give; the stream itself
 * goes on where it is. Between reads, at any time. */
int mpa_stream_set_output(mpa_stream *stream, int32_t sample_format, int32_t channels);
/* The format of the samples the next read gives; MPA_STREAM_NEED_INPUT
 * while a pushed stream has not yet shown a frame. */
int mpa_stream_get_format(const mpa_stream *stream, mpa_stream_format *format);
/* What is known of the stream. On a seekable source the first call scans
 * every frame header (no decoding) for the exact length. */
int mpa_stream_get_info(mpa_stream *stream, mpa_stream_info *info);

/* Makes the next read start at output sample `sample` (per channel, gapless
 * trimming applied), bit-identical to a decode from the start. A position at
 * or past the end gives MPA_STREAM_END on read. Sources without seek go
 * forward only, by decoding up to there (MPA_ERR_NOT_SEEKABLE backward). */
int mpa_stream_seek(mpa_stream *stream, int64_t sample);
/* The output sample the next read starts at. */
int64_t mpa_stream_tell(const mpa_stream *stream);

/* Tags, as UTF-8 key/value pairs: "title", "artist", "album", "date",
 * "track", "genre", "comment", and other text frames by their ID3v2 id (or
 * APE key). A key appears once; ID3v2 goes before APE, Lyrics3 and ID3v1.
 * Tags at the end of a pushed stream appear when its input has ended. The
 * strings live as long as the stream. */
int mpa_stream_tag_count(const mpa_stream *stream);
int mpa_stream_tag(const mpa_stream *stream, int index, const char **key, const char **value);
/* The value for key, or null. */
const char *mpa_stream_tag_value(const mpa_stream *stream, const char *key);
/* The embedded picture (front cover first), when config.want_picture was set:
 * MPA_OK with its bytes and MIME type, or MPA_ERR_NO_HEADER when there is none. */
int mpa_stream_picture(const mpa_stream *stream, const uint8_t **data, size_t *size, const char **mime);

#ifdef __cplusplus
}
#endif

#endif
