// Minimal RIFF/WAVE PCM writer (little-endian samples).
#ifndef ROVAZ_TOOLS_WAV_WRITER_H
#define ROVAZ_TOOLS_WAV_WRITER_H

#include <cstdint>
#include <cstdio>

// Writes a 44-byte header, integer PCM or (float_samples) IEEE float;
// data_bytes may be a placeholder fixed later by wav_patch_sizes on seekable
// output.
bool wav_write_header(FILE *f, int rate, int channels, int bits, bool float_samples, uint32_t data_bytes);
bool wav_patch_sizes(FILE *f, uint32_t data_bytes);

#endif
