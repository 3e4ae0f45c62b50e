#pragma once
// The program's own counters as readings in the value collector, pushed with
// the module name "Core" for the vendor "127.0.0.1" so that a graph draws
// them like any device's values: every ten seconds the nine statistic tags
// (StatisticsTimer), and at each drain of the event queue a memory point (the
// event database).
//
// OperatingStatistics keeps the previous allocation total and datagram sum
// between pushes; it is used by one thread at a time (the statistics timer's).
// It refers to the counters and the collector, which must outlive it.
#include <cstdint>
#include <functional>
#include <string_view>

#include "core/counters.h"
#include "core/memory_accounting.h"

namespace qm::core {

struct CoreContext;
class ValueCollector;

inline constexpr std::string_view kStatisticsModule = "Core";
inline constexpr std::string_view kStatisticsVendor = "127.0.0.1";

class OperatingStatistics {
public:
    using MemorySource = std::function<MemorySnapshot()>;

    // `memory` reads the memory counters (the process-wide ones by default).
    OperatingStatistics(const CoreCounters& counters, core::ValueCollector& values, MemorySource memory = {});

    // "_act_memory", "_memory", "_act_network", "_net_recv", "_net_send"
    // (signed 64-bit), "_threads", "_windows", "_collision", "_icmp_errors"
    // (unsigned 32-bit), in this order. "_act_memory" needs a previous push
    // to differ from, and "_act_network" a previous datagram sum that is not
    // 0. Afterwards the allocation total and datagram sum of now are the
    // previous ones.
    void Push();

private:
    const CoreCounters& counters_;
    core::ValueCollector& values_;
    MemorySource memory_;
    bool pushedBefore_ = false;
    uint64_t previousAllocationTotal_ = 0;
    uint64_t previousDatagrams_ = 0;
};

// "_memory_point" (signed 64-bit): the memory in use of `snapshot`; nothing
// without a collector.
void PushMemoryPoint(CoreContext& core, const MemorySnapshot& snapshot);

}  // namespace qm::core
