#pragma once
// The event workers of every event list window: a bounded set of threads
// (each counted in the core's thread count) that compute rows off the GUI
// thread. One pool serves all windows and must outlive them.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/thread.h"
#include "windows/event_list/event_worker.h"

namespace qm::windows {

class EventWorkerPool {
public:
    // threads 0: a number suited to the machine.
    explicit EventWorkerPool(core::CoreContext& core, unsigned threads = 0);
    // Items still queued are abandoned; running ones finish first.
    ~EventWorkerPool();
    EventWorkerPool(const EventWorkerPool&) = delete;
    EventWorkerPool& operator=(const EventWorkerPool&) = delete;

    // Queues the item; its inbox already counts it (ItemStarted).
    void Submit(EventWork work);
    unsigned Threads() const { return static_cast<unsigned>(threads_.size()); }

private:
    void Loop();
    void Run(EventWork& work);

    core::CoreContext& core_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<EventWork> queue_;
    bool stopping_ = false;
    std::vector<platform::Thread> threads_;
};

}  // namespace qm::windows
