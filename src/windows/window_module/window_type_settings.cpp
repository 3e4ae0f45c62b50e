#include "windows/window_module/window_type_settings.h"

#include "windows/window_frame.h"

namespace qm::windows {

uint8_t WindowTypeSettings::Type() const {
    if (Graph()) return kWindowGraph;
    return InfoBox() ? kWindowInfoBox : kWindowEventList;
}

std::optional<WindowTypeSettings> DefaultTypeSettings(uint8_t type) {
    if (type == kWindowGraph) return WindowTypeSettings{GraphSettings{}};
    if (type == kWindowInfoBox) return WindowTypeSettings{InfoBoxSettings{}};
    if (type == kWindowEventList) {
        // A list with the stored record's zero options would show nothing.
        EventListSettings list;
        list.param = kNewWindowParam;
        list.eventParam = kNewWindowEventParam;
        return WindowTypeSettings{std::move(list)};
    }
    return std::nullopt;
}

std::optional<WindowTypeSettings> LoadWindowTypeSettings(const core::Config& config, uint8_t type, uint64_t uid,
                                                         int32_t dotsPerInch) {
    if (type == kWindowGraph) {
        const core::SettingsSection section = config.Open(kWindowSettingsFile, kGraphSection);
        return WindowTypeSettings{LoadGraphSettings(section, uid, dotsPerInch)};
    }
    if (type == kWindowInfoBox) return WindowTypeSettings{LoadInfoBoxSettings(config, uid, dotsPerInch)};
    if (type == kWindowEventList) {
        const core::SettingsSection section = config.Open(kWindowSettingsFile, kEventListSection);
        return WindowTypeSettings{LoadEventListSettings(section, uid, dotsPerInch)};
    }
    return std::nullopt;
}

void ClampWindowTypeSettings(WindowTypeSettings& settings, int32_t dotsPerInch) {
    if (auto* graph = std::get_if<GraphSettings>(&settings.value)) graph->Clamp(dotsPerInch);
    if (auto* info = std::get_if<InfoBoxSettings>(&settings.value)) ClampInfoBoxSettings(*info, dotsPerInch);
    if (auto* list = std::get_if<EventListSettings>(&settings.value)) list->Clamp(dotsPerInch);
}

bool StoreWindowTypeSettings(const core::Config& config, uint64_t uid, const WindowTypeSettings& settings) {
    if (const InfoBoxSettings* info = settings.InfoBox()) return SaveInfoBoxSettings(config, uid, *info);
    // Opened as it stands, not emptied: the section holds every other window of the type too.
    const EventListSettings* list = settings.EventList();
    core::SettingsSection section = config.OpenToChange(kWindowSettingsFile, list ? kEventListSection : kGraphSection);
    section.File().WriteString(section.Name(), "Version", "2");
    if (list) SaveEventListSettings(section, uid, *list);
    else SaveGraphSettings(section, uid, *settings.Graph());
    return section.Commit();
}

}  // namespace qm::windows
