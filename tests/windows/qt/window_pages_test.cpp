// The settings dialog's window pages on real Qt widgets (off-screen), over
// the program's own modules with its windows: a graph's and an info window's
// own settings chosen on the page, handed to the window module, drawn by the
// running window and written to mod_window.ini; a busy module changes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "core/core_context.h"
#include "core/value_collector.h"
#include "support/program_home.h"
#include "support/udp_peer.h"
#include "support/wait_until.h"
#include "windows/graph/graph_settings.h"
#include "windows/info_box/info_box_settings.h"
#include "windows/qt/field_form.h"
#include "windows/qt/frame.h"
#include "windows/qt/graph_content.h"
#include "windows/qt/info_box_content.h"
#include "windows/qt/program_windows.h"
#include "windows/qt/qt_test_support.h"
#include "windows/qt/record_page.h"
#include "windows/qt/settings_dialog.h"
#include "windows/qt/window_type_form.h"
#include "windows/window_module/window_module.h"

namespace qm::windows::qt {
namespace {

using core::RecordSet;
using test::App;
using test::PumpUntil;
namespace str = core::str;

class WindowPagesTest : public ::testing::Test {
protected:
    WindowPagesTest() {
        App();
        home_.Listen(qm::testing::FreePort());
        // The story adds its own host.
        home_.StopPinging();
        core_.paths = core::Paths::Build(home_.Home() / "quillmark", home_.Home());
        windows_ = std::make_unique<ProgramWindows>(core_);
        core_.catalog = ProgramCatalogWithWindows();
        core::CoreStart(core_);
        dialog_ = std::make_unique<SettingsDialog>(core_, nullptr);
    }
    ~WindowPagesTest() override {
        dialog_.reset();
        core::CoreShutdown(core_);
        windows_.reset();
    }
    RecordPage& Page(uint32_t title) {
        EXPECT_TRUE(dialog_->ShowPage(QString::fromStdString(core_.Text(title))));
        for (int i = 0; i < dialog_->PageCount(); ++i)
            if (auto* page = dynamic_cast<RecordPage*>(dialog_->Page(i)); page && page->Layout().title == title) return *page;
        throw std::runtime_error("no page " + core_.Text(title));
    }
    WindowModule& Windows() { return dynamic_cast<WindowModule&>(*core_.registry->Find(core::kModuleWindow)); }
    std::optional<WindowSummary> Window(const std::string& name) {
        for (const WindowSummary& w : Windows().Windows())
            if (w.name == name) return w;
        return std::nullopt;
    }
    template <typename Content>
    Content* ContentOf(uint64_t uid) {
        FrameWidget* frame = test::FindTopLevel<FrameWidget>([&](FrameWidget& w) { return w.Uid() == uid; });
        return frame ? dynamic_cast<Content*>(frame->Content()) : nullptr;
    }
    // What a fresh read of mod_window.ini gives, as the next start would.
    GraphSettings StoredGraph(uint64_t uid) {
        const core::Config config(core_.paths.settingsFolder);
        return LoadGraphSettings(config.Open(kWindowSettingsFile, kGraphSection), uid, core_.dotsPerInch);
    }
    InfoBoxSettings StoredInfoBox(uint64_t uid) {
        return LoadInfoBoxSettings(core::Config(core_.paths.settingsFolder), uid, core_.dotsPerInch);
    }
    std::string Label(uint32_t id) { return core_.Text(id); }
    static QPushButton* Button(QWidget& in, const char* name) { return in.findChild<QPushButton*>(name); }

    qm::testing::ProgramHome home_;
    core::CoreContext core_;
    std::unique_ptr<ProgramWindows> windows_;
    std::unique_ptr<SettingsDialog> dialog_;
};

TEST_F(WindowPagesTest, AHostAddedOnTheIcmpPageIsDrawnByAGraphAddedAndSetOnTheGraphsPage) {
    // The ICMP page: a new host hands its replies to the graphs; the service on.
    RecordPage& icmp = Page(str::kPageIcmp);
    icmp.OpenRecordForm(RecordSet::Item, -1);
    dynamic_cast<QLineEdit*>(icmp.OpenForm()->Fields().Control("StrName"))->setText("127.0.0.1");
    icmp.OpenForm()->Submit();
    ASSERT_TRUE(PumpUntil([&] { return icmp.OpenForm() == nullptr; }));
    ASSERT_FALSE(icmp.ApplyCommon({{"EnableService", "1"}, {"RepeatTimeout", "1000"}}));
    icmp.StartService();
    ASSERT_TRUE(PumpUntil([&] { return !icmp.ServiceCallRunning(); }));
    ASSERT_EQ(icmp.Status().toStdString(), Label(str::kDialogServiceStarted));
    const std::string tag = core::ValueCollector::StoredTag("msec", "mod_icmp");
    ASSERT_TRUE(PumpUntil([&] {
        const auto tags = core_.values->Tags("127.0.0.1");
        return std::find(tags.begin(), tags.end(), tag) != tags.end();
    }, std::chrono::seconds(60)));

    // The Graphs page: a new window, shown selected with its settings.
    RecordPage& graphs = Page(str::kPageGraphs);
    graphs.OpenRecordForm(RecordSet::Item, -1);
    dynamic_cast<QLineEdit*>(graphs.OpenForm()->Fields().Control("Name"))->setText("Replies");
    graphs.OpenForm()->Submit();
    ASSERT_TRUE(PumpUntil([&] { return graphs.OpenForm() == nullptr; }));
    const std::optional<WindowSummary> added = Window("Replies");
    ASSERT_TRUE(added);
    EXPECT_EQ(added->type, kWindowGraph);
    WindowTypeForm& form = *graphs.TypeForm();
    ASSERT_FALSE(form.ForNewWindow());
    EXPECT_EQ(form.title().toStdString(), core_.Text(str::kDialogWindowSettings, "Replies"));

    // Vendor and tag are offered from what the collector holds now.
    const int vendor = form.Vendor()->findText("127.0.0.1");
    ASSERT_GE(vendor, 0);
    form.Vendor()->setCurrentIndex(vendor);
    Button(form, "addTag")->click();
    ASSERT_EQ(form.Tags()->rowCount(), 1);
    auto* name = qobject_cast<QComboBox*>(form.Tags()->cellWidget(0, 0));
    ASSERT_NE(name, nullptr);
    ASSERT_GE(name->findText(QString::fromStdString(tag)), 0);
    name->setCurrentIndex(name->findText(QString::fromStdString(tag)));
    dynamic_cast<QLineEdit*>(form.Control("TimeRange"))->setText("5");
    dynamic_cast<QLineEdit*>(form.Control("RefreshTimeout"))->setText("2");
    Button(form, "applyWindow")->click();
    EXPECT_EQ(graphs.Status().toStdString(), Label(str::kDialogSaved));

    // Written for the next start, entry and chart.
    const GraphSettings stored = StoredGraph(added->uid);
    EXPECT_EQ(stored.vendor, "127.0.0.1");
    ASSERT_EQ(stored.tags.size(), 1u);
    EXPECT_EQ(stored.tags[0].name, tag);
    EXPECT_EQ(stored.timeRange, 5u);
    EXPECT_EQ(stored.refreshTimeout, 2000u);
    const platform::ProfileFile file = platform::ProfileFile::Load(home_.Settings("mod_window"));
    EXPECT_EQ(file.Get("mod_window", "Item." + std::to_string(added->index) + "-Name"), "Replies");

    // The running window draws the pings with them.
    GraphContent* graph = ContentOf<GraphContent>(added->uid);
    ASSERT_NE(graph, nullptr);
    EXPECT_EQ(graph->Settings(), stored);
    ASSERT_TRUE(PumpUntil([&] { return graph->isVisible(); }));
    ASSERT_TRUE(PumpUntil([&] {
        const Chart& chart = graph->ChartView().CurrentChart();
        return !chart.series.empty() && !chart.series[0].points.empty();
    }, std::chrono::seconds(30)));
    EXPECT_EQ(graph->StatusBar().PartText(1), QString::fromStdString(tag));

    // The form shows what the module wrote.
    EXPECT_EQ(form.Vendor()->currentText(), "127.0.0.1");
    EXPECT_EQ(dynamic_cast<QLineEdit*>(form.Control("TimeRange"))->text(), "5");
}

TEST_F(WindowPagesTest, AnInfoWindowIsAddedWithItsOwnSettingsAndChangedLater) {
    RecordPage& info = Page(str::kPageInfoWindow);
    WindowTypeForm& form = *info.TypeForm();
    ASSERT_TRUE(form.ForNewWindow());
    QList<QLineEdit*> parts = form.Control("SBarParts")->findChildren<QLineEdit*>();
    ASSERT_EQ(parts.size(), 4);
    const char* widths[] = {"40", "30", "20", "10"};
    for (int i = 0; i < 4; ++i) parts[i]->setText(widths[i]);
    dynamic_cast<QLineEdit*>(form.Control("FontHeight"))->setText("-20");
    ASSERT_FALSE(info.AddRecord(RecordSet::Item, {{"Name", "Notes"}}));

    const std::optional<WindowSummary> added = Window("Notes");
    ASSERT_TRUE(added);
    EXPECT_EQ(added->type, kWindowInfoBox);
    const StatusPartPercents expected{{40, 30, 20, 10}};
    EXPECT_EQ(StoredInfoBox(added->uid).statusParts, expected);
    EXPECT_EQ(StoredInfoBox(added->uid).fontHeight, -20);
    InfoBoxContent* box = ContentOf<InfoBoxContent>(added->uid);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->Settings().statusParts, expected);

    // Now selected: changed through Apply; a box without a number changes nothing.
    ASSERT_FALSE(form.ForNewWindow());
    form.Control("SBarParts")->findChildren<QLineEdit*>()[0]->setText("x");
    const auto& fields = InfoBoxSettings::Fields().fields;
    const auto field = std::find_if(fields.begin(), fields.end(), [](const core::FieldDef& f) { return f.key == "SBarParts"; });
    ASSERT_NE(field, fields.end());
    EXPECT_EQ(form.Apply(), core_.Text(str::kFieldNotNumber, FieldLabel(core_, *field).c_str()));
    EXPECT_EQ(StoredInfoBox(added->uid).statusParts, expected);
    form.Control("SBarParts")->findChildren<QLineEdit*>()[0]->setText("50");
    dynamic_cast<QLineEdit*>(form.Control("FontHeight"))->setText("-24");
    EXPECT_FALSE(form.Apply());
    EXPECT_EQ(StoredInfoBox(added->uid).fontHeight, -24);
    EXPECT_EQ(StoredInfoBox(added->uid).statusParts[0], 50u);
    EXPECT_EQ(box->Settings().fontHeight, -24);
    EXPECT_EQ(box->Settings().statusParts[0], 50u);

    // Zoomed in the window since: the form shows the zoom, and an Apply of
    // something else keeps it rather than writing the saved height back.
    ASSERT_TRUE(box->ZoomIn());
    const int32_t zoomed = box->Settings().fontHeight;
    ASSERT_NE(zoomed, -24);
    info.Refresh();
    EXPECT_EQ(dynamic_cast<QLineEdit*>(form.Control("FontHeight"))->text().toStdString(), std::to_string(zoomed));
    form.Control("SBarParts")->findChildren<QLineEdit*>()[1]->setText("25");
    EXPECT_FALSE(form.Apply());
    EXPECT_EQ(box->Settings().fontHeight, zoomed);
    EXPECT_EQ(box->Settings().statusParts[1], 25u);
    EXPECT_EQ(StoredInfoBox(added->uid).fontHeight, zoomed);
}

// A window added in a slot before the chosen one moves the rows down: the
// choice stays with its window, and Edit opens that window, not its row's.
TEST_F(WindowPagesTest, TheChosenWindowStaysChosenWhenRowsMove) {
    RecordPage& graphs = Page(str::kPageGraphs);
    const std::optional<WindowSummary> ping = Window("Ping"), syslog = Window("Syslog");
    ASSERT_TRUE(ping && syslog);
    ASSERT_LT(syslog->index, ping->index);
    const auto nameAt = [&](int row) {
        const QTableWidgetItem* name = graphs.Items()->item(row, 2);
        return row < 0 || !name ? std::string() : name->text().toStdString();
    };
    ASSERT_EQ(graphs.Items()->horizontalHeaderItem(2)->toolTip(), "Name");
    int row = -1;
    for (int r = 0; r < graphs.Items()->rowCount(); ++r)
        if (nameAt(r) == "Ping") row = r;
    ASSERT_GE(row, 0);
    graphs.Items()->selectRow(row);

    // The event list's slot is given up and a new graph takes it over.
    WindowEntry gone = *Windows().Entry(syslog->index);
    gone.marked = true;
    ASSERT_TRUE(Windows().ReplaceWindow(syslog->index, gone));
    WindowEntry added;
    added.type = kWindowGraph;
    added.name = "Newer";
    ASSERT_EQ(Windows().AddWindow(added), syslog->index);
    graphs.Refresh();

    const QList<QTableWidgetItem*> selected = graphs.Items()->selectedItems();
    ASSERT_FALSE(selected.isEmpty());
    EXPECT_EQ(nameAt(selected.front()->row()), "Ping");
    Button(graphs, "edit")->click();
    ASSERT_NE(graphs.OpenForm(), nullptr);
    EXPECT_EQ(dynamic_cast<QLineEdit*>(graphs.OpenForm()->Fields().Control("Name"))->text(), "Ping");
    graphs.OpenForm()->close();
}

TEST_F(WindowPagesTest, ABusyWindowModuleAnswersWithTheBusyMessageAndNothingChanges) {
    RecordPage& graphs = Page(str::kPageGraphs);
    const std::optional<WindowSummary> ping = Window("Ping");
    ASSERT_TRUE(ping);
    const GraphSettings before = StoredGraph(ping->uid);
    int row = -1;
    for (int r = 0; r < graphs.Items()->rowCount(); ++r)
        for (int c = 0; c < graphs.Items()->columnCount(); ++c)
            if (graphs.Items()->item(r, c) && graphs.Items()->item(r, c)->text() == "Ping") row = r;
    ASSERT_GE(row, 0);
    graphs.Items()->selectRow(row);
    WindowTypeForm& form = *graphs.TypeForm();
    ASSERT_FALSE(form.ForNewWindow());
    form.Vendor()->setCurrentText("10.0.0.9");
    const size_t count = Windows().EntryCount();

    std::atomic<bool> held{false}, release{false};
    std::thread holder([&] {
        Windows().Lock().Enter();
        held = true;
        qm::testing::WaitUntil([&] { return release.load(); }, std::chrono::seconds(60));
        Windows().Lock().Leave();
    });
    ASSERT_TRUE(qm::testing::WaitUntil([&] { return held.load(); }));
    const std::string busy = Label(str::kDialogBusy);
    EXPECT_EQ(form.Apply(), busy);
    EXPECT_EQ(graphs.Status().toStdString(), busy);
    EXPECT_EQ(graphs.AddRecord(RecordSet::Item, {{"Name", "More"}}), busy);
    release = true;
    holder.join();

    EXPECT_EQ(Windows().EntryCount(), count);
    EXPECT_EQ(StoredGraph(ping->uid), before);
    GraphContent* graph = ContentOf<GraphContent>(ping->uid);
    ASSERT_NE(graph, nullptr);
    EXPECT_EQ(graph->Settings().vendor, before.vendor);
    // A copy naming another window in that slot is refused.
    WindowEntry other = *Windows().Entry(ping->index);
    other.uid += 1000;
    GraphSettings changed = before;
    changed.vendor = "10.0.0.8";
    EXPECT_FALSE(Windows().ReplaceWindow(ping->index, other, WindowTypeSettings{changed}));
    EXPECT_EQ(StoredGraph(ping->uid), before);

    // What was typed is still there to apply once the module is free.
    EXPECT_EQ(form.Vendor()->currentText(), "10.0.0.9");
    EXPECT_FALSE(form.Apply());
    EXPECT_EQ(StoredGraph(ping->uid).vendor, "10.0.0.9");
}

}  // namespace
}  // namespace qm::windows::qt
