#pragma once
// Starting and stopping the network services from the menu. Each module's
// start and stop takes its lock blocking, and a poller holds its lock for a
// whole cycle, so the work runs on a worker thread of its own and never on
// the GUI thread. One at a time; the owner's destruction waits for it.
#include <atomic>
#include <functional>
#include <mutex>

#include "platform/thread.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::windows {

// The services the menu controls, in the order they are started and stopped.
void StartServices(core::CoreContext& core);
// Stops them, then schedules a refresh of the name cache (names may have
// changed while the services were being restarted).
void StopServices(core::CoreContext& core);

class ServiceControl {
public:
    explicit ServiceControl(core::CoreContext& core) : core_(core) {}
    // Waits for a start or stop that is still running.
    ~ServiceControl() { Wait(); }
    ServiceControl(const ServiceControl&) = delete;
    ServiceControl& operator=(const ServiceControl&) = delete;

    // Runs StartServices or StopServices on the worker, then `done` (still on
    // the worker). False, running nothing, while one is still running.
    bool Start(std::function<void()> done = {});
    bool Stop(std::function<void()> done = {});
    bool Busy() const { return busy_.load(); }
    void Wait();

private:
    bool Run(void (*work)(core::CoreContext&), std::function<void()> done);

    core::CoreContext& core_;
    std::mutex lock_;  // guards worker_
    platform::Thread worker_;
    std::atomic<bool> busy_{false};
};

}  // namespace qm::windows
