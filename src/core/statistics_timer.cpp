#include "core/statistics_timer.h"

namespace qm::core {

StatisticsTimer::StatisticsTimer(CoreCounters& counters, core::ValueCollector& values,
                                 std::chrono::milliseconds period)
    : statistics_(counters, values), period_(period), thread_(&counters.threads, [this] { Run(); }) {}

void StatisticsTimer::Stop() {
    stop_.Set();
    thread_.Join();
}

void StatisticsTimer::Run() {
    while (!stop_.Wait(period_)) statistics_.Push();
}

}  // namespace qm::core
