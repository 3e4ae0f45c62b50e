#pragma once
// One row of an event list and what a worker computes for it.
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "core/event_record.h"
#include "processing/rules/rule_match.h"

namespace qm::windows {

// Column numbers, in display order; "#" carries the icon and no text.
enum EventListColumn : int {
    kColumnIcon = 0,
    kColumnDate = 1,
    kColumnSender = 2,
    kColumnLevel = 3,
    kColumnMessage = 4,
};

constexpr int32_t kNoIcon = -1;

// What a worker fills in for a row.
struct RowFill {
    std::array<std::string, 5> texts;  // texts[kColumnIcon] stays empty
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
    // Changes whenever the row is given an event, so a result computed for an
    // earlier event of the row (grouping) is recognised and dropped.
    uint64_t stamp = 0;
};

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
