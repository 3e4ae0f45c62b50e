// The event list's filter bar and its Columns menu on real Qt widgets
// (off-screen), in the default home's window: keys as the keyboard gives
// them, the rows the view shows, the status bar's count, the CSV of what is
// shown, and the columns kept for the next start.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QToolButton>

#include <fstream>

#include "platform/profile_file.h"
#include "windows/geometry.h"
#include "windows/info_box/qt/info_box_content.h"
#include "windows/qt/program_windows_fixture.h"

namespace qm::windows::qt {
namespace {

using namespace std::chrono_literals;
using test::PumpUntil;

using EventListFilterOnQt = test::ProgramWindowsOnQt;

QAction* ActionTitled(const QMenu& menu, const std::string& text) {
    for (QAction* a : menu.actions())
        if (a->text().toStdString() == text) return a;
    return nullptr;
}

std::vector<std::string> FileLines(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST_F(EventListFilterOnQt, CtrlFOpensTheBarItsFilterHidesAndShowsRowsAndEscClosesIt) {
    auto* list = Shown<EventListContent>("Syslog");
    ASSERT_NE(list, nullptr) << "the default event list is shown";
    for (int n = 0; n < 20; ++n)
        Submit("<" + std::to_string(8 + n % 8) + ">link " + (n % 2 ? "up " : "down ") + std::to_string(n),
               "192.0.2." + std::to_string(n % 4));
    ASSERT_TRUE(Filled(*list, 20));
    QAbstractItemModel& model = *list->Table().model();
    EventListFilterBar& bar = list->FilterBar();
    EXPECT_FALSE(bar.isVisible());
    EXPECT_LE(bar.minimumSizeHint().width(), kMinWindowWidth) << "the bar fits the narrowest window";

    // Ctrl+F in the window, as typed.
    FrameWidget* frame = FrameTitled("Syslog");
    frame->activateWindow();
    ASSERT_TRUE(PumpUntil([&] { return QApplication::activeWindow() == frame; }));
    list->Table().setFocus();
    QTest::keyClick(&list->Table(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(PumpUntil([&] { return bar.isVisible(); }));
    EXPECT_TRUE(bar.Text().hasFocus());

    // Typed text, any case: the downs only, the others still in the list.
    QTest::keyClicks(&bar.Text(), "DOWN");
    ASSERT_TRUE(PumpUntil([&] { return model.rowCount() == 10; }));
    for (int r = 0; r < 10; ++r)
        EXPECT_TRUE(model.data(model.index(r, kColumnMessage)).toString().startsWith("link down")) << r;
    EXPECT_EQ(list->Logic().RowCount(), 20u);
    // The second row shown is the list's third: its details are of that event.
    list->ShowDetails(1);
    FrameWidget* box = ShownFrame("Событие #");
    ASSERT_NE(box, nullptr);
    auto* info = dynamic_cast<InfoBoxContent*>(box->Content());
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->Text().toPlainText().contains("Сообщение: link down 2\n")) << info->Text().toPlainText().toStdString();
    list->StatusNow();
    EXPECT_TRUE(list->StatusBar().PartText(3).startsWith("Показано 10 из 20 | Буфер: "))
        << list->StatusBar().PartText(3).toStdString();

    // New rows are tested as they come.
    Submit("<11>link down 20", "192.0.2.9");
    Submit("<14>link up 21", "192.0.2.9");
    ASSERT_TRUE(Filled(*list, 22));
    ASSERT_TRUE(PumpUntil([&] { return model.rowCount() == 11; }));

    // At least Error (the fourth level down the list): the downs of 0, 2, 8,
    // 10, 16, 18 and 20.
    for (int step = 0; step < 4; ++step) QTest::keyClick(&bar.Severity(), Qt::Key_Down);
    ASSERT_TRUE(PumpUntil([&] { return model.rowCount() == 7; }));

    // An expression that does not compile is marked and changes nothing.
    QTest::mouseClick(&bar.Regex(), Qt::LeftButton);
    QTest::keyClicks(&bar.Text(), "(");
    ASSERT_TRUE(PumpUntil([&] { return bar.Refused(); }));
    EXPECT_FALSE(bar.Text().toolTip().isEmpty());
    EXPECT_EQ(model.rowCount(), 7);

    // What is shown, as shown, into a file.
    const std::filesystem::path csv = home_.path() / "shown.csv";
    ASSERT_FALSE(list->SaveCsv(csv.string()));
    const std::vector<std::string> lines = FileLines(csv);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "Дата,Отправитель,Уровень,Сообщение\r");
    EXPECT_EQ(lines[1], "01.02  03:04:05,192.0.2.0,Emergency,link down 0\r");

    // Esc: the bar goes, every row is back and the count leaves the status.
    QTest::keyClick(&bar.Text(), Qt::Key_Escape);
    ASSERT_TRUE(PumpUntil([&] { return !bar.isVisible(); }));
    EXPECT_EQ(model.rowCount(), 22);
    EXPECT_TRUE(bar.Text().text().isEmpty());
    EXPECT_EQ(bar.Severity().currentIndex(), 0);
    list->StatusNow();
    EXPECT_TRUE(list->StatusBar().PartText(3).startsWith("Буфер: ")) << list->StatusBar().PartText(3).toStdString();
}

TEST_F(EventListFilterOnQt, TheColumnsMenuShowsAHeaderFieldAndTheNextStartShowsItToo) {
    auto* list = Shown<EventListContent>("Syslog");
    ASSERT_NE(list, nullptr) << "the default event list is shown";
    Submit("<14>1 2024-02-01T03:04:05Z web01 nginx 4242 ACCESS - GET /", "192.0.2.1");
    ASSERT_TRUE(Filled(*list, 1));
    QAbstractItemModel& model = *list->Table().model();
    ASSERT_EQ(model.columnCount(), 5);

    // Right click, "Столбцы", "Хост", as the keyboard chooses them. The
    // steps belong to this test: none of them fires into a later one.
    QObject steps;
    QTimer::singleShot(200ms, &steps, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        QAction* columns = ActionTitled(*menu, "Столбцы");
        ASSERT_NE(columns, nullptr);
        menu->setActiveAction(columns);  // opens the submenu
        QTimer::singleShot(200ms, &steps, [&] {
            auto* sub = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            ASSERT_NE(sub, nullptr);
            QAction* host = ActionTitled(*sub, "Хост");
            ASSERT_NE(host, nullptr);
            EXPECT_FALSE(host->isChecked());
            sub->setActiveAction(host);
            QTest::keyClick(sub, Qt::Key_Return);
        });
    });
    // Never left open should a step above fail.
    QTimer::singleShot(10s, &steps, [] {
        while (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    });
    const QRect row0 = list->Table().visualRect(model.index(0, kColumnMessage));
    emit list->Table().customContextMenuRequested(row0.center());

    ASSERT_EQ(model.columnCount(), 6);
    const int host = 3;  // after the sender
    EXPECT_EQ(model.headerData(host, Qt::Horizontal).toString(), "Хост");
    EXPECT_EQ(model.data(model.index(0, host)).toString(), "web01");
    EXPECT_EQ(model.data(model.index(0, host + 1)).toString().toStdString(), core_.Text(256));  // the level, moved on
    EXPECT_GT(list->Table().columnWidth(host), 20);

    core_.registry->UnloadAll();
    const platform::ProfileFile saved = platform::ProfileFile::Load(core_.paths.settingsFolder / "mod_window.ini");
    EXPECT_EQ(saved.Get("mod_window -> std_report", "Wnd.1-Columns"), "0202");
}

}  // namespace
}  // namespace qm::windows::qt
