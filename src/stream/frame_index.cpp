#include "stream/frame_index.h"

#include <cstring>

#include "stream/frame_run.h"

void mpa_index_add(mpa_frame_index *index, const mpa_index_entry &e)
{
    if (e.frame % index->step != 0)
        return;
    if (index->entries.size() == MPA_INDEX_MAX_ENTRIES) {
        // Every other entry goes: the step doubles.
        size_t kept = 0;
        for (size_t i = 0; i < index->entries.size(); i += 2)
            index->entries[kept++] = index->entries[i];
        index->entries.resize(kept);
        index->step *= 2;
        if (e.frame % index->step != 0)
            return;
    }
    index->entries.push_back(e);
}

const mpa_index_entry *mpa_index_find(const mpa_frame_index &index, int64_t sample, int64_t back_frames)
{
    const std::vector<mpa_index_entry> &v = index.entries;
    if (v.empty())
        return nullptr;
    size_t lo = 0, hi = v.size();  // last entry with v[i].sample <= sample
    while (hi - lo > 1) {
        const size_t mid = (lo + hi) / 2;
        if (v[mid].sample <= sample)
            lo = mid;
        else
            hi = mid;
    }
    const int64_t target = v[lo].frame;
    while (lo > 0 && target - v[lo].frame < back_frames)
        lo--;
    return &v[lo];
}

void mpa_index_previous(const mpa_index_entry &e, mpa_header *h, unsigned options)
{
    std::memset(h, 0, sizeof(*h));
    if (e.previous_bits > 0 && mpa_header_at(e.previous_head, 4, false, h, options))
        h->bits_in_frame = e.previous_bits;
    else
        std::memset(h, 0, sizeof(*h));
}
