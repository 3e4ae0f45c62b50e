// The list timer and its workers: which events become rows, when rows go,
// that each event is worked on exactly once, and what a worker fills into a
// row: texts, icon, colours, names.
#include <sys/stat.h>

#include <fstream>

#include "windows/event_list/event_list_test_support.h"

namespace qm::windows::test {
namespace {

using processing::ColorSource;
using processing::Rule;

TEST_F(EventListTest, TypeMaskDoNotAddRulesAndSlicesOfAHundredDecideTheRows) {
    const uint64_t keepOut = AddRule(MessageRule("noise", processing::kDoNotAdd));
    auto none = Window(kNewWindowParam, 0);
    auto system = Window(kNewWindowParam, core::kEventSystem);
    auto external = Window(kNewWindowParam, core::kEventExternal, {keepOut});
    for (int i = 0; i < 230; ++i) Send("10.0.0.1", (i % 10 == 9 ? "noise " : "m") + std::to_string(i));
    core_.events->Report(6, "started");
    Settle();

    for (auto* w : {none.get(), system.get(), external.get()}) w->Tick();
    EXPECT_EQ(none->RowCount(), 0u);
    EXPECT_EQ(system->RowCount(), 0u);   // the first hundred are External
    EXPECT_EQ(external->RowCount(), 90u);
    for (int tick = 0; tick < 2; ++tick)
        for (auto* w : {none.get(), system.get(), external.get()}) w->Tick();
    EXPECT_EQ(none->RowCount(), 0u);
    ASSERT_EQ(system->RowCount(), 1u);
    EXPECT_EQ(system->Row(0).event->Message(), "started");
    ASSERT_EQ(external->RowCount(), 207u);
    ASSERT_TRUE(Finish(*external));
    EXPECT_EQ(Text(*external, 206, kColumnMessage), "m228");
    EXPECT_EQ(external->Processed(), 207u);
}

TEST_F(EventListTest, DrainEmptiesTheListAtTheNextTickAndOnlyNewEventsReturn) {
    auto w = Window(kNewWindowParam);
    for (int i = 0; i < 5; ++i) Send("10.0.0.1", "old" + std::to_string(i));
    Settle();
    w->Tick();
    ASSERT_TRUE(Finish(*w));
    ASSERT_EQ(w->RowCount(), 5u);

    Drain();
    w->Tick();
    EXPECT_EQ(w->RowCount(), 0u);
    EXPECT_EQ(view_.resets, 1u);
    Send("10.0.0.2", "new");
    Settle();
    w->Tick();
    ASSERT_EQ(w->RowCount(), 1u);
    EXPECT_EQ(w->Row(0).event->Message(), "new");
}

// A rule program that appends its event number to a file, so every start shows.
class EventListProgramTest : public EventListTest {
protected:
    void SetUp() override {
        script_ = home_.path() / "note.sh";
        std::ofstream(script_) << "#!/bin/sh\necho \"$1\" >> \"" << (home_.path() / "started").string() << "\"\n";
        ASSERT_EQ(::chmod(script_.c_str(), 0700), 0);
    }
    std::vector<std::string> Started() {
        std::ifstream in(home_.path() / "started");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    uint64_t StartRule() {
        Rule r = MessageRule("m", processing::kStartProgram | processing::kNoWindow);
        r.startCmd = script_.string();
        return AddRule(r);
    }
    std::filesystem::path script_;
};

TEST_F(EventListProgramTest, GenerationChangeWithBusyWorkersWaitsAndStartsNothingTwice) {
    AddDns("", true);
    auto w = Window(kNewWindowParam, 0x78, {StartRule()});
    for (int i = 0; i < 3; ++i) Send("10.0.0.1", "m old" + std::to_string(i));
    Settle();
    w->Tick();
    ASSERT_TRUE(gate_.AwaitWaiting(1));  // a worker holds at the name look-up

    // The new queue is longer than the old read position: reading on from
    // there would show its tail now and again after the clearing.
    Drain();
    for (int i = 0; i < 6; ++i) Send("10.0.0.2", "m new" + std::to_string(i));
    Settle();
    w->Tick();
    w->Tick();
    EXPECT_EQ(w->RowCount(), 3u);
    EXPECT_EQ(view_.resets, 0u);

    gate_.Open();
    ASSERT_TRUE(Finish(*w));
    w->Tick();
    ASSERT_EQ(w->RowCount(), 6u);
    EXPECT_EQ(w->Row(0).event->Message(), "m new0");
    ASSERT_TRUE(Finish(*w));
    w->Tick();
    EXPECT_EQ(w->Processed(), 9u);  // each event worked on once
    ASSERT_TRUE(WaitUntil([&] { return Started().size() >= 9; }));
    std::vector<std::string> started = Started();
    std::sort(started.begin(), started.end());
    EXPECT_EQ(std::adjacent_find(started.begin(), started.end()), started.end());
}

TEST_F(EventListTest, GroupingKeepsOneRowPerSenderWithTheLastEventAndDropsOlderResults) {
    AddDns("10.0.0.8=edge\n", true);
    auto w = Window(kNewWindowParam | kListGroupBySender | kListDeselectGrouped);
    for (int i = 0; i < 50; ++i) Send("10.0.0.7", "m" + std::to_string(i));
    Send("10.0.0.8", "other");
    Settle();
    w->Tick();
    ASSERT_EQ(w->RowCount(), 2u);
    EXPECT_EQ(w->Row(0).event->Message(), "m49");
    // The first worker holds at the look-up of the shared address; the others
    // find it running and go on with the address, so m49 lands first and the
    // result for m0 comes last, stale.
    ASSERT_TRUE(WaitUntil([&] {
        w->ApplyResults();
        return Text(*w, 0, kColumnMessage) == "m49" && w->BusyWorkers() == 1;
    }));
    gate_.Open();
    ASSERT_TRUE(Finish(*w));
    EXPECT_EQ(Text(*w, 0, kColumnMessage), "m49");
    EXPECT_EQ(Text(*w, 1, kColumnSender), "edge");
    EXPECT_EQ(w->Processed(), 51u);

    // The grouped row loses its selection when its next event arrives.
    view_.selected = {0, 1};
    Send("10.0.0.7", "m50");
    Settle();
    w->Tick();
    EXPECT_EQ(w->RowCount(), 2u);
    EXPECT_EQ(view_.selected, std::set<size_t>{1});
    w->ToggleParam(kListDeselectGrouped);
    view_.selected = {0};
    Send("10.0.0.7", "m51");
    Settle();
    w->Tick();
    EXPECT_EQ(view_.selected, std::set<size_t>{0});
    ASSERT_TRUE(Finish(*w));
    EXPECT_EQ(Text(*w, 0, kColumnMessage), "m51");
}

TEST_F(EventListTest, ClosingWithItemsQueuedLeavesThePoolFreeForTheNextWindow) {
    EventWorkerPool one(core_, 1);
    EventListSettings s;
    s.eventParam = 0x78;
    for (int i = 0; i < 100; ++i) Send("10.0.0.1", "m" + std::to_string(i));
    Settle();
    {
        EventListLogic w(core_, one, view_, s);
        w.SetResultsReadyCallback([] {});
        w.Tick();
        EXPECT_EQ(w.RowCount(), 100u);
    }
    EventListLogic next(core_, one, view_, s);
    next.Tick();
    ASSERT_TRUE(Finish(next));
    EXPECT_EQ(next.Processed(), 100u);
}

TEST_F(EventListTest, RowsGetDateLevelSenderMessageIconAndColoursByTheChoiceOrder) {
    processing::Rule paint = MessageRule("paint", processing::kColorAction);
    paint.outColor = {0x112233, 0x445566};
    auto scheme = Window(kListColorScheme, 0x78, {AddRule(paint)});
    auto plain = Window(0);
    Send("10.0.0.1", "hello", 3, "31 12 2023 23 59 58 999");
    Send("10.0.0.1", "paint me", 6);
    core_.events->Report(6, "system note");
    core_.events->Report(core::kNoSeverity, "undecoded");
    Settle();
    for (auto* w : {scheme.get(), plain.get()}) {
        w->Tick();
        ASSERT_TRUE(Finish(*w));
        ASSERT_EQ(w->RowCount(), 4u);
    }

    const EventRow& first = scheme->Row(0);
    // The message is the event's own, not a copy in the row.
    EXPECT_EQ(first.fill.texts, (std::array<std::string, 5>{"", "31.12  23:59:58", "10.0.0.1", "Error", ""}));
    EXPECT_EQ(scheme->CellText(0, kColumnMessage), "hello");
    EXPECT_EQ(first.fill.icon, 23);
    EXPECT_EQ(first.fill.colors.source, ColorSource::Scheme);
    EXPECT_EQ(first.fill.colors.index, 3u);
    EXPECT_EQ(scheme->Row(1).fill.colors.source, ColorSource::Rule);
    EXPECT_EQ(scheme->ColorsOf(1), (RowColors{0x445566, 0x112233}));
    // System events take the scheme's System colours whatever their severity.
    EXPECT_EQ(Text(*scheme, 2, kColumnLevel), "Infomational");
    EXPECT_EQ(scheme->Row(2).fill.colors.index, processing::kSchemeSystem);
    EXPECT_EQ(Text(*scheme, 3, kColumnLevel), "Unknown");
    EXPECT_EQ(scheme->Row(3).fill.icon, 28);
    EXPECT_EQ(scheme->Row(3).fill.colors.index, processing::kSchemeSystem);
    auto undecoded = std::make_shared<core::EventRecord>();
    undecoded->type = core::kEventInternal;
    const RowFill other = ComputeRow(core_, WorkerOptions{kListColorScheme, {}, {}}, undecoded);
    EXPECT_EQ(other.texts[kColumnLevel], "Unknown");
    EXPECT_EQ(other.colors.index, processing::kSchemeOther);
    // Without the scheme and without rules: the list colours.
    for (size_t r = 0; r < 4; ++r) EXPECT_EQ(plain->ColorsOf(r), plain->ListColors());

    // Rows refer to the scheme: a change repaints them without a worker.
    processing::ColorScheme changed = rules_->Scheme();
    changed.text[3] = 0xABCDEF;
    ASSERT_TRUE(rules_->SetScheme(changed));
    const size_t repaints = view_.colorChanges;
    scheme->Tick();
    EXPECT_GT(view_.colorChanges, repaints);
    EXPECT_EQ(scheme->ColorsOf(0).text, 0xABCDEFu);
    EXPECT_EQ(scheme->SelectedColors(), (RowColors{core_.settings.listColors[3], core_.settings.listColors[2]}));
}

TEST_F(EventListTest, SenderColumnTakesRuleTextThenNameThenAddress) {
    processing::Rule rename = MessageRule("rename", processing::kTextAction);
    rename.strOutText = "renamed";
    rename.outTextMode = processing::kOutSender;
    const uint64_t uid = AddRule(rename);
    auto names = Window(kListResolveNames, 0x78, {uid});
    Send("10.0.0.1", "plain");
    Settle();
    names->Tick();
    ASSERT_TRUE(Finish(*names));
    // Names wanted but no name resolution loaded: the address.
    EXPECT_EQ(Text(*names, 0, kColumnSender), "10.0.0.1");

    AddDns("10.0.0.1=core switch\n");
    auto addresses = Window(0, 0x78, {uid});
    Send("10.0.0.1", "plain");
    Send("10.0.0.1", "rename me");
    Send("10.0.0.9", "unknown");
    Settle();
    for (auto* w : {names.get(), addresses.get()}) {
        w->Tick();
        ASSERT_TRUE(Finish(*w));
    }
    ASSERT_EQ(names->RowCount(), 4u);
    EXPECT_EQ(Text(*names, 1, kColumnSender), "core switch");
    EXPECT_EQ(Text(*names, 2, kColumnSender), "renamed");
    EXPECT_EQ(Text(*names, 3, kColumnSender), "10.0.0.9");
    EXPECT_EQ(Text(*addresses, 0, kColumnSender), "10.0.0.1");

    // Details: the known name as alias, the message standing in for a missing raw text.
    ASSERT_TRUE(names->EventAt(1));
    const core::EventRecord& e = *names->EventAt(1);
    const std::optional<InfoContent> details = names->Details(e);
    EXPECT_EQ(details->title, "Событие #" + std::to_string(e.sequence) + " (01.02  03:04:05)");
    EXPECT_NE(details->text.find("Псевдоним: core switch\r\n"), std::string::npos);
    EXPECT_NE(details->text.find("Получено: 01.02.2024 03:04:05"), std::string::npos);
    core::EventRecord bare = e;
    bare.SetTexts("", bare.Message());
    EXPECT_NE(EventDetails(core_, bare, "").text.find("Псевдоним: \r\nСообщение: plain\r\nИсходный текст: plain\r\n"),
              std::string::npos);
    EXPECT_FALSE(names->EventAt(99));
}

}  // namespace
}  // namespace qm::windows::test
