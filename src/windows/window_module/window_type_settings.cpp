#include "windows/window_module/window_type_settings.h"

#include "windows/window_frame.h"

namespace qm::windows {

uint8_t WindowTypeSettings::Type() const { return Graph() ? kWindowGraph : kWindowInfoBox; }

std::optional<WindowTypeSettings> DefaultTypeSettings(uint8_t type) {
    if (type == kWindowGraph) return WindowTypeSettings{GraphSettings{}};
    if (type == kWindowInfoBox) return WindowTypeSettings{InfoBoxSettings{}};
    return std::nullopt;
}

std::optional<WindowTypeSettings> LoadWindowTypeSettings(const core::Config& config, uint8_t type, uint64_t uid,
                                                         int32_t dotsPerInch) {
    if (type == kWindowGraph) {
        const core::SettingsSection section = config.Open(kWindowSettingsFile, kGraphSection);
        return WindowTypeSettings{LoadGraphSettings(section, uid, dotsPerInch)};
    }
    if (type == kWindowInfoBox) return WindowTypeSettings{LoadInfoBoxSettings(config, uid, dotsPerInch)};
    return std::nullopt;
}

void ClampWindowTypeSettings(WindowTypeSettings& settings, int32_t dotsPerInch) {
    if (auto* graph = std::get_if<GraphSettings>(&settings.value)) graph->Clamp(dotsPerInch);
    if (auto* info = std::get_if<InfoBoxSettings>(&settings.value)) ClampInfoBoxSettings(*info, dotsPerInch);
}

bool StoreWindowTypeSettings(const core::Config& config, uint64_t uid, const WindowTypeSettings& settings) {
    if (const InfoBoxSettings* info = settings.InfoBox()) return SaveInfoBoxSettings(config, uid, *info);
    // Opened as it stands, not emptied: the section holds every other graph too.
    core::SettingsSection section = config.OpenToChange(kWindowSettingsFile, kGraphSection);
    section.File().WriteString(section.Name(), "Version", "2");
    SaveGraphSettings(section, uid, *settings.Graph());
    return section.Commit();
}

}  // namespace qm::windows
