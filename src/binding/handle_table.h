// Maps the Java int handles to native instances: decoders and streams, one
// table each. A handle carries a slot index and the slot's generation, so a
// closed or never-issued handle is recognised and never dereferenced. An
// instance is lent to one call at a time; closing one that is lent frees it
// when the call gives it back.
//
// Lending and giving back happen on every decoding call, so they take no
// lock: each slot has one atomic word holding its generation and phase, and
// a call claims the slot with a single compare-exchange. The mutex guards
// only what changes on open and close: the free list and the slot count.
//
// Slots live in fixed chunks that are never moved or freed, so a lock-free
// reader can always look at the slot a handle names, even while another
// thread is adding chunks.
//
// A handle is 31 bits (Java ints, kept positive): a 16-bit slot index and a
// 15-bit generation. A stale handle names a live instance again only when
// its slot comes back with the same generation, after 2^15 reuses. Slots are
// reused as late as possible: every index is issued once before any is
// reused, and then the one freed longest ago comes first. With L instances
// open, a handle value therefore returns only after (65,535 - L) x 32,768
// opens, about 2^31 (two billion) when few are open at once.
#ifndef ROVAZ_BINDING_HANDLE_TABLE_H
#define ROVAZ_BINDING_HANDLE_TABLE_H

#include <cstdint>

#include <atomic>
#include <deque>
#include <mutex>
#include <new>

struct mpa_decoder;

// The decoders' table.
// Issues a handle (> 0) for dec, or 0 when the table is full.
int32_t mpa_handle_register(mpa_decoder *dec);
// Lends the instance of an open handle that no other call holds; null otherwise.
mpa_decoder *mpa_handle_acquire(int32_t handle);
// Gives back what mpa_handle_acquire lent.
void mpa_handle_release(int32_t handle);
// Closes an open handle; unknown and closed handles are ignored.
void mpa_handle_close(int32_t handle);

// The table itself, for each kind of instance T that free releases.
template <class T, void (*free_instance)(T *)>
class mpa_handle_table {
public:
    int32_t issue(T *instance);
    T *acquire(int32_t handle);
    void release(int32_t handle);
    void close(int32_t handle);

private:
    static constexpr int kIndexBits = 16;  // up to 2^16 - 1 live instances
    static constexpr uint32_t kIndexMask = (1u << kIndexBits) - 1;
    static constexpr uint32_t kGenerationMask = (1u << (31 - kIndexBits)) - 1;  // keeps handles positive
    static constexpr uint32_t kChunkBits = 10;
    static constexpr uint32_t kChunkSize = 1u << kChunkBits;
    static constexpr uint32_t kChunkCount = (kIndexMask >> kChunkBits) + 1;

    // Phase of a slot, in the low two bits of its state word.
    enum Phase : uint32_t {
        kFree = 0,         // no instance (never issued, or closed)
        kIdle = 1,         // open, no call holds it
        kLent = 2,         // open, one call holds it
        kLentClosing = 3,  // closed while lent: the holder frees it on release
    };

    static constexpr uint32_t state_of(uint32_t generation, Phase phase) { return (generation << 2) | phase; }
    static uint32_t generation_of(int32_t handle)
    {
        return (static_cast<uint32_t>(handle) >> kIndexBits) & kGenerationMask;
    }

    struct Slot {
        std::atomic<uint32_t> state{state_of(0, kFree)};
        // Written only while the slot is free and not yet published (under the
        // mutex); read by whoever holds the slot lent or is retiring it.
        T *instance = nullptr;
    };

    std::mutex mutex_;
    std::atomic<Slot *> chunks_[kChunkCount] = {};
    std::atomic<uint32_t> issued_{0};  // slots 1..issued exist; index 0 is never issued
    std::deque<uint32_t> free_;        // oldest freed first

    // The slot a handle names, or null when its index was never issued.
    Slot *slot_of(int32_t handle)
    {
        if (handle <= 0)
            return nullptr;
        const uint32_t index = static_cast<uint32_t>(handle) & kIndexMask;
        if (index == 0 || index > issued_.load(std::memory_order_acquire))
            return nullptr;
        Slot *chunk = chunks_[(index - 1) >> kChunkBits].load(std::memory_order_acquire);
        return &chunk[(index - 1) & (kChunkSize - 1)];
    }

    // Frees the instance of a slot this thread has taken out of use (its state
    // already says free, with the next generation), and lists the slot for reuse.
    void retire(Slot &s, int32_t handle)
    {
        T *instance;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            instance = s.instance;
            s.instance = nullptr;
            free_.push_back(static_cast<uint32_t>(handle) & kIndexMask);
        }
        free_instance(instance);
    }
};

template <class T, void (*free_instance)(T *)>
int32_t mpa_handle_table<T, free_instance>::issue(T *instance)
{
    std::lock_guard<std::mutex> lock(mutex_);
    uint32_t index = issued_.load(std::memory_order_relaxed) + 1;
    if (index > kIndexMask) {
        // Every index has been issued: reuse the slot freed longest ago.
        if (free_.empty())
            return 0;
        index = free_.front();
        free_.pop_front();
    } else {
        std::atomic<Slot *> &chunk = chunks_[(index - 1) >> kChunkBits];
        if (!chunk.load(std::memory_order_relaxed)) {
            Slot *fresh = new (std::nothrow) Slot[kChunkSize];
            if (!fresh)
                return 0;
            chunk.store(fresh, std::memory_order_release);
        }
        issued_.store(index, std::memory_order_release);
    }
    Slot &s =
        chunks_[(index - 1) >> kChunkBits].load(std::memory_order_relaxed)[(index - 1) & (kChunkSize - 1)];
    const uint32_t generation = s.state.load(std::memory_order_relaxed) >> 2;
    s.instance = instance;
    s.state.store(state_of(generation, kIdle), std::memory_order_release);
    return static_cast<int32_t>((generation << kIndexBits) | index);
}

template <class T, void (*free_instance)(T *)>
T *mpa_handle_table<T, free_instance>::acquire(int32_t handle)
{
    Slot *s = slot_of(handle);
    if (!s)
        return nullptr;
    const uint32_t generation = generation_of(handle);
    uint32_t expected = state_of(generation, kIdle);
    if (!s->state.compare_exchange_strong(expected, state_of(generation, kLent), std::memory_order_acquire,
                                          std::memory_order_relaxed))
        return nullptr;
    return s->instance;
}

template <class T, void (*free_instance)(T *)>
void mpa_handle_table<T, free_instance>::release(int32_t handle)
{
    Slot *s = slot_of(handle);
    if (!s)
        return;
    const uint32_t generation = generation_of(handle);
    uint32_t expected = state_of(generation, kLent);
    if (s->state.compare_exchange_strong(expected, state_of(generation, kIdle), std::memory_order_release,
                                         std::memory_order_relaxed))
        return;
    // Closed while this call held it: only the holder moves a slot out of
    // lent-closing, so this store cannot race.
    if (expected == state_of(generation, kLentClosing)) {
        s->state.store(state_of((generation + 1) & kGenerationMask, kFree), std::memory_order_release);
        retire(*s, handle);
    }
}

template <class T, void (*free_instance)(T *)>
void mpa_handle_table<T, free_instance>::close(int32_t handle)
{
    Slot *s = slot_of(handle);
    if (!s)
        return;
    const uint32_t generation = generation_of(handle);
    uint32_t current = s->state.load(std::memory_order_acquire);
    for (;;) {
        if (current == state_of(generation, kIdle)) {
            if (s->state.compare_exchange_weak(current, state_of((generation + 1) & kGenerationMask, kFree),
                                               std::memory_order_acq_rel, std::memory_order_acquire)) {
                retire(*s, handle);
                return;
            }
        } else if (current == state_of(generation, kLent)) {
            if (s->state.compare_exchange_weak(current, state_of(generation, kLentClosing),
                                               std::memory_order_acq_rel, std::memory_order_acquire))
                return;  // the holder frees it on release
        } else {
            return;  // another generation, already closing, or free
        }
    }
}

#endif
