// Parallel decoding of one stream (config.threads > 1): worker threads
// decode blocks of the output ahead, each on its own stream over the same
// file or memory, and the reading thread hands their frames out in order,
// bit for bit those of a decode on one thread.
#ifndef ROVAZ_STREAM_STREAM_PARALLEL_H
#define ROVAZ_STREAM_STREAM_PARALLEL_H

#include <cstddef>
#include <cstdint>

#include "rovaz/mpa_stream.h"

struct mpa_stream;
struct mpa_parallel;

// The most worker threads one stream takes.
constexpr int32_t MPA_MAX_THREADS = 64;

// A pipeline for a stream over the file at path, or over data[0..size)
// (path null): null when config.threads is 1 or less, or without memory.
// No thread starts before the first frame is asked for.
mpa_parallel *mpa_parallel_create(const mpa_stream_config &config, const char *path, const uint8_t *data,
                                  size_t size);
void mpa_parallel_destroy(mpa_parallel *p);

// What mpa_stream_next_frame does, served by s->parallel. Where the pipeline
// cannot start (a source without an exact length, format changes, a short
// stream), it is dropped and s decodes on the calling thread from then on.
int mpa_stream_parallel_next_frame(mpa_stream *s);
// s->frame again with floats, where its converted samples are of a format no
// longer asked for.
int mpa_stream_parallel_refloat(mpa_stream *s);
// s was just seeked, with that status: the pipeline goes on from there.
void mpa_stream_parallel_seeked(mpa_stream *s, int status);

#endif
