// What a worker fills into a row: texts, icon, colours, names.
#include "windows/event_list/event_list_test_support.h"

namespace qm::windows::test {
namespace {

using processing::ColorSource;

TEST_F(EventListTest, RowsGetDateLevelSenderMessageIconAndColoursByTheChoiceOrder) {
    processing::Rule paint;
    paint.inCond1 = processing::kCondMessage;
    paint.strInCond1 = "paint";
    paint.param = processing::kColorAction;
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
    EXPECT_EQ(first.fill.texts, (std::array<std::string, 5>{"", "31.12  23:59:58", "10.0.0.1", "Error", "hello"}));
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
    core::EventRecord undecoded;
    undecoded.type = core::kEventInternal;
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
    processing::Rule rename;
    rename.inCond1 = processing::kCondMessage;
    rename.strInCond1 = "rename";
    rename.param = processing::kTextAction;
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
