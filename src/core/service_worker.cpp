#include "core/service_worker.h"

#include <system_error>

#include "core/core_context.h"

namespace qm::core {

bool ServiceWorker::Start(ServiceRounds rounds) {
    if (thread_.Joinable()) return false;
    rounds_ = std::move(rounds);
    running_ = true;
    try {
        thread_ = platform::Thread(&core_.counters.threads, [this] { Run(); });
    } catch (const std::system_error& e) {
        running_ = false;
        core_.Report(Severity::Error, str::kSystemError, static_cast<uint32_t>(e.code().value()));
        return false;
    }
    return true;
}

bool ServiceWorker::Stop() {
    if (!thread_.Joinable()) return false;
    running_ = false;
    wake_.Set();
    thread_.Join();
    return true;
}

bool ServiceWorker::Pause(uint32_t ms) {
    if (!running_) return false;
    wake_.Wait(std::chrono::milliseconds(ms));
    return running_.load();
}

void ServiceWorker::Run() {
    if (rounds_.lowPriority) platform::LowerCurrentThreadPriority();
    if (rounds_.startedReport) core_.Report(Severity::Info, rounds_.startedReport);
    if (rounds_.firstPause) wake_.Wait(std::chrono::milliseconds(rounds_.firstPause()));
    while (running_) {
        uint32_t pause = rounds_.busyPause;
        if (rounds_.lock) {
            platform::GuardedLock lock(*rounds_.lock, core_.counters.locks, platform::Blocking::No);
            if (lock) pause = rounds_.round();
        } else {
            pause = rounds_.round();
        }
        if (!running_) break;
        wake_.Wait(std::chrono::milliseconds(pause));
    }
    if (rounds_.finish) rounds_.finish();
    if (rounds_.stoppedReport) core_.Report(Severity::Info, rounds_.stoppedReport);
}

}  // namespace qm::core
