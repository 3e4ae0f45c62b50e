#pragma once
// A window's own settings by its type (a graph's chart, an info box's font
// and status parts), as the window module hands them to a window and writes
// them to the type's section of mod_window.ini (`mod_window -> graph`,
// `mod_window -> info_box`). Event lists keep theirs in their own window.
#include <cstdint>
#include <optional>
#include <variant>

#include "core/config.h"
#include "windows/graph/graph_settings.h"
#include "windows/info_box/info_box_settings.h"

namespace qm::windows {

struct WindowTypeSettings {
    std::variant<GraphSettings, InfoBoxSettings> value;

    bool operator==(const WindowTypeSettings&) const = default;

    // The window type these settings belong to.
    uint8_t Type() const;
    const GraphSettings* Graph() const { return std::get_if<GraphSettings>(&value); }
    const InfoBoxSettings* InfoBox() const { return std::get_if<InfoBoxSettings>(&value); }
};

// The defaults of a new window of the type; nothing for a type without
// settings of this kind.
std::optional<WindowTypeSettings> DefaultTypeSettings(uint8_t type);
// The window's settings as its section holds them (clamped, as a window
// loads them); nothing for a type without settings of this kind.
std::optional<WindowTypeSettings> LoadWindowTypeSettings(const core::Config& config, uint8_t type, uint64_t uid,
                                                         int32_t dotsPerInch);
// Brought into the ranges a window draws with, as loading does.
void ClampWindowTypeSettings(WindowTypeSettings& settings, int32_t dotsPerInch);
// Writes this window's keys of the type's section, leaving every other
// window's keys alone. False (errno set) when the file was not written.
bool StoreWindowTypeSettings(const core::Config& config, uint64_t uid, const WindowTypeSettings& settings);

}  // namespace qm::windows
