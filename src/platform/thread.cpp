#include "platform/thread.h"

#include <algorithm>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace qm::platform {

void LowerCurrentThreadPriority() {
    const id_t tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, tid);
    if (errno == 0) ::setpriority(PRIO_PROCESS, tid, std::min(current + 5, 19));
}

Thread::Thread(std::atomic<uint32_t>* counter, std::function<void()> body) {
    // Raised before the thread exists, so a caller that starts a thread and
    // then reads the count never sees it missing.
    if (counter) counter->fetch_add(1, std::memory_order_relaxed);
    try {
        thread_ = std::thread([counter, body = std::move(body)] {
            struct Lower {
                std::atomic<uint32_t>* c;
                ~Lower() {
                    if (c) c->fetch_sub(1, std::memory_order_relaxed);
                }
            } lower{counter};
            body();
        });
    } catch (...) {
        if (counter) counter->fetch_sub(1, std::memory_order_relaxed);
        throw;
    }
}

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        Join();
        thread_ = std::move(other.thread_);
    }
    return *this;
}

void Thread::Join() {
    if (!thread_.joinable()) return;
    // A thread that ends its own owner cannot join itself; let it finish alone.
    if (thread_.get_id() == std::this_thread::get_id()) thread_.detach();
    else thread_.join();
}

}  // namespace qm::platform
