#include "core/operating_statistics.h"

#include <utility>

#include "core/core_context.h"
#include "core/value_collector.h"

namespace qm::core {

using core::Reading;

OperatingStatistics::OperatingStatistics(const CoreCounters& counters, core::ValueCollector& values,
                                         MemorySource memory)
    : counters_(counters), values_(values), memory_(memory ? std::move(memory) : MemorySource(TakeMemorySnapshot)) {}

void OperatingStatistics::Push() {
    const MemorySnapshot memory = memory_();
    const uint64_t allocationTotal = memory.AllocationTotal();
    const uint64_t datagrams = counters_.datagramsReceived.load(std::memory_order_relaxed) +
                               counters_.datagramsSent.load(std::memory_order_relaxed);
    const auto push = [this](std::string_view tag, Reading value) {
        values_.Push(kStatisticsModule, kStatisticsVendor, tag, value);
    };
    // Differences of unsigned totals, read as signed: a total that went down
    // between two reads shows as a small negative change, not a huge one.
    if (pushedBefore_) push("_act_memory", Reading::I64(static_cast<int64_t>(allocationTotal - previousAllocationTotal_)));
    push("_memory", Reading::I64(static_cast<int64_t>(memory.InUse())));
    if (previousDatagrams_ != 0) push("_act_network", Reading::I64(static_cast<int64_t>(datagrams - previousDatagrams_)));
    push("_net_recv", Reading::I64(static_cast<int64_t>(counters_.bytesReceived.load(std::memory_order_relaxed))));
    push("_net_send", Reading::I64(static_cast<int64_t>(counters_.bytesSent.load(std::memory_order_relaxed))));
    push("_threads", Reading::U32(counters_.threads.load(std::memory_order_relaxed)));
    push("_windows", Reading::U32(counters_.windows.load(std::memory_order_relaxed)));
    push("_collision", Reading::U32(counters_.locks.collisions.load(std::memory_order_relaxed)));
    push("_icmp_errors", Reading::U32(counters_.icmpErrors.load(std::memory_order_relaxed)));
    pushedBefore_ = true;
    previousAllocationTotal_ = allocationTotal;
    previousDatagrams_ = datagrams;
}

void PushMemoryPoint(CoreContext& core, const MemorySnapshot& snapshot) {
    if (!core.values) return;
    core.values->Push(kStatisticsModule, kStatisticsVendor, "_memory_point",
                      Reading::I64(static_cast<int64_t>(snapshot.InUse())));
}

}  // namespace qm::core
