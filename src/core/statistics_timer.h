#pragma once
// Pushes the operating statistics every ten seconds on a thread of its own,
// so that they go on whether or not the program has a display or its windows.
// Owned by the core context: started as the last step of start-up, stopped
// first at shutdown. Stopping wakes the thread at once; nobody waits out the
// period at exit. The thread counts itself in the core's thread counter.
#include <chrono>

#include "core/operating_statistics.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace qm::core {

class StatisticsTimer {
public:
    static constexpr std::chrono::milliseconds kPeriod{10000};

    // The counters and the collector must outlive the timer.
    StatisticsTimer(CoreCounters& counters, core::ValueCollector& values,
                    std::chrono::milliseconds period = kPeriod);
    ~StatisticsTimer() { Stop(); }
    StatisticsTimer(const StatisticsTimer&) = delete;
    StatisticsTimer& operator=(const StatisticsTimer&) = delete;

    // Ends the thread; the push under way, if any, is finished first.
    void Stop();

private:
    void Run();

    OperatingStatistics statistics_;
    const std::chrono::milliseconds period_;
    platform::ManualResetEvent stop_;
    platform::Thread thread_;  // last: started once everything it uses exists
};

}  // namespace qm::core
