// Fuzz target: the stream layer's contract with its caller. Arbitrary bytes
// through a memory, pull or push source, read out in every sample format
// and layout into heap blocks of exactly the room each read is given, with
// seeks, output changes and info, tag and picture queries in between.
// Checked at every read: the samples reported fit the room, the status is
// one of the documented ones, and the reported format is consistent. A
// memory source decoded by two threads (config.threads) must give what one
// gives: the same walk, read for read, and the same bytes.
//
// The first four bytes steer, the rest is the stream:
//   byte 0: bits 0-1 source (memory, pull with seek, pull without, push),
//           bits 2-4 sample format, bit 5 planar, bits 6-7 channels
//   byte 1: room class and push chunk class
//   byte 2: bit 0 gapless, bit 1 drop damaged, bit 2 want picture, bit 3 two threads
//           as well (memory), bits 4-7 seek rate
//   byte 3: seeds the walk
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"
#include "rovaz/mpa_stream.h"

namespace {

struct Reader {
    const uint8_t *data;
    size_t size;
    size_t pos = 0;
    uint32_t rng;

    uint32_t next()
    {
        rng = rng * 1103515245u + 12345u;
        return rng >> 8;
    }
};

long io_read(void *opaque, uint8_t *dst, size_t max)
{
    Reader *r = static_cast<Reader *>(opaque);
    // Short reads of any length: the stream must not depend on them.
    size_t n = r->size - r->pos;
    if (n > max)
        n = max;
    const size_t cap = 1 + r->next() % 3000;
    if (n > cap)
        n = cap;
    std::memcpy(dst, r->data + r->pos, n);
    r->pos += n;
    return static_cast<long>(n);
}

int io_seek(void *opaque, int64_t offset)
{
    Reader *r = static_cast<Reader *>(opaque);
    if (offset < 0 || static_cast<uint64_t>(offset) > r->size)
        return -1;
    r->pos = static_cast<size_t>(offset);
    return 0;
}

int64_t io_size(void *opaque)
{
    return static_cast<int64_t>(static_cast<Reader *>(opaque)->size);
}

constexpr size_t kRooms[8] = {0, 1, 7, 96, 4608, 9216, 1000, 65536};

bool known_status(int r)
{
    return r == MPA_OK || r == MPA_STREAM_END || r == MPA_STREAM_NEED_INPUT ||
           r == MPA_STREAM_FORMAT_CHANGED || r == MPA_ERR_OUTPUT_ROOM || r == MPA_ERR_NULL_ARG ||
           r == MPA_ERR_IO;
}

// Everything a walk saw: statuses, sample counts, positions, formats, counts and bytes.
struct Digest {
    uint64_t h = 1469598103934665603u;

    void add(const void *p, size_t n)
    {
        const uint8_t *b = static_cast<const uint8_t *>(p);
        for (size_t i = 0; i < n; i++)
            h = (h ^ b[i]) * 1099511628211u;
    }
    void add(int64_t v) { add(&v, sizeof(v)); }
};

// One walk over the stream, decoded by `threads`.
uint64_t walk(const uint8_t *data, size_t size, int threads)
{
    Digest digest;
    const int source = data[0] & 3;
    mpa_stream_config config;
    mpa_stream_config_default(&config);
    config.sample_format = ((data[0] >> 2) & 7) % 6;
    config.planar = (data[0] >> 5) & 1;
    config.channels = (data[0] >> 6) % 3;
    config.gapless = data[2] & 1;
    config.drop_damaged = (data[2] >> 1) & 1;
    config.want_picture = (data[2] >> 2) & 1;
    config.threads = threads;
    const int seek_rate = data[2] >> 4;
    Reader reader{data + 4, size - 4, 0, data[3] + 1u};

    mpa_stream *s = nullptr;
    int r;
    mpa_stream_io io{&reader, io_read, source == 1 ? io_seek : nullptr, source == 1 ? io_size : nullptr};
    if (source == 0)
        r = mpa_stream_open_memory(&s, reader.data, reader.size, &config);
    else if (source == 3)
        r = mpa_stream_open_push(&s, &config);
    else
        r = mpa_stream_open_io(&s, &io, &config);
    if (r != MPA_OK) {
        FUZZ_CHECK(s == nullptr);
        return static_cast<uint64_t>(r);
    }

    size_t fed = 0;
    bool ended = false;
    for (int calls = 0; calls < 4 * static_cast<int>(size) + 64; calls++) {
        if (source == 3 && !ended) {
            const size_t wanted = mpa_stream_input_wanted(s);
            size_t chunk = 1 + reader.next() % (((data[1] >> 4) + 1) * 700);
            if (chunk > reader.size - fed)
                chunk = reader.size - fed;
            size_t accepted = 0;
            FUZZ_CHECK(mpa_stream_feed(s, reader.data + fed, chunk, &accepted) == MPA_OK);
            FUZZ_CHECK(accepted <= chunk);
            if (chunk <= wanted)
                FUZZ_CHECK(accepted == chunk);
            fed += accepted;
            if (fed == reader.size) {
                mpa_stream_end_input(s);
                ended = true;
            }
        }
        if (seek_rate && reader.next() % 64 < static_cast<uint32_t>(seek_rate)) {
            const int sr = mpa_stream_seek(s, static_cast<int64_t>(reader.next() % 200000));
            FUZZ_CHECK(sr == MPA_OK || sr == MPA_ERR_NOT_SEEKABLE || sr == MPA_STREAM_END ||
                       sr == MPA_STREAM_NEED_INPUT || sr == MPA_ERR_IO || sr == MPA_ERR_NO_STREAM || sr < 0);
            digest.add(sr);
            digest.add(mpa_stream_tell(s));
        }
        if (reader.next() % 16 == 0) {
            // Another output between reads: the room must be counted in the new sample size.
            const int32_t sf = static_cast<int32_t>(reader.next() % 7),
                          ch = static_cast<int32_t>(reader.next() % 4);
            const int so = mpa_stream_set_output(s, sf, ch);
            FUZZ_CHECK(so == ((sf <= MPA_SAMPLE_F32 && ch <= 2) ? static_cast<int>(MPA_OK)
                                                                : static_cast<int>(MPA_ERR_ARG)));
        }
        const size_t room = kRooms[(data[1] + reader.next()) & 7] + (reader.next() & 0x3F);
        uint8_t *a = static_cast<uint8_t *>(std::malloc(room + 1));
        uint8_t *b = static_cast<uint8_t *>(std::malloc(room + 1));
        a[room] = b[room] = 0xA5;
        void *dest[2] = {a, b};
        size_t samples = 12345;
        mpa_stream_format before{};
        const bool had_format = mpa_stream_get_format(s, &before) == MPA_OK;
        r = mpa_stream_read(s, dest, room, &samples);
        FUZZ_CHECK(a[room] == 0xA5 && b[room] == 0xA5);
        digest.add(r);
        digest.add(static_cast<int64_t>(samples));
        if (r == MPA_OK) {
            const size_t bytes = samples * static_cast<size_t>(before.bytes_per_sample);
            const bool planar = before.planar && before.channels == 2;
            digest.add(a, planar ? bytes : bytes * static_cast<size_t>(before.channels));
            if (planar)
                digest.add(b, bytes);
        }
        std::free(a);
        std::free(b);
        FUZZ_CHECK(known_status(r) || r < 0);
        if (r != MPA_OK) {
            FUZZ_CHECK(samples == 0);
        } else {
            FUZZ_CHECK(had_format && samples > 0);
            const size_t period =
                static_cast<size_t>(before.bytes_per_sample) *
                (before.planar && before.channels == 2 ? 1 : static_cast<size_t>(before.channels));
            FUZZ_CHECK(samples * period <= room);
        }
        mpa_stream_format f;
        if (mpa_stream_get_format(s, &f) == MPA_OK) {
            FUZZ_CHECK(f.channels == 1 || f.channels == 2);
            FUZZ_CHECK(f.sampling_rate > 0 && f.start >= 0 && f.start <= mpa_stream_tell(s));
            digest.add(&f, sizeof(f));
        }
        if ((calls & 15) == 0) {
            mpa_stream_info info{};
            digest.add(mpa_stream_get_info(s, &info));
            digest.add(&info, sizeof(info));
            for (int i = 0; i < mpa_stream_tag_count(s); i++) {
                const char *k, *v;
                FUZZ_CHECK(mpa_stream_tag(s, i, &k, &v) == MPA_OK);
                FUZZ_CHECK(std::strlen(k) > 0 && mpa_stream_tag_value(s, k) != nullptr);
                (void)std::strlen(v);
            }
            const uint8_t *pic;
            size_t pic_size;
            const char *mime;
            if (mpa_stream_picture(s, &pic, &pic_size, &mime) == MPA_OK)
                FUZZ_CHECK(pic_size > 0 && (pic[0] | pic[pic_size - 1] | 1) && std::strlen(mime) > 0);
        }
        if (r == MPA_STREAM_END || (r < 0 && r != MPA_ERR_OUTPUT_ROOM))
            break;
        if (r == MPA_STREAM_NEED_INPUT && ended)
            FUZZ_CHECK(false);  // an ended push stream never asks for more
    }
    mpa_stream_info info{};
    digest.add(mpa_stream_get_info(s, &info));
    digest.add(&info, sizeof(info));
    mpa_stream_close(s);
    return digest.h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4 || size > (1u << 20))
        return 0;
    const uint64_t one = walk(data, size, 1);
    if ((data[0] & 3) == 0 && (data[2] & 8))
        FUZZ_CHECK(walk(data, size, 2) == one);
    return 0;
}
