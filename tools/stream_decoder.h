// Frame-by-frame decoding of a byte stream, driven exactly as a Java caller
// drives the native nConvert: a window over the stream, the bytes before it
// offered as earlier stream data, more input on demand, damaged frames
// skipped without stopping the stream.
#ifndef ROVAZ_TOOLS_STREAM_DECODER_H
#define ROVAZ_TOOLS_STREAM_DECODER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "rovaz/mpa.h"

class StreamDecoder {
public:
    // read(dst, max) returns the bytes it placed in dst, 0 at the end of the input.
    using Reader = std::function<size_t(uint8_t *dst, size_t max)>;

    explicit StreamDecoder(Reader read);
    ~StreamDecoder();
    StreamDecoder(const StreamDecoder &) = delete;
    StreamDecoder &operator=(const StreamDecoder &) = delete;

    // Decodes the next frame that gives audio into pcm (MPA_PCM_BUFFER_FLOATS
    // floats). Returns false at the end of the stream.
    bool next(float *pcm);

    // The header of the frame just decoded.
    const mpa_header &header() const { return *mpa_decoder_header(dec_); }
    bool ok() const { return dec_ != nullptr; }

    long frames_decoded() const { return frames_decoded_; }
    long frames_skipped() const { return frames_skipped_; }  // damaged frames
    long frames_without_output() const { return frames_without_output_; }  // reservoir short
    long long bytes_discarded() const { return bytes_discarded_; }  // not part of any frame

    // Bytes kept before the window for the Layer III bit reservoir.
    static constexpr size_t kHistory = 4096;
    // Bytes the window holds past its start while the input lasts: two frames
    // of any layer and then some, so the next frame's header is always seen.
    static constexpr size_t kLookahead = 8192;

private:
    bool fill(size_t want);
    void skip_damaged_frame();
    bool resynchronise();
    bool followed_by_successor(size_t start, size_t end) const;
    void skip_to_first_header();

    Reader read_;
    mpa_decoder *dec_ = nullptr;
    std::vector<uint8_t> buf_;
    size_t pos_ = 0;   // start of the window
    size_t len_ = 0;   // valid bytes in buf_
    size_t stream_start_ = 0;  // first header of the stream, or 0 once compacted past it
    bool started_ = false;     // a frame has been decoded or consumed
    bool eof_ = false;
    bool resync_ = false;      // the next frame must start a run of frames
    long frames_decoded_ = 0;
    long frames_skipped_ = 0;
    long frames_without_output_ = 0;
    long long bytes_discarded_ = 0;
};

// Reader over a memory block.
StreamDecoder::Reader memory_reader(const uint8_t *data, size_t size);

#endif
