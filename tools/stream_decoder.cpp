#include "stream_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>

StreamDecoder::StreamDecoder(Reader read) : read_(std::move(read))
{
    if (mpa_decoder_open(&dec_) != MPA_OK)
        dec_ = nullptr;
    buf_.resize(kHistory + 4 * kLookahead);
}

StreamDecoder::~StreamDecoder()
{
    if (dec_)
        mpa_decoder_close(dec_);
}

// Makes the window hold at least want bytes, or everything left at the end
// of the input. Compacts so that at most kHistory bytes stay before it.
bool StreamDecoder::fill(size_t want)
{
    if (len_ - pos_ >= want || eof_)
        return len_ - pos_ >= want;
    if (pos_ > kHistory) {
        const size_t drop = pos_ - kHistory;
        std::memmove(buf_.data(), buf_.data() + drop, len_ - drop);
        pos_ -= drop;
        len_ -= drop;
        stream_start_ -= std::min(stream_start_, drop);
    }
    if (buf_.size() < pos_ + want)
        buf_.resize(pos_ + want);
    while (len_ - pos_ < want && !eof_) {
        const size_t got = read_(buf_.data() + len_, buf_.size() - len_);
        if (got == 0)
            eof_ = true;
        len_ += got;
    }
    return len_ - pos_ >= want;
}

namespace {

// The header at p, parsed alone (its successor is not looked at), with the
// frame length; free format needs the next header in p[0..avail) for that.
bool header_at(const uint8_t *p, size_t avail, bool with_length, mpa_header *h)
{
    std::memset(h, 0, sizeof(*h));
    // In four bytes the search has one position to try.
    if (avail < 4 || mpa_get_header(h, p, 4) < 0)
        return false;
    if (h->bitrate_index != 0 || !with_length)
        return true;
    mpa_header f;
    std::memset(&f, 0, sizeof(f));
    if (mpa_get_header(&f, p, (int)std::min(avail, (size_t)1 << 30)) != MPA_OK || f.header_offset != 0)
        return false;
    h->bits_in_frame = f.bits_in_frame;
    return true;
}

// Whether a frame at d[i] starts a run of frames that false syncs in audio
// data rarely imitate: its next two headers follow where the frame lengths
// say, with the same version, layer and sampling rate. A run that reaches
// the end of the data counts.
bool starts_frame_run(const uint8_t *d, size_t len, size_t i)
{
    mpa_header first, h;
    if (!header_at(d + i, len - i, true, &first))
        return false;
    size_t at = i + (size_t)(first.bits_in_frame >> 3);
    for (int k = 0; k < 2; k++) {
        if (at + 4 > len)
            return true;
        if (!header_at(d + at, len - at, k == 0, &h))
            return false;
        if (h.id != first.id || h.layer_bits != first.layer_bits || h.sampling_index != first.sampling_index)
            return false;
        at += (size_t)(h.bits_in_frame >> 3);
    }
    return true;
}

// Three frames of the longest kind: how far ahead starts_frame_run looks.
constexpr size_t kRunReach = 3 * 1732;

}  // namespace

// A frame that failed: step just past its own sync word and resynchronise.
// Not the whole frame its header claims: a damaged bit-rate field claims a
// frame of another length, and sync-like bytes often sit where it would end.
// Not past the first header a fresh search finds either: the failed frame
// itself may be unconfirmed, and that search would then land on the next
// good frame.
void StreamDecoder::skip_damaged_frame()
{
    const size_t skip = std::min((size_t)mpa_decoder_header(dec_)->header_offset + 1, len_ - pos_);
    bytes_discarded_ += skip;
    pos_ += skip;
    frames_skipped_++;
    resync_ = true;
}

// After a damaged frame, or a frame taken without a successor where one
// should be (a cut frame accepted as continuing the stream), the next frame
// must start a run of frames: false headers in audio data confirm each other
// often enough by the decoder's two-byte check. Bytes before the run are
// discarded (they stay before the window: what is left of a damaged frame is
// main data that later frames may reach back for), and the run is searched
// for afresh: the last frame's header, damaged or of another length, must
// not make the search take the run's first frame as its continuation (in
// free format with the last frame's length). False when more input is needed
// or the input is done.
bool StreamDecoder::resynchronise()
{
    const size_t avail = len_ - pos_;
    const size_t decidable = eof_ ? avail : (avail > kRunReach ? avail - kRunReach : 0);
    for (size_t i = 0; i < decidable; i++) {
        if (buf_[pos_ + i] == 0xFF && starts_frame_run(buf_.data() + pos_, avail, i)) {
            bytes_discarded_ += i;
            pos_ += i;
            resync_ = false;
            mpa_decoder_restart_search(dec_);
            return true;
        }
    }
    bytes_discarded_ += decidable;
    pos_ += decidable;
    return false;
}

// Whether the frame at buf_[start..end) is followed by the header that
// confirms it, as the decoder's search confirms one, or by the end of the
// input. The window holds two frames and more while the input lasts.
bool StreamDecoder::followed_by_successor(size_t start, size_t end) const
{
    if (len_ - end < 2)
        return eof_;
    return buf_[end] == 0xFF && ((buf_[end + 1] ^ buf_[start + 1]) & 0xFE) == 0;
}

// Before the first frame, bytes ahead of its header are not stream data: a
// stream that starts mid-reservoir must not take them for main data of
// earlier frames. So the window is moved to the first header, and only
// bytes from there on are offered as preceding data.
void StreamDecoder::skip_to_first_header()
{
    mpa_header probe = *mpa_decoder_header(dec_);
    if (mpa_get_header(&probe, buf_.data() + pos_, (int)(len_ - pos_)) >= 0 && probe.header_offset > 0) {
        bytes_discarded_ += probe.header_offset;
        pos_ += (size_t)probe.header_offset;
    }
    stream_start_ = pos_;
}

bool StreamDecoder::next(float *pcm)
{
    if (!dec_)
        return false;
    size_t want = kLookahead;
    for (;;) {
        fill(want);
        if (!started_) {
            skip_to_first_header();
            fill(want);
        }
        if (resync_ && !resynchronise()) {
            if (pos_ == len_ && eof_)
                return false;
            continue;
        }
        const int avail = (int)(len_ - pos_);
        if (avail == 0)
            return false;
        int consumed = 0, needed = 0;
        const int preceding = (int)std::min(pos_ - std::min(pos_, stream_start_), kHistory);
        const int status = mpa_decode_step(dec_, pcm, buf_.data() + pos_, avail, preceding,
                                           MPA_PCM_BUFFER_FLOATS, &consumed, &needed);
        if (status == MPA_OK || status == MPA_ERR_RESERVOIR_SHORT) {
            started_ = true;
            resync_ = !followed_by_successor(pos_ + (size_t)mpa_decoder_header(dec_)->header_offset,
                                             pos_ + (size_t)consumed);
        }
        switch (status) {
        case MPA_OK:
            bytes_discarded_ += mpa_decoder_header(dec_)->header_offset;
            pos_ += (size_t)consumed;
            frames_decoded_++;
            return true;
        case MPA_ERR_RESERVOIR_SHORT:
            bytes_discarded_ += mpa_decoder_header(dec_)->header_offset;
            pos_ += (size_t)consumed;
            frames_without_output_++;
            want = kLookahead;
            break;
        case MPA_ERR_NEED_DATA:
            if (eof_) {  // a frame cut off by the end of the input
                bytes_discarded_ += avail;
                pos_ = len_;
                return false;
            }
            want = std::max(want, (size_t)needed + kLookahead);
            break;
        case MPA_ERR_NO_HEADER:
            if (eof_) {
                bytes_discarded_ += avail;
                pos_ = len_;
                return false;
            }
            // Keep the last three bytes: a header may start there.
            if (avail > 3) {
                bytes_discarded_ += avail - 3;
                pos_ += (size_t)avail - 3;
            }
            want = kLookahead;
            break;
        default:
            skip_damaged_frame();
            want = kLookahead;
            break;
        }
    }
}

StreamDecoder::Reader memory_reader(const uint8_t *data, size_t size)
{
    auto offset = std::make_shared<size_t>(0);
    return [data, size, offset](uint8_t *dst, size_t max) {
        const size_t n = std::min(max, size - *offset);
        std::memcpy(dst, data + *offset, n);
        *offset += n;
        return n;
    };
}
