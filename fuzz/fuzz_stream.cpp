// Fuzz target: a whole stream through one long-lived decoder instance, driven
// the way the Java binding's nConvert is driven (a window per call, earlier
// stream bytes offered as preceding data, more input on demand, damaged
// frames skipped), so the bit reservoir, the IMDCT overlap and the synthesis
// history carry hostile state from frame to frame.
//
// The first four bytes steer the driver, the rest is the stream:
//   byte 0: bits 0-2 window size class, bit 3 CRC check off,
//           bits 4-5 preceding-bytes policy, bit 6 skip damaged frames whole
//   byte 1: extra window bytes (scaled by the class)
//   byte 2: bits 0-3 output format flags for mpa_output_pcm
//   byte 3: when non-zero, the window size changes every frame (a seed)
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/decoder.h"
#include "fuzz_check.h"
#include "rovaz/mpa.h"

namespace {

// Window sizes by class: tiny windows force the need-more-data path, large
// ones let one call see several frames.
constexpr int kWindowBase[8] = {4, 21, 64, 400, 1441, 2881, 8192, 1 << 30};

struct Driver {
    int window_class;
    int window_extra;
    int preceding_policy;
    bool skip_whole;
    unsigned out_flags;
    uint32_t rng;

    int window(int left)
    {
        int w = kWindowBase[window_class];
        if (rng) {
            rng = rng * 1103515245u + 12345u;
            w = kWindowBase[(rng >> 16) & 7] + static_cast<int>((rng >> 8) & 0xFF);
        } else if (w < (1 << 30)) {
            w += window_extra * (window_class + 1);
        }
        return w < left ? w : left;
    }

    // How many bytes before the window the call may read as earlier stream
    // data: none, some or all of the stream so far, or every byte before
    // the window, whatever came before the first frame included.
    int preceding(int pos, int stream_start) const
    {
        const int have = stream_start < 0 ? 0 : pos - stream_start;
        switch (preceding_policy) {
        case 0: return 0;
        case 1: return have < 4096 ? have : 4096;
        case 2: return pos;
        default: return have < 300 ? have : 300;
        }
    }
};

// A frame's worth of NaN, copied over the PCM buffer before a decode.
const float *nan_block()
{
    static float block[MPA_PCM_BUFFER_FLOATS];
    static const bool filled = [] {
        for (float &f : block)
            f = NAN;
        return true;
    }();
    (void)filled;
    return block;
}

bool all_finite(const float *p, int n)
{
    for (int i = 0; i < n; i++)
        if (!std::isfinite(p[i]))
            return false;
    return true;
}

// The PCM of one decoded frame in the caller's chosen format, into a heap
// buffer of exactly the size the frame needs.
void output(const float *pcm, const mpa_header *h, unsigned format)
{
    FUZZ_CHECK(h->n_channels == 1 || h->n_channels == 2);
    FUZZ_CHECK(h->n_samples == 384 || h->n_samples == 576 || h->n_samples == 1152);
    const int count = h->n_samples;
    // Every sample of the frame is written, and no hostile data drives the
    // float pipeline to infinity or NaN.
    for (int ch = 0; ch < h->n_channels; ch++)
        FUZZ_CHECK(all_finite(pcm + ch * 1152, count));

    format &= MPA_PCM_FORMAT_MASK | MPA_PCM_INTERLEAVED;
    if ((format & MPA_PCM_FORMAT_MASK) == 2)
        format &= ~2u;  // not a format
    const int bytes = (format & MPA_PCM_FORMAT_MASK) == MPA_PCM_S16 ? 2
                      : (format & MPA_PCM_FORMAT_MASK) == MPA_PCM_S24 ? 3 : 4;
    const bool stereo = h->n_channels == 2;
    const bool interleaved = (format & MPA_PCM_INTERLEAVED) != 0;
    unsigned flags = format | (stereo ? MPA_PCM_STEREO : 0);
    if (interleaved) {
        // Mono interleaved writes both halves of every pair.
        std::vector<uint8_t> out(static_cast<size_t>(count) * 2 * bytes);
        uint8_t *dest[2] = {out.data(), nullptr};
        FUZZ_CHECK(mpa_output_pcm(flags, pcm, dest, count) == MPA_OK);
    } else {
        std::vector<uint8_t> a(static_cast<size_t>(count) * bytes), b(static_cast<size_t>(count) * bytes);
        uint8_t *dest[2] = {a.data(), stereo ? b.data() : nullptr};
        FUZZ_CHECK(mpa_output_pcm(flags, pcm, dest, count) == MPA_OK);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4 || size > (1u << 20))
        return 0;
    Driver d;
    d.window_class = data[0] & 7;
    d.window_extra = data[1];
    d.preceding_policy = (data[0] >> 4) & 3;
    d.skip_whole = (data[0] & 0x40) != 0;
    d.out_flags = data[2] & 0x0F;
    d.rng = data[3];

    // The stream in a heap block of its own exact size, so that any read
    // past either end is caught.
    const int len = static_cast<int>(size - 4);
    uint8_t *stream = static_cast<uint8_t *>(std::malloc(len > 0 ? static_cast<size_t>(len) : 1));
    std::memcpy(stream, data + 4, static_cast<size_t>(len));

    mpa_decoder *dec = nullptr;
    FUZZ_CHECK(mpa_decoder_open(&dec) == MPA_OK);
    dec->skip_crc = (data[0] & 0x08) ? 1 : 0;
    float *pcm = static_cast<float *>(std::malloc(MPA_PCM_BUFFER_FLOATS * sizeof(float)));

    int pos = 0;
    int stream_start = -1;  // the first frame's header; nothing before it is stream data
    int want = 0;           // a window the last call asked for
    bool pcm_dirty = true;
    for (int calls = 0; pos < len && calls < 4 * len + 16; calls++) {
        const int left = len - pos;
        int w = d.window(left);
        if (want > w)
            w = want < left ? want : left;
        const int preceding = d.preceding(pos, stream_start);
        int consumed = -1, needed = -1;
        // NaN marks samples that the decoder leaves unwritten (refilled only
        // after calls that may have written some: searches that find no
        // frame are many with tiny windows).
        if (pcm_dirty)
            std::memcpy(pcm, nan_block(), MPA_PCM_BUFFER_FLOATS * sizeof(float));
        const int status = mpa_decode_step(dec, pcm, stream + pos, w, preceding, MPA_PCM_BUFFER_FLOATS,
                                           &consumed, &needed);
        const mpa_header *h = mpa_decoder_header(dec);
#ifdef ROVAZ_FUZZ_TRACE
        std::fprintf(stderr,
                     "pos %d window %d preceding %d: status %d consumed %d needed %d | layer %d offset %d "
                     "bits %d fill %d\n",
                     pos, w, preceding, status, consumed, needed, 4 - h->layer_bits, h->header_offset,
                     h->bits_in_frame, dec->reservoir_fill);
#endif
        FUZZ_CHECK(dec->reservoir_fill >= 0 &&
                   dec->reservoir_fill <= static_cast<int>(sizeof(dec->reservoir)));
        FUZZ_CHECK(dec->synth.synth_phase[0] >= 0 && dec->synth.synth_phase[0] < 16);
        FUZZ_CHECK(dec->synth.synth_phase[1] >= 0 && dec->synth.synth_phase[1] < 16);
        want = 0;
        pcm_dirty = status != MPA_ERR_NO_HEADER && status != MPA_ERR_NEED_DATA;
        switch (status) {
        case MPA_OK:
        case MPA_ERR_RESERVOIR_SHORT:
            // Consumed covers the frame and nothing beyond the window.
            FUZZ_CHECK(consumed > 0 && consumed <= w);
            FUZZ_CHECK(h->header_offset >= 0 && h->header_offset < consumed);
            if (status == MPA_OK)
                output(pcm, h, d.out_flags);
            if (stream_start < 0)
                stream_start = pos + h->header_offset;
            pos += consumed;
            break;
        case MPA_ERR_NEED_DATA:
            FUZZ_CHECK(consumed == 0);
            if (needed > 0) {
                FUZZ_CHECK(needed > w);
                if (w == left) {
                    pos = len;  // the stream ends inside the frame
                } else {
                    want = needed;
                }
                break;
            }
            // Too little data for even the side information: more input, or the end.
            if (w == left)
                pos = len;
            else
                want = w * 2 > w ? w * 2 : left;
            break;
        case MPA_ERR_NO_HEADER:
            FUZZ_CHECK(consumed == 0);
            // A header may start in the last three bytes.
            pos += w > 3 ? w - 3 : (w == left ? w : 1);
            if (w <= 3 && w < left)
                want = 64;
            break;
        default:
            FUZZ_CHECK(status == MPA_ERROR || status == MPA_ERR_CRC);
            FUZZ_CHECK(consumed == 0);
            // A damaged frame: past its header only, or the whole frame as
            // the header claims it.
            if (d.skip_whole && h->header_offset >= 0 && h->bits_in_frame >= 32 &&
                h->header_offset < w)
                pos += h->header_offset + 1 + (d.rng & 1 ? 0 : (h->bits_in_frame >> 3) - 1);
            else
                pos += 1;
            break;
        }
    }
    std::free(pcm);
    mpa_decoder_close(dec);
    std::free(stream);
    return 0;
}
