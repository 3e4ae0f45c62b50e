#pragma once
// A joinable thread that counts itself in the program's thread count while it
// runs, so the operating statistics show every thread of the program.
#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

namespace qm::platform {

class Thread {
public:
    Thread() = default;
    // `counter` (may be null) is raised before `body` runs and lowered after it ends.
    Thread(std::atomic<uint32_t>* counter, std::function<void()> body);
    Thread(Thread&&) noexcept = default;
    Thread& operator=(Thread&& other) noexcept;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    ~Thread() { Join(); }

    bool Joinable() const { return thread_.joinable(); }
    void Join();

private:
    std::thread thread_;
};

// Raises a counter for the lifetime of a scope (busy counters, thread counts of
// threads the program does not start itself).
class CountedScope {
public:
    explicit CountedScope(std::atomic<uint32_t>* counter) : counter_(counter) {
        if (counter_) counter_->fetch_add(1, std::memory_order_relaxed);
    }
    ~CountedScope() {
        if (counter_) counter_->fetch_sub(1, std::memory_order_relaxed);
    }
    CountedScope(const CountedScope&) = delete;
    CountedScope& operator=(const CountedScope&) = delete;

private:
    std::atomic<uint32_t>* counter_;
};

// Lets the calling thread yield the processor to the program's receivers:
// work that can wait (parsing a backlog, writing files) runs a few nice
// levels lower, so a burst waits in memory instead of being dropped by the
// kernel at a full socket. Needs no privilege, since it only lowers.
void LowerCurrentThreadPriority();

}  // namespace qm::platform
