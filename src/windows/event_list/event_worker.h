#pragma once
// The event worker's computation: the window's rules on an event, the colour
// choice, the column texts and the name look-up. It touches no widget and no
// row; its result goes back to the window, which applies it on the GUI thread.
#include <array>
#include <cstdint>
#include <string>
#include <memory>
#include <vector>

#include "core/event_record.h"
#include "windows/event_list/event_row.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::windows {

class ResultInbox;

// The window's options as a worker needs them, shared read-only by the
// items started while they held.
struct WorkerOptions {
    uint8_t param = 0;
    std::vector<uint64_t> rules;
    std::array<uint32_t, 6> listColors{};  // the core's, as they were when the item started
};

// One event handed to the pool.
struct EventWork {
    std::shared_ptr<ResultInbox> inbox;  // where the result goes
    std::shared_ptr<const WorkerOptions> options;
    std::shared_ptr<const core::EventRecord> event;
    size_t row = 0;
    uint64_t stamp = 0;
};

// The row as the worker fills it: rules (Rules module, the selection in
// order; start actions only for External and Internal events), colours,
// texts, the sender name (DNS module, with option 0x08). A missing module
// skips its step. The fill keeps the event; no event, an empty fill.
RowFill ComputeRow(core::CoreContext& core, const WorkerOptions& options,
                   std::shared_ptr<const core::EventRecord> event);

// The texts that do not depend on rules: "Дата" and "Уровень" with the icon.
std::string DateText(core::CoreContext& core, const core::EventRecord& event);
int32_t SeverityIcon(uint32_t severity);

}  // namespace qm::windows
