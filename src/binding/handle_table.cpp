#include "handle_table.h"

#include <deque>
#include <mutex>
#include <vector>

#include "rovaz/mpa.h"

namespace {

constexpr int kIndexBits = 20;                       // up to 2^20 - 1 live instances
constexpr uint32_t kIndexMask = (1u << kIndexBits) - 1;
constexpr uint32_t kGenerationMask = (1u << (31 - kIndexBits)) - 1;  // keeps handles positive

struct Slot {
    mpa_decoder *dec = nullptr;
    uint32_t generation = 0;
    bool lent = false;
    bool closing = false;
};

struct Table {
    std::mutex mutex;
    std::vector<Slot> slots;       // slot i has index i + 1; index 0 is never issued
    std::deque<uint32_t> free;     // oldest freed first, so a slot is reused late
};

Table &table()
{
    static Table t;
    return t;
}

// The slot of an open handle, or null. Caller holds the mutex.
Slot *find(Table &t, int32_t handle)
{
    if (handle <= 0)
        return nullptr;
    const uint32_t index = (uint32_t)handle & kIndexMask;
    const uint32_t generation = ((uint32_t)handle >> kIndexBits) & kGenerationMask;
    if (index == 0 || index > t.slots.size())
        return nullptr;
    Slot &s = t.slots[index - 1];
    if (!s.dec || s.closing || s.generation != generation)
        return nullptr;
    return &s;
}

void retire(Table &t, Slot &s, uint32_t index, mpa_decoder **to_free)
{
    *to_free = s.dec;
    s.dec = nullptr;
    s.lent = false;
    s.closing = false;
    s.generation = (s.generation + 1) & kGenerationMask;
    t.free.push_back(index);
}

}  // namespace

int32_t mpa_handle_register(mpa_decoder *dec)
{
    Table &t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    uint32_t index;
    if (!t.free.empty()) {
        index = t.free.front();
        t.free.pop_front();
    } else {
        if (t.slots.size() >= kIndexMask)
            return 0;
        t.slots.emplace_back();
        index = (uint32_t)t.slots.size();
    }
    Slot &s = t.slots[index - 1];
    s.dec = dec;
    s.lent = false;
    s.closing = false;
    return (int32_t)((s.generation << kIndexBits) | index);
}

mpa_decoder *mpa_handle_acquire(int32_t handle)
{
    Table &t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    Slot *s = find(t, handle);
    if (!s || s->lent)
        return nullptr;
    s->lent = true;
    return s->dec;
}

void mpa_handle_release(int32_t handle)
{
    Table &t = table();
    mpa_decoder *to_free = nullptr;
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        const uint32_t index = (uint32_t)handle & kIndexMask;
        if (handle <= 0 || index == 0 || index > t.slots.size())
            return;
        Slot &s = t.slots[index - 1];
        if (!s.dec || !s.lent)
            return;
        if (s.closing)
            retire(t, s, index, &to_free);
        else
            s.lent = false;
    }
    mpa_decoder_close(to_free);
}

void mpa_handle_close(int32_t handle)
{
    Table &t = table();
    mpa_decoder *to_free = nullptr;
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        Slot *s = find(t, handle);
        if (!s)
            return;
        if (s->lent) {
            s->closing = true;  // the call holding it frees it on release
            return;
        }
        retire(t, *s, (uint32_t)handle & kIndexMask, &to_free);
    }
    mpa_decoder_close(to_free);
}
