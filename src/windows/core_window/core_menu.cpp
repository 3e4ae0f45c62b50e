#include "windows/core_window/core_menu.h"

#include "core/core_context.h"

namespace qm::windows {

namespace {

CoreMenuItem Command(std::string text, CoreCommand command, bool enabled = true) {
    CoreMenuItem item;
    item.text = std::move(text);
    item.command = command;
    item.enabled = enabled;
    return item;
}

// A window without a name or a title of its own is an info box the program
// opened in an earlier run: what it showed, its title with it, is not kept,
// and its UID (seconds since the first start) would mean nothing to a user.
std::string WindowLabel(const core::CoreContext& core, const WindowSummary& w) {
    if (!w.name.empty()) return w.name;
    if (w.type == kWindowInfoBox) return core.Text(core::str::kPageInfoWindow);
    return std::to_string(w.uid);
}

CoreMenuItem WindowItem(const core::CoreContext& core, const WindowSummary& w) {
    CoreMenuItem item = Command(WindowLabel(core, w), CoreCommand::ToggleWindow);
    item.window = w.index;
    item.uid = w.uid;
    item.checkable = true;
    item.checked = w.visible;
    return item;
}

}  // namespace

std::vector<CoreMenuItem> BuildCoreMenu(const core::CoreContext& core, const std::vector<WindowSummary>& windows,
                                        bool servicesBusy) {
    std::vector<CoreMenuItem> menu;
    CoreMenuItem graphs;
    graphs.text = core.Text(core::str::kShowGraph);
    // A disabled or removed entry is never shown: toggling it would do nothing.
    for (const WindowSummary& w : windows) {
        if (!w.active || !w.hasFrame) continue;
        if (w.type == kWindowGraph) graphs.submenu.push_back(WindowItem(core, w));
        else menu.push_back(WindowItem(core, w));
    }
    if (!graphs.submenu.empty()) menu.push_back(std::move(graphs));
    if (!menu.empty()) {
        CoreMenuItem line;
        line.separator = true;
        menu.push_back(std::move(line));
    }

    CoreMenuItem services;
    services.text = core.Text(core::str::kServiceControl);
    services.submenu.push_back(Command(core.Text(core::str::kStart), CoreCommand::StartServices, !servicesBusy));
    services.submenu.push_back(Command(core.Text(core::str::kStop), CoreCommand::StopServices, !servicesBusy));
    menu.push_back(std::move(services));
    menu.push_back(Command(core.Text(core::str::kSettings), CoreCommand::Settings));
    menu.push_back(Command(core.Text(core::str::kAbout), CoreCommand::About));
    menu.push_back(Command(core.Text(core::str::kExit), CoreCommand::Exit));
    return menu;
}

}  // namespace qm::windows
