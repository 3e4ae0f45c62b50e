#pragma once
// The details of one event as the info box shows them.
#include <string>

#include "core/event_record.h"
#include "windows/info_content.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::windows {

// Title string 1508, text string 1509; `alias` is the resolved name (empty
// when none), the raw text falls back to the message.
InfoContent EventDetails(const core::CoreContext& core, const core::EventRecord& event, const std::string& alias);

}  // namespace qm::windows
