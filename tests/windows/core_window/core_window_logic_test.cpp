// The core window's texts and bookkeeping without a display: the About
// text and the change log read in whatever form it was saved, the note's
// time out, the tray's busy and idle icons, and the menu's order and grouping.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "core/core_context.h"
#include "core/string_table.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "windows/core_window/about_text.h"
#include "windows/core_window/core_menu.h"
#include "windows/core_window/status_note.h"

namespace qm::windows {
namespace {

TEST(AboutText, HeaderTermsAndChangeLogInTheirPlaces) {
    core::CoreContext core;
    core.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
    const BuildInfo build{3, 2, 0, "Linux x86_64, GNU 12.2.0, Qt 6.4.2", "Dec 07 2026"};
    // A '%' in the change log is text, not a conversion.
    const std::string text = AboutText(core, build, "3.2.0\r\n- 100% new\r\n");
    const std::string header =
        "\tQuillmark\r\nВерсия: 3.2\r\nСборка: 0, RU, Unicode\r\nОписание сборки: Linux x86_64, GNU 12.2.0, Qt 6.4.2\r\n"
        "Дата: Dec 07 2026\r\n\r\n";
    ASSERT_TRUE(text.starts_with(header)) << text;
    EXPECT_EQ(text, core.Text(201, "Quillmark", 3u, 2u, 0u, "RU", "Unicode", build.description, build.date) +
                        "\r\n\r\n" + core.Text(202) + "\r\n\r\n\r\n3.2.0\r\n- 100% new\r\n\r\n");
    EXPECT_TRUE(qm::testing::Contains(text, "Условия использования:")) << text;

    // This binary's own build: the version of the project, a date and a description.
    const BuildInfo own = ProgramBuild();
    EXPECT_EQ(std::tie(own.major, own.minor, own.build), std::tuple(3u, 2u, 0u));
    EXPECT_EQ(own.date.size(), 11u) << own.date;
    EXPECT_TRUE(qm::testing::Contains(own.description, "Qt 6")) << own.description;
}

TEST(AboutText, ChangeLogReadInEveryFormItMayBeSavedIn) {
    qm::testing::TempDir dir{"qm-about"};
    const auto file = dir.path() / "ChangeLog.txt";
    const std::string text = "Журнал: версия 3.2\r\n";

    // UTF-8 with or without its mark, UTF-16LE; not UTF-8: the single-byte
    // fallback (CP1251 here, as the test runs without a locale of its own).
    using Forms = std::vector<std::pair<std::string, std::string>>;
    for (const auto& [saved, read] : Forms{{text, text}, {"\xEF\xBB\xBF" + text, text},
                                           {"\xFF\xFE" + platform::Utf8ToUtf16LEBytes(text), text},
                                           {"\xC6\xF3\xF0\xED\xE0\xEB", "Журнал"}}) {
        qm::testing::WriteWholeFile(file, saved);
        EXPECT_EQ(ReadChangeLog(file), read);
    }

    // Nothing, and no hang, for what cannot be read as a file.
    std::filesystem::remove(file);
    EXPECT_EQ(ReadChangeLog(file), "");
    EXPECT_EQ(ReadChangeLog(dir.path()), "");
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    EXPECT_EQ(ReadChangeLog(file), "");
    EXPECT_EQ(ReadChangeLog({}), "");
}

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
