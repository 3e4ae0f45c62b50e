#pragma once
// Every allocation of the program is counted, so that it can report its own
// memory use and leaks. The counting lives in replaced global allocation
// functions (memory_accounting.cpp), linked into every executable; what is
// allocated with malloc directly (Qt's containers, the C libraries) is taken
// from the heap's own figures at each snapshot.
#include <atomic>
#include <cstdint>

namespace qm::core {

// Spread over cache lines by thread: every allocation of every thread counts
// here, and one shared line would have all of them queue for it.
struct alignas(64) MemoryCounterStripe {
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

// The process-wide counters summed over their stripes, with the rest of the
// heap added: allocated and freed also hold the growth and the shrinkage of
// the part operator new did not count, between one snapshot and the next.
// So InUse() is the whole heap in use now, and AllocationTotal() grows by
// what operator new handed out plus the net growth of the rest. Any thread;
// each call reads the heap's own figures, which walks its free lists: for
// statistics, not for every event.
MemorySnapshot TakeMemorySnapshot();

}  // namespace qm::core
