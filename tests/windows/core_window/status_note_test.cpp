// The core window's bookkeeping without a display: the note's time out, the
// tray's busy and idle icons, and the menu's order and grouping.
#include <gtest/gtest.h>

#include "core/core_context.h"
#include "core/string_table.h"
#include "windows/core_window/core_menu.h"
#include "windows/core_window/status_note.h"

namespace qm::windows {
namespace {

TEST(StatusNote, HiddenAfterMoreThanTenVisibleSecondsAndTrayIconByBusyState) {
    NoteTimer timer;
    for (int second = 1; second <= 10; ++second) EXPECT_FALSE(timer.Tick(true)) << second;
    EXPECT_TRUE(timer.Tick(true));
    // A hidden note starts counting afresh when shown again.
    for (int second = 1; second <= 5; ++second) EXPECT_FALSE(timer.Tick(true));
    EXPECT_FALSE(timer.Tick(false));
    for (int second = 1; second <= 10; ++second) EXPECT_FALSE(timer.Tick(true)) << second;

    core::CoreCounters counters;
    EXPECT_EQ(TrayIconNumber(counters, 60), kTrayIdleIcon);
    counters.startupBusy = 1;
    EXPECT_EQ(TrayIconNumber(counters, 60), kTrayBusyIcon);
    counters.startupBusy = 0;
    counters.busyHandlers = 2;
    EXPECT_EQ(TrayIconNumber(counters, 9), kTrayBusyIcon);
    // A folder that stops short of the number: the program's own icon.
    EXPECT_EQ(TrayIconNumber(counters, 8), kMainIcon);
    counters.busyHandlers = 0;
    EXPECT_EQ(TrayIconNumber(counters, 2), kTrayIdleIcon);
    EXPECT_EQ(TrayIconNumber(counters, 1), kMainIcon);
    EXPECT_EQ(TrayIconNumber(counters, 0), kMainIcon);
}

std::vector<std::string> Texts(const std::vector<CoreMenuItem>& items) {
    std::vector<std::string> out;
    for (const CoreMenuItem& item : items) {
        std::string text = item.separator ? "-" : item.text;
        if (item.checked) text += " [x]";
        if (!item.enabled) text += " (off)";
        for (const std::string& sub : Texts(item.submenu)) text += " / " + sub;
        out.push_back(text);
    }
    return out;
}

TEST(CoreMenu, WindowsFirstGraphsInTheirSubmenuThenServicesSettingsAboutExit) {
    core::CoreContext core;
    core.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
    const std::vector<WindowSummary> windows = {
        {0, 11, kWindowEventList, "Syslog", true, true, true},
        {1, 12, kWindowGraph, "Load", true, false, true},
        {2, 13, kWindowEventList, "Off", false, false, true},  // disabled: never shown
        {3, 14, kWindowInfoBox, "Box", true, false, true},
        {4, 15, kWindowGraph, "Ping", true, true, true},
    };
    const std::vector<std::string> expected = {
        "Syslog [x]", "Box", "Показать график / Load / Ping [x]", "-",
        "Управление службами / Запустить / Остановить", "Настройки", "О программе...", "Выход"};
    EXPECT_EQ(Texts(BuildCoreMenu(core, windows, false)), expected);

    const std::vector<CoreMenuItem> busy = BuildCoreMenu(core, {}, true);
    EXPECT_EQ(Texts(busy), (std::vector<std::string>{"Управление службами / Запустить (off) / Остановить (off)",
                                                     "Настройки", "О программе...", "Выход"}));
    EXPECT_EQ(busy[0].submenu[1].command, CoreCommand::StopServices);
    EXPECT_EQ(BuildCoreMenu(core, windows, false)[2].submenu[1].window, 4u);
}

}  // namespace
}  // namespace qm::windows
