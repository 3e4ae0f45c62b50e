// The window table and its settings: both stored forms, UIDs, the 500-entry
// limit and free slots, Replace.
#include <gtest/gtest.h>

#include <set>

#include "platform/clock.h"
#include "platform/profile_file.h"
#include "processing/processing_test_support.h"
#include "windows/window_module/window_module_test_support.h"

namespace qm::windows::test {
namespace {

using processing::test::Put;

TEST_F(WindowModuleTest, SettingsRoundTripInTheCurrentFormAndDecodeTheLegacyRecord) {
    {
        auto module = Loaded(nullptr);
        WindowEntry graph =
            Window(std::string(30, 'a') + "\xF0\x9F\x98\x80", 0xB000, kWindowGraph, Rect{-1920, 10, -1000, 700});
        graph.icon = 53;
        graph.uid = 77;
        ASSERT_EQ(module->AddWindow(graph), 0u);
        ASSERT_EQ(module->AddWindow(Window("gone", 0x1000)), 1u);
        Remove(*module, 1);
        ASSERT_TRUE(module->SaveSection());
    }
    auto module = Loaded(nullptr);
    ASSERT_EQ(module->EntryCount(), 1u) << "a removed entry is not written";
    WindowEntry e = *module->Entry(0);
    EXPECT_EQ(e.name, std::string(30, 'a')) << "32 units do not fit: the surrogate pair goes whole";
    EXPECT_EQ(std::tie(e.enable, e.param, e.type, e.icon, e.uid), std::tuple(1, 0xB000, kWindowGraph, 53u, 77u));
    EXPECT_EQ(e.rect, (Rect{-1920, 10, -1000, 700}));

    std::vector<uint8_t> record(kLegacyWindowEntrySize, 0);
    Put(record, 0, uint8_t(1));
    Put(record, 2, "Журнал");
    Put(record, 66, uint16_t(0x3000));
    Put(record, 68, uint8_t(kWindowInfoBox));
    for (int32_t edge = 0; edge < 4; ++edge) Put(record, 72 + 4 * edge, int32_t(-5 + 200 * edge));
    Put(record, 88, uint32_t(28));
    Put(record, 96, uint64_t(123456789012));
    platform::ProfileFile legacy;
    legacy.WriteString("mod_window", "Count", "1");
    legacy.WriteStruct("mod_window", "Item.0", record);
    ASSERT_TRUE(legacy.Save(dir_.path() / "mod_window.ini"));
    module = Loaded(nullptr);
    ASSERT_EQ(module->EntryCount(), 1u);
    e = *module->Entry(0);
    EXPECT_EQ(std::tie(e.enable, e.name, e.param, e.type, e.icon, e.uid),
              std::tuple(1, "Журнал", 0x3000, kWindowInfoBox, 28u, 123456789012u));
    EXPECT_EQ(e.rect, (Rect{-5, 195, 395, 595}));
}

TEST_F(WindowModuleTest, UidsAreUniqueAndNeverZeroWhenMadeWithinOneSecondOrReadFromAFile) {
    core_.settings.beginUtc = platform::UnixSecondsNow() + 100000;  // every new UID would be 0
    auto module = Loaded(&system_);
    std::set<uint64_t> uids{0};
    for (int i = 0; i < 4; ++i) uids.insert(module->Entry(*module->AddWindow(Window("w", 0)))->uid);
    WindowEntry copy = Window("copy", 0);
    copy.uid = *uids.rbegin();  // would route its events to another window
    uids.insert(module->Entry(*module->AddWindow(copy))->uid);
    EXPECT_EQ(uids.size(), 6u);

    // Stored zero and repeated UIDs are renewed; the first holder keeps its.
    platform::ProfileFile ini;
    ini.WriteString("mod_window", "Version", "2");
    ini.WriteStruct("mod_window", "ItemCount", std::vector<uint8_t>{3, 0, 0, 0});
    for (int i = 0; i < 3; ++i) {
        const std::string p = "Item." + std::to_string(i) + "-";
        ini.WriteStruct("mod_window", p + "Type", std::vector<uint8_t>{1});
        ini.WriteStruct("mod_window", p + "UID", std::vector<uint8_t>{uint8_t(i ? 9 : 0), 0, 0, 0, 0, 0, 0, 0});
    }
    ASSERT_TRUE(ini.Save(dir_.path() / "mod_window.ini"));
    module = Loaded(nullptr);
    ASSERT_EQ(module->EntryCount(), 3u);
    EXPECT_EQ(module->Entry(1)->uid, 9u);
    EXPECT_EQ((std::set<uint64_t>{0, 9, module->Entry(0)->uid, module->Entry(2)->uid}).size(), 4u);
}

TEST_F(WindowModuleTest, AFullTableRefusesAndARemovedSlotIsTakenOverWithANewWindow) {
    auto module = Loaded(nullptr);
    for (size_t i = 0; i < core::kMaxRecords; ++i) ASSERT_TRUE(module->AddWindow(Window("w", 0))) << i;
    EXPECT_FALSE(module->AddWindow(Window("one too many", 0)));
    Remove(*module, 7);
    EXPECT_EQ(module->AddWindow(Window("reused", 0)), 7u);
    EXPECT_EQ(module->EntryCount(), core::kMaxRecords);

    module = Loaded(&system_);
    ASSERT_EQ(module->AddWindow(Window("old", 0x1000)), 0u);
    const uint64_t oldUid = module->Entry(0)->uid;
    Remove(*module, 0);
    ASSERT_EQ(module->AddWindow(Window("new", 0x1000)), 0u);
    const auto old = system_.Frame(oldUid);
    EXPECT_TRUE(old->destroyed);
    EXPECT_EQ(old->typeSavesAtDestruction, 0) << "a removed window's settings are not kept";
    EXPECT_NE(module->Entry(0)->uid, oldUid);
    EXPECT_TRUE(system_.Frame(module->Entry(0)->uid)->visible);
}

TEST_F(WindowModuleTest, ReplaceCopiesTheCommonFieldsKeepsTypeRectAndUidAndCountsABadNumber) {
    auto module = Loaded(&system_);
    ASSERT_EQ(module->AddWindow(Window("before", 0, kWindowEventList, Rect{10, 10, 610, 410})), 0u);
    const uint64_t uid = module->Entry(0)->uid;
    WindowEntry change = Window("after", 0x5000, kWindowGraph, Rect{0, 0, 900, 900});
    change.uid = uid + 1000;
    ASSERT_TRUE(module->ReplaceWindow(0, change));
    const WindowEntry e = *module->Entry(0);
    EXPECT_EQ(std::tie(e.name, e.param, e.type, e.uid), std::tuple("after", 0x5000, kWindowEventList, uid));
    EXPECT_EQ(e.rect, (Rect{10, 10, 610, 410}));
    const auto frame = system_.Frame(uid);
    EXPECT_EQ(frame->title, "after");
    EXPECT_EQ(frame->onTop, true);
    EXPECT_TRUE(frame->visible);

    const uint64_t errors = core_.counters.errors;
    EXPECT_FALSE(module->ReplaceWindow(1, change));
    EXPECT_EQ(core_.counters.errors, errors + 1);

    // Through the record sets, by field names: the same rules, and an edit
    // of a copy that no longer matches the entry is refused.
    core::RecordSets& sets = *module->Records();
    const core::RecordCopy original = sets.CopyItems()->at(0);
    core::RecordCopy edit = original;
    ASSERT_TRUE(edit.Set("Name", "edited") && edit.Set("Type", "2"));
    ASSERT_TRUE(sets.ReplaceItem(0, edit, original));
    EXPECT_EQ(std::tie(module->Entry(0)->name, module->Entry(0)->type), std::tuple("edited", kWindowEventList));
    EXPECT_EQ(frame->title, "edited");
    EXPECT_FALSE(sets.ReplaceItem(0, original, original));
    edit = *sets.CopyItems()->data();
    edit.deleted = true;
    ASSERT_TRUE(sets.ReplaceItem(0, edit, *sets.CopyItems()->data()));
    EXPECT_FALSE(module->Entry(0)->Active());
}

}  // namespace
}  // namespace qm::windows::test
