#include "windows/event_list/event_list_settings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/profile_file.h"
#include "processing/processing_test_support.h"

namespace qm::windows {
namespace {

using processing::test::Put;

constexpr uint64_t kUid = 812345;
constexpr int32_t kDpi = 96;

core::SettingsSection Section(platform::ProfileFile file = {}) { return core::SettingsSection({}, kEventListSection, std::move(file)); }

TEST(EventListSettings, CurrentFormRoundTripsWithRuleSelectionUnderTheWindowsUid) {
    EventListSettings s;
    s.fontHeight = -20;
    s.sortDirection = -3, s.mainTimer = 250, s.statusTimer = 2000;
    s.colSize = {10, 20, 30, 40, 50};
    s.sbarParts = {20, 20, 20, 20, 20};
    s.param = kNewWindowParam, s.eventParam = kNewWindowEventParam;
    s.rules = {7, 1ull << 40, 3};
    s.columns = kShowHost | kShowBodyOnly;
    s.headerColSize = {11, 22, 33, 44, 55};

    core::SettingsSection saving = Section();
    saving.File().WriteString(kEventListSection, "Version", "2");
    SaveEventListSettings(saving, kUid, s);
    SaveEventListSettings(saving, kUid + 1, EventListSettings{});
    EXPECT_TRUE(saving.File().Get(kEventListSection, "Wnd.812345-ColSize"));
    EXPECT_TRUE(saving.File().Get(kEventListSection, "Wnd.812345.Rule.2-ID"));
    EXPECT_EQ(saving.File().Get(kEventListSection, "Wnd.812345-EventParam"), "7878");  // value and checksum
    EXPECT_EQ(saving.File().Get(kEventListSection, "Wnd.812345-Columns"), "8282");
    EXPECT_TRUE(saving.File().Get(kEventListSection, "Wnd.812345-HeaderColSize"));

    const core::SettingsSection loading = Section(saving.File());
    EXPECT_EQ(LoadEventListSettings(loading, kUid, kDpi), s);
    EXPECT_EQ(LoadEventListSettings(loading, kUid + 1, kDpi), EventListSettings{});
    // A window nobody configured shows nothing until the dialog gives it a mask.
    EXPECT_EQ(LoadEventListSettings(loading, 99, kDpi).eventParam, 0);
}

// A new home's "Syslog" follows new events; a list the dialog adds does not
// until asked, and so does a file's list without the bit.
TEST(EventListSettings, TheNewHomesListFollowsNewEventsAndANewListDoesNot) {
    const auto shipped = platform::ProfileFile::Load(std::filesystem::path(QM_SOURCE_DIR) /
                                                     "resources/default-home/Settings/mod_window.ini");
    const EventListSettings syslog = LoadEventListSettings(Section(shipped), 1, kDpi);
    EXPECT_TRUE(syslog.Has(kListAutoscroll));
    EXPECT_EQ(syslog.param & ~kListAutoscroll, kListSortable | kListColorScheme | kListResolveNames);
    EXPECT_EQ(kNewWindowParam & kListAutoscroll, 0);
}

TEST(EventListSettings, LegacyRecordIsDecodedAndTheSelectionStillReadFromItsKeys) {
    std::vector<uint8_t> record(kEventListLegacySize, 0);
    Put(record, 0, int32_t(-16)), Put(record, 4, int32_t(2));
    for (uint32_t i = 0; i < 5; ++i) Put(record, 8 + 4 * i, 60 + i), Put(record, 28 + 4 * i, uint32_t(20));
    Put(record, 48, uint32_t(500)), Put(record, 52, uint32_t(3000));
    Put(record, 56, uint8_t(0x90)), Put(record, 57, uint8_t(0x20)), Put(record, 58, uint8_t(0xFF));

    core::SettingsSection s = Section();
    s.File().WriteStruct(kEventListSection, "WND-812345", record);
    s.File().WriteStruct(kEventListSection, "Wnd.812345.Rule-Size", std::vector<uint8_t>{1, 0, 0, 0});
    s.File().WriteStruct(kEventListSection, "Wnd.812345.Rule.0-ID", std::vector<uint8_t>{9, 0, 0, 0, 0, 0, 0, 0});
    const EventListSettings got = LoadEventListSettings(s, kUid, kDpi);
    EXPECT_EQ(std::tie(got.fontHeight, got.sortDirection, got.mainTimer, got.statusTimer, got.param, got.eventParam),
              std::tuple(-16, 2, 500u, 3000u, 0x90, 0x20));
    EXPECT_EQ(got.colSize, (FiveValues{60, 61, 62, 63, 64}));
    EXPECT_EQ(got.rules, std::vector<uint64_t>{9});
}

TEST(EventListSettings, RawValuesAreClampedToSaneRanges) {
    EventListSettings s;
    s.fontHeight = -2;            // 1 point
    s.sortDirection = 10;         // no such column
    s.colSize = {0, 100000, 5, 0, 0};
    s.headerColSize = {0, 100000, 5, 0, 0};
    s.sbarParts = {0, 0, 0, 0, 0};
    s.mainTimer = 0, s.statusTimer = 0xFFFFFFFF;
    s.Clamp(kDpi);
    EXPECT_EQ(std::tie(s.fontHeight, s.sortDirection, s.mainTimer, s.statusTimer),
              std::tuple(-7, 0, kMinTimerMs, kMaxTimerMs));  // 5 points at 96 dpi
    EXPECT_EQ(s.colSize, (FiveValues{0, kMaxColumnWidth, 5, 0, 0}));
    // A header column shown at width 0 could not be seen: its default width.
    EXPECT_EQ(s.headerColSize, (HeaderColumnWidths{130, kMaxColumnWidth, 5, 60, 90}));
    EXPECT_EQ(s.sbarParts, EventListSettings{}.sbarParts);
    s.sortDirection = -kColumnMsgId;
    s.Clamp(kDpi);
    EXPECT_EQ(s.sortDirection, -kColumnMsgId);

    s.fontHeight = -500;
    s.sbarParts = {250, 0, 0, 0, 0};
    s.Clamp(kDpi);
    EXPECT_EQ(s.fontHeight, -67);  // 50 points
    EXPECT_EQ(s.sbarParts[0], 100u);
    // 0 means the core font and all-zero widths mean "leave the columns": both stay.
    s.fontHeight = 0;
    s.colSize = {};
    s.Clamp(kDpi);
    EXPECT_EQ(s.fontHeight, 0);
    EXPECT_EQ(s.colSize, FiveValues{});
}

// A file written before the header's columns: every list shows what it
// showed, and writing it back leaves each of its keys as it was.
TEST(EventListSettings, AnOlderFileLoadsAsItDidAndKeepsTheBytesOfItsKeys) {
    const auto older = platform::ProfileFile::Load(std::filesystem::path(QM_SOURCE_DIR) /
                                                   "scripts/screenshots/home/Settings/mod_window.ini");
    const core::SettingsSection before = Section(older);
    core::SettingsSection after = Section(older);
    for (uint64_t uid : {1, 2, 5}) {
        SCOPED_TRACE(uid);
        const EventListSettings s = LoadEventListSettings(before, uid, kDpi);
        EXPECT_EQ(s.columns, 0) << "no header column, the whole message";
        EXPECT_EQ(ShownColumns(s.columns), ShownColumns(0));
        EXPECT_EQ(s.headerColSize, EventListSettings{}.headerColSize);
        SaveEventListSettings(after, uid, s);
        EXPECT_EQ(LoadEventListSettings(Section(after.File()), uid, kDpi), s);
    }
    EXPECT_EQ(LoadEventListSettings(before, 2, kDpi).sortDirection, -2) << "sorted by sender as before";
    for (const std::string& key : older.Keys(kEventListSection))
        EXPECT_EQ(after.File().Get(kEventListSection, key), older.Get(kEventListSection, key)) << key;
    EXPECT_EQ(after.File().Get(kEventListSection, "Wnd.5-Columns"), "0000");
}

}  // namespace
}  // namespace qm::windows
