#include "windows/event_list/event_row.h"

namespace qm::windows {

std::string_view CellText(const RowFill& fill, int column, bool bodyOnly) {
    switch (column) {
        case kColumnDate:
        case kColumnSender:
        case kColumnLevel: return fill.texts[static_cast<size_t>(column)];
        default: break;
    }
    if (column == kColumnMessage && fill.messageReplaced) return fill.texts[kColumnMessage];
    if (!fill.event) return {};
    const core::EventRecord& e = *fill.event;
    switch (column) {
        case kColumnMessage: return bodyOnly ? e.Body() : e.Message();
        case kColumnSenderTime: return e.SenderTime();
        case kColumnHost: return e.Host();
        case kColumnApp: return e.App();
        case kColumnProcId: return e.ProcId();
        case kColumnMsgId: return e.MsgId();
        default: return {};
    }
}

}  // namespace qm::windows
