// Decoded frames to the stream layer's output formats: 16-bit rounded or
// truncated, 24-bit, 24-in-32, 32-bit, float; interleaved or planar; the
// frame's channels, a stereo frame downmixed to mono or a mono frame
// duplicated to stereo.
#ifndef ROVAZ_STREAM_SAMPLE_CONVERT_H
#define ROVAZ_STREAM_SAMPLE_CONVERT_H

#include <cstddef>
#include <cstdint>

// Bytes of one channel's sample in format (MPA_SAMPLE_* of rovaz/mpa_stream.h), 0 if unknown.
int mpa_sample_bytes(int format);

// Converts count samples per channel, from sample `from` of the frame in pcm
// (the decoder's channel-major work buffer, src_channels 1 or 2, 16-bit
// scale), to out_channels (1 or 2). Interleaved: dest[0] gets
// count * out_channels samples. Planar: dest[c] gets count samples of
// channel c. Writes exactly that many bytes and nothing else; the caller
// sizes count by the room it has.
void mpa_convert_samples(const float *pcm, int src_channels, int from, int count, int out_channels,
                         int format, bool planar, uint8_t *const dest[2]);

// The kernels behind it (core/kernels.h picks one): plain C, and SSE2 and
// AVX2 on x86 (the AVX2 one also uses SSE2 for the last blocks).
void mpa_convert_samples_plain(const float *pcm, int src_channels, int from, int count, int out_channels,
                               int format, bool planar, uint8_t *const dest[2]);
#ifdef __SSE2__
void mpa_convert_samples_sse2(const float *pcm, int src_channels, int from, int count, int out_channels,
                              int format, bool planar, uint8_t *const dest[2]);
#endif
#if defined(__x86_64__) || defined(__i386__)
void mpa_convert_samples_avx2(const float *pcm, int src_channels, int from, int count, int out_channels,
                              int format, bool planar, uint8_t *const dest[2]);
#endif

#endif
