#include "processing/rules/rules_module.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/core_context.h"
#include "processing/processing_test_support.h"
#include "support/temp_dir.h"

namespace qm::processing {
namespace {

using test::Put;

constexpr const char* kSection = "mod_rules";

core::EventRecord Event(std::string message) { return test::Event("10.0.0.1", std::move(message)); }

Rule On(uint64_t uid, std::string pattern, uint16_t param = 0, uint32_t background = 0) {
    Rule r;
    r.enable = 1;
    r.uid = uid;
    r.inCond1 = kCondMessage;
    r.strInCond1 = std::move(pattern);
    r.param = param;
    r.outColor = {background, 0};
    return r;
}

class RulesModuleTest : public ::testing::Test {
protected:
    core::SettingsSection Open() { return config_.Open(kSection, kSection); }
    uint64_t UidOf(std::optional<size_t> slot) { return rules_.RuleAt(*slot)->record.uid; }

    qm::testing::TempDir home_{"qm-rules"};
    core::Config config_{home_.path()};
    core::CoreContext core_;
    RulesModule rules_{core_};
};

TEST_F(RulesModuleTest, CurrentFormRoundTripWritesLiveRecordsRenumbered) {
    const Rule full{1, "Ядро 𝄞", 77, 0xFFE0, kExcept, kCondMessage, "ошибка", 5, kCondSender, "10.0.0.", 6,
                    {0x112233, 0x445566}, "вырезать", kOutMessage, "/opt/bin/notify"};
    const MatchList list{1, 5, "Хосты", {"a", "", "Привет"}};
    rules_.AddRule(On(0, "gone"));
    rules_.AddRule(full);
    rules_.DeleteRule(0);
    rules_.AddList(MatchList{1, 0, "gone", {"x"}});
    rules_.AddList(list);
    rules_.DeleteList(0);
    ColorScheme scheme = ColorScheme::Defaults();
    scheme.text[9] = 0xABCDEF;
    ASSERT_TRUE(rules_.SetScheme(scheme));

    core::SettingsSection saving = config_.BeginSave(kSection, kSection);
    rules_.SaveTo(saving);
    ASSERT_TRUE(saving.Commit());
    RulesModule again(core_);
    const core::SettingsSection s = Open();
    again.Load(s);
    EXPECT_EQ(s.File().Get(kSection, "Item.0-Param"), "E0FFDF");
    EXPECT_EQ(s.File().Get(kSection, "List.0-item.2-StrValue"), "Привет");
    EXPECT_FALSE(s.File().Get(kSection, "Item.1-UID"));
    ASSERT_EQ(again.RuleCount(), 1u);
    EXPECT_EQ(again.RuleAt(0)->record, full);
    ASSERT_EQ(again.ListCount(), 1u);
    EXPECT_EQ(again.ListAt(0)->record, list);
    EXPECT_EQ(again.Scheme(), scheme);
}

TEST_F(RulesModuleTest, LegacyFormIsDecodedFromItsRecordLayouts) {
    {
        core::SettingsSection s = Open();
        s.File().WriteString(kSection, "Count", "2");
        std::vector<uint8_t> item(kLegacyRuleSize, 0), list(kLegacyListSize, 0), entry(kLegacyEntrySize, 0);
        Put<uint8_t>(item, 0, 1), Put(item, 2, "Старое"), Put<uint64_t>(item, 72, 0x0102030405060708);
        Put<uint16_t>(item, 80, 0xA340), Put<uint8_t>(item, 82, kOr), Put<uint8_t>(item, 83, kCondMessage);
        Put(item, 84, "link"), Put<uint64_t>(item, 216, 31), Put<uint8_t>(item, 224, kCondArchive);
        Put(item, 226, "two"), Put<uint64_t>(item, 360, 32), Put<uint32_t>(item, 368, 0x00FF00);
        Put<uint32_t>(item, 372, 0x0000FF), Put(item, 376, "out"), Put<uint8_t>(item, 504, kOutMessage);
        Put(item, 506, "/usr/bin/logger");
        s.File().WriteStruct(kSection, "Item.0", item);
        s.File().WriteStruct(kSection, "Item.1", std::vector<uint8_t>(kLegacyRuleSize, 0));  // saved before UIDs
        Put<uint8_t>(list, 0, 1), Put<uint64_t>(list, 8, 31), Put(list, 16, "Список"), Put<uint32_t>(list, 80, 3);
        s.File().WriteStruct(kSection, "List.0", list);
        Put(entry, 0, "first");
        s.File().WriteStruct(kSection, "List.0-item.0", entry);
        Put(entry, 0, "third");  // the second is missing: no entry, not an empty one
        s.File().WriteStruct(kSection, "List.0-item.2", entry);
        ASSERT_TRUE(s.Commit());
    }
    rules_.Load(Open());
    ASSERT_EQ(rules_.RuleCount(), 2u);
    EXPECT_NE(rules_.RuleAt(1)->record.uid, 0u);
    EXPECT_EQ(rules_.RuleAt(0)->record, (Rule{1, "Старое", 0x0102030405060708, 0xA340, kOr, kCondMessage, "link", 31,
                                              kCondArchive, "two", 32, {0x00FF00, 0x0000FF}, "out", kOutMessage,
                                              "/usr/bin/logger"}));
    ASSERT_EQ(rules_.ListCount(), 1u);
    EXPECT_EQ(rules_.ListAt(0)->record, (MatchList{1, 31, "Список", {"first", "third"}}));
    EXPECT_EQ(rules_.Scheme(), ColorScheme::Defaults());
}

TEST_F(RulesModuleTest, SchemeNeedsItsBackgroundsAndListSizesAreBounded) {
    {
        core::SettingsSection s = config_.BeginSave(kSection, kSection);
        s.File().WriteStruct(kSection, "Common.LogTypeTextColor", std::vector<uint8_t>(40, 0x11));
        s.File().WriteStruct(kSection, "ListCount", std::vector<uint8_t>{1, 0, 0, 0});
        s.File().WriteStruct(kSection, "List.0-ListSize", std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF});
        s.File().WriteString(kSection, "List.0-item.1-StrValue", "kept");
        s.File().WriteString(kSection, "List.0-item.70000-StrValue", "beyond the bound");
        ASSERT_TRUE(s.Commit());
    }
    rules_.Load(Open());
    EXPECT_EQ(rules_.Scheme(), ColorScheme::Defaults());
    EXPECT_EQ(rules_.ListAt(0)->record.entries, std::vector<std::string>{"kept"});
}

TEST_F(RulesModuleTest, CountsBeyondTheWrittenRecordsBringNoGhosts) {
    {
        core::SettingsSection s = config_.BeginSave(kSection, kSection);
        s.File().WriteStruct(kSection, "ItemCount", std::vector<uint8_t>{3, 0, 0, 0});
        s.File().WriteString(kSection, "Item.1-StrName", "only this one");
        s.File().WriteStruct(kSection, "ListCount", std::vector<uint8_t>{2, 0, 0, 0});
        s.File().WriteStruct(kSection, "List.1-ListSize", std::vector<uint8_t>{1, 0, 0, 0});
        s.File().WriteString(kSection, "List.1-item.0-StrValue", "entry");
        ASSERT_TRUE(s.Commit());
    }
    rules_.Load(Open());
    ASSERT_EQ(rules_.RuleCount(), 1u);
    EXPECT_EQ(rules_.RuleAt(0)->record.name, "only this one");
    ASSERT_EQ(rules_.ListCount(), 1u);
    EXPECT_EQ(rules_.ListAt(0)->record.entries, std::vector<std::string>{"entry"});
}

TEST_F(RulesModuleTest, FiveHundredRecordsFreeSlotReuseAndFieldCapacities) {
    for (int i = 0; i < 500; ++i) ASSERT_EQ(rules_.AddRule(On(0, "r")), size_t(i));
    EXPECT_FALSE(rules_.AddRule(On(0, "one too many")));
    EXPECT_EQ(rules_.RuleCount(), 500u);
    ASSERT_TRUE(rules_.DeleteRule(123));
    Rule longer = On(0, std::string(70, 'p'));
    longer.name = std::string(30, 'n') + "𝄞";  // the pair would need units 31 and 32
    EXPECT_EQ(rules_.AddRule(longer), 123u);
    EXPECT_EQ(rules_.RuleAt(123)->record.strInCond1, std::string(63, 'p'));
    EXPECT_EQ(rules_.RuleAt(123)->record.name, std::string(30, 'n'));

    for (int i = 0; i < 500; ++i) ASSERT_TRUE(rules_.AddList(MatchList{}));
    EXPECT_FALSE(rules_.AddList(MatchList{}));
    EXPECT_FALSE(rules_.ReplaceList(0, MatchList{1, 0, "", std::vector<std::string>(kMaxListEntries + 1)}));
}

TEST_F(RulesModuleTest, NewUidsAreDistinctAndNeverZero) {
    // An epoch in the future puts every record made here at second 0.
    core_.settings.beginUtc = platform::UnixSecondsNow() + 3600;
    EXPECT_EQ(UidOf(rules_.AddRule(On(0, "r"))), 1u);
    EXPECT_EQ(UidOf(rules_.AddRule(On(0, "r"))), 2u);
    ASSERT_TRUE(rules_.ReplaceRule(0, On(0, "r")));
    EXPECT_EQ(UidOf(0), 3u);
    EXPECT_EQ(UidOf(rules_.AddRule(On(2, "r"))), 2u);  // a given UID is kept
    core_.settings.beginUtc = 0;
    const uint64_t a = UidOf(rules_.AddRule(On(0, "r")));
    EXPECT_NE(UidOf(rules_.AddRule(On(0, "r"))), a);
    EXPECT_GE(a, platform::UnixSecondsNow() - 5);
}

TEST_F(RulesModuleTest, ChangesFailWhileTheLockIsHeldElsewhere) {
    std::atomic<bool> held{false}, release{false};
    std::thread holder([&] {
        platform::GuardedLock lock(rules_.Lock(), core_.counters.locks, platform::Blocking::Yes);
        held = true;
        while (!release) std::this_thread::yield();
    });
    while (!held) std::this_thread::yield();
    EXPECT_FALSE(rules_.AddRule(On(0, "r")));
    EXPECT_FALSE(rules_.SetScheme(ColorScheme{}));
    EXPECT_EQ(core_.counters.locks.collisions, 2u);
    release = true;
    holder.join();
    EXPECT_EQ(rules_.RuleCount(), 0u);
}

TEST_F(RulesModuleTest, SelectionOrderContinueAndDoNotAdd) {
    rules_.AddRule(On(1, "disk", kColorAction | kContinue, 0x0000FF));
    rules_.AddRule(On(2, "disk", kColorAction, 0x00FF00));
    rules_.AddRule(On(3, "cpu", kColorAction, 0xFF0000));
    rules_.AddRule(On(4, "disk", kColorAction, 0x0000FF));
    Rule disabled = On(5, "disk", kColorAction, 0x123456);
    disabled.enable = 0;
    rules_.AddRule(disabled);
    rules_.AddRule(On(6, "disk", kColorAction | kDoNotAdd, 0x654321));
    const auto e = Event("disk full");

    RuleOutcome out = rules_.Apply(e, std::vector<uint64_t>{3, 1, 2});
    EXPECT_EQ(out.colors->background, 0x00FF00u);
    EXPECT_EQ(out.rulesMatched, 2u);
    out = rules_.Apply(e, std::vector<uint64_t>{4, 2});
    EXPECT_EQ(out.colors->background, 0x0000FFu);
    EXPECT_EQ(out.rulesMatched, 1u);
    EXPECT_EQ(rules_.Apply(e, std::vector<uint64_t>{5, 99, 6}).rulesMatched, 0u);

    // A do-not-add rule counts wherever it stands; no other rule does.
    EXPECT_TRUE(rules_.DoNotAdd(e, std::vector<uint64_t>{4, 6}));
    EXPECT_FALSE(rules_.DoNotAdd(e, std::vector<uint64_t>{4, 2}));
    EXPECT_FALSE(rules_.DoNotAdd(Event("fan"), std::vector<uint64_t>{6}));
}

TEST_F(RulesModuleTest, ReplacedAndDeletedListsTakeEffectAtOnce) {
    const size_t slot = *rules_.AddList(MatchList{1, 50, "hosts", {"alpha"}});
    rules_.AddRule(On(1, "fallback", kColorAction | kUseList1));
    Rule r = *rules_.FindRule(1);
    r.inListId1 = 50;
    ASSERT_TRUE(rules_.ReplaceRule(0, r));
    const std::vector<uint64_t> selection{1};
    EXPECT_TRUE(rules_.Apply(Event("alpha up"), selection).colors);
    ASSERT_TRUE(rules_.ReplaceList(slot, MatchList{1, 50, "hosts", {"beta"}}));
    EXPECT_FALSE(rules_.Apply(Event("alpha up"), selection).colors);
    EXPECT_TRUE(rules_.Apply(Event("beta up"), selection).colors);
    ASSERT_TRUE(rules_.DeleteList(slot));
    EXPECT_TRUE(rules_.Apply(Event("fallback"), selection).colors);
    ASSERT_TRUE(rules_.DeleteRule(0));
    EXPECT_FALSE(rules_.Apply(Event("fallback"), selection).colors);
}

// The sets as an editor sees them, by field names only: list entries edited
// one by one take effect at once, and an edit made from a copy someone has
// changed since is refused.
TEST_F(RulesModuleTest, RecordSetsEditListEntriesAndRefuseStaleCopies) {
    using core::RecordSet;
    core::RecordSets& sets = *rules_.Records();
    core::RecordCopy list = sets.Blank({RecordSet::List});
    ASSERT_TRUE(list.Set("StrName", "hosts") && list.Set("UID", "50") && list.Set("Enable", "1"));
    ASSERT_TRUE(sets.Add({RecordSet::List}, list));
    ASSERT_TRUE(rules_.AddRule([] { Rule r = On(1, "", kColorAction | kUseList1); r.inListId1 = 50; return r; }()));
    const std::vector<uint64_t> selection{1};

    const core::SetRef entries{RecordSet::Entry, 0};
    core::RecordCopy entry = sets.Blank(entries);
    ASSERT_TRUE(entry.Set("StrValue", "alpha"));
    ASSERT_TRUE(sets.Add(entries, entry));
    ASSERT_TRUE(entry.Set("StrValue", "beta"));
    ASSERT_TRUE(sets.Add(entries, entry));
    EXPECT_TRUE(rules_.Apply(Event("alpha up"), selection).colors);

    const core::RecordCopy first = sets.Copy(entries)->at(0);
    core::RecordCopy gone = first;
    gone.deleted = true;
    ASSERT_TRUE(sets.Replace(entries, 0, gone, first));
    EXPECT_FALSE(rules_.Apply(Event("alpha up"), selection).colors);
    EXPECT_EQ(sets.Copy(entries)->at(0).Get("StrValue"), "beta");
    // The copy of "alpha" no longer describes slot 0.
    EXPECT_FALSE(sets.Replace(entries, 0, entry, first));
    EXPECT_FALSE(sets.Copy({RecordSet::Entry, 7}));

    // The colour scheme is the module's common block.
    core::RecordCopy scheme = *sets.CopyCommon();
    const core::RecordCopy before = scheme;
    ASSERT_TRUE(scheme.Set("LogTypeBgColor", std::string(80, '0')));
    ASSERT_TRUE(sets.Replace({RecordSet::Common}, 0, scheme, before));
    EXPECT_EQ(rules_.Scheme().background[0], 0u);
    EXPECT_FALSE(sets.Replace({RecordSet::Common}, 0, before, before));
}

}  // namespace
}  // namespace qm::processing
