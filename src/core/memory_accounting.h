#pragma once
// Every allocation of the program is counted, so that it can report its own
// memory use and leaks. The counting lives in replaced global allocation
// functions (memory_accounting.cpp), linked into every executable.
#include <atomic>
#include <cstdint>

namespace qm::core {

struct MemoryCounters {
    std::atomic<uint64_t> allocated{0};   // usable bytes handed out
    std::atomic<uint64_t> freed{0};       // usable bytes given back
    std::atomic<uint64_t> resizeIn{0};    // usable bytes of blocks after a resize
    std::atomic<uint64_t> resizeOut{0};   // usable bytes of blocks before a resize
};

struct MemorySnapshot {
    uint64_t allocated = 0;
    uint64_t resizeIn = 0;
    uint64_t resizeOut = 0;
    uint64_t freed = 0;

    uint64_t InUse() const { return allocated + resizeIn - resizeOut - freed; }
    uint64_t AllocationTotal() const { return allocated + resizeIn - resizeOut; }
};

// The process-wide counters; zero until the first allocation.
MemoryCounters& Memory();
MemorySnapshot TakeMemorySnapshot();

}  // namespace qm::core
