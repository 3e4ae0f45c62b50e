// The graph window on real Qt widgets (off-screen): what it paints from the
// collector's samples, the hover text, and the event list's menu that shows
// a sender's graph.
#include <gtest/gtest.h>

#include <cmath>

#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>

#include "core/string_table.h"
#include "platform/clock.h"
#include "core/value_collector.h"
#include "windows/qt/colors.h"
#include "windows/event_list/qt/event_list_content.h"
#include "windows/qt/frame.h"
#include "windows/graph/qt/graph_content.h"
#include "windows/qt/program_windows_fixture.h"

namespace qm::windows::qt {
namespace {

using namespace std::chrono_literals;
using test::App;
using test::PumpUntil;

constexpr uint32_t kBackground = 0x00202020;
constexpr uint32_t kPen = 0x0000FF00;    // green
constexpr uint32_t kError = 0x000000FF;  // red

// True when the pixel at `at` or one next to it has exactly this colour
// (lines are smoothed: their middle is the pen's colour, their rim blends).
bool ColourNear(const QImage& image, QPointF at, uint32_t colour) {
    const QColor wanted = ToQColor(colour);
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
            if (image.pixelColor(int(std::lround(at.x())) + dx, int(std::lround(at.y())) + dy).rgb() == wanted.rgb())
                return true;
    return false;
}

TEST(GraphOnQt, PaintsBackgroundLineAndErrorBarAndNamesTheSampleUnderTheMouse) {
    App();
    core::CoreContext core;
    core.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
    const uint64_t now = platform::UnixSecondsNow();
    uint64_t stamp = 0;
    core.values = std::make_unique<core::ValueCollector>([] { return 5000u; }, nullptr, [&] { return stamp; });
    const auto push = [&](uint64_t ago, std::optional<int32_t> v) {
        stamp = now - ago;
        core.values->Push("mod_icmp", "10.0.0.1", v ? std::optional<std::string_view>("msec") : std::nullopt,
                          v ? std::optional(core::Reading::I32(*v)) : std::nullopt);
    };
    push(1500, 10), push(1200, 20), push(900, std::nullopt), push(600, 15), push(300, 25);

    GraphSettings settings;
    settings.color[kGraphBackground] = kBackground;
    settings.color[kGraphError] = kError;
    settings.penSize = 3;
    settings.vendor = "10.0.0.1";
    settings.tags = {GraphTag{"msec (mod_icmp)", kPen}};
    GraphContent graph(core, 7, {}, settings);
    graph.resize(640, 400);
    graph.show();
    ASSERT_TRUE(PumpUntil([&] { return graph.isVisible(); }));
    graph.Refresh();

    const GraphPicture& picture = graph.ChartView().Picture();
    ASSERT_EQ(picture.series.size(), 1u);
    const SeriesPicture& series = picture.series[0];
    ASSERT_EQ(series.lines.size(), 2u);
    ASSERT_EQ(series.lines[0].size(), 2u);
    ASSERT_FALSE(series.errorBars.empty());
    const QImage image = graph.ChartView().grab().toImage();
    EXPECT_EQ(image.pixelColor(2, 2).rgb(), ToQColor(kBackground).rgb());
    const PointF a = series.lines[0][0].at, b = series.lines[0][1].at;
    EXPECT_TRUE(ColourNear(image, QPointF((a.x + b.x) / 2, (a.y + b.y) / 2), kPen)) << "the newer run is drawn";
    const BoxF bar = series.errorBars.back();
    EXPECT_TRUE(ColourNear(image, QPointF((bar.left + bar.right) / 2, (bar.top + bar.bottom) / 2), kError))
        << "the gap's bar is drawn";

    const QString hover = graph.ChartView().HoverText(QPoint(int(std::lround(b.x)) - 2, int(std::lround(b.y)) + 1));
    EXPECT_TRUE(hover.startsWith("msec (mod_icmp)\n") && hover.endsWith("\n25")) << hover.toStdString();
    EXPECT_TRUE(graph.ChartView().HoverText(QPoint(2, 2)).isEmpty());

    ASSERT_EQ(graph.StatusBar().PartCount(), 3);
    EXPECT_EQ(graph.StatusBar().PartText(1), "msec (mod_icmp)");
    // Shown again every second, the parts must not add up to more than the
    // window: it once grew a pixel wider at each turn.
    for (int tick = 0; tick < 5; ++tick) {
        graph.CountdownTick();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(graph.width(), 640);

    // A part too narrow for its text shows it cut with "…", the whole text kept.
    graph.resize(300, 400);
    ASSERT_TRUE(PumpUntil([&] { return graph.StatusBar().ShownText(0).endsWith(QChar(0x2026)); }))
        << graph.StatusBar().ShownText(0).toStdString();
    EXPECT_TRUE(graph.StatusBar().PartText(0).startsWith("10.0.0.1 (")) << graph.StatusBar().PartText(0).toStdString();
    EXPECT_TRUE(graph.StatusBar().PartText(0).endsWith(")"));
}

using GraphMenuOnQt = test::ProgramWindowsOnQt;

TEST_F(GraphMenuOnQt, TheRowMenuListsTheSendersGraphAndChoosingItShowsTheWindow) {
    auto* content = Shown<EventListContent>("Syslog");
    ASSERT_NE(content, nullptr);
    // A new home's "Program" graph draws the program's own values, hidden at first.
    FrameWidget* graph = FrameTitled("Program");
    ASSERT_NE(graph, nullptr);
    EXPECT_FALSE(graph->isVisible());
    ASSERT_NE(dynamic_cast<GraphContent*>(graph->Content()), nullptr);
    Submit("<14>from", "192.0.2.9");
    Submit("<14>from", "127.0.0.1");
    ASSERT_TRUE(Filled(*content, 2));

    // Runs the row's menu; `inMenu` gets the graph submenu while it is open.
    const auto withMenu = [&](int row, const std::function<void(QMenu& top, QMenu& graphs)>& inMenu) {
        QTimer::singleShot(100ms, [&] {
            auto* top = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            ASSERT_NE(top, nullptr);
            QMenu* graphs = nullptr;
            for (QAction* a : top->actions())
                if (a->menu() && a->text() == QString::fromUtf8("Показать график")) graphs = a->menu();
            ASSERT_NE(graphs, nullptr);
            inMenu(*top, *graphs);
        });
        const QRect cell = content->Table().visualRect(content->Table().model()->index(row, kColumnMessage));
        emit content->Table().customContextMenuRequested(cell.center());
    };

    withMenu(0, [](QMenu& top, QMenu& graphs) {
        EXPECT_FALSE(graphs.isEnabled()) << "no graph draws 192.0.2.9";
        top.close();
    });
    withMenu(1, [&](QMenu& top, QMenu& graphs) {
        ASSERT_TRUE(graphs.isEnabled());
        // The new home's two graphs of 127.0.0.1: its own figures and its ping.
        ASSERT_EQ(graphs.actions().size(), 2);
        EXPECT_EQ(graphs.actions()[1]->text(), QStringLiteral("Ping"));
        QAction* program = graphs.actions()[0];
        EXPECT_EQ(program->text(), QStringLiteral("Program"));
        EXPECT_FALSE(program->isChecked());
        top.setActiveAction(graphs.menuAction());
        QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
        QCoreApplication::sendEvent(&top, &right);
        ASSERT_TRUE(PumpUntil([&] { return QApplication::activePopupWidget() == &graphs; }, 10s));
        graphs.setActiveAction(program);
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(&graphs, &enter);
    });
    EXPECT_TRUE(PumpUntil([&] { return graph->isVisible(); })) << "choosing the graph shows it";
    const std::optional<WindowEntry> entry = module_->Entry(1);
    ASSERT_TRUE(entry);
    EXPECT_TRUE(entry->Has(kWindowVisible));
    EXPECT_EQ(entry->icon, kGraphIcon);
}

}  // namespace
}  // namespace qm::windows::qt
