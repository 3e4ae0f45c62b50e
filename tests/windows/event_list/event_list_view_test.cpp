// Sorting, header clicks, the status bar and what a double click on it
// shows, zoom and the menu.
#include <random>

#include "windows/event_list/event_list_test_support.h"
#include "windows/event_list/row_sort.h"
#include "windows/event_list/status_info.h"
#include "windows/event_list/status_texts.h"

namespace qm::windows::test {
namespace {

TEST(EventListSort, DateComparesMonthFirstAndTextsByUtf16CodeUnits) {
    std::vector<EventRow> rows(3);
    rows[0].fill.texts[kColumnDate] = "31.12  23:59:58";
    rows[1].fill.texts[kColumnDate] = "01.01  00:00:01";
    rows[2].fill.texts[kColumnDate] = "02.12  10:00:00";
    // Smaller first: the year is not in the text, so 31.12 goes after 01.01.
    EXPECT_EQ(SortOrder(rows, -kColumnDate), (std::vector<size_t>{1, 2, 0}));
    EXPECT_EQ(SortOrder(rows, kColumnDate), (std::vector<size_t>{0, 2, 1}));
    EXPECT_EQ(SortOrder(rows, 0), (std::vector<size_t>{0, 1, 2}));
    // Beyond the basic plane a text starts with a surrogate, below U+FF5E.
    EXPECT_LT(CompareColumnTexts(kColumnMessage, "\xF0\x9F\x98\x80", "\xEF\xBD\x9E"), 0);
    EXPECT_LT(CompareColumnTexts(kColumnMessage, "ab", "abc"), 0);
    EXPECT_GT(CompareColumnTexts(kColumnMessage, "b", "a"), 0);
    EXPECT_LT(CompareColumnTexts(kColumnMessage, "Z", "a"), 0);  // code units, not letters

    EXPECT_EQ(DirectionAfterHeaderClick(0, kColumnDate, true), kColumnDate);
    EXPECT_EQ(DirectionAfterHeaderClick(kColumnDate, kColumnDate, true), -kColumnDate);
    EXPECT_EQ(DirectionAfterHeaderClick(-kColumnDate, kColumnDate, true), kColumnDate);
    EXPECT_EQ(DirectionAfterHeaderClick(-kColumnDate, kColumnLevel, true), kColumnLevel);
    EXPECT_EQ(DirectionAfterHeaderClick(3, kColumnIcon, true), 3);
    EXPECT_EQ(DirectionAfterHeaderClick(3, kColumnDate, false), 3);
}

TEST(EventListSort, MergingNewRowsIntoASortedListGivesTheFullSortsOrder) {
    std::mt19937 random(7);
    for (int32_t direction : {int32_t{kColumnDate}, -kColumnDate, int32_t{kColumnSender}, -kColumnMessage}) {
        SCOPED_TRACE(direction);
        std::vector<EventRow> rows(400);
        for (EventRow& r : rows) {
            // Few distinct texts, so equal keys (and stability) matter.
            const unsigned v = random() % 23;
            r.fill.texts[kColumnDate] = (v < 10 ? "0" : "") + std::to_string(v % 28 + 1) + ".0" +
                                        std::to_string(v % 9 + 1) + "  10:00:00";
            r.fill.texts[kColumnSender] = "10.0.0." + std::to_string(v);
            r.fill.texts[kColumnMessage] = v % 3 ? "link \xD0\xB2\xD0\xB2\xD0\xB5\xD1\x80\xD1\x85" : "\xF0\x9F\x98\x80 up";
            r.fill.messageReplaced = true;
        }
        // The first 300 in order, as a previous sort left them; 100 new at the end.
        const std::vector<size_t> first = SortOrder(std::vector<EventRow>(rows.begin(), rows.begin() + 300), direction);
        std::vector<EventRow> list;
        for (size_t i : first) list.push_back(rows[i]);
        list.insert(list.end(), rows.begin() + 300, rows.end());
        EXPECT_EQ(SortOrder(list, direction, 300), SortOrder(list, direction));
        EXPECT_EQ(SortOrder(list, direction, 400), SortOrder(list, 0)) << "all sorted already: nothing moves";
    }
}

TEST_F(EventListTest, HeaderClicksSortAtOnceAndNewRowsAreSortedWhenWorkersAreDone) {
    auto w = Window(kListSortable | kListAutoscroll);
    Send("10.0.0.1", "b", 6, "5 1 2024 0 0 0 0");
    Send("10.0.0.2", "c", 6, "31 12 2023 0 0 0 0");
    Send("10.0.0.3", "a", 6, "1 1 2024 0 0 0 0");
    Settle();
    w->Tick();
    ASSERT_TRUE(Finish(*w));
    const auto messages = [&] {
        std::string out;
        for (size_t r = 0; r < w->RowCount(); ++r) out += Text(*w, r, kColumnMessage);
        return out;
    };
    EXPECT_TRUE(w->HeaderClicked(kColumnDate));   // greater first
    EXPECT_EQ(messages(), "cba");
    EXPECT_EQ(view_.lastOrder, (std::vector<size_t>{1, 0, 2}));  // where b, c and a went
    EXPECT_TRUE(w->HeaderClicked(kColumnDate));
    EXPECT_EQ(messages(), "abc");
    EXPECT_FALSE(w->HeaderClicked(kColumnIcon));
    EXPECT_EQ(w->Settings().sortDirection, -kColumnDate);

    // A new row is sorted in at the tick that finds its worker done, and
    // grouping still finds rows by sender after the move.
    w->ApplyOptions(kListSortable | kListAutoscroll | kListGroupBySender, 0x78);
    Send("10.0.0.4", "d", 6, "2 1 2024 0 0 0 0");
    Send("10.0.0.2", "e", 6, "31 12 2023 0 0 0 0");
    Settle();
    w->Tick();
    ASSERT_TRUE(Finish(*w));
    const size_t scrolls = view_.scrolls;
    w->Tick();
    EXPECT_EQ(messages(), "adbe");  // e took c's row
    EXPECT_EQ(view_.scrolls, scrolls + 1);

    w->ApplyOptions(0, 0x78);
    EXPECT_FALSE(w->HeaderClicked(kColumnMessage));
}

TEST_F(EventListTest, StatusBarTextsStatesAndParts) {
    StatusInputs in;
    in.moduleThreads = 3;
    in.memoryInUse = 1024;
    in.bytesReceived = 1023, in.datagramsReceived = 2, in.bytesSent = 1048576, in.datagramsSent = 5;
    in.queueCount = 4000, in.queueLimit = 8000, in.eventsPerMinute = 120, in.rows = 7;
    in.runningSeconds = 90061;
    const std::vector<StatusPart> parts = StatusParts(core_, in, false);
    ASSERT_EQ(parts.size(), 5u);
    EXPECT_EQ(parts[0], (StatusPart{"Готов", 15}));
    EXPECT_EQ(parts[1].text, "1.00 KB");
    EXPECT_EQ(parts[2].text, "↓ 1023 byte (пкт: 2) | ↑ 1.00 MB (пкт: 5)");
    EXPECT_EQ(parts[3].text, "Буфер: 4000 (120 соб./мин.) | Список: 7 (0 мсек./соб.)");  // nothing processed yet
    EXPECT_EQ(parts[4].text, "01 01:01:01");
    EXPECT_EQ(RunningTimeText(3599), "00:59:59");

    const std::vector<StatusPart> simple = StatusParts(core_, in, true);
    ASSERT_EQ(simple.size(), 1u);
    EXPECT_EQ(simple[0].text, "Готов   " + std::string(15, ':') + std::string(15, '.') + " 50%");
    in.queueCount = 0;
    EXPECT_EQ(StatusParts(core_, in, true)[0].text, "Готов");

    // The states in their order of precedence.
    in.busyHandlers = 1;
    EXPECT_EQ(StatePart(core_, in), (StatusPart{"Работаем...", 16}));
    in.moduleThreads = 1;
    EXPECT_EQ(StatePart(core_, in), (StatusPart{"Остановлено", 14}));
    in.startupBusy = 1;
    EXPECT_EQ(StatePart(core_, in), (StatusPart{"Загрузка...", 17}));

    EXPECT_EQ(StatusPartEdges({10, 10, 35, 35, 10}, 1000, false), (std::vector<int32_t>{100, 200, 550, 900, 1000}));
    EXPECT_EQ(StatusPartEdges({60, 60, 0, 0, 0}, 1000, false), (std::vector<int32_t>{600, 1000, 1000, 1000, 1000}));
    EXPECT_EQ(StatusPartEdges({10, 10, 35, 35, 10}, 1000, true), (std::vector<int32_t>{1000}));

    EventRate rate;
    EXPECT_EQ(rate.Update(100, 0), 0u);
    EXPECT_EQ(rate.Update(150, 59999), 0u);
    EXPECT_EQ(rate.Update(400, 120000), 150u);

    auto w = Window(kListSimpleStatus);
    EXPECT_EQ(w->StatusTick().size(), 1u);
    w->ToggleParam(kListSimpleStatus);
    EXPECT_EQ(w->StatusTick().size(), 5u);
}

TEST_F(EventListTest, ZoomStepsFromTheCoreFontAndTheMenuFollowsTheOptions) {
    core_.settings.font.height = -16;  // 12 points at 96 dpi
    auto w = Window(kListGroupBySender | kListAutoscroll);
    EXPECT_EQ(w->EffectiveFontHeight(), -16);
    ASSERT_TRUE(w->ZoomIn());
    EXPECT_EQ(w->Settings().fontHeight, -19);  // 13 points would round back to 12: 14
    ASSERT_TRUE(w->ZoomOut());
    ASSERT_TRUE(w->ZoomOut());
    EXPECT_EQ(w->Settings().fontHeight, -15);

    EventListMenuState m = w->MenuState(true, false, std::nullopt);
    EXPECT_TRUE(m.autoscrollChecked && m.onTopChecked && m.deselectEnabled);
    EXPECT_FALSE(m.pinChecked || m.deselectChecked || m.detailsEnabled);
    w->ApplyOptions(kListDeselectGrouped, 0x78);
    m = w->MenuState(false, true, 0);
    EXPECT_TRUE(m.pinChecked && m.deselectChecked);
    EXPECT_FALSE(m.deselectEnabled || m.detailsEnabled);  // no such row
    EXPECT_FALSE(MenuStateFor(0, false, false, true, -67, 96).zoomInEnabled);
}

core::MemorySnapshot InUse(uint64_t bytes) { return {bytes + 100, 50, 50, 100}; }

TEST(StatusInfo, MemoryHistoryNowFirstThenTheDrainsOldestFirstWithTheLeakLine) {
    // Two drains so far: the two older places show "0 byte".
    core::MemorySnapshots::Array snapshots{};
    snapshots[2] = InUse(2048);
    snapshots[3] = InUse(1048576);
    EXPECT_EQ(MemoryHistoryText(3072, snapshots),
              "Memory usage history:\r\n\r\n- 3.00 KB\r\n- 0 byte\r\n- 0 byte\r\n- 2.00 KB\r\n- 1.00 MB");

    // Growth from the oldest drain on record: 2048 -> 3072 is 1024 bytes, 50 %.
    EXPECT_EQ(EstimateLeak(3072, snapshots), (LeakEstimate{50, 1024}));
    EXPECT_EQ(WithLeakLine("text", {50, 1024}), "text\r\n\r\nLeeked: 50% (1024 bytes)");
    // No drain yet, or less in use than then: nothing leaked.
    EXPECT_EQ(EstimateLeak(3072, core::MemorySnapshots::Array{}), (LeakEstimate{0, 0}));
    EXPECT_EQ(EstimateLeak(1000, snapshots), (LeakEstimate{0, 0}));
    snapshots[0] = InUse(1000);
    EXPECT_EQ(EstimateLeak(3072, snapshots), (LeakEstimate{207, 2072}));
}

TEST(StatusInfo, TheMemoryPartGivesTheMemoryTextsAndEveryOtherPartTheOperatingFigures) {
    core::CoreContext core;
    core.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
    OperatingFigures f;
    f.state = "Готов";
    f.runningSeconds = 3661;
    f.memoryInUse = 1023;
    f.threads = 12, f.windows = 2, f.collisions = 1, f.lockUsers = 3;
    f.datagramsReceived = 5, f.bytesReceived = 1024;
    f.datagramsSent = 1, f.bytesSent = 10;
    f.queueCount = 42;
    f.snapshots[3] = InUse(1000);

    const InfoContent memory = StatusInfo(core, kMemoryStatusPart, false, f);
    EXPECT_EQ(memory.title, "Memory usage");
    EXPECT_EQ(memory.text, "Memory usage history:\r\n\r\n- 1023 byte\r\n- 0 byte\r\n- 0 byte\r\n- 0 byte\r\n- 1000 byte"
                           "\r\n\r\nLeeked: 2% (23 bytes)");
    EXPECT_EQ(memory.icon, kMemoryIcon);

    const std::string operating =
        "State: Готов\r\nRunning time: 01:01:01\r\nMemory in use: 1023 byte\r\nThreads: 12\r\nWindows: 2\r\n"
        "Lock collisions: 1\r\nLock users: 3\r\nReceived: 1.00 KB, datagrams: 5\r\nSent: 10 byte, datagrams: 1\r\n"
        "Queue: 42 events";
    for (int part : {0, 2, 3, 4}) {
        const InfoContent info = StatusInfo(core, part, false, f);
        EXPECT_EQ(info.title, "Operating information") << part;
        EXPECT_EQ(info.text, operating) << part;
    }
    // The simple bar's one part is the state's.
    EXPECT_EQ(StatusInfo(core, 0, true, f).text, operating);
}

}  // namespace
}  // namespace qm::windows::test
