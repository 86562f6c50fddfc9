// The stream record behind rovaz/mpa_stream.h, shared by the files of the
// stream layer: the entry points (stream_api.cpp), the start of a stream
// (stream_start.cpp), the decoding loop (stream_decode.cpp), the scan and
// seeking (stream_seek.cpp).
#ifndef ROVAZ_STREAM_STREAM_INTERNAL_H
#define ROVAZ_STREAM_STREAM_INTERNAL_H

#include <cstdint>
#include <cstdio>

#include <memory>

#include "rovaz/mpa_stream.h"
#include "stream/byte_window.h"
#include "stream/frame_index.h"
#include "stream/framer.h"
#include "stream/info_frame.h"
#include "stream/sample_convert.h"
#include "stream/tags.h"

struct mpa_decoder;
struct mpa_parallel;

// What one frame of output is: its format and timeline place.
// The output format a config asks for (sample_format -1: none, floats).
struct mpa_output_format {
    int32_t sample_format = -1, channels = 0, planar = 0;

    bool operator==(const mpa_output_format &o) const
    {
        return sample_format == o.sample_format && channels == o.channels && planar == o.planar;
    }
    bool operator!=(const mpa_output_format &o) const { return !(*this == o); }
};

inline mpa_output_format mpa_output_format_of(const mpa_stream_config &c)
{
    return {c.sample_format, c.channels, c.planar};
}

// Where the samples of a frame of frame_channels go in that format: out
// channels of `bytes` each, all in dest[0] or (planar) one in each dest.
struct mpa_output_layout {
    int channels = 0;
    bool planar = false;
    size_t bytes = 0;   // of one channel's sample
    size_t period = 0;  // bytes a sample period takes in one dest
};

inline mpa_output_layout mpa_output_layout_of(const mpa_output_format &f, int frame_channels)
{
    mpa_output_layout l;
    l.channels = f.channels ? f.channels : frame_channels;
    l.planar = f.planar && l.channels == 2;
    l.bytes = static_cast<size_t>(mpa_sample_bytes(f.sample_format));
    l.period = l.bytes * (l.planar ? 1 : static_cast<size_t>(l.channels));
    return l;
}

struct mpa_frame_out {
    int32_t sampling_rate = 0;
    int32_t channels = 0;  // of the frame's samples
    int32_t layer = 0, version = 0, mode = 0, bit_rate = 0;
    int32_t count = 0;     // samples per channel
    int64_t sample = 0;    // untrimmed timeline position of its first sample
    int32_t next = 0;      // the next of its samples to give
    const float *pcm = nullptr;  // 0: silence
    // Or its samples already converted to format converted_as (a parallel
    // stream's; planar channels one after the other).
    const uint8_t *converted = nullptr;
    mpa_output_format converted_as;
};

enum mpa_stream_phase {
    MPA_PHASE_LEADING_TAGS,  // ID3v2 tags at the start
    MPA_PHASE_FIRST_FRAME,   // looking for the first frame (and an info frame)
    MPA_PHASE_FRAMES,
    MPA_PHASE_DONE
};

struct mpa_stream {
    mpa_stream_config config{};
    // Sources: memory, pull (io or file) or push.
    mpa_byte_source source;
    FILE *file = nullptr;  // owned, for mpa_stream_open_file
    bool push = false;
    mpa_byte_window window;
    int64_t stream_start = 0;  // offset from which bytes may be offered as earlier stream data

    mpa_decoder *decoder = nullptr;
    mpa_framer framer;
    mpa_stream_phase phase = MPA_PHASE_LEADING_TAGS;
    bool have_step = false;     // a frame found by the framer, not yet decoded
    mpa_framer_step step;
    int32_t pending_lost = 0;   // concealment frames to give before it
    size_t want = MPA_FRAMER_LOOKAHEAD;

    // Leading ID3v2 tags being read.
    int64_t tag_left = 0;
    std::vector<uint8_t> tag_bytes;
    bool trailing_done = false;

    // Frame output: decoded into pcm[cur], the last good frame in the other;
    // or, while sink is set, into sink (MPA_PCM_BUFFER_FLOATS floats the
    // caller keeps unchanged while good_pcm points there).
    alignas(64) float pcm[2][MPA_PCM_BUFFER_FLOATS];
    int cur = 0;
    float *sink = nullptr;
    bool have_good = false;            // good_pcm holds the last good frame
    const float *good_pcm = nullptr;
    mpa_frame_out good;                // its format
    int32_t concealed_run = 0;  // concealment frames since the last good one
    mpa_frame_out frame;        // the frame being given out
    bool frame_ready = false;

    // Output format and timeline.
    bool format_known = false;  // announced (or given by open)
    mpa_stream_format format{};
    int64_t next_sample = 0;    // untrimmed timeline position of the next frame
    int64_t out_sample = 0;     // output samples given (mpa_stream_tell)
    int64_t discard_until = 0;  // timeline samples before this are decoded silently (seek)
    // Gapless: timeline samples before keep_from and from keep_to to drop_to are cut.
    int64_t keep_from = 0, keep_to = INT64_MAX, drop_to = INT64_MAX;

    // What the stream declares and what was met.
    mpa_info_frame info;
    int64_t info_frame_offset = -1;
    int64_t first_audio_offset = -1;
    mpa_framer first_audio_framer;  // framer state at the first audio frame, for the scan
    mpa_header first_header{};
    mpa_stream_info counts{};
    int32_t crc_fail_streak = 0;
    bool crc_passed = false;
    mpa_tag_set tags;
    mpa_tag_set trailing;       // tags at the end, merged once the leading ones are parsed
    bool trailing_waits = false;

    mpa_frame_index index;

    // With config.threads > 1: the pipeline that serves its frames (stream_parallel.cpp).
    mpa_parallel *parallel = nullptr;
};

// Bytes of leading ID3v2 tag kept for parsing; the rest is skipped.
constexpr size_t MPA_TAG_KEEP_TEXT = 1 << 20;
constexpr size_t MPA_TAG_KEEP_PICTURE = 16 << 20;
// Junk before the first frame a pushed or unseekable stream looks through.
constexpr int64_t MPA_MAX_LEAD_UNSEEKABLE = 1 << 20;
// The filterbank's delay, added to the encoder delay for gapless output.
constexpr int32_t MPA_DECODER_DELAY = 529;

#endif
