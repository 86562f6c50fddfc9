// Fuzz target: the binding's contract with its Java caller. A stream walked
// through one instance with the binding's own decode call, with arbitrary
// windows, preceding-byte counts and output rooms. Each call gets its input
// in a heap block of exactly the preceding bytes plus the window and its
// output in a heap block of exactly the room, so ASan sees any read or write
// outside them. Checked at every call: nothing reported beyond the room or
// the window, refused calls report nothing, and a frame refused for room
// leaves the instance byte for byte as it was.
//
// The first four bytes steer the walk, the rest is the stream:
//   byte 0: bits 0-2 window size class, bits 4-5 preceding-bytes policy
//   byte 1: extra window bytes (scaled by the class)
//   byte 2: bits 0-3 output room class, bit 4 the room changes every call
//   byte 3: when non-zero, the window size changes every call (a seed)
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/decoder.h"
#include "frame_convert.h"
#include "fuzz_check.h"
#include "rovaz/mpa.h"

namespace {

constexpr int kWindowBase[8] = {4, 21, 64, 400, 1441, 2881, 8192, 1 << 30};
// Rooms around every frame's PCM size (384, 576 and 1152 samples, one or two
// channels, 16-bit), none, and plenty.
constexpr int kRooms[16] = {4608, 1152, 1536, 2304, 768, 4607, 1151, 1535,
                            2303, 767, 0, 1, 3000, 100000, 576, 4609};

struct Walk {
    int window_class;
    int window_extra;
    int preceding_policy;
    int room_class;
    bool room_varies;
    uint32_t rng;

    uint32_t next()
    {
        rng = rng * 1103515245u + 12345u;
        return rng >> 8;
    }

    int window(int left)
    {
        int w = kWindowBase[window_class];
        if (rng)
            w = kWindowBase[next() & 7] + static_cast<int>(next() & 0xFF);
        else if (w < (1 << 30))
            w += window_extra * (window_class + 1);
        return w < left ? w : left;
    }

    int room()
    {
        if (!room_varies)
            return kRooms[room_class];
        const uint32_t r = next();
        return r & 0x100 ? static_cast<int>(r % 5000) : kRooms[r & 15];
    }

    // Bytes before the window offered as earlier stream data: none, some,
    // or all of them (junk before the first frame included).
    int preceding(int pos)
    {
        switch (preceding_policy) {
        case 0: return 0;
        case 1: return pos < 4096 ? pos : 4096;
        case 2: return pos;
        default:
            return rng ? static_cast<int>(next() % static_cast<uint32_t>(pos + 1)) : (pos < 300 ? pos : 300);
        }
    }
};

// Bytes of 16-bit PCM of the frame the instance holds.
int frame_pcm_bytes(const mpa_header *h)
{
    return h->n_samples * h->n_channels * 2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4 || size > (1u << 20))
        return 0;
    Walk walk;
    walk.window_class = data[0] & 7;
    walk.preceding_policy = (data[0] >> 4) & 3;
    walk.window_extra = data[1];
    walk.room_class = data[2] & 15;
    walk.room_varies = (data[2] & 0x10) != 0;
    walk.rng = data[3];
    const uint8_t *stream = data + 4;
    const int len = static_cast<int>(size - 4);

    mpa_decoder *dec = nullptr;
    FUZZ_CHECK(mpa_decoder_open(&dec) == MPA_OK);
    mpa_decoder *before = static_cast<mpa_decoder *>(std::malloc(sizeof(mpa_decoder)));

    int pos = 0;
    int want = 0;
    for (int calls = 0; pos < len && calls < 2 * len + 16; calls++) {
        const int left = len - pos;
        int w = walk.window(left);
        if (want > w)
            w = want < left ? want : left;
        const int preceding = walk.preceding(pos);
        const int room = walk.room();

        uint8_t *in = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(preceding + w) + 1));
        std::memcpy(in, stream + pos - preceding, static_cast<size_t>(preceding + w));
        // One byte past the room, a canary that nothing may touch (ASan
        // cannot see a write into it, the check below can).
        uint8_t *out = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(room) + 1));
        out[room] = 0x5A;
        std::memcpy(before, dec, sizeof(mpa_decoder));

        mpa_convert_result r;
        mpa_convert_frame(dec, in + preceding, w, preceding, out, room, &r);

        FUZZ_CHECK(out[room] == 0x5A);
        FUZZ_CHECK(r.produced >= 0 && r.produced <= room);
        FUZZ_CHECK(r.pcm_status == 0);  // the step checked the room before decoding
        FUZZ_CHECK(r.consumed >= 0 && r.consumed <= w);
        FUZZ_CHECK(r.needed == 0 || r.needed > w);
        if (!r.ok)
            FUZZ_CHECK(r.produced == 0 && r.consumed == 0 && r.needed == 0);
        if (r.status == MPA_ERR_OUTPUT_ROOM)
            FUZZ_CHECK(std::memcmp(before, dec, sizeof(mpa_decoder)) == 0);
        if (r.produced > 0) {
            // What was written is the frame the instance decoded, whole.
            FUZZ_CHECK(r.produced == frame_pcm_bytes(mpa_decoder_header(dec)));
            FUZZ_CHECK(r.consumed > mpa_decoder_header(dec)->header_offset);
        }
        std::free(out);
        std::free(in);

        want = 0;
        if (r.ok && r.consumed > 0) {
            pos += r.consumed;
        } else if (r.ok && r.needed > 0) {
            if (w == left)
                pos = len;  // the stream ends inside the frame
            else
                want = r.needed;
        } else if (r.status == MPA_ERR_OUTPUT_ROOM) {
            // A caller would give more room; this one steps on.
            pos += 1;
        } else {
            // Damage or no header: past the frame's sync, or to the window's end.
            const int at = mpa_decoder_header(dec)->header_offset;
            if (r.status == MPA_ERR_NO_HEADER)
                pos += w > 3 ? w - 3 : w;
            else
                pos += at >= 0 && at < w ? at + 1 : 1;
        }
    }
    std::free(before);
    mpa_decoder_close(dec);
    return 0;
}
