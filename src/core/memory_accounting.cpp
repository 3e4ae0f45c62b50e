#include "core/memory_accounting.h"

#include <malloc.h>

#include <cstdlib>
#include <new>

namespace qm::core {

namespace {
// Constant-initialised, so it is usable by allocations made before main()
// and by static destructors after it.
constinit MemoryCounters g_counters;

void* CountedAlloc(std::size_t size) noexcept {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p) g_counters.allocated.fetch_add(malloc_usable_size(p), std::memory_order_relaxed);
    return p;
}

void* CountedAlignedAlloc(std::size_t size, std::align_val_t al) noexcept {
    std::size_t a = static_cast<std::size_t>(al);
    if (a < sizeof(void*)) a = sizeof(void*);
    void* p = nullptr;
    if (posix_memalign(&p, a, size == 0 ? 1 : size) != 0) return nullptr;
    g_counters.allocated.fetch_add(malloc_usable_size(p), std::memory_order_relaxed);
    return p;
}

void CountedFree(void* p) noexcept {
    if (!p) return;
    g_counters.freed.fetch_add(malloc_usable_size(p), std::memory_order_relaxed);
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
}  // namespace

MemoryCounters& Memory() { return g_counters; }

MemorySnapshot TakeMemorySnapshot() {
    MemorySnapshot s;
    s.allocated = g_counters.allocated.load(std::memory_order_relaxed);
    s.resizeIn = g_counters.resizeIn.load(std::memory_order_relaxed);
    s.resizeOut = g_counters.resizeOut.load(std::memory_order_relaxed);
    s.freed = g_counters.freed.load(std::memory_order_relaxed);
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
