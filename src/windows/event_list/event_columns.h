#pragma once
// The columns of an event list: the five every list has, and the fields of
// the syslog header that a list may show beside them. Columns are known by
// a fixed number everywhere (settings, sorting, rows); which of them a list
// shows, and in which order, follows from its `Columns` bits.
#include <cstdint>
#include <vector>

namespace qm::windows {

// Column numbers. The first five keep the numbers sorting has always
// stored (`SortDirection` ±1..±4); "#" carries the icon and no text.
enum EventListColumn : int {
    kColumnIcon = 0,
    kColumnDate = 1,
    kColumnSender = 2,
    kColumnLevel = 3,
    kColumnMessage = 4,
    // The syslog header's fields, as the sender wrote them.
    kColumnSenderTime = 5,
    kColumnHost = 6,
    kColumnApp = 7,
    kColumnProcId = 8,
    kColumnMsgId = 9,
};
constexpr int kColumnCount = 10;
constexpr int kFirstHeaderColumn = kColumnSenderTime;
constexpr int kHeaderColumns = kColumnCount - kFirstHeaderColumn;

// `Columns` bits: which header fields are shown, and whether the message
// column shows the message after its header (MSG) instead of all of it.
enum EventListColumnBits : uint8_t {
    kShowSenderTime = 0x01,
    kShowHost = 0x02,
    kShowApp = 0x04,
    kShowProcId = 0x08,
    kShowMsgId = 0x10,
    kShowBodyOnly = 0x80,
};

// The bit that shows a header column; 0 for the five always shown.
uint8_t ColumnBit(int column);
// The columns shown, in display order: "#", "Дата", the sender's own time,
// "Отправитель", host, application, process id, message id, "Уровень",
// "Сообщение" (each header field only when its bit is set).
std::vector<int> ShownColumns(uint8_t columnBits);
// The header title's string id.
uint32_t ColumnTitleId(int column);

}  // namespace qm::windows
