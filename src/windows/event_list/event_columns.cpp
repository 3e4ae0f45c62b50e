#include "windows/event_list/event_columns.h"

#include <array>

#include "core/string_ids.h"

namespace qm::windows {

namespace {

// The sender's own time beside the program's, the header's names beside
// the sender, and the message last, where the row's remaining width is.
constexpr std::array<int, kColumnCount> kDisplayOrder{kColumnIcon,  kColumnDate,   kColumnSenderTime, kColumnSender,
                                                      kColumnHost,  kColumnApp,    kColumnProcId,     kColumnMsgId,
                                                      kColumnLevel, kColumnMessage};

}  // namespace

uint8_t ColumnBit(int column) {
    switch (column) {
        case kColumnSenderTime: return kShowSenderTime;
        case kColumnHost: return kShowHost;
        case kColumnApp: return kShowApp;
        case kColumnProcId: return kShowProcId;
        case kColumnMsgId: return kShowMsgId;
        default: return 0;
    }
}

std::vector<int> ShownColumns(uint8_t columnBits) {
    std::vector<int> shown;
    for (int column : kDisplayOrder) {
        const uint8_t bit = ColumnBit(column);
        if (bit == 0 || (columnBits & bit) != 0) shown.push_back(column);
    }
    return shown;
}

uint32_t ColumnTitleId(int column) {
    if (column >= kColumnIcon && column <= kColumnMessage) return core::str::kColumnNumber + uint32_t(column);
    switch (column) {
        case kColumnSenderTime: return core::str::kColumnSenderTime;
        case kColumnHost: return core::str::kColumnHost;
        case kColumnApp: return core::str::kColumnApp;
        case kColumnProcId: return core::str::kColumnProcId;
        default: return core::str::kColumnMsgId;
    }
}

}  // namespace qm::windows
