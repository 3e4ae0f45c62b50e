#include "platform/guarded_lock.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/sync.h"
#include "platform/thread.h"

namespace qm::platform {
namespace {

TEST(GuardedLock, NonBlockingGivesUpAndCountsTheCollision) {
    CriticalSection cs;
    LockStats stats;
    ManualResetEvent held, release;
    std::thread holder([&] {
        GuardedLock lock(cs, stats, Blocking::Yes);
        held.Set();
        release.Wait();
    });
    held.Wait();
    EXPECT_EQ(stats.users.load(), 1u);
    EXPECT_FALSE(GuardedLock(cs, stats, Blocking::No).owns());
    EXPECT_EQ(stats.collisions.load(), 1u);
    EXPECT_EQ(stats.users.load(), 1u);  // the failed attempt gave its count back

    std::atomic<bool> stop{false};
    std::thread retrier([&] {
        EXPECT_TRUE(AcquireRetrying(cs, stats, [&] { return !stop.load(); }));
        Release(cs, stats);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    release.Set();
    holder.join();
    retrier.join();
    EXPECT_GE(stats.collisions.load(), 2u);
    EXPECT_EQ(stats.users.load(), 0u);

    // Re-entrant for the thread that holds it.
    GuardedLock outer(cs, stats, Blocking::No);
    GuardedLock inner(cs, stats, Blocking::No);
    EXPECT_TRUE(outer.owns() && inner.owns());
}

TEST(Sync, AutoResetWakesOneManualWakesAll) {
    AutoResetEvent autoEvent;
    const auto waits = [&] { return autoEvent.Wait(std::chrono::milliseconds(10)); };
    EXPECT_FALSE(waits());
    autoEvent.Set();
    EXPECT_TRUE(waits());
    EXPECT_FALSE(waits());  // consumed

    ManualResetEvent manual;
    std::atomic<int> woken{0};
    std::atomic<uint32_t> threads{0};
    {
        std::vector<Thread> waiters;
        for (int i = 0; i < 3; ++i) waiters.emplace_back(&threads, [&] {
            if (manual.Wait(std::chrono::seconds(5))) ++woken;
        });
        EXPECT_EQ(threads.load(), 3u);
        manual.Set();
    }
    EXPECT_EQ(woken.load(), 3);
    EXPECT_EQ(threads.load(), 0u);
    EXPECT_TRUE(manual.IsSet());
}

}  // namespace
}  // namespace qm::platform
