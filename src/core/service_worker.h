#pragma once
// The life of one service thread, shared by every module that works in
// rounds (the database, the relay, the pollers): Start runs the rounds on a
// new thread, Stop ends and joins it, and the pause between rounds is a
// wake-up event that Stop and Wake cut short. A module owns its worker and
// stops it in its own destructor, since the rounds use the module's members;
// Start, Stop and Wake may be called from any thread, Running from any.
#include <atomic>
#include <cstdint>
#include <functional>

#include "platform/guarded_lock.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace qm::core {

struct CoreContext;

// What one service does; a module fills this in and nothing more.
struct ServiceRounds {
    // One round; returns the pause in ms before the next one.
    std::function<uint32_t()> round;
    // When set, the rounds begin only after this pause (read at the start).
    std::function<uint32_t()> firstPause;
    // When set, each round runs under this lock, taken by the non-blocking
    // guarded protocol; a busy lock skips the round and pauses `busyPause`.
    platform::CriticalSection* lock = nullptr;
    uint32_t busyPause = 10;
    // Runs on the worker after the last round (a final flush).
    std::function<void()> finish;
    uint32_t startedReport = 0;  // string reported (severity 6) as the thread begins; 0 for none
    uint32_t stoppedReport = 0;  // the same as it ends
    bool lowPriority = false;    // the work can wait behind the receivers
};

class ServiceWorker {
public:
    explicit ServiceWorker(CoreContext& core) : core_(core) {}
    ~ServiceWorker() { Stop(); }
    ServiceWorker(const ServiceWorker&) = delete;
    ServiceWorker& operator=(const ServiceWorker&) = delete;

    // False while a thread is there, or when none can be made (then reported
    // as a system error with its code).
    bool Start(ServiceRounds rounds);
    // Ends the current pause at once and waits for the thread without limit;
    // false when there was none. Not to be called from the worker itself.
    bool Stop();

    bool Started() const { return thread_.Joinable(); }
    // Cleared by Stop before it wakes the thread: a long round polls it.
    bool Running() const { return running_.load(); }
    void Wake() { wake_.Set(); }
    // A pause inside a round that Stop cuts short; false once stopping.
    bool Pause(uint32_t ms);

private:
    void Run();

    CoreContext& core_;
    ServiceRounds rounds_;
    std::atomic<bool> running_{false};
    platform::AutoResetEvent wake_;
    platform::Thread thread_;
};

}  // namespace qm::core
