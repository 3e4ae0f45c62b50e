#include "core/operating_statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "core/value_collector.h"

namespace qm::core {
namespace {

using core::ValueCollector;
using core::ValueKind;

struct Pushed {
    std::string tag;
    ValueKind kind;
    int64_t value;
    bool operator==(const Pushed&) const = default;
};

// Counters, memory and a collector whose clock ticks once per sample, so the
// samples of all tags can be put back in the order they were pushed.
struct Fixture {
    CoreCounters counters;
    MemorySnapshot memory;
    uint64_t clock = 0;
    ValueCollector values{[] { return 5000u; }, nullptr, [this] { return ++clock; }};
    OperatingStatistics statistics{counters, values, [this] { return memory; }};
    uint64_t seen = 0;

    // What the last push stored, in order.
    std::vector<Pushed> Push() {
        statistics.Push();
        std::vector<std::pair<uint64_t, Pushed>> all;
        for (const std::string& tag : values.Tags("127.0.0.1"))
            for (const core::ValueSample& s : values.Read("127.0.0.1", tag).samples)
                if (s.time > seen) all.push_back({s.time, {tag, s.value.Kind(), s.value.AsSigned()}});
        std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        seen = clock;
        std::vector<Pushed> out;
        for (auto& [time, p] : all) out.push_back(std::move(p));
        return out;
    }
};

constexpr ValueKind I64 = ValueKind::I64;
constexpr ValueKind U32 = ValueKind::U32;

TEST(OperatingStatistics, TagsComeInOrderWithTheirKindsAndTheChangesWaitForABaseline) {
    Fixture f;
    f.memory = {10000, 3000, 1000, 4000};  // in use 8000, allocation total 12000
    f.counters.threads = 7, f.counters.windows = 2, f.counters.locks.collisions = 3, f.counters.icmpErrors = 4;
    // No traffic yet: neither change is pushed at the first push.
    EXPECT_EQ(f.Push(), (std::vector<Pushed>{{"_memory (Core)", I64, 8000}, {"_net_recv (Core)", I64, 0},
                                             {"_net_send (Core)", I64, 0}, {"_threads (Core)", U32, 7},
                                             {"_windows (Core)", U32, 2}, {"_collision (Core)", U32, 3},
                                             {"_icmp_errors (Core)", U32, 4}}));

    // Memory changes from the previous push, still no traffic: no
    // "_act_network", however often it is pushed.
    f.memory = {12048, 3000, 1000, 5000};  // in use 9048, total 14048
    const std::vector<Pushed> second = f.Push();
    ASSERT_EQ(second.size(), 8u);
    EXPECT_EQ(std::tie(second[0], second[1], second[2].tag),
              std::tuple(Pushed{"_act_memory (Core)", I64, 2048}, Pushed{"_memory (Core)", I64, 9048}, "_net_recv (Core)"));
    EXPECT_EQ(f.Push().size(), 8u);

    // The first traffic becomes the baseline; the push after it tells the change.
    f.counters.CountReceived(500), f.counters.CountReceived(300), f.counters.CountSent(100);
    std::vector<Pushed> pushed = f.Push();
    ASSERT_EQ(pushed.size(), 8u);
    EXPECT_EQ(std::tie(pushed[2], pushed[3]),
              std::tuple(Pushed{"_net_recv (Core)", I64, 800}, Pushed{"_net_send (Core)", I64, 100}));

    f.counters.CountReceived(10), f.counters.CountSent(20);
    f.memory.allocated -= 48;  // a total that fell shows as a small negative change
    pushed = f.Push();
    EXPECT_EQ(pushed, (std::vector<Pushed>{{"_act_memory (Core)", I64, -48}, {"_memory (Core)", I64, 9000},
                                           {"_act_network (Core)", I64, 2}, {"_net_recv (Core)", I64, 810},
                                           {"_net_send (Core)", I64, 120}, {"_threads (Core)", U32, 7},
                                           {"_windows (Core)", U32, 2}, {"_collision (Core)", U32, 3},
                                           {"_icmp_errors (Core)", U32, 4}}));
    // No traffic since: a change of 0 is still a change.
    pushed = f.Push();
    ASSERT_EQ(pushed.size(), 9u);
    EXPECT_EQ(pushed[2], (Pushed{"_act_network (Core)", I64, 0}));
}

// Memory taken with malloc (as Qt and the C libraries take it) counts as
// much as memory taken with new, and a block from new, which malloc serves,
// counts once. Blocks of 64 MB stand clear of what other threads do meanwhile.
TEST(MemoryAccounting, TheWholeHeapCountsWhoeverAllocatedIt) {
    constexpr uint64_t kBlock = 64u << 20, kSlack = 4u << 20;
    const MemorySnapshot before = TakeMemorySnapshot();
    void* taken = std::malloc(kBlock);
    ASSERT_NE(taken, nullptr);
    const MemorySnapshot held = TakeMemorySnapshot();
    std::free(taken);
    const MemorySnapshot after = TakeMemorySnapshot();
    EXPECT_GT(held.InUse(), before.InUse() + kBlock - kSlack);
    EXPECT_GT(held.AllocationTotal(), before.AllocationTotal() + kBlock - kSlack);
    EXPECT_GT(after.freed, held.freed + kBlock - kSlack);
    EXPECT_LT(after.InUse(), held.InUse() - kBlock + kSlack);

    auto owned = std::make_unique<char[]>(kBlock);
    ASSERT_NE(owned.get(), nullptr);  // used, so the block is really made
    const MemorySnapshot withNew = TakeMemorySnapshot();
    owned.reset();
    EXPECT_GT(withNew.InUse(), after.InUse() + kBlock - kSlack);
    EXPECT_LT(withNew.InUse(), after.InUse() + kBlock + kSlack);
    EXPECT_LT(TakeMemorySnapshot().InUse(), withNew.InUse() - kBlock + kSlack);
}

}  // namespace
}  // namespace qm::core
