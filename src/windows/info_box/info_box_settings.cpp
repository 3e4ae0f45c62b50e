#include "windows/info_box/info_box_settings.h"

#include <algorithm>

#include "core/string_ids.h"
#include "platform/profile_file.h"
#include "windows/zoom.h"

namespace qm::windows {

namespace {

int32_t ClampedHeight(int32_t height, int32_t dotsPerInch) {
    if (height == 0) return 0;
    const int32_t points = PointsOfHeight(height, dotsPerInch);
    const int32_t clamped = std::clamp(points, kMinZoomPoints, kMaxZoomPoints);
    return clamped == points ? height : HeightOfPoints(clamped, dotsPerInch);
}

bool Zoom(InfoBoxSettings& s, int32_t programFontHeight, int32_t dotsPerInch, bool in) {
    const int32_t height = EffectiveFontHeight(s, programFontHeight);
    const std::optional<int32_t> next = in ? ZoomIn(height, dotsPerInch) : ZoomOut(height, dotsPerInch);
    if (!next) return false;
    s.fontHeight = *next;
    return true;
}

}  // namespace

const core::FieldTable<InfoBoxSettings>& InfoBoxSettings::Fields() {
    static const core::FieldTable<InfoBoxSettings> t = [] {
        core::FieldTable<InfoBoxSettings> f;
        f.Struct<&InfoBoxSettings::fontHeight>("FontHeight", 0)
            .Label(core::str::kFieldFontHeight)
            .Struct<&InfoBoxSettings::param>("Param", 20)
            .Label(core::str::kFieldOptions)
            .Struct<&InfoBoxSettings::statusParts>("SBarParts", 4)
            .Label(core::str::kFieldStatusParts);
        return f;
    }();
    return t;
}

std::string WindowKeyPrefix(uint64_t uid) { return "Wnd." + std::to_string(static_cast<int64_t>(uid)) + "-"; }

InfoBoxSettings LoadInfoBoxSettings(const core::Config& config, uint64_t uid, int32_t dotsPerInch) {
    InfoBoxSettings s;
    const core::SettingsSection section = config.OpenToChange(kWindowSettingsFile, kInfoBoxSection);
    const platform::ProfileFile& file = section.File();
    const std::string prefix = WindowKeyPrefix(uid);
    // One section holds every info box, and a window saved since the section
    // became current may sit beside others still in their legacy record.
    const bool ownKeys = section.IsCurrentForm() && file.Get(kInfoBoxSection, prefix + "FontHeight").has_value();
    if (ownKeys) {
        core::LoadRecord(file, kInfoBoxSection, prefix, InfoBoxSettings::Fields(), s);
    } else if (const auto bytes = file.ReadStruct(kInfoBoxSection, "WND-" + std::to_string(static_cast<int64_t>(uid)), kLegacyInfoBoxSize)) {
        core::DecodeLegacyRecord(*bytes, InfoBoxSettings::Fields(), s);
    }
    ClampInfoBoxSettings(s, dotsPerInch);
    return s;
}

void ClampInfoBoxSettings(InfoBoxSettings& s, int32_t dotsPerInch) {
    s.fontHeight = ClampedHeight(s.fontHeight, dotsPerInch);
    for (uint32_t& part : s.statusParts) part = std::min<uint32_t>(part, 100);
}

bool SaveInfoBoxSettings(const core::Config& config, uint64_t uid, const InfoBoxSettings& s) {
    // Only this window's keys change: the file holds every other window too
    // (and a file that could not be read is left alone by Commit).
    core::SettingsSection section = config.OpenToChange(kWindowSettingsFile, kInfoBoxSection);
    section.File().WriteString(kInfoBoxSection, "Version", "2");
    core::SaveRecord(section.File(), kInfoBoxSection, WindowKeyPrefix(uid), InfoBoxSettings::Fields(), s);
    return section.Commit();
}

std::array<int32_t, 4> StatusPartEdges(const std::array<uint32_t, 4>& percents, int32_t width) {
    std::array<int32_t, 4> edges{};
    const int64_t w = std::max<int32_t>(width, 0);
    uint64_t sum = 0;
    for (size_t i = 0; i < edges.size(); ++i) {
        sum = std::min<uint64_t>(sum + percents[i], 100);
        edges[i] = static_cast<int32_t>(w * static_cast<int64_t>(sum) / 100);
    }
    return edges;
}

int32_t EffectiveFontHeight(const InfoBoxSettings& s, int32_t programFontHeight) {
    return s.fontHeight != 0 ? s.fontHeight : programFontHeight;
}

bool ZoomTextIn(InfoBoxSettings& s, int32_t programFontHeight, int32_t dotsPerInch) {
    return Zoom(s, programFontHeight, dotsPerInch, true);
}

bool ZoomTextOut(InfoBoxSettings& s, int32_t programFontHeight, int32_t dotsPerInch) {
    return Zoom(s, programFontHeight, dotsPerInch, false);
}

}  // namespace qm::windows
