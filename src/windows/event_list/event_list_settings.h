#pragma once
// The settings of one event list window, keyed by the window's UID in the
// section `mod_window -> std_report`: the current form (one key per field
// plus the rule selection) and the legacy form (one 60-byte record per
// window). Raw values are data from a file: they are clamped on load.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/settings_fields.h"
#include "windows/event_list/event_columns.h"

namespace qm::windows {

constexpr const char* kEventListSection = "mod_window -> std_report";
constexpr size_t kEventListLegacySize = 60;
constexpr size_t kEventListColumns = 5;

// `Param` bits.
enum EventListParam : uint8_t {
    kListAutoscroll = 0x80,
    kListSortable = 0x40,
    kListColorScheme = 0x20,
    kListGroupBySender = 0x10,
    kListResolveNames = 0x08,
    kListSimpleStatus = 0x04,
    kListDeselectGrouped = 0x02,
};

// What the settings dialog gives a new window: sortable, colour scheme and
// names; System, External, Internal and Archive events.
constexpr uint8_t kNewWindowParam = kListSortable | kListColorScheme | kListResolveNames;
constexpr uint8_t kNewWindowEventParam = 0x78;

// Without core settings the font height falls back to this.
constexpr int32_t kFallbackFontHeight = 10;

// Bounds of the clamped values.
constexpr uint32_t kMaxColumnWidth = 4000;
constexpr uint32_t kMinTimerMs = 100;
constexpr uint32_t kMaxTimerMs = 600000;

// Five u32 (20 bytes stored): column widths in pixels, status parts in percent.
struct FiveValues : std::array<uint32_t, kEventListColumns> {};
// The widths of the header's columns, from the sender's time to the message id.
struct HeaderColumnWidths : std::array<uint32_t, kHeaderColumns> {};

struct EventListSettings {
    int32_t fontHeight = 0;  // 0: the core font height
    // 0 unsorted; ±column (1..4, or a header column 5..9), positive = greater texts first
    int32_t sortDirection = 0;
    FiveValues colSize{40, 100, 150, 100, 250};
    FiveValues sbarParts{10, 10, 35, 35, 10};
    uint32_t mainTimer = 1000;
    uint32_t statusTimer = 1000;
    // A window whose record never said otherwise shows nothing; the dialog
    // gives new windows kNewWindowParam / kNewWindowEventParam.
    uint8_t param = 0;
    uint8_t eventParam = 0;
    std::vector<uint64_t> rules;  // the rule selection, applied in this order
    // Which of the syslog header's fields are shown (kShow... bits); a
    // record from before they existed shows none, as it always did.
    uint8_t columns = 0;
    HeaderColumnWidths headerColSize{130, 110, 100, 60, 90};

    bool Has(uint8_t bits) const { return (param & bits) != 0; }
    bool Shows(uint8_t columnBits) const { return (columns & columnBits) != 0; }
    // The width of any column, and setting it (clamped).
    uint32_t ColumnWidth(int column) const;
    void SetColumnWidth(int column, uint32_t width);
    bool operator==(const EventListSettings&) const = default;

    // Brings raw values into sane ranges (see the .cpp for each bound); the
    // font height is kept between 5 and 50 points at this resolution.
    void Clamp(int32_t dotsPerInch);

    // The fields from FontHeight to EventParam, then Columns and
    // HeaderColSize (current form only); the selection has keys of its own.
    static const core::FieldTable<EventListSettings>& Fields();
};

// "Wnd.<uid>-", the prefix of a window's keys (the UID printed signed, as stored).
std::string EventListKeyPrefix(uint64_t uid);

// Reads the window's record from the section (current or legacy form by the
// section's Version), then clamps it. Missing keys keep the defaults above.
EventListSettings LoadEventListSettings(const core::SettingsSection& section, uint64_t uid, int32_t dotsPerInch);
// Writes the window's record in the current form (the caller stamps Version).
void SaveEventListSettings(core::SettingsSection& section, uint64_t uid, const EventListSettings& settings);

}  // namespace qm::windows

namespace qm::core {
template <>
struct BlobCodec<windows::FiveValues> : U32ArrayCodec<windows::kEventListColumns> {};
template <>
struct BlobCodec<windows::HeaderColumnWidths> : U32ArrayCodec<windows::kHeaderColumns> {};
}  // namespace qm::core
