#pragma once
// Events and critical sections with the semantics the rest of the program is
// written against: auto-reset and manual-reset events with timed waits, and a
// re-entrant critical section with a non-blocking try.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace qm::platform {

class Event {
public:
    enum class Reset { Auto, Manual };
    explicit Event(Reset mode, bool initiallySet = false) : manual_(mode == Reset::Manual), set_(initiallySet) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // Waits until set or timeout; an auto-reset event is cleared by the wait that sees it.
    bool Wait(std::chrono::milliseconds timeout);
    void Wait();
    bool IsSet() const;

private:
    const bool manual_;
    bool set_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
};

class AutoResetEvent : public Event {
public:
    explicit AutoResetEvent(bool initiallySet = false) : Event(Reset::Auto, initiallySet) {}
};

class ManualResetEvent : public Event {
public:
    explicit ManualResetEvent(bool initiallySet = false) : Event(Reset::Manual, initiallySet) {}
};

// Re-entrant like the lock the design was built around: a thread holding a
// module's lock may call an operation of the same module that takes it again.
class CriticalSection {
public:
    void Enter() { mutex_.lock(); }
    bool TryEnter() { return mutex_.try_lock(); }
    void Leave() { mutex_.unlock(); }

    // BasicLockable, for std::lock_guard/std::unique_lock in code that needs no accounting.
    void lock() { Enter(); }
    bool try_lock() { return TryEnter(); }
    void unlock() { Leave(); }

private:
    std::recursive_mutex mutex_;
};

}  // namespace qm::platform
