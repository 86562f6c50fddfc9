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

// A frame that failed: step just past its sync word and search again. Even
// a header that the next sync seems to confirm may be the damaged part (a
// changed bit-rate field claims a frame of another length, and sync-like
// bytes often sit where it would end), so skipping the whole claimed frame
// could swallow good frames; the search from the next byte finds the next
// real frame, and whatever is left of the damaged one is discarded on the way.
void StreamDecoder::skip_damaged_frame()
{
    mpa_header probe;
    std::memset(&probe, 0, sizeof(probe));
    size_t skip = 1;
    if (mpa_get_header(&probe, buf_.data() + pos_, (int)(len_ - pos_)) >= 0)
        skip += (size_t)probe.header_offset;
    skip = std::min(skip, len_ - pos_);
    bytes_discarded_ += skip;
    pos_ += skip;
    frames_skipped_++;
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
        const int avail = (int)(len_ - pos_);
        if (avail == 0)
            return false;
        int consumed = 0, needed = 0;
        const int preceding = (int)std::min(pos_ - std::min(pos_, stream_start_), kHistory);
        const int status = mpa_decode_step(dec_, pcm, buf_.data() + pos_, avail, preceding, &consumed, &needed);
        if (status == MPA_OK || status == MPA_ERR_RESERVOIR_SHORT)
            started_ = true;
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
