// The rules: matching and actions on their own, the module's records and
// settings, and programs a rule starts, with every text one argument.
#include "processing/rules/rules_module.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <random>
#include <thread>

#include "core/core_context.h"
#include "processing/processing_test_support.h"
#include "processing/rules/rule_match.h"
#include "support/temp_dir.h"

namespace qm::processing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;
using test::Event;
using test::Put;

constexpr const char* kRulesSection = "mod_rules";

// A condition on its own, for matching.
Rule Cond(uint8_t kind, std::string pattern, uint16_t param = 0, uint64_t list = 0) {
    Rule r;
    r.inCond1 = kind;
    r.strInCond1 = std::move(pattern);
    r.param = param;
    r.inListId1 = list;
    return r;
}

// An enabled rule on the message, for the module.
Rule On(uint64_t uid, std::string pattern, uint16_t param = 0, uint32_t background = 0) {
    Rule r = Cond(kCondMessage, std::move(pattern), param);
    r.enable = 1;
    r.uid = uid;
    r.outColor = {background, 0};
    return r;
}

core::EventRecord Message(std::string message) { return Event("10.0.0.1", std::move(message)); }

TEST(RulesMatch, TextConditionsWholeSubstringAndLeadingStar) {
    const auto e = Event("10.1.2.3", "Link down on port Gi0/1");
    const std::tuple<uint8_t, const char*, uint16_t, bool> cases[] = {
        {kCondMessage, "down on", 0, true},
        {kCondMessage, "Down on", 0, false},
        {kCondMessage, "Link down on port Gi0/", kWholeString1, false},
        {kCondMessage, "Link down on port Gi0/1", kWholeString1, true},
        {kCondSender, "Link", 0, false},
        {kCondMessage, "*zzz", kWholeString1, true},
        {kCondMessage, "Link*", 0, false},
        {kCondMessage, "", 0, true}};
    for (const auto& [kind, pattern, param, expected] : cases) EXPECT_EQ(MatchRule(Cond(kind, pattern, param), e, {}), expected) << pattern;
    EXPECT_FALSE(MatchRule(Cond(kCondMessage, "*"), Event("10.1.2.3", ""), {}));  // no message to test
    EXPECT_TRUE(MatchRule(Cond(kCondMessage, "ошибка диска"), Event("h", "<3> ошибка диска sda"), {}));
}

TEST(RulesMatch, AnIpv6SenderMatchesItsAddressHoweverTheRuleSpellsIt) {
    const auto e = Event("2001:db8::7", "m");
    EXPECT_TRUE(MatchRule(Cond(kCondSender, "2001:0DB8:0:0::7", kWholeString1), e, {}));
    EXPECT_TRUE(MatchRule(Cond(kCondSender, "[2001:db8::7]", kWholeString1), e, {}));
    EXPECT_FALSE(MatchRule(Cond(kCondSender, "2001:db8::8", kWholeString1), e, {}));
    EXPECT_TRUE(MatchRule(Cond(kCondSender, "2001:db8:", 0), e, {}));  // a part of the text, as for IPv4
    EXPECT_FALSE(MatchRule(Cond(kCondSender, "2001:0db8:", 0), e, {}));
}

TEST(RulesMatch, SeverityAndTypeKinds) {
    for (uint32_t severity : {0u, 3u, 7u, 8u, core::kNoSeverity}) {
        for (uint8_t kind = kCondSeverityFirst; kind <= kCondSeverityUnknown; ++kind) {
            const bool expected = kind == kCondSeverityUnknown ? severity == core::kNoSeverity : kind - 2u == severity;
            EXPECT_EQ(MatchRule(Cond(kind, ""), Event("h", "m", severity), {}), expected) << int(kind) << " " << severity;
        }
    }
    const uint32_t bits[] = {core::kEventSystem, core::kEventExternal, core::kEventInternal, core::kEventArchive};
    for (uint8_t kind = kCondSystem; kind <= kCondArchive; ++kind) {
        for (uint32_t type : bits) EXPECT_EQ(MatchRule(Cond(kind, ""), Event("h", "m", 6, type), {}), bits[kind - kCondSystem] == type);
    }
    EXPECT_FALSE(MatchRule(Cond(18, ""), Event("h", "m"), {}));
}

// Host, application and message id come from the message's header; a
// message without one has nothing to test, so even "*" does not match it.
TEST(RulesMatch, HeaderFieldConditions) {
    core::EventRecord e = Event("10.0.0.9", "1 2024-05-01T10:00:00Z core-sw sshd 812 LOGIN_FAIL - bad password");
    e.ReadHeader();
    ListTable lists;
    lists.Add(MatchList{1, 7, "shells", {"telnetd", "sshd"}});
    EXPECT_TRUE(MatchRule(Cond(kCondHost, "core-"), e, {}));
    EXPECT_FALSE(MatchRule(Cond(kCondHost, "core-", kWholeString1), e, {}));
    EXPECT_TRUE(MatchRule(Cond(kCondApp, "sshd", kWholeString1), e, {}));
    EXPECT_TRUE(MatchRule(Cond(kCondApp, "x", kUseList1 | kWholeString1, 7), e, lists));
    EXPECT_TRUE(MatchRule(Cond(kCondMsgId, "LOGIN_FAIL", kWholeString1), e, {}));
    EXPECT_FALSE(MatchRule(Cond(kCondMsgId, "812"), e, {}));
    core::EventRecord plain = Event("10.0.0.9", "core-sw sshd LOGIN_FAIL");
    plain.ReadHeader();
    for (uint8_t kind : {kCondHost, kCondApp, kCondMsgId}) EXPECT_FALSE(MatchRule(Cond(kind, "*"), plain, {})) << int(kind);
}

TEST(RulesMatch, ListConditionsAndTheirFallback) {
    ListTable lists;
    lists.Add(MatchList{0, 7, "disabled", {"10.9."}});
    lists.Add(MatchList{1, 7, "edge", {"edge-rt", "10.1."}});
    lists.Add(MatchList{1, 8, "z", {"zzz"}});
    lists.MarkDeleted(*lists.Add(MatchList{1, 9, "deleted", {"10.1."}}));
    const auto matches = [&](const Rule& r, const char* sender, const char* message = "m") {
        return MatchRule(r, Event(sender, message), lists);
    };
    EXPECT_TRUE(matches(Cond(kCondSender, "x", kUseList1, 7), "10.1.2.3"));
    EXPECT_FALSE(matches(Cond(kCondSender, "x", kUseList1, 7), "10.9.2.3"));
    EXPECT_FALSE(matches(Cond(kCondSender, "x", kUseList1 | kWholeString1, 7), "10.1.2.3"));
    EXPECT_TRUE(matches(Cond(kCondSender, "x", kUseList1 | kWholeString1, 7), "edge-rt"));
    EXPECT_FALSE(matches(Cond(kCondSender, "x", 0, 7), "10.1.2.3"));  // list flag off
    for (uint64_t uid : {9, 404}) {  // deleted or missing: the pattern counts
        EXPECT_TRUE(matches(Cond(kCondSender, "10.1.", kUseList1, uid), "10.1.2.3"));
        EXPECT_FALSE(matches(Cond(kCondSender, "10.1.", kUseList1, uid), "10.7.2.3"));
    }
    Rule two = Cond(kCondSender, "*", kUseList2 | kWholeString2);
    two.inMatch = kAnd;
    two.inCond2 = kCondMessage;
    two.inListId2 = 8;
    EXPECT_TRUE(matches(two, "h", "zzz"));
    EXPECT_FALSE(matches(two, "h", "zzzz"));
}

TEST(RulesMatch, CombinationsOfTwoConditions) {
    const auto e = Message("disk full");
    for (bool c1 : {false, true}) {
        for (bool c2 : {false, true}) {
            Rule r = Cond(kCondMessage, c1 ? "disk" : "cpu");
            r.inCond2 = kCondSender;
            r.strInCond2 = c2 ? "10.0.0.1" : "10.0.0.2";
            const bool expected[] = {c1, c1 && c2, c1 || c2, c1 && !c2, false};
            for (uint8_t mode = 0; mode <= 4; ++mode) {
                r.inMatch = mode;
                EXPECT_EQ(MatchRule(r, e, {}), expected[mode]) << int(mode) << c1 << c2;
            }
        }
    }
}

// The prepared list must answer as trying entries one by one does, with
// overlapping entries, entries inside entries and repeated prefixes.
TEST(MatchListIndex, AgreesWithEntryByEntrySearch) {
    std::mt19937 random(12345);
    auto text = [&](size_t maxLength) {
        std::string s(random() % (maxLength + 1), ' ');
        for (char& c : s) c = "abc\xD0\xBF"[random() % 5];
        return s;
    };
    for (int round = 0; round < 400; ++round) {
        std::vector<std::string> entries;
        for (size_t n = random() % 12; n > 0; --n) entries.push_back(text(5));
        const ListIndex index(entries);
        for (int probe = 0; probe < 40; ++probe) {
            const std::string subject = text(14);
            bool occurs = false, equals = false;
            for (const auto& entry : entries) {
                occurs = occurs || subject.find(entry) != std::string::npos;
                equals = equals || subject == entry;
            }
            ASSERT_EQ(index.AnyOccursIn(subject), occurs) << subject;
            ASSERT_EQ(index.AnyEquals(subject), equals) << subject;
        }
    }
}

TEST(RulesActions, CutAndReplaceOverEarlierRulesAndStartOnlyForNetworkAndPollerEvents) {
    EXPECT_EQ(CutText("ab-xy-ab-xy", "xy"), "ab- -ab- ");
    EXPECT_EQ(CutText("aaa", "aa"), " a");
    EXPECT_EQ(CutText("unchanged", ""), "unchanged");
    EXPECT_EQ(CutText("Привет, мир; привет 𝄞", "ривет"), "П , мир; п  𝄞");

    const auto e = Message("id=1 user=root");
    RuleOutcome out;
    Rule cut = Cond(kCondMessage, "*", kTextAction | kCutText | kColorAction);
    cut.outTextMode = kOutMessage;
    cut.outColor = {0x0000FF, 0xFFFFFF};
    // Each cut starts again from the event's own message; an empty one changes nothing.
    for (const char* part : {"id=", "root", ""}) {
        cut.strOutText = part;
        ApplyTextAndColor(cut, e, out);
        if (*part != 'i') {
            EXPECT_EQ(out.message, "id=1 user= ") << part;
        }
    }
    Rule sender = Cond(kCondMessage, "*", kTextAction | kCutText);
    sender.strOutText = "core router";
    ApplyTextAndColor(sender, e, out);
    EXPECT_EQ(out.sender, "core router");
    EXPECT_EQ(out.message, "id=1 user= ");
    EXPECT_EQ(out.colors, (RuleColors{0x0000FF, 0xFFFFFF}));

    Rule start = Cond(kCondMessage, "*", kStartProgram);
    start.startCmd = "/opt/handler";
    for (uint32_t type : {core::kEventExternal, core::kEventInternal, core::kEventSystem, core::kEventArchive})
        EXPECT_EQ(WantsStart(start, Event("h", "m", 6, type)), type == core::kEventExternal || type == core::kEventInternal);
    start.startCmd.clear();
    EXPECT_FALSE(WantsStart(start, Event("h", "m", 6, core::kEventExternal)));
}

TEST(RulesActions, ColourChoiceOrder) {
    const ColorScheme scheme = ColorScheme::Defaults();
    const std::array<uint32_t, 6> list{0xFFFFFF, 0x000000, 0xFF5050, 0xFFFFFF, 0xC8C8C8, 0x000000};
    auto choose = [&](std::optional<RuleColors> rule, uint32_t severity, uint32_t type, bool option) {
        return ChooseColors(rule, Event("h", "m", severity, type), option, scheme, list);
    };
    EXPECT_EQ(choose(RuleColors{1, 2}, 3, core::kEventSystem, true).colors, (RuleColors{1, 2}));
    const auto system = choose(std::nullopt, 6, core::kEventSystem, true);
    EXPECT_EQ(std::tie(system.source, system.index, system.colors),
              std::make_tuple(ColorSource::Scheme, kSchemeSystem, RuleColors{0xF0F0F0, 0x141414}));
    EXPECT_EQ(choose(std::nullopt, 7, core::kEventExternal, true).index, 7u);
    EXPECT_EQ(choose(std::nullopt, core::kNoSeverity, core::kEventExternal, true).index, kSchemeOther);
    const auto plain = choose(std::nullopt, 0, core::kEventExternal, false);
    EXPECT_EQ(std::tie(plain.source, plain.colors), std::make_tuple(ColorSource::List, RuleColors{0xFFFFFF, 0x000000}));
}

class RulesModuleTest : public ::testing::Test {
protected:
    core::SettingsSection Open() { return config_.Open(kRulesSection, kRulesSection); }
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

    core::SettingsSection saving = config_.BeginSave(kRulesSection, kRulesSection);
    rules_.SaveTo(saving);
    ASSERT_TRUE(saving.Commit());
    RulesModule again(core_);
    const core::SettingsSection s = Open();
    again.Load(s);
    EXPECT_EQ(s.File().Get(kRulesSection, "Item.0-Param"), "E0FFDF");
    EXPECT_EQ(s.File().Get(kRulesSection, "List.0-item.2-StrValue"), "Привет");
    EXPECT_FALSE(s.File().Get(kRulesSection, "Item.1-UID"));
    ASSERT_EQ(again.RuleCount(), 1u);
    EXPECT_EQ(again.RuleAt(0)->record, full);
    ASSERT_EQ(again.ListCount(), 1u);
    EXPECT_EQ(again.ListAt(0)->record, list);
    EXPECT_EQ(again.Scheme(), scheme);
}

TEST_F(RulesModuleTest, LegacyFormIsDecodedFromItsRecordLayouts) {
    {
        core::SettingsSection s = Open();
        s.File().WriteString(kRulesSection, "Count", "2");
        std::vector<uint8_t> item(kLegacyRuleSize, 0), list(kLegacyListSize, 0), entry(kLegacyEntrySize, 0);
        Put<uint8_t>(item, 0, 1), Put(item, 2, "Старое"), Put<uint64_t>(item, 72, 0x0102030405060708);
        Put<uint16_t>(item, 80, 0xA340), Put<uint8_t>(item, 82, kOr), Put<uint8_t>(item, 83, kCondMessage);
        Put(item, 84, "link"), Put<uint64_t>(item, 216, 31), Put<uint8_t>(item, 224, kCondArchive);
        Put(item, 226, "two"), Put<uint64_t>(item, 360, 32), Put<uint32_t>(item, 368, 0x00FF00);
        Put<uint32_t>(item, 372, 0x0000FF), Put(item, 376, "out"), Put<uint8_t>(item, 504, kOutMessage);
        Put(item, 506, "/usr/bin/logger");
        s.File().WriteStruct(kRulesSection, "Item.0", item);
        s.File().WriteStruct(kRulesSection, "Item.1", std::vector<uint8_t>(kLegacyRuleSize, 0));  // saved before UIDs
        Put<uint8_t>(list, 0, 1), Put<uint64_t>(list, 8, 31), Put(list, 16, "Список"), Put<uint32_t>(list, 80, 3);
        s.File().WriteStruct(kRulesSection, "List.0", list);
        Put(entry, 0, "first");
        s.File().WriteStruct(kRulesSection, "List.0-item.0", entry);
        Put(entry, 0, "third");  // the second is missing: no entry, not an empty one
        s.File().WriteStruct(kRulesSection, "List.0-item.2", entry);
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

// A scheme without its backgrounds is not taken; list sizes are bounded;
// counts beyond the written records bring no ghosts.
TEST_F(RulesModuleTest, OddFilesBringNoGhostsAndNoHalfScheme) {
    {
        core::SettingsSection s = config_.BeginSave(kRulesSection, kRulesSection);
        s.File().WriteStruct(kRulesSection, "Common.LogTypeTextColor", std::vector<uint8_t>(40, 0x11));
        s.File().WriteStruct(kRulesSection, "ItemCount", std::vector<uint8_t>{3, 0, 0, 0});
        s.File().WriteString(kRulesSection, "Item.1-StrName", "only this one");
        s.File().WriteStruct(kRulesSection, "ListCount", std::vector<uint8_t>{3, 0, 0, 0});
        s.File().WriteStruct(kRulesSection, "List.0-ListSize", std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF});
        s.File().WriteString(kRulesSection, "List.0-item.1-StrValue", "kept");
        s.File().WriteString(kRulesSection, "List.0-item.70000-StrValue", "beyond the bound");
        s.File().WriteStruct(kRulesSection, "List.2-ListSize", std::vector<uint8_t>{1, 0, 0, 0});
        s.File().WriteString(kRulesSection, "List.2-item.0-StrValue", "entry");
        ASSERT_TRUE(s.Commit());
    }
    rules_.Load(Open());
    EXPECT_EQ(rules_.Scheme(), ColorScheme::Defaults());
    ASSERT_EQ(rules_.RuleCount(), 1u);
    EXPECT_EQ(rules_.RuleAt(0)->record.name, "only this one");
    ASSERT_EQ(rules_.ListCount(), 2u);
    EXPECT_EQ(rules_.ListAt(0)->record.entries, std::vector<std::string>{"kept"});
    EXPECT_EQ(rules_.ListAt(1)->record.entries, std::vector<std::string>{"entry"});
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
    const auto e = Message("disk full");

    RuleOutcome out = rules_.Apply(e, std::vector<uint64_t>{3, 1, 2});
    EXPECT_EQ(std::tie(out.colors->background, out.rulesMatched), std::make_tuple(0x00FF00u, 2u));
    out = rules_.Apply(e, std::vector<uint64_t>{4, 2});
    EXPECT_EQ(std::tie(out.colors->background, out.rulesMatched), std::make_tuple(0x0000FFu, 1u));
    EXPECT_EQ(rules_.Apply(e, std::vector<uint64_t>{5, 99, 6}).rulesMatched, 0u);
    // A do-not-add rule counts wherever it stands; no other rule does.
    EXPECT_TRUE(rules_.DoNotAdd(e, std::vector<uint64_t>{4, 6}));
    EXPECT_FALSE(rules_.DoNotAdd(e, std::vector<uint64_t>{4, 2}));
    EXPECT_FALSE(rules_.DoNotAdd(Message("fan"), std::vector<uint64_t>{6}));
}

TEST_F(RulesModuleTest, ReplacedAndDeletedListsTakeEffectAtOnce) {
    const size_t slot = *rules_.AddList(MatchList{1, 50, "hosts", {"alpha"}});
    Rule r = On(1, "fallback", kColorAction | kUseList1);
    r.inListId1 = 50;
    rules_.AddRule(r);
    const std::vector<uint64_t> selection{1};
    EXPECT_TRUE(rules_.Apply(Message("alpha up"), selection).colors);
    ASSERT_TRUE(rules_.ReplaceList(slot, MatchList{1, 50, "hosts", {"beta"}}));
    EXPECT_FALSE(rules_.Apply(Message("alpha up"), selection).colors);
    EXPECT_TRUE(rules_.Apply(Message("beta up"), selection).colors);
    ASSERT_TRUE(rules_.DeleteList(slot));
    EXPECT_TRUE(rules_.Apply(Message("fallback"), selection).colors);
    ASSERT_TRUE(rules_.DeleteRule(0));
    EXPECT_FALSE(rules_.Apply(Message("fallback"), selection).colors);
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
    Rule r = On(1, "", kColorAction | kUseList1);
    r.inListId1 = 50;
    ASSERT_TRUE(rules_.AddRule(r));
    const std::vector<uint64_t> selection{1};

    const core::SetRef entries{RecordSet::Entry, 0};
    core::RecordCopy entry = sets.Blank(entries);
    for (const char* value : {"alpha", "beta"}) ASSERT_TRUE(entry.Set("StrValue", value) && sets.Add(entries, entry));
    EXPECT_TRUE(rules_.Apply(Message("alpha up"), selection).colors);

    const core::RecordCopy first = sets.Copy(entries)->at(0);
    core::RecordCopy gone = first;
    gone.deleted = true;
    ASSERT_TRUE(sets.Replace(entries, 0, gone, first));
    EXPECT_FALSE(rules_.Apply(Message("alpha up"), selection).colors);
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

// A recorder that writes its argument count, then each argument as
// "<bytes>:<text>\n", into args-<first argument>, renamed into place once complete.
constexpr const char* kRecorder = R"sh(#!/bin/sh
out="$(dirname "$0")/args-$1"
tmp="$(mktemp "$out.XXXXXX")"
{
  printf '%s\n' "$#"
  for a in "$@"; do printf '%s:%s\n' "$(printf '%s' "$a" | wc -c | tr -d ' ')" "$a"; done
} > "$tmp"
mv "$tmp" "$out"
)sh";

TEST_F(RulesModuleTest, EveryTextArrivesAtAStartedProgramAsOneArgumentByteForByte) {
    const fs::path recorder = home_.path() / "record.sh";
    std::ofstream(recorder) << kRecorder;
    ASSERT_EQ(::chmod(recorder.c_str(), 0700), 0);
    for (uint64_t uid : {1, 2}) {
        Rule r = Cond(kCondSender, "*", kStartProgram | kNoWindow | kContinue);
        r.enable = 1;
        r.uid = uid;
        r.startCmd = recorder.string();
        ASSERT_TRUE(rules_.AddRule(r));
    }
    const auto run = [&](uint64_t sequence, std::string sender, std::string message,
                         uint32_t type = core::kEventExternal, std::vector<uint64_t> selection = {1}) {
        core::EventRecord e = Event(std::move(sender), std::move(message), 3, type);
        e.sequence = sequence;
        return rules_.Apply(e, selection).programsStarted;
    };
    // The arguments after the program path, as the program received them.
    const auto recorded = [&](uint64_t sequence) {
        const fs::path file = home_.path() / ("args-" + std::to_string(sequence));
        test::WaitUntil([&] { return fs::exists(file); }, 10s);
        const std::string text = test::ReadWholeFile(file);
        std::vector<std::string> args;
        for (size_t at = text.find('\n') + 1; at < text.size();) {
            const size_t colon = text.find(':', at), length = std::stoul(text.substr(at, colon - at));
            args.push_back(text.substr(colon + 1, length));
            at = colon + 2 + length;
        }
        EXPECT_EQ(text.substr(0, text.find('\n')), std::to_string(args.size()));
        return args;
    };
    const std::string pwned = (home_.path() / "pwned").string();
    const std::string sender = "10.0.0.1\" \"--evil $(touch " + pwned + ")";
    const std::string messages[] = {
        R"(it's "quoted" and 'single' \"escaped\")", "$(touch " + pwned + ") `touch " + pwned + "` ${HOME}",
        "a; touch " + pwned + "; b && c | d > " + pwned + " &", "  spaces   and\ttabs  ", "line one\nline two\r\n", "",
        "Сбой питания 𝄞"};
    for (uint64_t i = 0; i < std::size(messages); ++i) {
        EXPECT_EQ(run(100 + i, sender, messages[i]), 1u);
        EXPECT_EQ(recorded(100 + i), (std::vector<std::string>{std::to_string(100 + i), "3", sender, messages[i]}));
    }
    EXPECT_EQ(run(200, "h", "before\0after"s, core::kEventInternal, {1, 2}), 2u);  // one per matching rule
    EXPECT_EQ(recorded(200), (std::vector<std::string>{"200", "3", "h", "before after"}));
    EXPECT_FALSE(fs::exists(pwned));

    Rule missing = *rules_.FindRule(1);
    missing.startCmd = (home_.path() / "no-such-program").string();
    ASSERT_TRUE(rules_.ReplaceRule(0, missing));
    EXPECT_EQ(run(300, "h", "m"), 0u);  // passed over silently
}

}  // namespace
}  // namespace qm::processing
