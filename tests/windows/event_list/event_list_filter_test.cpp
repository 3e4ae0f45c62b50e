// The header's columns, the filter and the rows as CSV: what a filter lets
// through, that it only hides rows, that new rows are tested as they come
// and a new filter in slices, that the view is told every change in a way
// that adds up to the rows shown, and what a row's cells and the CSV hold.
#include "windows/event_list/csv_text.h"
#include "windows/event_list/event_list_test_support.h"
#include "windows/event_list/row_filter.h"

namespace qm::windows::test {
namespace {

// What the bar would hold: a text, how it is read, a lowest level, a sender.
FilterTerms FilterOf(std::string text, bool regex = false, bool matchCase = false,
                       uint32_t severityAtLeast = kAnySeverity, std::string source = {}) {
    return {std::move(text), regex, matchCase, severityAtLeast, std::move(source)};
}

TEST(RowFilter, TextLevelAndSourceMustAllHold) {
    const FilterSubject down{"Link DOWN on port 3", 3, "core switch", "10.0.0.1", "sw-core"};
    const FilterSubject up{"link up on port 3", 6, "10.0.0.2", "10.0.0.2", ""};
    const FilterSubject undecoded{"link down", core::kNoSeverity, "10.0.0.3", "10.0.0.3", ""};
    const auto passes = [](const FilterTerms& terms, const FilterSubject& row) {
        std::optional<RowFilter> f = RowFilter::Make(terms);
        EXPECT_TRUE(f);
        return f && f->Matches(row);
    };
    EXPECT_FALSE(FilterTerms{}.Active());
    EXPECT_TRUE(passes({}, undecoded));

    EXPECT_TRUE(passes(FilterOf("link down"), down));
    EXPECT_FALSE(passes(FilterOf("link down", false, true), down));
    EXPECT_TRUE(passes(FilterOf("port \\d$", true), up));
    // Plain text is not an expression.
    EXPECT_FALSE(passes(FilterOf("port \\d$"), up));
    EXPECT_TRUE(passes(FilterOf("port \\d"), {"port \\d", 3, "", "", ""}));

    // "At least Error": Emergency to Error; a row without a level is not one.
    EXPECT_TRUE(passes(FilterOf("", false, false, 3), down));
    EXPECT_FALSE(passes(FilterOf("", false, false, 3), up));
    EXPECT_FALSE(passes(FilterOf("", false, false, 7), undecoded));

    // A part of the name shown, of the address or of the header's host, any case.
    EXPECT_TRUE(passes(FilterOf("", false, false, kAnySeverity, "CORE"), down));
    EXPECT_TRUE(passes(FilterOf("", false, false, kAnySeverity, "0.0.1"), down));
    EXPECT_TRUE(passes(FilterOf("", false, false, kAnySeverity, "sw-"), down));
    EXPECT_FALSE(passes(FilterOf("", false, false, kAnySeverity, "sw-"), up));
    EXPECT_FALSE(passes(FilterOf("down", false, false, 7, "10.0.0.2"), down));

    std::string error;
    EXPECT_FALSE(RowFilter::Make(FilterOf("[a-", true), &error));
    EXPECT_FALSE(error.empty());
}

TEST(CsvText, QuotesWhatNeedsItAndKeepsEveryByte) {
    std::string out;
    const std::vector<std::string_view> header{"Дата", "Сообщение"};
    AppendCsvRecord(out, header);
    const std::vector<std::string_view> row{"plain",       "a,b",        "say \"hi\"", "two\nlines", "cr\rlf",
                                            " padded ",    "",           "\xD0\xBE\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0",
                                            "\xF0\x9F\x98\x80"};
    AppendCsvRecord(out, row);
    EXPECT_EQ(out,
              "Дата,Сообщение\r\n"
              "plain,\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\",\"cr\rlf\",\" padded \",,"
              "\xD0\xBE\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0,\xF0\x9F\x98\x80\r\n");
}

// A view that keeps its own list of the rows shown from what it is told
// (by each row's identity), to compare with what the logic shows.
struct MirrorView : EventListView {
    const EventListLogic* logic = nullptr;
    std::vector<const EventRow*> shown;
    size_t insertAt = 0, insertCount = 0, resets = 0, removals = 0;

    const EventRow* At(size_t place) const { return &logic->Row(logic->RowOfShown(place)); }
    std::vector<const EventRow*> Actual() const {
        std::vector<const EventRow*> rows;
        for (size_t p = 0; p < logic->ShownCount(); ++p) rows.push_back(At(p));
        return rows;
    }
    void BeginResetRows() override {}
    void EndResetRows() override {
        ++resets;
        shown = Actual();
    }
    void BeginInsertRows(size_t at, size_t count) override {
        EXPECT_LE(at, shown.size());
        EXPECT_GT(count, 0u);
        insertAt = at, insertCount = count;
    }
    void EndInsertRows() override {
        for (size_t k = 0; k < insertCount; ++k)
            shown.insert(shown.begin() + static_cast<std::ptrdiff_t>(insertAt + k), At(insertAt + k));
    }
    void BeginRemoveRows(size_t at, size_t count) override {
        ASSERT_LE(at + count, shown.size());
        shown.erase(shown.begin() + static_cast<std::ptrdiff_t>(at),
                    shown.begin() + static_cast<std::ptrdiff_t>(at + count));
        ++removals;
    }
    void EndRemoveRows() override {}
    void RowsChanged(size_t first, size_t last) override {
        EXPECT_LE(first, last);
        EXPECT_LT(last, shown.size());
    }
    void BeginReorderRows() override {}
    void EndReorderRows(std::span<const size_t> order) override {
        ASSERT_EQ(order.size(), shown.size());
        std::vector<const EventRow*> next(shown.size());
        for (size_t i = 0; i < order.size(); ++i) next[order[i]] = shown[i];
        shown = next;
    }
    void ColorsChanged() override {}
    bool DeselectRow(size_t place) override {
        EXPECT_LT(place, shown.size());
        return false;
    }
    void EnsureLastVisible() override {}
};

class EventListFilterTest : public EventListTest {
protected:
    std::unique_ptr<EventListLogic> MirroredWindow(uint8_t param, uint8_t columns = 0) {
        EventListSettings s;
        s.param = param;
        s.eventParam = 0x78;
        s.columns = columns;
        auto w = std::make_unique<EventListLogic>(core_, pool_, mirror_, s);
        mirror_.logic = w.get();
        return w;
    }
    // Runs the test of the rows to its end; how many slices it took.
    static size_t FilterAll(EventListLogic& w) {
        size_t slices = 1;
        while (!w.FilterStep(0)) ++slices;
        return slices;
    }
    std::vector<std::string> ShownMessages(const EventListLogic& w) {
        std::vector<std::string> out;
        for (size_t p = 0; p < w.ShownCount(); ++p) out.emplace_back(w.CellText(w.RowOfShown(p), kColumnMessage));
        return out;
    }
    void ExpectMirrorHolds() { EXPECT_EQ(mirror_.shown, mirror_.Actual()) << "the view was told another story"; }

    MirrorView mirror_;
};

TEST_F(EventListFilterTest, AFilterOnlyHidesRowsTestsNewOnesAsTheyComeAndANewOneInSlices) {
    auto w = MirroredWindow(kListAutoscroll);
    for (int i = 0; i < 600; ++i)
        Send("10.0.0." + std::to_string(i % 3), (i % 2 ? "link up " : "link DOWN ") + std::to_string(i), i % 8);
    Settle();
    for (int tick = 0; tick < 6; ++tick) w->Tick();
    ASSERT_TRUE(Finish(*w));
    ASSERT_EQ(w->RowCount(), 600u);

    // The rows wait while the filter tests them, a slice at a time.
    ASSERT_FALSE(w->SetFilter(FilterOf("down")));
    EXPECT_TRUE(w->FilterPending());
    EXPECT_EQ(w->ShownCount(), 0u);
    EXPECT_GE(FilterAll(*w), 2u);
    EXPECT_EQ(w->ShownCount(), 300u);
    EXPECT_EQ(w->RowCount(), 600u) << "nothing dropped";
    EXPECT_EQ(ShownMessages(*w).front(), "link DOWN 0");
    ExpectMirrorHolds();
    const std::vector<StatusPart> status = w->StatusTick();
    EXPECT_EQ(status[3].text.rfind("Показано 300 из 600 | Буфер: ", 0), 0u) << status[3].text;

    // New rows: hidden until their worker is done, then shown when they pass.
    for (int i = 600; i < 610; ++i) Send("10.0.0.9", (i % 2 ? "link up " : "link down ") + std::to_string(i), 2);
    Settle();
    w->Tick();
    EXPECT_EQ(w->RowCount(), 610u);
    EXPECT_EQ(w->ShownCount(), 300u);
    ASSERT_TRUE(Finish(*w));
    EXPECT_EQ(w->ShownCount(), 305u);
    EXPECT_EQ(ShownMessages(*w).back(), "link down 608");
    ExpectMirrorHolds();

    // An expression that does not compile changes nothing.
    EXPECT_TRUE(w->SetFilter(FilterOf("(down", true)));
    EXPECT_EQ(w->Filter()->Terms().text, "down");
    // Level and sender together: the severe downs of one sender.
    ASSERT_FALSE(w->SetFilter(FilterOf("down", false, false, 2, "10.0.0.9")));
    FilterAll(*w);
    EXPECT_EQ(ShownMessages(*w), (std::vector<std::string>{"link down 600", "link down 602", "link down 604",
                                                           "link down 606", "link down 608"}));
    ExpectMirrorHolds();

    // Rows arriving while a new filter still tests the old ones wait for it.
    ASSERT_FALSE(w->SetFilter(FilterOf("up 6")));
    ASSERT_FALSE(w->FilterStep(0));
    Send("10.0.0.9", "link up 610");
    Settle();
    w->Tick();
    ASSERT_TRUE(Finish(*w));
    FilterAll(*w);
    EXPECT_EQ(ShownMessages(*w).size(), 11u);  // up 61 to 69, up 601 to 609, and up 610
    ExpectMirrorHolds();

    // Cleared: every row is there again, in its place.
    w->ClearFilter();
    EXPECT_FALSE(w->Filter());
    EXPECT_EQ(w->ShownCount(), 611u);
    EXPECT_EQ(w->StatusTick()[3].text.rfind("Буфер: ", 0), 0u);
    ExpectMirrorHolds();
}

TEST_F(EventListFilterTest, GroupedRowsComeAndGoWithTheirNewEventsAndSortingKeepsTheRowsShown) {
    auto w = MirroredWindow(kListGroupBySender | kListSortable | kListDeselectGrouped);
    for (int s = 0; s < 6; ++s) Send("10.0.0." + std::to_string(s), (s % 2 ? "ok " : "fail ") + std::to_string(s));
    Settle();
    w->Tick();
    ASSERT_TRUE(Finish(*w));
    ASSERT_FALSE(w->SetFilter(FilterOf("fail")));
    FilterAll(*w);
    EXPECT_EQ(ShownMessages(*w), (std::vector<std::string>{"fail 0", "fail 2", "fail 4"}));

    // Sender 2 recovers, sender 3 fails: one row goes, another comes, in place.
    Send("10.0.0.2", "ok again");
    Send("10.0.0.3", "fail now");
    Send("10.0.0.4", "fail more");
    Settle();
    w->Tick();
    ASSERT_TRUE(Finish(*w));
    EXPECT_EQ(ShownMessages(*w), (std::vector<std::string>{"fail 0", "fail now", "fail more"}));
    EXPECT_GT(mirror_.removals, 0u);
    EXPECT_EQ(w->RowCount(), 6u);
    ExpectMirrorHolds();

    // Sorted by message, greater first: the rows shown follow their rows.
    EXPECT_TRUE(w->HeaderClicked(kColumnMessage));
    EXPECT_EQ(ShownMessages(*w), (std::vector<std::string>{"fail now", "fail more", "fail 0"}));
    ExpectMirrorHolds();
    // While a new filter tests the rows, a sort waits for it.
    ASSERT_FALSE(w->SetFilter(FilterOf("o")));
    EXPECT_FALSE(w->HeaderClicked(kColumnMessage));
    FilterAll(*w);
    w->Tick();
    EXPECT_EQ(ShownMessages(*w), (std::vector<std::string>{"fail more", "fail now", "ok 1", "ok 5", "ok again"}));
    ExpectMirrorHolds();
}

TEST_F(EventListFilterTest, HeaderColumnsComeFromTheEventAndTheMessageCanLoseItsHeader) {
    processing::Rule cut = MessageRule("secret", processing::kTextAction | processing::kCutText);
    cut.strOutText = "secret";
    cut.outTextMode = processing::kOutMessage;
    const uint64_t uid = AddRule(cut);
    EventListSettings s;
    s.param = kListSortable;
    s.eventParam = 0x78;
    s.rules = {uid};
    auto w = std::make_unique<EventListLogic>(core_, pool_, mirror_, s);
    mirror_.logic = w.get();
    Send("10.0.0.1", "1 2024-02-01T03:04:05.120Z web01 nginx 4242 ACCESS - GET /index, \"ok\"");
    Send("10.0.0.2", "Feb  1 03:04:06 db02 postgres[77]: checkpoint starting");
    Send("10.0.0.3", "no header at all");
    Send("10.0.0.4", "Feb  1 03:04:07 app03 vault[9]: the secret is out");
    Settle();
    w->Tick();
    ASSERT_TRUE(Finish(*w));
    EXPECT_EQ(w->Columns(), ShownColumns(0));
    EXPECT_EQ(ShownColumns(0), (std::vector<int>{kColumnIcon, kColumnDate, kColumnSender, kColumnLevel, kColumnMessage}));
    EXPECT_EQ(Text(*w, 0, kColumnHost), "web01");
    EXPECT_EQ(Text(*w, 0, kColumnApp), "nginx");
    EXPECT_EQ(Text(*w, 0, kColumnProcId), "4242");
    EXPECT_EQ(Text(*w, 0, kColumnMsgId), "ACCESS");
    EXPECT_EQ(Text(*w, 0, kColumnSenderTime), "2024-02-01T03:04:05.120Z");
    EXPECT_EQ(Text(*w, 1, kColumnApp), "postgres");
    EXPECT_EQ(Text(*w, 1, kColumnProcId), "77");
    EXPECT_EQ(Text(*w, 2, kColumnHost), "");
    EXPECT_EQ(Text(*w, 1, kColumnMessage), "Feb  1 03:04:06 db02 postgres[77]: checkpoint starting");

    // Shown at once, no worker asked; the message without its header, a
    // rule's text whole.
    const size_t resets = mirror_.resets;
    w->SetColumns(kShowHost | kShowApp | kShowBodyOnly);
    EXPECT_EQ(mirror_.resets, resets + 1);
    EXPECT_EQ(w->Columns(), (std::vector<int>{kColumnIcon, kColumnDate, kColumnSender, kColumnHost, kColumnApp,
                                              kColumnLevel, kColumnMessage}));
    EXPECT_EQ(Text(*w, 1, kColumnMessage), "checkpoint starting");
    EXPECT_EQ(Text(*w, 2, kColumnMessage), "no header at all");
    EXPECT_EQ(Text(*w, 3, kColumnMessage), "Feb  1 03:04:07 app03 vault[9]: the   is out");
    EXPECT_EQ(w->BusyWorkers(), 0u);

    // A header column sorts like any other; hiding it ends that sort.
    EXPECT_TRUE(w->HeaderClicked(kColumnHost));
    EXPECT_EQ(Text(*w, 0, kColumnHost), "web01");
    EXPECT_EQ(Text(*w, 3, kColumnHost), "");
    EXPECT_TRUE(w->HeaderClicked(kColumnHost));
    EXPECT_EQ(Text(*w, 0, kColumnHost), "");
    w->SetColumns(kShowApp | kShowBodyOnly);
    EXPECT_EQ(w->Settings().sortDirection, 0);

    // The rows shown as CSV: the columns shown but "#", in their order.
    ASSERT_FALSE(w->SetFilter(FilterOf("checkpoint|GET", true)));
    FilterAll(*w);
    std::string csv = w->ShownRowsCsv();
    const std::string date = Text(*w, w->RowOfShown(0), kColumnDate);
    EXPECT_EQ(csv, "Дата,Отправитель,Приложение,Уровень,Сообщение\r\n" +
                       date + ",10.0.0.2,postgres,Infomational,checkpoint starting\r\n" +
                       date + ",10.0.0.1,nginx,Infomational,\"GET /index, \"\"ok\"\"\"\r\n")
        << csv;
    // With the filter on the message as shown: the header is no longer in it.
    ASSERT_FALSE(w->SetFilter(FilterOf("db02")));
    FilterAll(*w);
    EXPECT_EQ(w->ShownCount(), 0u);
    w->SetColumns(kShowApp);
    FilterAll(*w);
    EXPECT_EQ(w->ShownCount(), 1u);
    ExpectMirrorHolds();
}

}  // namespace
}  // namespace qm::windows::test
