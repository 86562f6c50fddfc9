#include "stream/framer.h"

#include <algorithm>
#include <cstring>

#include "core/header.h"
#include "stream/frame_run.h"

void mpa_framer_init(mpa_framer *f, unsigned search_options)
{
    *f = mpa_framer();
    std::memset(&f->search, 0, sizeof(f->search));
    f->search_options = search_options;
}

namespace {

int bits_differ(uint8_t a, uint8_t b)
{
    return __builtin_popcount(static_cast<unsigned>(a ^ b));
}

// Frames lost in the gap bytes passed over since the last frame taken. After
// a failed frame the gap holds at least that frame; otherwise only a gap that
// starts with a damaged copy of the stream's header (a few bits off) and is
// as long as whole frames is lost frames: anything else is junk.
int32_t lost_in_gap(const mpa_framer &f)
{
    // A frame as long as the one before it is the stream's length, not one
    // shortened by damage that the search confirmed anyway.
    const int64_t len = f.stable_bytes > 0 ? f.stable_bytes : f.last_bytes;
    if (f.damaged && f.damaged_bytes > 0 && f.gap == f.damaged_bytes)
        return 1;
    if (len <= 0)
        return f.damaged ? 1 : 0;
    int64_t k = (f.gap + len / 2) / len;
    // Padding makes frames one slot longer: a byte, or four in Layer I.
    const int64_t slot = f.slot_bytes;
    const bool whole = k > 0 && k <= 64 && std::abs(f.gap - k * len) <= k * slot + 2;
    if (f.damaged)
        return whole ? static_cast<int32_t>(k) : 1;
    const int differ = bits_differ(f.after_last[0], f.last_head[0]) +
                       bits_differ(f.after_last[1] & 0xFE, f.last_head[1] & 0xFE);
    const bool header_like = differ <= 3;
    return whole && header_like ? static_cast<int32_t>(k) : 0;
}

}  // namespace

mpa_framer_step mpa_framer_next(mpa_framer *f, const uint8_t *d, size_t avail, bool eof)
{
    mpa_framer_step step;
    size_t at = 0;
    if (f->resync) {
        const size_t decidable = eof ? avail : (avail > MPA_RUN_REACH ? avail - MPA_RUN_REACH : 0);
        size_t i = 0;
        for (; i < decidable; i++) {
            if (d[i] == 0xFF &&
                (f->at_start ? mpa_starts_stream(d, avail, i, f->search_options)
                             : mpa_starts_frame_run(d, avail, i, f->search_options)))
                break;
        }
        f->gap += static_cast<int64_t>(i);
        if (i == decidable) {
            step.event = eof ? MPA_FRAMER_END : MPA_FRAMER_MORE;
            step.skip = eof ? avail : decidable;
            step.want = MPA_RUN_REACH + MPA_FRAMER_LOOKAHEAD;
            return step;
        }
        // The run is searched afresh: the last header, damaged or of another
        // length, must not make the search take the run's first frame as its
        // continuation (in free format, with the last frame's length).
        std::memset(&f->search, 0, sizeof(f->search));
        f->resync = false;
        f->searched_afresh = true;
        at = i;
    }
    mpa_header h = f->search;
    const int status = mpa_search_header(
        &h, d + at, static_cast<int>(std::min(avail - at, static_cast<size_t>(1) << 30)), f->search_options);
    if (status < 0) {
        // Keep the last three bytes: a header may start there.
        const size_t keep = eof ? 0 : std::min<size_t>(3, avail - at);
        step.event = eof ? MPA_FRAMER_END : MPA_FRAMER_MORE;
        step.skip = avail - keep;
        step.want = MPA_FRAMER_LOOKAHEAD;
        f->gap += static_cast<int64_t>(step.skip - at);
        return step;
    }
    const size_t start = at + static_cast<size_t>(h.header_offset);
    const size_t bytes = static_cast<size_t>(h.bits_in_frame >> 3);
    // An unconfirmed free-format frame runs to the end of the data: more data
    // may hold its successor.
    const bool open_ended = h.bitrate_index == 0 && status == MPA_HEADER_UNCONFIRMED;
    if (!eof && (start + bytes + 2 > avail || open_ended)) {
        step.event = MPA_FRAMER_MORE;
        step.skip = at;
        step.want = start - at + std::max(bytes, static_cast<size_t>(1732)) + MPA_FRAMER_LOOKAHEAD;
        return step;
    }
    if (start + bytes > avail) {  // cut off by the end of the input
        step.event = MPA_FRAMER_END;
        step.skip = avail;
        return step;
    }
    f->gap += static_cast<int64_t>(h.header_offset);
    step.event = MPA_FRAMER_FRAME;
    step.skip = start;
    step.header_status = status;
    step.header = h;
    step.header.header_offset = 0;
    step.lost_frames = f->at_start ? 0 : lost_in_gap(*f);
    if (step.lost_frames > 0) {  // accounted for up to this frame
        f->gap = 0;
        f->damaged = false;
        f->damaged_bytes = 0;
    }
    return step;
}

void mpa_framer_took(mpa_framer *f, const uint8_t *frame, size_t avail, bool eof, const mpa_header &h)
{
    const size_t bytes = static_cast<size_t>(h.bits_in_frame >> 3);
    f->search = h;
    f->at_start = false;
    f->damaged = false;
    f->damaged_bytes = 0;
    f->gap = 0;
    f->slot_bytes = h.layer_bits == 3 ? 4 : 1;
    if (std::abs(static_cast<int32_t>(bytes) - f->last_bytes) <= f->slot_bytes)
        f->stable_bytes = static_cast<int32_t>(bytes);
    f->last_bytes = static_cast<int32_t>(bytes);
    f->last_head[0] = frame[0];
    f->last_head[1] = frame[1];
    // Followed by its successor, as the search confirms one, or by the end
    // of the input; else the next frame must start a run.
    if (avail - bytes < 2) {
        f->after_last[0] = f->after_last[1] = 0;
        f->resync = !eof;
    } else {
        f->after_last[0] = frame[bytes];
        f->after_last[1] = frame[bytes + 1];
        f->resync = !(frame[bytes] == 0xFF && ((frame[bytes + 1] ^ frame[1]) & 0xFE) == 0);
    }
    f->suspect = f->resync;
}

void mpa_framer_failed(mpa_framer *f, const mpa_header &h)
{
    if (!f->damaged)
        f->damaged_bytes = h.bits_in_frame >> 3;
    f->damaged = true;
    f->resync = true;
    f->gap += 1;
}
