#include "platform/guarded_lock.h"

#include <chrono>
#include <thread>

namespace qm::platform {

bool Acquire(CriticalSection& lock, LockStats& stats, Blocking blocking) {
    stats.users.fetch_add(1, std::memory_order_relaxed);
    if (blocking == Blocking::Yes) {
        lock.Enter();
        return true;
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (lock.TryEnter()) return true;
    }
    stats.users.fetch_sub(1, std::memory_order_relaxed);
    stats.collisions.fetch_add(1, std::memory_order_relaxed);
    return false;
}

void Release(CriticalSection& lock, LockStats& stats) {
    lock.Leave();
    stats.users.fetch_sub(1, std::memory_order_relaxed);
}

void SleepMs(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace qm::platform
