#include "core/memory_accounting.h"

#include <malloc.h>

#include <cstdlib>
#include <mutex>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizer's allocator takes glibc's place and keeps its own count.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace qm::core {

namespace {
// Constant-initialised, so it is usable by allocations made before main()
// and by static destructors after it.
constexpr unsigned kStripes = 16;
constinit MemoryCounterStripe g_stripes[kStripes];
constinit std::atomic<unsigned> g_nextStripe{0};

MemoryCounterStripe& Stripe() {
    // A thread keeps its stripe for life; frees may land on another thread's
    // stripe than their allocation, which the sums do not mind.
    thread_local unsigned index = g_nextStripe.fetch_add(1, std::memory_order_relaxed) % kStripes;
    return g_stripes[index];
}

void* CountedAlloc(std::size_t size) noexcept {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p) Stripe().allocated.fetch_add(malloc_usable_size(p), std::memory_order_relaxed);
    return p;
}

void* CountedAlignedAlloc(std::size_t size, std::align_val_t al) noexcept {
    std::size_t a = static_cast<std::size_t>(al);
    if (a < sizeof(void*)) a = sizeof(void*);
    void* p = nullptr;
    if (posix_memalign(&p, a, size == 0 ? 1 : size) != 0) return nullptr;
    Stripe().allocated.fetch_add(malloc_usable_size(p), std::memory_order_relaxed);
    return p;
}

void CountedFree(void* p) noexcept {
    if (!p) return;
    Stripe().freed.fetch_add(malloc_usable_size(p), std::memory_order_relaxed);
    std::free(p);
}

void* AllocOrThrow(std::size_t size) {
    for (;;) {
        if (void* p = CountedAlloc(size)) return p;
        std::new_handler h = std::get_new_handler();
        if (!h) throw std::bad_alloc();
        h();
    }
}

void* AlignedAllocOrThrow(std::size_t size, std::align_val_t al) {
    for (;;) {
        if (void* p = CountedAlignedAlloc(size, al)) return p;
        std::new_handler h = std::get_new_handler();
        if (!h) throw std::bad_alloc();
        h();
    }
}
// Bytes the heap has handed out and not taken back, whoever asked for them:
// operator new, and equally Qt's containers and the C libraries, which call
// malloc directly and never pass the counters above.
uint64_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 heap = mallinfo2();
    return heap.uordblks + heap.hblkhd;
#endif
}

// The heap beyond what operator new counted. Only its level can be read, so
// each snapshot turns the change since the one before into bytes allocated
// (growth) or freed (shrinkage); the counters then stay totals that never go
// down, and memory in use comes out as the whole heap.
struct UncountedHeap {
    std::mutex lock;
    uint64_t level = 0;
    uint64_t grown = 0;
    uint64_t shrunk = 0;
};
constinit UncountedHeap g_uncounted;

}  // namespace

MemorySnapshot TakeMemorySnapshot() {
    std::lock_guard hold(g_uncounted.lock);
    MemorySnapshot s;
    for (const MemoryCounterStripe& stripe : g_stripes) {
        s.allocated += stripe.allocated.load(std::memory_order_relaxed);
        s.resizeIn += stripe.resizeIn.load(std::memory_order_relaxed);
        s.resizeOut += stripe.resizeOut.load(std::memory_order_relaxed);
        s.freed += stripe.freed.load(std::memory_order_relaxed);
    }
    // operator new takes its blocks from the same heap, so they are in its
    // figure already and only the rest is added. Counted blocks are also
    // counted a moment before the heap has them back, and a heap that reads
    // less than they (an allocator that keeps no figures) adds nothing.
    const uint64_t counted = s.allocated + s.resizeIn >= s.resizeOut + s.freed ? s.InUse() : 0;
    const uint64_t heap = HeapInUse();
    const uint64_t rest = heap > counted ? heap - counted : 0;
    if (rest > g_uncounted.level)
        g_uncounted.grown += rest - g_uncounted.level;
    else
        g_uncounted.shrunk += g_uncounted.level - rest;
    g_uncounted.level = rest;
    s.allocated += g_uncounted.grown;
    s.freed += g_uncounted.shrunk;
    return s;
}

}  // namespace qm::core

using qm::core::AllocOrThrow;
using qm::core::AlignedAllocOrThrow;
using qm::core::CountedAlloc;
using qm::core::CountedAlignedAlloc;
using qm::core::CountedFree;

void* operator new(std::size_t n) { return AllocOrThrow(n); }
void* operator new[](std::size_t n) { return AllocOrThrow(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return CountedAlloc(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return CountedAlloc(n); }
void* operator new(std::size_t n, std::align_val_t a) { return AlignedAllocOrThrow(n, a); }
void* operator new[](std::size_t n, std::align_val_t a) { return AlignedAllocOrThrow(n, a); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return CountedAlignedAlloc(n, a); }
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return CountedAlignedAlloc(n, a); }
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete[](void* p) noexcept { CountedFree(p); }
void operator delete(void* p, std::size_t) noexcept { CountedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { CountedFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { CountedFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { CountedFree(p); }
void operator delete(void* p, std::align_val_t) noexcept { CountedFree(p); }
void operator delete[](void* p, std::align_val_t) noexcept { CountedFree(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { CountedFree(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { CountedFree(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { CountedFree(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { CountedFree(p); }
