// Parallel decoding of a seekable stream. The timeline is cut into blocks of
// a fixed number of samples; worker threads take the next block in order,
// seek their own stream to its start (the seek decodes the preroll frames
// before it, so its frames are those of a decode from the start) and record
// its frames, with their PCM and what each added to the stream's counts.
// The PCM is converted to the output format there, while it is in that
// core's cache (half the bytes or fewer then cross to the reading thread);
// a block made for a format no longer asked for is decoded again in floats.
// The reading thread gives the frames out as mpa_stream_next_frame would;
// mpa_stream_read trims them and copies or converts them as ever.
//
// A seek is exact on frames decoded cleanly: where a block or the frames
// before it show damage (concealment, dropped or skipped bytes, silence,
// frames off the block's start), the state a decode from the start has
// there may differ from the seek's, and the reading thread decodes the block
// itself, continuing a decode from the last block whose end it knows exactly
// (the origin, a block that ended with the framer's history of its own, or
// one decoded that way). Memory is a few blocks per worker.
#include "stream/stream_parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "stream/sample_convert.h"
#include "stream/stream_decode.h"
#include "stream/stream_internal.h"
#include "stream/stream_seek.h"

namespace {

// Blocks are whole numbers of 1152 samples, a multiple of every frame's.
constexpr int64_t kFrameSamples = 1152;
constexpr int64_t kMinBlock = 4 * kFrameSamples;
constexpr int64_t kMaxBlock = 224 * kFrameSamples;  // 5.9 s at 44.1 kHz
constexpr int64_t kShortestFrame = 384;
constexpr size_t kChannelFloats = MPA_PCM_BUFFER_FLOATS / 2;

// What one step of the decoding loop added to the stream's counts, in the
// order of kCounted.
enum counted { kDecoded, kConcealed, kDropped, kSilent, kSkipped, kCountedNumber };
constexpr int64_t mpa_stream_info::*kCounted[kCountedNumber] = {
    &mpa_stream_info::frames_decoded, &mpa_stream_info::frames_concealed, &mpa_stream_info::frames_dropped,
    &mpa_stream_info::frames_silent, &mpa_stream_info::bytes_skipped};

struct tally {
    int64_t n[kCountedNumber] = {};
};

tally tally_between(const mpa_stream_info &a, const mpa_stream_info &b)
{
    tally t;
    for (int i = 0; i < kCountedNumber; i++)
        t.n[i] = b.*kCounted[i] - a.*kCounted[i];
    return t;
}

void add_tally(tally *t, const tally &d)
{
    for (int i = 0; i < kCountedNumber; i++)
        t->n[i] += d.n[i];
}

void apply_tally(mpa_stream_info *c, const tally &d)
{
    for (int i = 0; i < kCountedNumber; i++)
        c->*kCounted[i] += d.n[i];
}

// One frame decoded, nothing skipped, concealed, dropped or silent.
bool clean_step(const tally &d)
{
    return d.n[kDecoded] == 1 && d.n[kConcealed] == 0 && d.n[kDropped] == 0 && d.n[kSilent] == 0 &&
           d.n[kSkipped] == 0;
}

struct block_frame {
    mpa_frame_out out;  // pcm unset
    int64_t pcm_at;     // where its samples are in the block's pcm, -1 for silence (floats, or
                        // bytes in the block's format)
    tally counts;       // of its step, and of the steps merged into it
};

enum class slot_state { free, working, ready };

struct block {
    slot_state state = slot_state::free;
    uint64_t generation = 0;
    int64_t number = -1;
    std::unique_ptr<block_frame[]> frames;
    std::unique_ptr<float[]> pcm;  // channel c of a frame at pcm_at + c * 1152, or converted
    mpa_output_format format;      // what its frames are converted to (none: floats)
    size_t frame_cap = 0, pcm_cap = 0;
    size_t frame_count = 0, pcm_used = 0;
    int status = MPA_OK;  // MPA_OK: reached the next block; MPA_STREAM_END; an error
    bool broken = false;  // not done as asked: the reading thread decodes it
    tally tail;           // of the step that ended it, and steps after its last frame
    // Its start: the frames of the seek's preroll, and the first of its own.
    int32_t preroll = 0;
    bool preroll_ok = true;   // nothing concealed, dropped or skipped
    bool start_quiet = false; // the first frame's step began at a frame, the preroll's last decoded
    bool damage_free = true;  // every step of it decoded one frame cleanly
    int64_t first_sample = -1, first_offset = -1;
    // Its end: where the next block's decode goes on.
    int64_t end_sample = -1, end_offset = -1;
    bool end_quiet = false;   // no frame found and pending, none lost to give
    bool end_stable = false;  // the framer's frame length is one of the frames since its start
    int64_t clean_tail = 0;   // clean steps in a row at its end, preroll included

    void reset()
    {
        frame_count = pcm_used = 0;
        format = mpa_output_format();
        status = MPA_OK;
        broken = false;
        tail = tally();
        preroll = 0;
        preroll_ok = true;
        start_quiet = false;
        damage_free = true;
        first_sample = first_offset = end_sample = end_offset = -1;
        end_quiet = end_stable = false;
        clean_tail = 0;
    }
};

// The end of the block before the current one, for the check of the next.
struct edges {
    int status = MPA_OK;
    int64_t end_sample = -1, end_offset = -1;
    bool end_quiet = false;
    int64_t clean_tail = 0;
};

// How the decode that ended a block exactly can be done again.
enum class anchor_kind { none, origin, seek, reader };

}  // namespace

struct mpa_parallel {
    mpa_stream_config config{};  // of the workers' streams
    std::string path;            // empty: memory
    const uint8_t *data = nullptr;
    size_t size = 0;
    int threads = 2;

    bool started = false;
    mpa_frame_index index;  // the scan, given to each stream opened
    int64_t block_len = 0;  // timeline samples per block
    int64_t last_number = 0;
    std::vector<block> slots;
    std::vector<std::thread> workers;

    std::mutex lock;
    std::condition_variable work, ready;
    std::atomic<uint64_t> generation{0};  // changed under lock; a job of another one is dropped
    bool quit = false;
    int64_t next_job = 0;
    // Where the output of this generation starts: a decode from the open, or
    // the seek of the stream to timeline sample origin_t.
    bool origin_fresh = true;
    mpa_output_format out_format;  // what new blocks are converted to (written by the reading thread)
    // Until the scan is done, only the output's first block can be decoded:
    // the workers' streams have no index to seek with.
    bool index_ready = false;
    int64_t job_limit = INT64_MAX;
    int64_t origin_t = 0, origin_number = 0;

    // The reading thread's.
    block *cur = nullptr;
    int64_t cur_number = 0;
    size_t cur_frame = 0;
    bool have_prev = false;
    edges prev;
    int ended = MPA_OK;  // MPA_STREAM_END or an error, given again
    mpa_stream *reader = nullptr;  // its own decode, where a block must continue one
    anchor_kind anchor = anchor_kind::none;
    int64_t anchor_number = -1;
};

namespace {

// Where the decode of block `number` stops: at the first frame from the
// next block's start on; the last block the scan knows goes one sample
// further, so that the end of the stream is its own.
int64_t block_end(const mpa_parallel *p, int64_t number)
{
    return (number + 1) * p->block_len + (number == p->last_number ? 1 : 0);
}

int open_stream(const mpa_parallel *p, mpa_stream **out)
{
    *out = nullptr;
    return p->path.empty() ? mpa_stream_open_memory(out, p->data, p->size, &p->config)
                           : mpa_stream_open_file(out, p->path.c_str(), &p->config);
}

// Puts *s where a block's decode starts: opened afresh (the output's first
// block after the open), or seeked to timeline sample `at` (the output's
// first block after a seek, as the reading stream was, or any other block's
// start). *used: *s has decoded since it was opened.
int place(const mpa_parallel *p, mpa_stream **s, bool *used, bool fresh, int64_t at, bool with_index)
{
    if (fresh && *used) {
        mpa_stream_close(*s);
        *s = nullptr;
    }
    int r = *s ? MPA_OK : open_stream(p, s);
    *used = true;
    if (r == MPA_OK && with_index && !(*s)->index.complete) {
        try {
            (*s)->index = p->index;  // the same bytes: no second scan
        } catch (...) {
            r = MPA_ERR_NO_MEMORY;
        }
    }
    if (r == MPA_OK && !fresh)
        r = mpa_stream_seek(*s, at);
    return r;
}

// Decodes the frames of the block from w's position until the timeline
// reaches `to` into b. Frames before `from` are the seek's preroll; in the
// output's first block (origin) they are those before the seek's target,
// merged into the next frame's counts. Gives up when *generation moves off g.
void record_frames(mpa_stream *w, block *b, int64_t from, int64_t to, bool origin,
                   const std::atomic<uint64_t> *generation, uint64_t g)
{
    tally pending;
    int32_t preroll_run = 0;  // decoded frames at the end of the preroll (the first ones may be
                              // silent: the seek starts them before the reservoir's data)
    int64_t clean_run = 0;
    bool first = true;
    while (w->next_sample < to) {
        if (generation && generation->load(std::memory_order_relaxed) != g) {
            b->broken = true;
            b->status = MPA_ERR_ARG;
            return;
        }
        const mpa_stream_info before = w->counts;
        const int64_t offset = mpa_window_offset(w->window);
        const bool quiet = !w->have_step && w->pending_lost == 0;
        // Floats are decoded in place where there is room for any frame (the
        // bounds below keep it so), else copied from the stream's own buffer.
        const bool floats_wanted = b->format.sample_format < 0;
        const bool in_place = floats_wanted && b->pcm_cap - b->pcm_used >= MPA_PCM_BUFFER_FLOATS;
        mpa_stream_set_sink(w, in_place ? b->pcm.get() + b->pcm_used : nullptr);
        const int r = mpa_stream_next_frame(w);
        const tally d = tally_between(before, w->counts);
        add_tally(&pending, d);
        if (r != MPA_OK) {
            b->status = r;
            b->tail = pending;
            if (pending.n[kConcealed] || pending.n[kDropped])
                b->damage_free = false;
            return;
        }
        clean_run = clean_step(d) ? clean_run + 1 : 0;
        const mpa_frame_out &f = w->frame;
        if (!origin && f.sample < from) {
            b->preroll++;
            if (d.n[kConcealed] || d.n[kDropped] || d.n[kSkipped])
                b->preroll_ok = false;
            preroll_run = d.n[kDecoded] == 1 && d.n[kSilent] == 0 ? preroll_run + 1 : 0;
            pending = tally();
            continue;
        }
        if (origin && f.sample + f.count <= w->discard_until)
            continue;  // wholly before the seek's target: its read gives nothing
        if (!clean_step(d))
            b->damage_free = false;
        const size_t count = static_cast<size_t>(f.count);
        const mpa_output_layout out = mpa_output_layout_of(b->format, f.channels);
        const size_t converted_bytes = count * out.bytes * static_cast<size_t>(out.channels);
        const size_t floats = !f.pcm            ? 0
                              : !floats_wanted  ? (converted_bytes + sizeof(float) - 1) / sizeof(float)
                              : f.channels == 2 ? kChannelFloats + count
                                                : count;
        if (b->frame_count == b->frame_cap || b->pcm_cap - b->pcm_used < floats) {
            b->broken = true;  // beyond the bounds the block was sized by: cannot happen
            b->status = MPA_ERR_NO_MEMORY;
            return;
        }
        block_frame &bf = b->frames[b->frame_count++];
        bf.out = f;
        bf.out.pcm = nullptr;
        bf.out.next = 0;
        bf.counts = pending;
        bf.pcm_at = -1;
        pending = tally();
        if (f.pcm && !floats_wanted) {
            // Converted here, while the frame is in this core's cache: half
            // the bytes or fewer go to the reading thread.
            uint8_t *dst = reinterpret_cast<uint8_t *>(b->pcm.get() + b->pcm_used);
            uint8_t *planes[2] = {dst, out.planar ? dst + count * out.bytes : nullptr};
            mpa_convert_samples(f.pcm, f.channels, 0, f.count, out.channels, b->format.sample_format,
                                out.planar, planes);
            bf.pcm_at = static_cast<int64_t>(b->pcm_used);
            b->pcm_used += floats;
        } else if (f.pcm) {
            float *dst = b->pcm.get() + b->pcm_used;
            if (f.pcm != dst) {
                std::memcpy(dst, f.pcm, count * sizeof(float));
                if (f.channels == 2)
                    std::memcpy(dst + kChannelFloats, f.pcm + kChannelFloats, count * sizeof(float));
            }
            bf.pcm_at = static_cast<int64_t>(b->pcm_used);
            b->pcm_used += floats;
        }
        if (first) {
            first = false;
            b->first_sample = f.sample;
            b->first_offset = offset;
            b->start_quiet = quiet && preroll_run >= std::min<int32_t>(b->preroll, 1);
        }
    }
    b->status = MPA_OK;
    b->tail = pending;
    b->end_sample = w->next_sample;
    b->end_offset = mpa_window_offset(w->window);
    b->end_quiet = !w->have_step && w->pending_lost == 0 && w->phase == MPA_PHASE_FRAMES;
    // The framer's frame length comes from the last two frames of like
    // length: once two came since the seek, it is a decode from the start's.
    b->end_stable = w->framer.stable_bytes != 0;
    b->clean_tail = clean_run;
}

void record(mpa_stream *w, block *b, int64_t from, int64_t to, bool origin,
            const std::atomic<uint64_t> *generation, uint64_t g)
{
    record_frames(w, b, from, to, origin, generation, g);
    mpa_stream_set_sink(w, nullptr);  // the block's memory goes to the reading thread
}

block *find_free(mpa_parallel *p)
{
    for (block &b : p->slots)
        if (b.state == slot_state::free)
            return &b;
    return nullptr;
}

block *find_ready(mpa_parallel *p, int64_t number)
{
    for (block &b : p->slots)
        if (b.state == slot_state::ready && b.generation == p->generation.load() && b.number == number)
            return &b;
    return nullptr;
}

void worker(mpa_parallel *p)
{
    mpa_stream *own = nullptr;
    bool used = false;
    std::unique_lock<std::mutex> l(p->lock);
    for (;;) {
        block *b = nullptr;
        while (!p->quit &&
               !(p->next_job <= std::min(p->last_number, p->job_limit) && (b = find_free(p)) != nullptr))
            p->work.wait(l);
        if (p->quit)
            break;
        const int64_t number = p->next_job++;
        const bool origin = number == p->origin_number;
        const bool fresh = origin && p->origin_fresh;
        const int64_t from = origin ? p->origin_t : number * p->block_len;
        const mpa_output_format format = p->out_format;
        const bool with_index = p->index_ready;
        const int64_t to = block_end(p, number);
        b->state = slot_state::working;
        b->generation = p->generation.load();
        b->number = number;
        l.unlock();
        b->reset();
        b->format = format;
        const int r = place(p, &own, &used, fresh, from, with_index);
        if (r != MPA_OK) {
            b->broken = true;
            b->status = r;
        } else {
            record(own, b, from, to, origin, &p->generation, b->generation);
        }
        l.lock();
        if (!p->quit && b->generation == p->generation.load()) {
            b->state = slot_state::ready;
            p->ready.notify_all();
        } else {
            b->state = slot_state::free;
            p->work.notify_all();
            p->ready.notify_all();
        }
    }
    l.unlock();
    mpa_stream_close(own);
}

// Whether a worker's block continues the output exactly: the output's first
// block, done as asked, always; another when both sides of its start are
// clean and meet at the same sample and byte.
bool continues(const mpa_parallel *p, const block &b)
{
    if (b.broken || (b.status != MPA_OK && b.status != MPA_STREAM_END))
        return false;
    if (b.number == p->origin_number)
        return true;
    const int64_t at = b.number * p->block_len;
    const edges &e = p->prev;
    return p->have_prev && e.status == MPA_OK && e.end_quiet && e.end_sample == at && b.damage_free &&
           b.preroll_ok && b.start_quiet && b.first_sample == at && b.first_offset == e.end_offset &&
           e.clean_tail >= b.preroll;
}

// Decodes block b on the reading thread, continuing the decode that ended
// the anchor block (or beginning the output's first block).
void decode_here(mpa_parallel *p, block *b)
{
    const int64_t number = b->number;
    b->reset();
    bool used = true;
    int r = MPA_OK;
    if (p->anchor == anchor_kind::seek && number != p->origin_number)
        r = place(p, &p->reader, &used, false, p->anchor_number * p->block_len, true);
    else if (p->anchor != anchor_kind::reader || number == p->origin_number)
        r = place(p, &p->reader, &used, p->origin_fresh, p->origin_t, true);
    // From the anchor's start (or the end of the reader's last block) to
    // where the block before this one stopped.
    const int64_t from = number == p->origin_number ? p->origin_t : number * p->block_len;
    while (r == MPA_OK && number != p->origin_number && p->reader->next_sample < block_end(p, number - 1))
        r = mpa_stream_next_frame(p->reader);
    if (r != MPA_OK) {
        b->status = r;
        p->anchor = anchor_kind::none;
        return;
    }
    record(p->reader, b, from, block_end(p, number), number == p->origin_number, nullptr, 0);
    p->anchor = anchor_kind::reader;
    p->anchor_number = number;
}

// Makes p->cur block p->cur_number: a worker's when it continues the
// output exactly, else decoded here.
void take_block(mpa_parallel *p)
{
    const int64_t number = p->cur_number;
    block *b = nullptr;
    {
        std::unique_lock<std::mutex> l(p->lock);
        if (number > p->last_number) {
            // Past the scan's end: no worker has it. The slot the last one left is free.
            while ((b = find_free(p)) == nullptr)
                p->ready.wait(l);
            b->state = slot_state::ready;
            b->generation = p->generation.load();
            b->number = number;
            b->reset();
            b->broken = true;
        } else {
            while ((b = find_ready(p, number)) == nullptr)
                p->ready.wait(l);
        }
    }
    p->cur = b;
    p->cur_frame = 0;
    // A block converted to a format no longer asked for is decoded again, as
    // is one that does not continue the output exactly.
    const bool converted = b->format.sample_format >= 0;
    if (!continues(p, *b) || (converted && b->format != p->out_format)) {
        decode_here(p, b);
        return;
    }
    if (number == p->origin_number) {
        p->anchor = anchor_kind::origin;
        p->anchor_number = number;
    } else if (b->end_stable) {
        p->anchor = anchor_kind::seek;
        p->anchor_number = number;
    }
}

void release_current(mpa_parallel *p)
{
    if (!p->cur)
        return;
    {
        std::lock_guard<std::mutex> l(p->lock);
        p->cur->state = slot_state::free;
    }
    p->work.notify_all();
    p->cur = nullptr;
}

// A new generation from the origin on: the stream opened, or seeked to
// timeline sample t (fresh false).
void restart(mpa_parallel *p, bool fresh, int64_t t)
{
    p->cur = nullptr;
    p->have_prev = false;
    p->anchor = anchor_kind::none;
    p->anchor_number = -1;
    {
        std::lock_guard<std::mutex> l(p->lock);
        p->generation.fetch_add(1);
        p->origin_fresh = fresh;
        p->origin_t = t;
        if (p->started) {
            p->origin_number = t / p->block_len;
            for (block &b : p->slots)
                if (b.state == slot_state::ready)
                    b.state = slot_state::free;
            p->next_job = p->ended == MPA_OK ? p->origin_number : p->last_number + 1;
        }
    }
    p->cur_number = p->origin_number;
    p->work.notify_all();
}

// Sizes the slots for blocks of len samples and starts the workers: false
// without the memory or a thread.
bool launch(mpa_stream *s, mpa_parallel *p, int64_t len, int64_t last)
{
    // Bounds of one block's frames: each at least 384 samples long and
    // starting before the block's end, the first ending after its start
    // (after the seek's target in the output's first block): at most
    // block + 2 x 1152 samples, each taking at most 4 floats per sample
    // (stereo at 1152 floats apart).
    const size_t frame_cap = static_cast<size_t>((len + 2 * kFrameSamples) / kShortestFrame + 4);
    const size_t pcm_cap = static_cast<size_t>(4 * (len + 2 * kFrameSamples));
    try {
        p->slots.resize(static_cast<size_t>(p->threads) + 2);
        for (block &b : p->slots) {
            b.frames.reset(new block_frame[frame_cap]);
            b.pcm.reset(new float[pcm_cap]);
            b.frame_cap = frame_cap;
            b.pcm_cap = pcm_cap;
        }
    } catch (...) {
        return false;
    }
    p->block_len = len;
    p->last_number = last;
    p->out_format = mpa_output_format_of(s->config);
    p->started = true;
    restart(p, p->origin_fresh, p->origin_t);
    try {
        for (int i = 0; i < p->threads; i++)
            p->workers.emplace_back(worker, p);
    } catch (...) {
    }
    if (p->workers.empty()) {
        p->started = false;
        return false;
    }
    return true;
}

// Starts the workers on the stream's first read: false where the stream
// must decode on its own. A stream whose info frame declares it long enough
// for blocks of the longest length has its first block decoded while the
// scan runs; the scan must then confirm that length.
bool start(mpa_stream *s, mpa_parallel *p)
{
    if (!s->counts.seekable || s->push)
        return false;
    const int64_t declared = s->info.frames > 0 ? s->info.frames * s->first_header.n_samples : 0;
    const bool early = p->origin_fresh && declared >= 8 * p->threads * kMaxBlock;
    if (early) {
        p->job_limit = 0;
        if (!launch(s, p, kMaxBlock, INT64_MAX))
            return false;
    }
    if (mpa_stream_scan(s) != MPA_OK)
        return false;
    const mpa_frame_index &ix = s->index;
    if (!ix.complete || ix.format_changes > 0 || ix.samples <= 0)
        return false;
    const int64_t len = std::min(
        kMaxBlock, std::max(kMinBlock, ix.samples / (4 * p->threads) / kFrameSamples * kFrameSamples));
    const int64_t last = (ix.samples - 1) / len;
    if (last < 1 || (early && len != p->block_len))
        return false;
    try {
        std::lock_guard<std::mutex> l(p->lock);
        p->index = ix;
        p->index_ready = true;
        p->last_number = last;
        p->job_limit = INT64_MAX;
    } catch (...) {
        return false;
    }
    p->work.notify_all();
    return early || launch(s, p, len, last);
}

}  // namespace

mpa_parallel *mpa_parallel_create(const mpa_stream_config &config, const char *path, const uint8_t *data,
                                  size_t size)
{
    if (config.threads <= 1)
        return nullptr;
    mpa_parallel *p = new (std::nothrow) mpa_parallel();
    if (!p)
        return nullptr;
    p->config = config;
    p->config.threads = 1;
    // The workers give the timeline untrimmed, and seek by it.
    p->config.gapless = 0;
    p->config.want_picture = 0;
    p->threads = std::min(config.threads, MPA_MAX_THREADS);
    p->data = data;
    p->size = size;
    try {
        if (path)
            p->path = path;
    } catch (...) {
        delete p;
        return nullptr;
    }
    return p;
}

void mpa_parallel_destroy(mpa_parallel *p)
{
    if (!p)
        return;
    {
        std::lock_guard<std::mutex> l(p->lock);
        p->quit = true;
        p->generation.fetch_add(1);
    }
    p->work.notify_all();
    for (std::thread &t : p->workers)
        t.join();
    mpa_stream_close(p->reader);
    delete p;
}

int mpa_stream_parallel_next_frame(mpa_stream *s)
{
    mpa_parallel *p = s->parallel;
    if (p->ended != MPA_OK)
        return p->ended;
    if (!p->started && !start(s, p)) {
        mpa_parallel_destroy(p);
        s->parallel = nullptr;
        return mpa_stream_next_frame(s);
    }
    const mpa_output_format wanted = mpa_output_format_of(s->config);
    if (wanted != p->out_format) {
        std::lock_guard<std::mutex> l(p->lock);
        p->out_format = wanted;
    }
    for (;;) {
        if (!p->cur)
            take_block(p);
        block *b = p->cur;
        if (p->cur_frame < b->frame_count) {
            const block_frame &bf = b->frames[p->cur_frame++];
            s->frame = bf.out;
            const bool converted = b->format.sample_format >= 0;
            s->frame.pcm = bf.pcm_at >= 0 && !converted ? b->pcm.get() + bf.pcm_at : nullptr;
            s->frame.converted = bf.pcm_at >= 0 && converted
                                     ? reinterpret_cast<const uint8_t *>(b->pcm.get() + bf.pcm_at)
                                     : nullptr;
            s->frame.converted_as = b->format;
            s->next_sample = s->frame.sample + s->frame.count;
            s->frame_ready = true;
            apply_tally(&s->counts, bf.counts);
            return MPA_OK;
        }
        apply_tally(&s->counts, b->tail);
        b->tail = tally();
        if (b->status != MPA_OK) {
            p->ended = b->status;
            if (b->status == MPA_STREAM_END)
                s->phase = MPA_PHASE_DONE;
            release_current(p);
            return p->ended;
        }
        p->prev.status = b->status;
        p->prev.end_sample = b->end_sample;
        p->prev.end_offset = b->end_offset;
        p->prev.end_quiet = b->end_quiet;
        p->prev.clean_tail = b->clean_tail;
        p->have_prev = true;
        release_current(p);
        p->cur_number++;
    }
}

void mpa_stream_parallel_seeked(mpa_stream *s, int status)
{
    mpa_parallel *p = s->parallel;
    if (status != MPA_OK) {
        // The stream is as a failed seek left it: it goes on alone.
        mpa_parallel_destroy(p);
        s->parallel = nullptr;
        return;
    }
    p->ended = s->phase == MPA_PHASE_DONE ? mpa_stream_status(s, MPA_STREAM_END) : MPA_OK;
    restart(p, false, s->discard_until);
}

int mpa_stream_parallel_refloat(mpa_stream *s)
{
    mpa_parallel *p = s->parallel;
    block *b = p->cur;
    const size_t at = p->cur_frame;  // the frame given out is at - 1
    const int32_t next = s->frame.next;
    if (!b || at == 0)
        return MPA_ERR_ARG;
    // The same decode as the block's, exact from its anchor: the same frames.
    decode_here(p, b);
    if (at > b->frame_count)
        return b->status != MPA_OK ? b->status : MPA_ERR_NO_MEMORY;
    const block_frame &bf = b->frames[at - 1];
    s->frame = bf.out;
    s->frame.pcm = bf.pcm_at >= 0 ? b->pcm.get() + bf.pcm_at : nullptr;
    s->frame.next = next;
    return MPA_OK;
}
