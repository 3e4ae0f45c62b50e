#pragma once
// One row of an event list and what a worker computes for it.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/event_record.h"
#include "processing/rules/rule_match.h"
#include "windows/event_list/event_columns.h"

namespace qm::windows {

constexpr int32_t kNoIcon = -1;

// What a worker fills in for a row.
struct RowFill {
    // The event the texts were made from, shared with the row. The message
    // and the header's fields are read from it where they are shown, so a
    // row keeps no second copy of its message, and showing another column
    // needs no worker.
    std::shared_ptr<const core::EventRecord> event;
    // Date, sender and level; texts[kColumnMessage] only when a rule
    // replaced the message (messageReplaced); texts[kColumnIcon] stays empty.
    std::array<std::string, 5> texts;
    bool messageReplaced = false;
    int32_t icon = kNoIcon;            // 20 + severity, 28 for an undecoded one
    // Rule colours are the worker's own copy; scheme and list colours are
    // kept as an index so a later change of the scheme or the list colours
    // repaints the row.
    processing::ColorChoice colors;
};

struct EventRow {
    // The row's own copy of its event, shared read-only with the worker that
    // fills the row; never a record of the queue, which the database frees.
    std::shared_ptr<const core::EventRecord> event;
    RowFill fill;
    bool filled = false;   // a worker result has been applied
    // With a filter: the row is among those shown (see EventListLogic).
    bool shown = false;
    // Changes whenever the row is given an event, so a result computed for an
    // earlier event of the row (grouping) is recognised and dropped.
    uint64_t stamp = 0;
};

// The text of column `column` as the row shows it; empty before the row is
// filled. With `bodyOnly` the message column shows the message after its
// syslog header (a rule's replacement stays whole). The view lives as long
// as the row's fill.
std::string_view CellText(const RowFill& fill, int column, bool bodyOnly);

// A worker's answer for one row.
struct RowResult {
    size_t row = 0;
    uint64_t stamp = 0;
    RowFill fill;
};

// Colours to paint a row with, 0x00BBGGRR.
struct RowColors {
    uint32_t text = 0;
    uint32_t background = 0xFFFFFF;
    bool operator==(const RowColors&) const = default;
};

}  // namespace qm::windows
