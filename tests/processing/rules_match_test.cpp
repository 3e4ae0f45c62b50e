#include "processing/rules/rule_match.h"

#include <gtest/gtest.h>

#include <random>

#include "processing/processing_test_support.h"

namespace qm::processing {
namespace {

using test::Event;

Rule On(uint8_t kind, std::string pattern, uint16_t param = 0, uint64_t list = 0) {
    Rule r;
    r.inCond1 = kind;
    r.strInCond1 = std::move(pattern);
    r.param = param;
    r.inListId1 = list;
    return r;
}

bool Matches(const Rule& r, const core::EventRecord& e, const ListTable& lists = {}) { return MatchRule(r, e, lists); }

TEST(RulesMatch, TextConditionsWholeSubstringAndLeadingStar) {
    const auto e = Event("10.1.2.3", "Link down on port Gi0/1");
    EXPECT_TRUE(Matches(On(kCondMessage, "down on"), e));
    EXPECT_FALSE(Matches(On(kCondMessage, "Down on"), e));
    EXPECT_FALSE(Matches(On(kCondMessage, "Link down on port Gi0/", kWholeString1), e));
    EXPECT_TRUE(Matches(On(kCondMessage, "Link down on port Gi0/1", kWholeString1), e));
    EXPECT_FALSE(Matches(On(kCondSender, "Link"), e));
    EXPECT_TRUE(Matches(On(kCondMessage, "*zzz", kWholeString1), e));
    EXPECT_FALSE(Matches(On(kCondMessage, "Link*"), e));
    EXPECT_TRUE(Matches(On(kCondMessage, ""), e));
    EXPECT_FALSE(Matches(On(kCondMessage, "*"), Event("10.1.2.3", "")));  // no message to test
    EXPECT_TRUE(Matches(On(kCondMessage, "ошибка диска"), Event("h", "<3> ошибка диска sda")));
}

TEST(RulesMatch, SeverityAndTypeKinds) {
    for (uint32_t severity : {0u, 3u, 7u, 8u, core::kNoSeverity}) {
        for (uint8_t kind = kCondSeverityFirst; kind <= kCondSeverityUnknown; ++kind) {
            const bool expected = kind == kCondSeverityUnknown ? severity == core::kNoSeverity : kind - 2u == severity;
            EXPECT_EQ(Matches(On(kind, ""), Event("h", "m", severity)), expected) << int(kind) << " " << severity;
        }
    }
    const uint32_t bits[] = {core::kEventSystem, core::kEventExternal, core::kEventInternal, core::kEventArchive};
    for (uint8_t kind = kCondSystem; kind <= kCondArchive; ++kind) {
        for (uint32_t type : bits) EXPECT_EQ(Matches(On(kind, ""), Event("h", "m", 6, type)), bits[kind - kCondSystem] == type);
    }
    EXPECT_FALSE(Matches(On(15, ""), Event("h", "m")));
}

TEST(RulesMatch, ListConditionsAndTheirFallback) {
    ListTable lists;
    lists.Add(MatchList{0, 7, "disabled", {"10.9."}});
    lists.Add(MatchList{1, 7, "edge", {"edge-rt", "10.1."}});
    lists.Add(MatchList{1, 8, "z", {"zzz"}});
    lists.MarkDeleted(*lists.Add(MatchList{1, 9, "deleted", {"10.1."}}));

    EXPECT_TRUE(Matches(On(kCondSender, "x", kUseList1, 7), Event("10.1.2.3", "m"), lists));
    EXPECT_FALSE(Matches(On(kCondSender, "x", kUseList1, 7), Event("10.9.2.3", "m"), lists));
    EXPECT_FALSE(Matches(On(kCondSender, "x", kUseList1 | kWholeString1, 7), Event("10.1.2.3", "m"), lists));
    EXPECT_TRUE(Matches(On(kCondSender, "x", kUseList1 | kWholeString1, 7), Event("edge-rt", "m"), lists));
    EXPECT_FALSE(Matches(On(kCondSender, "x", 0, 7), Event("10.1.2.3", "m"), lists));  // list flag off
    for (uint64_t uid : {9, 404}) {  // deleted or missing: the pattern counts
        EXPECT_TRUE(Matches(On(kCondSender, "10.1.", kUseList1, uid), Event("10.1.2.3", "m"), lists));
        EXPECT_FALSE(Matches(On(kCondSender, "10.1.", kUseList1, uid), Event("10.7.2.3", "m"), lists));
    }
    Rule two = On(kCondSender, "*", kUseList2 | kWholeString2);
    two.inMatch = kAnd;
    two.inCond2 = kCondMessage;
    two.inListId2 = 8;
    EXPECT_TRUE(Matches(two, Event("h", "zzz"), lists));
    EXPECT_FALSE(Matches(two, Event("h", "zzzz"), lists));
}

TEST(RulesMatch, CombinationsOfTwoConditions) {
    const auto e = Event("10.0.0.1", "disk full");
    for (bool c1 : {false, true}) {
        for (bool c2 : {false, true}) {
            Rule r = On(kCondMessage, c1 ? "disk" : "cpu");
            r.inCond2 = kCondSender;
            r.strInCond2 = c2 ? "10.0.0.1" : "10.0.0.2";
            const bool expected[] = {c1, c1 && c2, c1 || c2, c1 && !c2, false};
            for (uint8_t mode = 0; mode <= 4; ++mode) {
                r.inMatch = mode;
                EXPECT_EQ(Matches(r, e), expected[mode]) << int(mode) << c1 << c2;
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

TEST(RulesActions, CutAndReplaceOverEarlierRules) {
    EXPECT_EQ(CutText("ab-xy-ab-xy", "xy"), "ab- -ab- ");
    EXPECT_EQ(CutText("aaa", "aa"), " a");
    EXPECT_EQ(CutText("unchanged", ""), "unchanged");
    EXPECT_EQ(CutText("Привет, мир; привет 𝄞", "ривет"), "П , мир; п  𝄞");

    const auto e = Event("10.0.0.1", "id=1 user=root");
    RuleOutcome out;
    Rule cut = On(kCondMessage, "*", kTextAction | kCutText | kColorAction);
    cut.outTextMode = kOutMessage;
    cut.strOutText = "id=";
    cut.outColor = {0x0000FF, 0xFFFFFF};
    ApplyTextAndColor(cut, e, out);
    cut.strOutText = "root";  // starts again from the event's own message
    ApplyTextAndColor(cut, e, out);
    EXPECT_EQ(out.message, "id=1 user= ");
    cut.strOutText = "";      // changes nothing at all
    ApplyTextAndColor(cut, e, out);
    EXPECT_EQ(out.message, "id=1 user= ");
    Rule sender = On(kCondMessage, "*", kTextAction | kCutText);
    sender.strOutText = "core router";
    ApplyTextAndColor(sender, e, out);
    EXPECT_EQ(out.sender, "core router");
    EXPECT_EQ(out.message, "id=1 user= ");
    EXPECT_EQ(out.colors, (RuleColors{0x0000FF, 0xFFFFFF}));
}

TEST(RulesActions, StartOnlyForNetworkAndPollerEvents) {
    Rule r = On(kCondMessage, "*", kStartProgram);
    r.startCmd = "/opt/handler";
    EXPECT_TRUE(WantsStart(r, Event("h", "m", 6, core::kEventExternal)));
    EXPECT_TRUE(WantsStart(r, Event("h", "m", 6, core::kEventInternal)));
    EXPECT_FALSE(WantsStart(r, Event("h", "m", 6, core::kEventSystem)));
    EXPECT_FALSE(WantsStart(r, Event("h", "m", 6, core::kEventArchive)));
    r.startCmd.clear();
    EXPECT_FALSE(WantsStart(r, Event("h", "m", 6, core::kEventExternal)));
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

}  // namespace
}  // namespace qm::processing
