#pragma once
// The operating counters the program keeps about itself. Memory counters are
// process-wide (memory_accounting.h); these live in the core context.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "core/memory_accounting.h"
#include "platform/guarded_lock.h"

namespace qm::core {

// The memory counters as the event database saw them at its last four
// drains, oldest first. The database thread writes them while windows and
// the statistics read them: a snapshot is four 64-bit values, so a read
// without the lock could take half of an old one and half of a new one.
class MemorySnapshots {
public:
    static constexpr size_t kCount = 4;
    using Array = std::array<MemorySnapshot, kCount>;

    // Drops the oldest and keeps `newest` last.
    void Shift(const MemorySnapshot& newest) {
        std::lock_guard lock(mutex_);
        for (size_t i = 1; i < kCount; ++i) snapshots_[i - 1] = snapshots_[i];
        snapshots_[kCount - 1] = newest;
    }
    Array Get() const {
        std::lock_guard lock(mutex_);
        return snapshots_;
    }

private:
    mutable std::mutex mutex_;
    Array snapshots_{};
};

struct CoreCounters {
    platform::LockStats locks;                 // lock users and collisions
    std::atomic<uint32_t> threads{0};
    std::atomic<uint32_t> windows{0};
    std::atomic<uint32_t> startupBusy{0};
    std::atomic<uint32_t> busyHandlers{0};
    std::atomic<uint32_t> moduleThreads{0};
    // Failures that have no report of their own (a window that could not be
    // made, a full table, a row that could not be added).
    std::atomic<uint64_t> errors{0};
    // The ICMP poller's network failures (no socket, a send that failed, a
    // reply that never came). The poller raises it; it lives here so the
    // statistics show it without the core knowing the poller.
    std::atomic<uint32_t> icmpErrors{0};
    // Atomic, unlike the plain additions of old: concurrent receive threads
    // must not lose increments.
    std::atomic<uint64_t> datagramsReceived{0};
    std::atomic<uint64_t> bytesReceived{0};
    std::atomic<uint64_t> datagramsSent{0};
    std::atomic<uint64_t> bytesSent{0};

    // Taken by the event database at each drain, oldest first.
    MemorySnapshots memorySnapshots;

    void CountReceived(uint64_t bytes) {
        datagramsReceived.fetch_add(1, std::memory_order_relaxed);
        bytesReceived.fetch_add(bytes, std::memory_order_relaxed);
    }
    void CountSent(uint64_t bytes) {
        datagramsSent.fetch_add(1, std::memory_order_relaxed);
        bytesSent.fetch_add(bytes, std::memory_order_relaxed);
    }
};

}  // namespace qm::core
