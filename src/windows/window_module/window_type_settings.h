#pragma once
// A window's own settings by its type (a graph's chart, an info box's font
// and status parts, an event list's options, event types and rules), as the
// window module hands them to a window and writes them to the type's section
// of mod_window.ini (`mod_window -> graph`, `mod_window -> info_box`,
// `mod_window -> std_report`).
#include <cstdint>
#include <optional>
#include <variant>

#include "core/config.h"
#include "windows/event_list/event_list_settings.h"
#include "windows/graph/graph_settings.h"
#include "windows/info_box/info_box_settings.h"

namespace qm::windows {

struct WindowTypeSettings {
    std::variant<GraphSettings, InfoBoxSettings, EventListSettings> value;

    bool operator==(const WindowTypeSettings&) const = default;

    // The window type these settings belong to.
    uint8_t Type() const;
    const GraphSettings* Graph() const { return std::get_if<GraphSettings>(&value); }
    const InfoBoxSettings* InfoBox() const { return std::get_if<InfoBoxSettings>(&value); }
    const EventListSettings* EventList() const { return std::get_if<EventListSettings>(&value); }
};

// The defaults of a new window of the type (an event list: the dialog's
// options and every event type); nothing for an unknown type.
std::optional<WindowTypeSettings> DefaultTypeSettings(uint8_t type);
// The window's settings as its section holds them (clamped, as a window
// loads them); nothing for an unknown type.
std::optional<WindowTypeSettings> LoadWindowTypeSettings(const core::Config& config, uint8_t type, uint64_t uid,
                                                         int32_t dotsPerInch);
// Brought into the ranges a window draws with, as loading does.
void ClampWindowTypeSettings(WindowTypeSettings& settings, int32_t dotsPerInch);
// Writes this window's keys of the type's section, leaving every other
// window's keys alone. False (errno set) when the file was not written.
bool StoreWindowTypeSettings(const core::Config& config, uint64_t uid, const WindowTypeSettings& settings);

}  // namespace qm::windows
