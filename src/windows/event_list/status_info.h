#pragma once
// What a double click on an event list's status bar opens in the info box:
// the memory history with the leak estimate for the memory part, and the
// program's operating figures for every other part. Plain functions of the
// figures handed in, so the texts are made and tested without a display.
#include <cstdint>
#include <string>

#include "core/counters.h"
#include "windows/info_content.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::windows {

// The status part that shows the memory in use (of the five).
constexpr int kMemoryStatusPart = 1;

// "Memory usage history:\r\n", then one "- <size>" line each for the memory
// in use now and at the four last drains of the queue, oldest first; a
// drain that has not happened yet shows "0 byte".
std::string MemoryHistoryText(uint64_t inUseNow, const core::MemorySnapshots::Array& snapshots);

// How much the memory in use grew since the oldest drain on record: the
// bytes from that drain's memory in use to now, and the same as a percentage
// of that drain's value. 0 and 0 without such a drain (none yet), and when
// the memory did not grow: what went down was not leaked.
struct LeakEstimate {
    int64_t percent = 0;
    int64_t bytes = 0;
    bool operator==(const LeakEstimate&) const = default;
};
LeakEstimate EstimateLeak(uint64_t inUseNow, const core::MemorySnapshots::Array& snapshots);

// `text` followed by the leak line.
std::string WithLeakLine(const std::string& text, const LeakEstimate& leak);

// The figures of the operating text, read at one moment.
struct OperatingFigures {
    std::string state;  // the status bar's state text
    uint64_t runningSeconds = 0;
    uint64_t memoryInUse = 0;
    uint32_t threads = 0;
    uint32_t windows = 0;
    uint32_t collisions = 0;
    uint64_t lockUsers = 0;
    uint64_t datagramsReceived = 0, bytesReceived = 0;
    uint64_t datagramsSent = 0, bytesSent = 0;
    uint64_t queueCount = 0;
    core::MemorySnapshots::Array snapshots{};
};

std::string OperatingText(const core::CoreContext& core, const OperatingFigures& figures);

// The info box content for a double click on status part `part`: the
// memory texts for the memory part of the five, else the operating text
// (the one part of the simple bar among them).
InfoContent StatusInfo(const core::CoreContext& core, int part, bool simple, const OperatingFigures& figures);

}  // namespace qm::windows
