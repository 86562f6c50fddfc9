// Decoding allocates nothing on the heap once an instance is open, and
// instances that are opened, used and closed over and over leave nothing
// behind. Allocations are counted by wrapping malloc and free for the whole
// test binary (operator new and delete come through them too); under
// AddressSanitizer, which owns malloc, by its allocation hooks instead.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "rovaz/mpa.h"
#include "rovaz/mpa_stream.h"
#include "support/robustness_streams.h"

#if defined(__SANITIZE_ADDRESS__)
#define ROVAZ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ROVAZ_ASAN 1
#endif
#endif

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
std::atomic<long> releases{0};

void count_allocation()
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
}

void count_release(const void *p)
{
    if (p && counting.load(std::memory_order_relaxed))
        releases.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

#ifdef ROVAZ_ASAN
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void *, size_t),
                                                         void (*free_hook)(const volatile void *));

namespace {

void malloc_hook(const volatile void *, size_t)
{
    count_allocation();
}

void free_hook(const volatile void *p)
{
    count_release(const_cast<const void *>(p));
}

// Each installation adds hooks to a list: once per process.
bool install_counters()
{
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(malloc_hook, free_hook) != 0;
    return installed;
}

}  // namespace
#else
// glibc's own entry points: the wrappers below replace malloc and friends in
// this binary and forward to them.
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void __libc_free(void *);

void *malloc(size_t n)
{
    count_allocation();
    return __libc_malloc(n);
}

void *calloc(size_t n, size_t size)
{
    count_allocation();
    return __libc_calloc(n, size);
}

void *realloc(void *p, size_t n)
{
    count_allocation();
    count_release(p);
    return __libc_realloc(p, n);
}

void *memalign(size_t alignment, size_t n)
{
    count_allocation();
    return __libc_memalign(alignment, n);
}

void *aligned_alloc(size_t alignment, size_t n)
{
    count_allocation();
    return __libc_memalign(alignment, n);
}

int posix_memalign(void **out, size_t alignment, size_t n)
{
    count_allocation();
    void *p = __libc_memalign(alignment, n);
    if (!p)
        return ENOMEM;
    *out = p;
    return 0;
}

void free(void *p)
{
    count_release(p);
    __libc_free(p);
}
}

namespace {

bool install_counters()
{
    return true;
}

}  // namespace
#endif

namespace {

struct Counted {
    long allocations;
    long releases;
};

template <typename F>
Counted count(F &&f)
{
    allocations = 0;
    releases = 0;
    counting = true;
    f();
    counting = false;
    return {allocations.load(), releases.load()};
}

// Decodes a whole stream the way the Java binding does, with each frame's
// PCM converted; returns the frames that gave audio.
long decode_stream(mpa_decoder *dec, const std::vector<uint8_t> &s, float *pcm, uint8_t *out)
{
    long frames = 0;
    int pos = 0;
    const int len = static_cast<int>(s.size());
    while (pos < len) {
        int consumed = 0, needed = 0;
        const int preceding = pos < 4096 ? pos : 4096;
        const int status = mpa_decode_step(dec, pcm, s.data() + pos, len - pos, preceding,
                                           MPA_PCM_BUFFER_FLOATS, &consumed, &needed);
        if (status == MPA_OK) {
            const mpa_header *h = mpa_decoder_header(dec);
            uint8_t *dest[2] = {out, nullptr};
            mpa_output_pcm(h->n_channels == 2 ? MPA_PCM_STEREO | MPA_PCM_INTERLEAVED : 0, pcm, dest,
                           h->n_samples);
            frames++;
        }
        if (consumed > 0)
            pos += consumed;
        else if (status == MPA_ERR_NEED_DATA || status == MPA_ERR_NO_HEADER)
            break;
        else
            pos++;
    }
    return frames;
}

std::vector<mpa_test::TestStream> streams()
{
    // Free format, LSF and intensity stereo besides the bundled samples.
    return mpa_test::robustness_streams({"l1-fl1", "l2-test32", "l3-he_free", "l3-test45", "l3-hecommon"});
}

TEST(NoAllocation, DecodingFramesAllocatesNothing)
{
    if (!install_counters())
        GTEST_SKIP() << "the sanitizer runtime has no allocation hooks";
    static float pcm[MPA_PCM_BUFFER_FLOATS];
    static uint8_t out[MPA_MAX_FRAME_PCM_BYTES * 2];
    for (const mpa_test::TestStream &s : streams()) {
        SCOPED_TRACE(s.name);
        mpa_decoder *dec = nullptr;
        ASSERT_EQ(mpa_decoder_open(&dec), MPA_OK);
        long frames = 0;
        const Counted c = count([&] { frames = decode_stream(dec, s.bytes, pcm, out); });
        EXPECT_GT(frames, 10);
        EXPECT_EQ(c.allocations, 0);
        EXPECT_EQ(c.releases, 0);
        mpa_decoder_close(dec);
    }
    // The counters do see an allocation: one per instance.
    const Counted c = count([] {
        mpa_decoder *dec = nullptr;
        mpa_decoder_open(&dec);
        mpa_decoder_close(dec);
    });
    EXPECT_EQ(c.allocations, 1);
    EXPECT_EQ(c.releases, 1);
}

// The stream layer's reads, from memory and from a reader, allocate nothing
// once the stream is open: its window and buffers are made by the open.
TEST(NoAllocation, StreamReadsAllocateNothing)
{
    if (!install_counters())
        GTEST_SKIP() << "the sanitizer runtime has no allocation hooks";
    static uint8_t out[1 << 14];
    for (const mpa_test::TestStream &s : streams()) {
        SCOPED_TRACE(s.name);
        struct Reader {
            const std::vector<uint8_t> *bytes;
            size_t pos;
        } reader{&s.bytes, 0};
        mpa_stream_io io{&reader,
                         [](void *o, uint8_t *dst, size_t max) -> long {
                             Reader *r = static_cast<Reader *>(o);
                             const size_t n = std::min(max, r->bytes->size() - r->pos);
                             std::memcpy(dst, r->bytes->data() + r->pos, n);
                             r->pos += n;
                             return static_cast<long>(n);
                         },
                         nullptr, nullptr};
        for (const bool from_memory : {true, false}) {
            mpa_stream *st = nullptr;
            ASSERT_EQ(from_memory ? mpa_stream_open_memory(&st, s.bytes.data(), s.bytes.size(), nullptr)
                                  : mpa_stream_open_io(&st, &io, nullptr),
                      MPA_OK);
            long samples = 0;
            const Counted c = count([&] {
                void *dest[2] = {out, out + sizeof(out) / 2};
                size_t n = 0;
                for (int r; (r = mpa_stream_read(st, dest, sizeof(out) / 2, &n)) == MPA_OK ||
                            r == MPA_STREAM_FORMAT_CHANGED;)
                    samples += static_cast<long>(n);
            });
            EXPECT_GT(samples, 10000);
            EXPECT_EQ(c.allocations, 0);
            mpa_stream_close(st);
        }
    }
}

TEST(NoAllocation, OpenDecodeCloseCyclesLeaveNothingBehind)
{
    if (!install_counters())
        GTEST_SKIP() << "the sanitizer runtime has no allocation hooks";
    static float pcm[MPA_PCM_BUFFER_FLOATS];
    static uint8_t out[MPA_MAX_FRAME_PCM_BYTES * 2];
    const std::vector<mpa_test::TestStream> all = streams();
    // A few frames of each stream per cycle; LeakSanitizer checks the same
    // at exit in the sanitizer build.
    std::vector<std::vector<uint8_t>> heads;
    for (const mpa_test::TestStream &s : all)
        heads.emplace_back(s.bytes.begin(),
                           s.bytes.begin() + static_cast<long>(std::min<size_t>(s.bytes.size(), 6000)));
    const Counted c = count([&] {
        for (int cycle = 0; cycle < 200; cycle++) {
            mpa_decoder *dec = nullptr;
            if (mpa_decoder_open(&dec) != MPA_OK)
                return;
            decode_stream(dec, heads[static_cast<size_t>(cycle) % heads.size()], pcm, out);
            mpa_decoder_close(dec);
        }
    });
    EXPECT_EQ(c.allocations, 200);
    EXPECT_EQ(c.releases, c.allocations);
}

}  // namespace
