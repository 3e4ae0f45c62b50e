#include "windows/event_list/result_inbox.h"

#include <chrono>

namespace qm::windows {

void ResultInbox::SetReadyCallback(ReadyCallback callback) {
    std::lock_guard lock(callbackMutex_);
    callback_ = std::move(callback);
}

void ResultInbox::ItemStarted() {
    busy_.fetch_add(1, std::memory_order_acq_rel);
    running_.fetch_add(1, std::memory_order_acq_rel);
}

void ResultInbox::Post(RowResult result) {
    bool wasEmpty = false;
    {
        std::lock_guard lock(mutex_);
        if (closed_.load(std::memory_order_acquire)) {
            busy_.fetch_sub(1, std::memory_order_acq_rel);
        } else {
            wasEmpty = results_.empty();
            results_.push_back(std::move(result));
        }
    }
    if (wasEmpty) {
        // Under its own lock, so that once SetReadyCallback returns the old
        // callback is not running and won't run again.
        std::lock_guard lock(callbackMutex_);
        if (callback_) callback_();
    }
    Finished();
}

void ResultInbox::Abandon() {
    busy_.fetch_sub(1, std::memory_order_acq_rel);
    Finished();
}

void ResultInbox::Finished() {
    std::lock_guard lock(mutex_);
    // The last use of this object by a worker may be this notify: the waiter
    // checks under the same lock, so it cannot return before it.
    if (running_.fetch_sub(1, std::memory_order_acq_rel) == 1) idle_.notify_all();
}

std::vector<RowResult> ResultInbox::Take() {
    std::vector<RowResult> taken;
    std::lock_guard lock(mutex_);
    taken.swap(results_);
    // Counted out already now: the caller applies them before it returns,
    // and nothing on its thread looks at the count in between.
    busy_.fetch_sub(static_cast<uint32_t>(taken.size()), std::memory_order_acq_rel);
    return taken;
}

void ResultInbox::Close() {
    std::lock_guard lock(mutex_);
    closed_.store(true, std::memory_order_release);
    busy_.fetch_sub(static_cast<uint32_t>(results_.size()), std::memory_order_acq_rel);
    results_.clear();
}

bool ResultInbox::WaitIdle(unsigned timeoutMs) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return running_.load(std::memory_order_acquire) == 0; });
}

}  // namespace qm::windows
