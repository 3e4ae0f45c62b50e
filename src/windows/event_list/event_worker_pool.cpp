#include "windows/event_list/event_worker_pool.h"

#include <algorithm>
#include <thread>

#include "core/core_context.h"
#include "platform/clock.h"
#include "windows/event_list/result_inbox.h"

namespace qm::windows {

namespace {

// Enough threads that a few slow name look-ups (each blocks its worker)
// don't hold up every other row, few enough to stay a bounded cost.
unsigned DefaultThreads() {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return std::clamp(2 * cores, 4u, 16u);
}

}  // namespace

EventWorkerPool::EventWorkerPool(core::CoreContext& core, unsigned threads) : core_(core) {
    const unsigned count = threads ? threads : DefaultThreads();
    threads_.reserve(count);
    for (unsigned i = 0; i < count; ++i) threads_.emplace_back(&core_.counters.threads, [this] { Loop(); });
}

EventWorkerPool::~EventWorkerPool() {
    std::deque<EventWork> left;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        left.swap(queue_);
    }
    wake_.notify_all();
    for (EventWork& w : left) w.inbox->Abandon();
    threads_.clear();  // joins
}

void EventWorkerPool::Submit(EventWork work) {
    std::shared_ptr<ResultInbox> inbox = work.inbox;
    bool queued = false;
    {
        std::lock_guard lock(mutex_);
        if (!stopping_) {
            queue_.push_back(std::move(work));
            queued = true;
        }
    }
    if (queued) wake_.notify_one();
    else inbox->Abandon();
}

void EventWorkerPool::Loop() {
    for (;;) {
        EventWork work;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            work = std::move(queue_.front());
            queue_.pop_front();
        }
        Run(work);
    }
}

void EventWorkerPool::Run(EventWork& work) {
    ResultInbox& inbox = *work.inbox;
    // A window that is going away needs no rows, and its rules must not
    // start programs for events nobody will see.
    if (inbox.Closed() || !work.event || !work.options) {
        inbox.Abandon();
        return;
    }
    const uint64_t start = platform::MonotonicNs();
    RowResult result{work.row, work.stamp, ComputeRow(core_, *work.options, work.event)};
    const uint64_t elapsedMs = (platform::MonotonicNs() - start) / 1000000;
    {
        std::lock_guard lock(core_.generalLock);
        inbox.processed += 1;
        inbox.processingMs += elapsedMs;
    }
    inbox.Post(std::move(result));
}

}  // namespace qm::windows
