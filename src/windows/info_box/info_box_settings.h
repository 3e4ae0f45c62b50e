#pragma once
// An info box's own settings, kept per window in section
// "mod_window -> info_box" of mod_window.ini under "Wnd.<uid>-", and the
// arithmetic the view needs from them: status part edges and text zoom.
//
// Legacy form: one 24-byte record `WND-<uid>`: FontHeight at 0 (4 bytes),
// SBarParts at 4 (four u32), Param at 20, bytes 21 to 23 reserved.
#include <array>
#include <cstdint>
#include <string>

#include "core/config.h"
#include "core/settings_fields.h"

namespace qm::windows {
// The four status part widths, stored as one 16-byte value.
struct StatusPartPercents : std::array<uint32_t, 4> {};
}  // namespace qm::windows

namespace qm::core {
template <>
struct BlobCodec<windows::StatusPartPercents> : U32ArrayCodec<4> {};
}  // namespace qm::core

namespace qm::windows {

constexpr const char* kWindowSettingsFile = "mod_window";
constexpr const char* kInfoBoxSection = "mod_window -> info_box";
constexpr size_t kLegacyInfoBoxSize = 24;

struct InfoBoxSettings {
    int32_t fontHeight = 0;  // platform font height; 0: the program font's
    uint8_t param = 0;       // window flags, kept as stored
    StatusPartPercents statusParts{{25, 25, 25, 25}};  // percent of the width

    bool operator==(const InfoBoxSettings&) const = default;

    static const core::FieldTable<InfoBoxSettings>& Fields();
};

// The window's settings, clamped to sane ranges (font 5 to 50 points, each
// part at most 100 %); defaults for whatever is missing or corrupt. A window
// with no keys of its own falls back to its legacy record.
InfoBoxSettings LoadInfoBoxSettings(const core::Config& config, uint64_t uid, int32_t dotsPerInch);
// The same ranges for settings given from elsewhere (the settings dialog).
void ClampInfoBoxSettings(InfoBoxSettings& settings, int32_t dotsPerInch);
// Writes this window's keys (and `Version`), leaving other windows' keys alone.
bool SaveInfoBoxSettings(const core::Config& config, uint64_t uid, const InfoBoxSettings& settings);

// The key prefix "Wnd.<uid>-" (the UID as a signed 64-bit decimal).
std::string WindowKeyPrefix(uint64_t uid);

// Right edges of the four status parts in a status bar `width` pixels wide:
// the parts' percentages added up, never past the right edge.
std::array<int32_t, 4> StatusPartEdges(const std::array<uint32_t, 4>& percents, int32_t width);

// The height the text is drawn with: the window's own, else the program's.
int32_t EffectiveFontHeight(const InfoBoxSettings& settings, int32_t programFontHeight);
// One zoom step; false (nothing changed) when the step is refused.
bool ZoomTextIn(InfoBoxSettings& settings, int32_t programFontHeight, int32_t dotsPerInch);
bool ZoomTextOut(InfoBoxSettings& settings, int32_t programFontHeight, int32_t dotsPerInch);

}  // namespace qm::windows
