// What differs between the systems the library builds for (Linux, macOS,
// Windows), in one place: 64-bit file positions and sizes, binary standard
// streams.
#ifndef ROVAZ_CORE_PLATFORM_H
#define ROVAZ_CORE_PLATFORM_H

#include <cstdint>
#include <cstdio>

// Opens a file for binary reading by its UTF-8 name; null on failure.
FILE *mpa_file_open_read(const char *utf8_path);

// Moves f to an absolute byte offset: 0, or nonzero on error.
int mpa_file_seek(FILE *f, int64_t offset);

// The size of the regular file f, or -1 (a pipe, a device, an error).
int64_t mpa_file_size(FILE *f);

// Makes stdin and stdout binary where text mode would translate line ends.
void mpa_binary_stdio(void);

#endif
