// The handle table lends each open instance to one call at a time, never
// hands out a closed instance, and frees every instance exactly once, also
// when a close races with a call that holds the instance. In the sanitizer
// build a double free, a use after free or a leak fails these tests.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "handle_table.h"
#include "rovaz/mpa.h"

namespace {

mpa_decoder *open_decoder()
{
    mpa_decoder *dec = nullptr;
    EXPECT_EQ(mpa_decoder_open(&dec), MPA_OK);
    return dec;
}

TEST(HandleTable, LendsOnceAndForgetsClosedHandles)
{
    mpa_decoder *dec = open_decoder();
    const int32_t h = mpa_handle_register(dec);
    ASSERT_GT(h, 0);

    EXPECT_EQ(mpa_handle_acquire(h), dec);
    EXPECT_EQ(mpa_handle_acquire(h), nullptr);  // already lent
    mpa_handle_release(h);
    EXPECT_EQ(mpa_handle_acquire(h), dec);
    mpa_handle_release(h);

    mpa_handle_close(h);
    EXPECT_EQ(mpa_handle_acquire(h), nullptr);
    mpa_handle_close(h);    // a second close is ignored
    mpa_handle_release(h);  // so is a release nobody asked for

    // The freed slot may come back, but never under the old handle.
    std::vector<int32_t> later;
    for (int i = 0; i < 64; i++) {
        later.push_back(mpa_handle_register(open_decoder()));
        EXPECT_NE(later.back(), h);
    }
    EXPECT_EQ(mpa_handle_acquire(h), nullptr);
    for (int32_t l : later)
        mpa_handle_close(l);

    for (int32_t bogus : {0, -1, -h, h + (1 << 16), 0x7fffffff, 0x0000ffff}) {
        EXPECT_EQ(mpa_handle_acquire(bogus), nullptr) << bogus;
        mpa_handle_release(bogus);
        mpa_handle_close(bogus);
    }
}

// A caller that keeps a closed handle must not close someone else's instance
// with it, however many instances are opened and closed in between (one at
// a time, the pattern that reuses a slot fastest).
TEST(HandleTable, StaleHandleNeverNamesALaterInstance)
{
    const int32_t stale = mpa_handle_register(open_decoder());
    mpa_handle_close(stale);
    for (int i = 0; i < 70000; i++) {
        const int32_t h = mpa_handle_register(open_decoder());
        ASSERT_GT(h, 0);
        ASSERT_NE(h, stale) << "after " << i << " reuses";
        mpa_handle_close(h);
    }
}

TEST(HandleTable, CloseWhileLentFreesOnRelease)
{
    mpa_decoder *dec = open_decoder();
    const int32_t h = mpa_handle_register(dec);
    ASSERT_EQ(mpa_handle_acquire(h), dec);
    mpa_handle_close(h);
    // The holder still owns a live instance until it gives it back.
    EXPECT_EQ(mpa_decoder_reset(dec), MPA_OK);
    EXPECT_EQ(mpa_handle_acquire(h), nullptr);
    mpa_handle_release(h);
    EXPECT_EQ(mpa_handle_acquire(h), nullptr);
}

// Threads borrow a shared set of handles while the main thread closes and
// reopens them. A holder count per slot index (the low bits of a handle)
// shows a second holder; a holder touching an instance after its close
// shows as a sanitizer report.
TEST(HandleTable, ConcurrentLendingAndClosing)
{
    constexpr int kHandles = 16;
    constexpr int kBorrowers = 4;
    constexpr int kRounds = 20000;
    std::atomic<int32_t> handles[kHandles];
    for (auto &h : handles)
        h.store(mpa_handle_register(open_decoder()));

    static std::atomic<int> holders[1 << 16];
    std::atomic<int> overlaps{0};
    std::atomic<bool> stop{false};
    auto borrower = [&](int seed) {
        unsigned x = static_cast<unsigned>(seed) * 2654435761u + 1;
        while (!stop.load(std::memory_order_relaxed)) {
            x = x * 1103515245u + 12345u;
            const int32_t h = handles[(x >> 16) % kHandles].load();
            mpa_decoder *dec = mpa_handle_acquire(h);
            if (!dec)
                continue;
            std::atomic<int> &held = holders[h & 0xffff];
            if (held.fetch_add(1) != 0)
                overlaps.fetch_add(1);
            if (mpa_decoder_header(dec)->layer_bits > 3)  // reads the instance
                overlaps.fetch_add(1);
            held.fetch_sub(1);
            mpa_handle_release(h);
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < kBorrowers; i++)
        threads.emplace_back(borrower, i);

    unsigned x = 7;
    for (int round = 0; round < kRounds; round++) {
        x = x * 1103515245u + 12345u;
        std::atomic<int32_t> &slot = handles[(x >> 16) % kHandles];
        const int32_t old = slot.load();
        slot.store(mpa_handle_register(open_decoder()));
        mpa_handle_close(old);
    }
    stop.store(true);
    for (auto &t : threads)
        t.join();
    for (auto &h : handles)
        mpa_handle_close(h.load());
    EXPECT_EQ(overlaps.load(), 0);
}

}  // namespace
