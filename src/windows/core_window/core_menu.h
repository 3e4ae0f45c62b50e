#pragma once
// The program's menu (the tray icon's right click, or the core window's when
// there is no tray) as plain data: the toolkit layer only draws it and hands
// the chosen item back. Top to bottom: the tool windows (graphs in a submenu
// of their own), service control, settings, About, Exit.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "windows/window_module/window_module.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::windows {

enum class CoreCommand { None, ToggleWindow, StartServices, StopServices, Settings, About, Exit };

struct CoreMenuItem {
    std::string text;
    CoreCommand command = CoreCommand::None;
    size_t window = 0;  // ToggleWindow: the window module's entry number
    uint64_t uid = 0;   // and its UID, should the table change meanwhile
    bool checkable = false;
    bool checked = false;
    bool enabled = true;
    bool separator = false;
    std::vector<CoreMenuItem> submenu;  // non-empty: opens a submenu
};

// `windows` from WindowModule::Windows(); `servicesBusy` while a start or
// stop is still running (the two entries are disabled then).
std::vector<CoreMenuItem> BuildCoreMenu(const core::CoreContext& core, const std::vector<WindowSummary>& windows,
                                        bool servicesBusy);

}  // namespace qm::windows
