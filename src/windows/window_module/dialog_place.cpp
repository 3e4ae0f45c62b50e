#include "windows/window_module/dialog_place.h"

#include <algorithm>
#include <cstdint>

#include "core/string_ids.h"

namespace qm::windows {

const core::FieldTable<DialogPlace>& DialogPlace::Fields() {
    static const core::FieldTable<DialogPlace> t = [] {
        core::FieldTable<DialogPlace> f;
        f.Struct<&DialogPlace::rect>("Rect").Label(core::str::kFieldWindowRect);
        return f;
    }();
    return t;
}

DialogPlace LoadDialogPlace(const core::Config& config) {
    DialogPlace place;
    const core::SettingsSection section = config.Open(kWindowSettingsFile, kDialogPlaceSection);
    if (section.IsCurrentForm()) core::LoadRecord(section.File(), kDialogPlaceSection, "", DialogPlace::Fields(), place);
    return place;
}

bool SaveDialogPlace(const core::Config& config, const DialogPlace& place) {
    core::SettingsSection section = config.BeginSave(kWindowSettingsFile, kDialogPlaceSection);
    core::SaveRecord(section.File(), kDialogPlaceSection, "", DialogPlace::Fields(), place);
    return section.Commit();
}

std::optional<Rect> DialogOpeningRect(const DialogPlace& place, bool reset, std::span<const Rect> screens,
                                      int32_t minWidth, int32_t minHeight) {
    if (reset || place.rect.IsZero()) return std::nullopt;
    Rect r = place.rect;
    // A damaged file's edges may lie anywhere: in 64 bits, and a corner with
    // no room for the smallest dialog right and below it is no place.
    if (int64_t(r.left) + minWidth > INT32_MAX || int64_t(r.top) + minHeight > INT32_MAX) return std::nullopt;
    r.right = std::max(r.right, r.left + minWidth);
    r.bottom = std::max(r.bottom, r.top + minHeight);
    return FitToScreens(r, screens);
}

}  // namespace qm::windows
