#pragma once
// The guarded lock protocol every shared structure goes through: callers on
// service paths never block on a busy lock; they try three times, count the
// collision and back off, so one slow holder cannot stall the whole program.
#include <atomic>
#include <cstdint>

#include "platform/sync.h"

namespace qm::platform {

struct LockStats {
    std::atomic<uint64_t> users{0};       // threads holding or entering a guarded lock
    std::atomic<uint32_t> collisions{0};  // non-blocking acquisitions that gave up
};

enum class Blocking { No, Yes };

// Blocking: enter and succeed. Non-blocking: three tries without waiting, then
// fail with the collision counted.
bool Acquire(CriticalSection& lock, LockStats& stats, Blocking blocking);
void Release(CriticalSection& lock, LockStats& stats);

// Retries a non-blocking acquire every 10 ms until it succeeds or `keepTrying` says stop.
template <typename Pred>
bool AcquireRetrying(CriticalSection& lock, LockStats& stats, Pred keepTrying);

// Scope guard over the protocol; check owns() after construction.
class GuardedLock {
public:
    GuardedLock() = default;  // owns nothing
    GuardedLock(CriticalSection& lock, LockStats& stats, Blocking blocking)
        : lock_(&lock), stats_(&stats), owns_(Acquire(lock, stats, blocking)) {}
    GuardedLock(const GuardedLock&) = delete;
    GuardedLock& operator=(const GuardedLock&) = delete;
    GuardedLock(GuardedLock&& o) noexcept : lock_(o.lock_), stats_(o.stats_), owns_(o.owns_) { o.owns_ = false; }
    GuardedLock& operator=(GuardedLock&& o) noexcept {
        if (this != &o) {
            Unlock();
            lock_ = o.lock_;
            stats_ = o.stats_;
            owns_ = o.owns_;
            o.owns_ = false;
        }
        return *this;
    }
    ~GuardedLock() { Unlock(); }

    bool owns() const { return owns_; }
    explicit operator bool() const { return owns_; }
    void Unlock() {
        if (owns_) Release(*lock_, *stats_);
        owns_ = false;
    }

private:
    CriticalSection* lock_ = nullptr;
    LockStats* stats_ = nullptr;
    bool owns_ = false;
};

void SleepMs(unsigned ms);

template <typename Pred>
bool AcquireRetrying(CriticalSection& lock, LockStats& stats, Pred keepTrying) {
    for (;;) {
        if (Acquire(lock, stats, Blocking::No)) return true;
        if (!keepTrying()) return false;
        SleepMs(10);
    }
}

}  // namespace qm::platform
