#pragma once
// The settings of one graph window, keyed by the window's UID in the section
// `mod_window -> graph`: the record `Wnd.<uid>-…`, the vendor
// `Wnd.<uid>.Chart-Vendor` and the tag list `Wnd.<uid>.Chart.Tag-Size`,
// `Wnd.<uid>.Chart.Tag.<n>-Name` / `-PenColor`. Also read in the older
// form: the whole record as one struct `WND-<uid>` (layout below),
// `WND-<uid>.chart-vendor`, `WND-<uid>.chart-tag.size` and
// `WND-<uid>.chart-tag.<n>.name` / `.pencolor`. Saving writes the current
// form. Values from a file are data: what the window cannot work with is
// replaced on load, with a line on stderr.
//
// Older record, 76 bytes, laid out as the fields in memory: Color 0 (five
// u32), FontHeight 20, Param 24, three padding bytes, PenSize 28, PenStyle
// 32, EnableValueLimit 36, three padding bytes, ValueLimit 40,
// RefreshTimeout 44, SBarParts 48 (two u32), TimeRange 56, AreaCorrect 60
// (four i32).
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/settings_fields.h"

namespace qm::windows {

constexpr const char* kGraphSection = "mod_window -> graph";
constexpr size_t kGraphLegacySize = 76;
constexpr size_t kGraphTextCapacity = 128;  // UTF-16 units with terminator

// A timer counts its period in int milliseconds; a longer refresh (past
// about 24 days) waits this long, the setting kept as it is.
constexpr uint32_t kMaxRefreshTimerMs = 2147483647;

// Colour scheme entries (0x00BBGGRR); the fifth is kept but not drawn.
enum GraphColor : size_t { kGraphBackground = 0, kGraphText = 1, kGraphGrid = 2, kGraphError = 3 };

struct GraphColors : std::array<uint32_t, 5> {};
struct GraphStatusParts : std::array<uint32_t, 2> {};
// Added to the left, top, right and bottom of the client area.
struct GraphAreaCorrect : std::array<int32_t, 4> {};

struct GraphTag {
    std::string name;     // as stored by the collector, e.g. "msec (mod_icmp)"
    uint32_t penColor = 0;
    bool operator==(const GraphTag&) const = default;
};

struct GraphSettings {
    GraphColors color{{0xFFFFFF, 0x000000, 0xDCDCDC, 0x0000FF, 0x000000}};
    int32_t fontHeight = 0;  // 0: the program font's height
    uint8_t param = 0;
    uint32_t penSize = 0;    // 0 draws one pixel wide
    uint32_t penStyle = 0;
    uint8_t enableValueLimit = 0;
    uint32_t valueLimit = 0;
    uint32_t refreshTimeout = 30000;  // ms
    GraphStatusParts sbarParts{{75, 25}};  // the graph uses the second
    uint32_t timeRange = 60;               // minutes
    GraphAreaCorrect areaCorrect{{20, 10, -20, -20}};
    std::string vendor;
    std::vector<GraphTag> tags;

    bool operator==(const GraphSettings&) const = default;

    // Replaces what the window cannot work with (a refresh or time range of
    // 0) by the default, and brings the font between 5 and 50 points.
    void Clamp(int32_t dotsPerInch);
    // The refresh timer's period in milliseconds.
    int RefreshTimerMs() const;

    // The record fields from Color to AreaCorrect.
    static const core::FieldTable<GraphSettings>& Fields();
};

// Reads the window's settings (its own current keys when the section is in
// the current form and has them, else its older keys) and clamps them.
GraphSettings LoadGraphSettings(const core::SettingsSection& section, uint64_t uid, int32_t dotsPerInch);
// Writes the window's keys in the current form (the caller stamps Version).
void SaveGraphSettings(core::SettingsSection& section, uint64_t uid, const GraphSettings& settings);

}  // namespace qm::windows

namespace qm::core {
template <>
struct BlobCodec<windows::GraphColors> : U32ArrayCodec<5> {};
template <>
struct BlobCodec<windows::GraphStatusParts> : U32ArrayCodec<2> {};
template <>
struct BlobCodec<windows::GraphAreaCorrect> {
    static constexpr size_t kSize = 16;
    static void Encode(const windows::GraphAreaCorrect& v, uint8_t* out) {
        std::array<uint32_t, 4> u{};
        for (size_t i = 0; i < 4; ++i) u[i] = static_cast<uint32_t>(v[i]);
        U32ArrayCodec<4>::Encode(u, out);
    }
    static void Decode(const uint8_t* in, windows::GraphAreaCorrect& v) {
        std::array<uint32_t, 4> u{};
        U32ArrayCodec<4>::Decode(in, u);
        for (size_t i = 0; i < 4; ++i) v[i] = static_cast<int32_t>(u[i]);
    }
};
}  // namespace qm::core
