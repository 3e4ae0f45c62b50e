#pragma once
// Where workers leave their results for one window, and the window's worker
// counts. Shared by the window and the items in flight, so it outlives
// whichever goes first; once closed it takes nothing more.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "windows/event_list/event_row.h"

namespace qm::windows {

class ResultInbox {
public:
    // Called (from a worker thread) when the inbox goes from empty to not
    // empty. It must only schedule the window's ApplyResults, never call it.
    using ReadyCallback = std::function<void()>;

    void SetReadyCallback(ReadyCallback callback);

    // The window hands out an item.
    void ItemStarted();
    // A worker is done with an item: its result, or nothing when the window
    // closed meanwhile.
    void Post(RowResult result);
    void Abandon();
    // The GUI thread takes every result waiting.
    std::vector<RowResult> Take();

    // Items queued, computing or waiting to be applied.
    uint32_t Busy() const { return busy_.load(std::memory_order_acquire); }
    // Items queued or computing: what a closing window must wait for.
    uint32_t Running() const { return running_.load(std::memory_order_acquire); }

    // No more results; the waiting ones are dropped.
    void Close();
    bool Closed() const { return closed_.load(std::memory_order_acquire); }
    // Waits until no item is queued or computing; false after `timeoutMs`.
    bool WaitIdle(unsigned timeoutMs);

    // Processed events and their accumulated time, changed under the core's
    // general lock by the workers.
    uint64_t processed = 0;
    uint64_t processingMs = 0;

private:
    void Finished();

    std::atomic<uint32_t> busy_{0};
    std::atomic<uint32_t> running_{0};
    std::atomic<bool> closed_{false};

    std::mutex mutex_;
    std::condition_variable idle_;
    std::vector<RowResult> results_;

    std::mutex callbackMutex_;
    ReadyCallback callback_;
};

}  // namespace qm::windows
