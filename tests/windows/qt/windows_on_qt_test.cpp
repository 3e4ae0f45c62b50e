// The window module, the event list and the info box together on real Qt
// widgets (off-screen): the default home's window, rows filled by workers,
// details in one reused info box, close-hides, and what is saved at unload;
// and the loading window shown while the program starts and ends.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QTextCursor>

#include "core/string_table.h"
#include "platform/profile_file.h"
#include "support/wait_until.h"
#include "windows/qt/colors.h"
#include "windows/event_list/qt/event_list_content.h"
#include "windows/qt/frame.h"
#include "windows/info_box/qt/info_box_content.h"
#include "windows/qt/loading_window.h"
#include "windows/qt/program_windows_fixture.h"

namespace qm::windows::qt {
namespace {

using namespace std::chrono_literals;
using test::App;
using test::PumpUntil;

using WindowsOnQt = test::ProgramWindowsOnQt;

// A double click as the user makes it: on whatever of the bar lies under the
// pointer in part `part`, which leaves it to the bar.
void DoubleClickStatusPart(EventListStatusBar& status, int part) {
    const QPoint center = status.PartRect(part).center();
    QWidget* target = status.childAt(center);
    if (target == nullptr) target = &status;
    const QPointF at = target->mapFrom(&status, center);
    QMouseEvent click(QEvent::MouseButtonDblClick, at, target->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &click);
}

// A click as the mouse gives it, so the header's own handling runs too.
void ClickHeader(QHeaderView& header, int column) {
    const QPointF at(header.sectionViewportPosition(column) + header.sectionSize(column) / 2, header.height() / 2);
    const QPointF global = header.viewport()->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(header.viewport(), &press);
    QApplication::sendEvent(header.viewport(), &release);
}

TEST_F(WindowsOnQt, TheDefaultListShowsEventsAndItsDetailsReuseOneInfoBox) {
    auto* list = Shown<EventListContent>("Syslog");
    ASSERT_NE(list, nullptr) << "the default event list is shown";
    Submit("<11>severity 3 <b>not bold</b>", "192.0.2.13");
    Submit("<14>severity 6", "192.0.2.16");
    core_.events->Report(6, "system line");
    ASSERT_TRUE(Filled(*list, 3));
    QAbstractItemModel& model = *list->Table().model();
    const auto data = [&](int row, int column, int role = Qt::DisplayRole) {
        return model.data(model.index(row, column), role);
    };

    const processing::ColorScheme scheme = processing::ColorScheme::Defaults();
    for (const int severity : {3, 6}) {
        SCOPED_TRACE(severity);
        const int row = severity == 3 ? 0 : 1;
        EXPECT_EQ(data(row, kColumnDate).toString(), "01.02  03:04:05");
        EXPECT_EQ(data(row, kColumnSender).toString(), QString("192.0.2.1%1").arg(severity));
        EXPECT_EQ(data(row, kColumnLevel).toString().toStdString(), core_.Text(250 + severity));
        EXPECT_FALSE(data(row, kColumnIcon, Qt::DecorationRole).value<QIcon>().isNull());
        EXPECT_EQ(data(row, kColumnDate, Qt::BackgroundRole).value<QColor>(), ToQColor(scheme.background[severity]));
        EXPECT_EQ(data(row, kColumnDate, Qt::ForegroundRole).value<QColor>(), ToQColor(scheme.text[severity]));
    }
    EXPECT_EQ(data(2, kColumnDate, Qt::BackgroundRole).value<QColor>(), ToQColor(scheme.background[8]))
        << "a System event takes the System colours whatever its severity";

    // Details: one info box, reused for the next row; markup stays text.
    EXPECT_TRUE(data(0, kColumnMessage).toString().contains("<b>not bold</b>"));
    list->ShowDetails(0);
    FrameWidget* box = ShownFrame("Событие #");
    ASSERT_NE(box, nullptr);
    auto* info = dynamic_cast<InfoBoxContent*>(box->Content());
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->Text().toPlainText().contains("<b>not bold</b>"));
    const QString firstTitle = box->windowTitle();
    list->ShowDetails(1);
    ASSERT_TRUE(PumpUntil([&] { return box->windowTitle() != firstTitle; }));
    size_t boxes = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* f = dynamic_cast<FrameWidget*>(w); f && dynamic_cast<InfoBoxContent*>(f->Content())) ++boxes;
    EXPECT_EQ(boxes, 1u);

    // Closing the list hides it and clears its visible bit; unloading
    // saves the entry hidden and the list's own settings beside it.
    FrameWidget* frame = FrameTitled("Syslog");
    frame->close();
    ASSERT_TRUE(PumpUntil([&] { return !frame->isVisible(); }));
    ASSERT_TRUE(module_->Entry(0));
    EXPECT_FALSE(module_->Entry(0)->Has(kWindowVisible));
    core_.registry->UnloadAll();
    const platform::ProfileFile saved = platform::ProfileFile::Load(core_.paths.settingsFolder / "mod_window.ini");
    EXPECT_TRUE(saved.Get("mod_window -> std_report", "Wnd.1-ColSize").has_value());
    EXPECT_EQ(saved.Get("mod_window", "Item.0-Name"), "Syslog");
}
// A worker's result waits for the GUI thread to apply it. A window ended on
// that thread itself (the program's unload, the dialog replacing a window)
// must not wait for it: nothing would ever apply it, and the thread hung.
TEST_F(WindowsOnQt, AWindowEndedOnTheGuiThreadDoesNotWaitForAResultOnlyThatThreadCouldApply) {
    auto* list = Shown<EventListContent>("Syslog");
    ASSERT_NE(list, nullptr) << "the default event list is shown";
    Submit("<14>waiting for the GUI thread", "192.0.2.1");
    ASSERT_TRUE(core_.events->Settle(20000));
    list->TickNow();
    // Not pumped: the worker finishes and its result stays waiting.
    ASSERT_TRUE(qm::testing::WaitUntil([&] { return list->RunningWorkers() == 0; }));
    ASSERT_GT(list->BusyWorkers(), 0u);
    core_.registry->UnloadAll();
    EXPECT_EQ(core_.counters.windows.load(), 0u);
}


TEST_F(WindowsOnQt, ADoubleClickOnTheStatusBarShowsTheMemoryHistoryOrTheOperatingFigures) {
    auto* list = Shown<EventListContent>("Syslog");
    ASSERT_NE(list, nullptr) << "the default event list is shown";
    list->StatusNow();
    EventListStatusBar& status = list->StatusBar();
    ASSERT_EQ(status.PartCount(), 5);
    ASSERT_FALSE(status.PartRect(kMemoryStatusPart).isEmpty());

    DoubleClickStatusPart(status, kMemoryStatusPart);
    FrameWidget* box = ShownFrame("Memory usage");
    ASSERT_NE(box, nullptr);
    auto* info = dynamic_cast<InfoBoxContent*>(box->Content());
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->Text().toPlainText().contains("Leeked: ")) << info->Text().toPlainText().toStdString();
    // The state part: the operating figures, in the same box.
    DoubleClickStatusPart(status, 0);
    ASSERT_TRUE(PumpUntil([&] { return box->windowTitle().startsWith("Operating information"); }));
    EXPECT_TRUE(info->Text().toPlainText().contains("Threads: ")) << info->Text().toPlainText().toStdString();
}

TEST_F(WindowsOnQt, APinnedWindowGoesBackAndCallsFromOtherThreadsArriveInOrder) {
    FrameWidget* frame = ShownFrame("Syslog");
    ASSERT_NE(frame, nullptr);
    std::optional<WindowEntry> entry = module_->Entry(0);
    ASSERT_TRUE(entry);
    entry->param |= kWindowPinned;
    ASSERT_TRUE(module_->ReplaceWindow(0, *entry));
    PumpUntil([] { return false; }, 100ms);
    const Rect pinned = module_->Entry(0)->rect;

    frame->move(pinned.left + 120, pinned.top + 80);
    EXPECT_TRUE(PumpUntil([&] { return frame->CurrentOuterRect() == pinned; }, 5s)) << "moved back by the 1 s check";
    EXPECT_EQ(module_->Entry(0)->rect, pinned) << "the drag did not become the saved place";

    // Another thread drives the window while this one runs the GUI: every
    // call lands, in the order made.
    entry = module_->Entry(0);
    entry->param &= static_cast<uint16_t>(~kWindowPinned);
    entry->name = "Renamed once";
    std::atomic<bool> done{false};
    std::thread other([&] {
        module_->ReplaceWindow(0, *entry);
        entry->name = "Renamed twice";
        module_->ReplaceWindow(0, *entry);
        module_->ToggleWindow(0);
        module_->ToggleWindow(0);
        done = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
    other.join();
    EXPECT_TRUE(PumpUntil([&] { return frame->windowTitle() == "Renamed twice" && frame->isVisible(); }));
}

TEST_F(WindowsOnQt, DetailsFromTheMenuAreOfTheEventClickedWhileRowsMoveUnderIt) {
    auto* list = Shown<EventListContent>("Syslog");
    ASSERT_NE(list, nullptr) << "the default event list is shown";
    for (int n = 1; n <= 3; ++n) Submit("<14>from " + std::to_string(n), "192.0.2." + std::to_string(n));
    ASSERT_TRUE(Filled(*list, 3));
    list->Table().horizontalHeader()->sectionClicked(kColumnSender);
    const uint64_t clicked = list->Logic().Row(0).event->sequence;

    // While the menu is open the order turns round; then "Подробно..." is chosen.
    QTimer::singleShot(200ms, [&] {
        list->Table().horizontalHeader()->sectionClicked(kColumnSender);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        ASSERT_NE(menu->defaultAction(), nullptr);
        menu->setActiveAction(menu->defaultAction());
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(menu, &enter);
    });
    const QRect row0 = list->Table().visualRect(list->Table().model()->index(0, kColumnMessage));
    emit list->Table().customContextMenuRequested(row0.center());
    ASSERT_NE(list->Logic().Row(0).event->sequence, clicked) << "the rows did not move";
    FrameWidget* box = ShownFrame("Событие #");
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->windowTitle().startsWith(QString("Событие #%1 ").arg(clicked))) << box->windowTitle().toStdString();
}

TEST_F(WindowsOnQt, AResetSavesTheDefaultColumnWidthsItShows) {
    core_.options.windowReset = true;
    module_->LoadSection();  // as at a start with -wndreset
    auto* list = Shown<EventListContent>("Syslog");
    ASSERT_NE(list, nullptr) << "the default event list is shown";
    const uint32_t shown = static_cast<uint32_t>(list->Table().columnWidth(kColumnIcon));
    ASSERT_NE(shown, 24u) << "the home's own width was applied";
    core_.registry->UnloadAll();

    const platform::ProfileFile saved = platform::ProfileFile::Load(core_.paths.settingsFolder / "mod_window.ini");
    const auto widths = saved.ReadStruct("mod_window -> std_report", "Wnd.1-ColSize", 20);
    ASSERT_TRUE(widths);
    EXPECT_EQ((*widths)[0] | (*widths)[1] << 8, shown) << "the next start shows what this one did";
}

TEST_F(WindowsOnQt, TheSortColumnHasItsArrowCutStatusTextsEndInAnEllipsisAndZoomKeepsColumnsWhole) {
    auto* list = Shown<EventListContent>("Syslog");
    ASSERT_NE(list, nullptr) << "the default event list is shown";
    for (int n = 0; n < 8; ++n)  // every level name, each from its own sender
        Submit("<" + std::to_string(n) + ">event", "192.0.2." + std::to_string(n), "28 12 2024 23 58 58 0");
    ASSERT_TRUE(Filled(*list, 8));

    // Unsorted at first; then the arrow follows the clicks on sort columns,
    // and the rows their order.
    QHeaderView& header = *list->Table().horizontalHeader();
    QAbstractItemModel& model = *list->Table().model();
    EXPECT_FALSE(header.isSortIndicatorShown());
    ClickHeader(header, kColumnSender);
    EXPECT_TRUE(header.isSortIndicatorShown());
    EXPECT_EQ(header.sortIndicatorSection(), kColumnSender);
    EXPECT_EQ(header.sortIndicatorOrder(), Qt::DescendingOrder) << "greater texts first";
    EXPECT_EQ(model.data(model.index(0, kColumnSender)).toString(), "192.0.2.7");
    ClickHeader(header, kColumnSender);
    EXPECT_EQ(header.sortIndicatorOrder(), Qt::AscendingOrder);
    EXPECT_EQ(model.data(model.index(0, kColumnSender)).toString(), "192.0.2.0");
    ClickHeader(header, kColumnIcon);
    EXPECT_EQ(header.sortIndicatorSection(), kColumnSender) << "the icon column does not sort";
    EXPECT_EQ(header.sortIndicatorOrder(), Qt::AscendingOrder);

    // The narrowest window: the queue figures do not fit their part.
    FrameTitled("Syslog")->resize(kMinWindowWidth, kMinWindowHeight);
    list->StatusNow();
    EventListStatusBar& status = list->StatusBar();
    EXPECT_TRUE(PumpUntil([&] { return status.ShownText(3) != status.PartText(3); }, 5s)) << status.PartText(3).toStdString();
    EXPECT_TRUE(status.PartText(3).startsWith("Буфер: 8 "));
    EXPECT_TRUE(status.ShownText(3).endsWith(QChar(0x2026))) << status.ShownText(3).toStdString();

    // Zoomed far in, dates, level names and headers still fit their columns.
    ASSERT_TRUE(list->Zoom(10));
    auto& table = list->Table();
    QAbstractItemView& view = table;  // where the size hints are public
    for (int column : {kColumnDate, kColumnSender, kColumnLevel}) {
        SCOPED_TRACE(column);
        if (column != kColumnSender) {
            EXPECT_GE(table.columnWidth(column), view.sizeHintForColumn(column));
        }
        EXPECT_GE(table.columnWidth(column), header.sectionSizeHint(column));
    }
    const uint32_t zoomedDate = list->Logic().Settings().colSize[kColumnDate];
    EXPECT_EQ(zoomedDate, static_cast<uint32_t>(table.columnWidth(kColumnDate))) << "kept for the next start";
    ASSERT_TRUE(list->Zoom(-10));
    EXPECT_EQ(table.columnWidth(kColumnDate), static_cast<int>(zoomedDate)) << "never narrowed by the program";
}

TEST(InfoBoxOnQt, HighlightsLandOnTheRightTextAcrossLineEnds) {
    App();
    core::CoreContext core;
    core.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
    QWidget frame;
    InfoBoxContent box(core, 7, &frame);
    InfoContent content;
    content.title = "Состояние";
    content.text = "<i>markup</i>\r\n- Имя: значение\r\n- Другое: x";
    content.status = {"a", "b", "c", "d"};
    content.highlights[0].enabled = true;
    content.highlights[0].format.bold = true;
    content.highlights[0].startMarker = "- ";
    content.highlights[0].endMarker = ":";
    box.ShowContent(content);

    EXPECT_EQ(frame.windowTitle(), QString::fromUtf8("Состояние"));
    const QString shown = box.Text().toPlainText();
    EXPECT_EQ(shown, QString::fromUtf8("<i>markup</i>\n- Имя: значение\n- Другое: x"));
    const auto boldAt = [&](const QString& word) {
        QTextCursor cursor(box.Text().document());
        cursor.setPosition(static_cast<int>(shown.indexOf(word)) + 1);
        return cursor.charFormat().fontWeight() == QFont::Bold;
    };
    EXPECT_TRUE(boldAt(QString::fromUtf8("Имя")));
    EXPECT_TRUE(boldAt(QString::fromUtf8("Другое")));
    EXPECT_FALSE(boldAt(QString::fromUtf8("значение")));
    EXPECT_FALSE(boldAt("markup"));
    EXPECT_EQ(box.StatusText(3), "d");
}

TEST(LoadingWindowOnQt, GrowsToFitNeverShrinksAndSitsInTheCorner) {
    test::App();
    LoadingWindow window;
    window.SetText("Quillmark", "Loading ... Module: DBase");
    EXPECT_TRUE(window.isVisible());
    const QSize small = window.size();
    EXPECT_GE(small.width(), 320);
    EXPECT_GE(small.height(), 120);

    window.SetText("Quillmark", "Loading ... " + QString(120, 'x'));
    const QSize wide = window.size();
    EXPECT_GT(wide.width(), small.width());
    window.SetText("Quillmark", "Shutting down ... Complete");
    EXPECT_EQ(window.size(), wide) << "never shrinks";

    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(window.geometry().right(), work.right() - 10);
    EXPECT_EQ(window.geometry().bottom(), work.bottom() - 10);

    window.close();
    EXPECT_FALSE(window.isVisible()) << "a close request hides it";
}

}  // namespace
}  // namespace qm::windows::qt
