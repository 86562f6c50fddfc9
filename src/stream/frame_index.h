// The frame index of a seekable stream, built by a scan of every frame
// header (nothing is decoded): the exact number of samples, and where to
// start decoding for any sample. Entries are kept every `step` frames; the
// step doubles whenever the index would pass MPA_INDEX_MAX_ENTRIES, so its
// size is bounded whatever the stream's length.
#ifndef ROVAZ_STREAM_FRAME_INDEX_H
#define ROVAZ_STREAM_FRAME_INDEX_H

#include <cstddef>
#include <cstdint>

#include <vector>

#include "stream/byte_window.h"
#include "stream/framer.h"

struct mpa_index_entry {
    int64_t frame;   // audio frames before this one
    int64_t offset;  // stream offset of its header
    int64_t sample;  // samples per channel before it (lost frames included)
    // The frame before it, which a search from here continues: a free-format
    // frame's length is searched for from the previous one's. No length: none.
    uint8_t previous_head[4];
    int32_t previous_bits;
};

// The search state of a frame's predecessor, from an entry (options: of the
// header search that found it).
void mpa_index_previous(const mpa_index_entry &e, mpa_header *h, unsigned options);

constexpr size_t MPA_INDEX_MAX_ENTRIES = 4096;

struct mpa_frame_index {
    std::vector<mpa_index_entry> entries;
    int64_t step = 1;
    int64_t frames = 0;    // audio frames seen
    int64_t samples = 0;   // their samples per channel
    double seconds = 0;    // their duration, each frame at its own rate
    int32_t format_changes = 0;  // frames whose rate or channel count is not the one before's
    bool complete = false; // the scan reached the end
};

void mpa_index_add(mpa_frame_index *index, const mpa_index_entry &e);
// The last entry at or before sample, and at least back_frames frames before
// the frame that holds it where the stream allows.
const mpa_index_entry *mpa_index_find(const mpa_frame_index &index, int64_t sample, int64_t back_frames);

// One frame met by a walk: where it is, its header, and the timeline.
struct mpa_walked_frame {
    int64_t offset;
    const uint8_t *bytes;  // the frame, valid during the visit
    mpa_header header;
    int64_t sample;        // samples per channel before it, lost frames included
    int32_t lost_frames;   // lost just before it
    int32_t lost_samples;  // their samples per channel
};

// Walks the frames from the window's position with framer f, timeline
// starting at sample, calling visit for each until it returns false or the
// stream ends. The window must be a memory or pull window. Returns the
// samples per channel at the point where the walk stopped.
template <class Visit>
int64_t mpa_walk_frames(mpa_byte_window *w, mpa_framer *f, int64_t sample, Visit visit)
{
    size_t want = MPA_FRAMER_LOOKAHEAD;
    int32_t last_samples = 0;
    for (;;) {
        mpa_window_fill(w, want);
        const mpa_framer_step step = mpa_framer_next(f, mpa_window_at(*w), mpa_window_avail(*w), w->eof);
        mpa_window_skip(w, step.skip);
        if (step.event == MPA_FRAMER_END)
            return sample;
        if (step.event == MPA_FRAMER_MORE) {
            want = step.want;
            continue;
        }
        want = MPA_FRAMER_LOOKAHEAD;
        mpa_walked_frame fr;
        fr.offset = mpa_window_offset(*w);
        fr.bytes = mpa_window_at(*w);
        fr.header = step.header;
        fr.lost_frames = step.lost_frames;
        fr.lost_samples = step.lost_frames * (last_samples ? last_samples : step.header.n_samples);
        sample += fr.lost_samples;
        fr.sample = sample;
        if (!visit(fr))
            return sample;
        mpa_framer_took(f, mpa_window_at(*w), mpa_window_avail(*w), w->eof, step.header);
        mpa_window_skip(w, static_cast<size_t>(step.header.bits_in_frame >> 3));
        sample += step.header.n_samples;
        last_samples = step.header.n_samples;
    }
}

#endif
