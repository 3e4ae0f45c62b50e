#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/counters.h"

namespace qm::core {
namespace {

// The database thread shifts while windows read: every snapshot read holds
// the four values of one drain, never half of two.
TEST(MemorySnapshots, AReadNeverMixesTwoDrainsAndKeepsTheOldestFirst) {
    MemorySnapshots snapshots;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (uint64_t k = 1; k <= 2000000; ++k) snapshots.Shift({k, k, k, k});
        done = true;
    });
    size_t torn = 0, disordered = 0;
    while (!done) {
        const MemorySnapshots::Array read = snapshots.Get();
        for (size_t i = 0; i < read.size(); ++i) {
            const MemorySnapshot& s = read[i];
            if (s.resizeIn != s.allocated || s.resizeOut != s.allocated || s.freed != s.allocated) ++torn;
            if (i > 0 && read[i - 1].allocated != 0 && read[i - 1].allocated + 1 != s.allocated) ++disordered;
        }
    }
    writer.join();
    EXPECT_EQ(torn, 0u) << "torn";
    EXPECT_EQ(disordered, 0u);
    const MemorySnapshots::Array last = snapshots.Get();
    EXPECT_EQ(last.front().allocated, 1999997u);
    EXPECT_EQ(last.back().allocated, 2000000u);
}

}  // namespace
}  // namespace qm::core
