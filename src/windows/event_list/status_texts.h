#pragma once
// The status bar of an event list: the program's state, memory, network,
// queue and running time, as texts with their icons.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qm::core {
struct CoreContext;
}

namespace qm::windows {

// Icons of the parts after the state: memory, network, queue, running time.
constexpr int32_t kMemoryIcon = 30;
constexpr int32_t kNetworkIcon = 31;
constexpr int32_t kQueueIcon = 32;
constexpr int32_t kClockIcon = 33;

struct StatusPart {
    std::string text;
    int32_t icon = -1;  // icon set number; negative: none
    bool operator==(const StatusPart&) const = default;
};

// Everything the texts are made from, gathered at one status tick.
struct StatusInputs {
    uint32_t startupBusy = 0;
    uint32_t moduleThreads = 0;
    uint32_t busyHandlers = 0;
    uint64_t memoryInUse = 0;
    uint64_t bytesReceived = 0, datagramsReceived = 0;
    uint64_t bytesSent = 0, datagramsSent = 0;
    uint64_t queueCount = 0;
    uint64_t queueLimit = 0;  // the database's MsgLimit; 0 without a database
    uint64_t eventsPerMinute = 0;
    uint64_t rows = 0;
    bool filtered = false;   // a filter hides rows: shownRows of rows are shown
    uint64_t shownRows = 0;
    uint64_t processed = 0;
    uint64_t processingMs = 0;
    uint64_t runningSeconds = 0;
};

// "%I64d byte", "%.2f KB" or "%.2f MB".
std::string SizeText(uint64_t bytes);
// "dd hh:mm:ss", or "hh:mm:ss" below one day.
std::string RunningTimeText(uint64_t seconds);

// The state texts and their icons, tested in this order: loading, stopped,
// ready, working.
StatusPart StatePart(const core::CoreContext& core, const StatusInputs& in);

// The simple form's bar: 30 characters, ':' per filled thirtieth, '.' for
// the rest. The percentage is the queue's fill towards the database's
// MsgLimit, at which the database takes the queue: the bar shows how close
// the next write (and the next emptying of every list) is.
uint32_t QueueFillPercent(const StatusInputs& in);
std::string FillBar(uint32_t percent);

// One part with 0x04 (simple), else five. While a filter is on, the list's
// part (the only part when simple) begins with "N of M shown".
std::vector<StatusPart> StatusParts(const core::CoreContext& core, const StatusInputs& in, bool simple);

// Right edges of the parts in pixels, from the percentages (cumulative,
// never past the client width); one edge at the full width when simple.
std::vector<int32_t> StatusPartEdges(const std::array<uint32_t, 5>& percents, int32_t clientWidth, bool simple);

// Events per minute, recomputed from a running total once at least 60 s
// passed since the last computation; between those it keeps its value.
class EventRate {
public:
    uint64_t Update(uint64_t totalEvents, uint64_t nowMs);
    uint64_t PerMinute() const { return perMinute_; }

private:
    bool started_ = false;
    uint64_t markMs_ = 0;
    uint64_t markTotal_ = 0;
    uint64_t perMinute_ = 0;
};

}  // namespace qm::windows
