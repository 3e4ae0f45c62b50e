#include "windows/event_list/event_details.h"

#include "core/core_context.h"

namespace qm::windows {

InfoContent EventDetails(const core::CoreContext& core, const core::EventRecord& event, const std::string& alias) {
    const platform::SystemTime& t = event.time;
    InfoContent content;
    content.title = core.Text(core::str::kEventDetailsTitle, static_cast<int64_t>(event.sequence), unsigned(t.day),
                              unsigned(t.month), unsigned(t.hour), unsigned(t.minute), unsigned(t.second));
    content.text = core.Text(core::str::kEventDetailsText, event.sender, alias, event.Message(),
                             event.Raw().empty() ? event.Message() : event.Raw(), event.rawLength, unsigned(t.day), unsigned(t.month), unsigned(t.year), unsigned(t.hour),
                             unsigned(t.minute), unsigned(t.second));
    return content;
}

}  // namespace qm::windows
