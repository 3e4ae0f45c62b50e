// The settings dialog's window pages on real Qt widgets (off-screen), over
// the program's own modules with its windows: a graph's, an info window's and
// an event list's own settings chosen on the page, handed to the window
// module, taken by the running window and written to mod_window.ini; a busy
// module changes nothing; numbers shown by what they mean, as the script's
// echo agrees.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <set>
#include <thread>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include "core/core_context.h"
#include "core/value_collector.h"
#include "script/module_nodes.h"
#include "script/script_interpreter.h"
#include "support/program_home.h"
#include "support/udp_peer.h"
#include "support/wait_until.h"
#include "windows/graph/graph_settings.h"
#include "windows/info_box/info_box_settings.h"
#include "windows/event_list/event_list_settings.h"
#include "windows/event_list/qt/event_list_content.h"
#include "windows/settings_dialog/qt/field_form.h"
#include "windows/qt/frame.h"
#include "windows/graph/qt/graph_content.h"
#include "windows/info_box/qt/info_box_content.h"
#include "windows/qt/program_windows.h"
#include "windows/qt/qt_test_support.h"
#include "windows/settings_dialog/qt/record_page.h"
#include "windows/settings_dialog/qt/settings_dialog.h"
#include "windows/settings_dialog/qt/window_type_form.h"
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
        home_.Listen(port_);
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
    // A row's cell under the column of that field.
    static QTableWidgetItem* Cell(QTableWidget* table, int row, const std::string& key) {
        for (int c = 0; c < table->columnCount(); ++c)
            if (table->horizontalHeaderItem(c)->toolTip().toStdString() == key) return table->item(row, c);
        return nullptr;
    }
    static int RowNamed(QTableWidget* table, const std::string& key, const std::string& name) {
        for (int r = 0; r < table->rowCount(); ++r)
            if (QTableWidgetItem* cell = Cell(table, r, key); cell && cell->text().toStdString() == name) return r;
        return -1;
    }
    // A label as rows and headers show it: without the colon some texts end in.
    std::string Caption(uint32_t id) {
        std::string text = core_.Text(id);
        while (!text.empty() && (text.back() == ':' || text.back() == ' ')) text.pop_back();
        return text;
    }

    // The row of `page`'s table whose window has this name, selected.
    static int SelectWindow(RecordPage& page, const std::string& name) {
        for (int r = 0; r < page.Items()->rowCount(); ++r) {
            for (int c = 0; c < page.Items()->columnCount(); ++c) {
                if (page.Items()->item(r, c) && page.Items()->item(r, c)->text().toStdString() == name) {
                    page.Items()->selectRow(r);
                    return r;
                }
            }
        }
        return -1;
    }

    const uint16_t port_ = qm::testing::FreePort();
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

// The user story: a rule made on the Rules page and attached to the shipped
// "Syslog" window on the Windows page colours the matching datagrams in it,
// those already shown included, and nothing else; no file is edited.
TEST_F(WindowPagesTest, ARuleMadeInTheDialogAndAttachedToTheSyslogWindowColoursWhatItMatches) {
    const std::optional<WindowSummary> syslog = Window("Syslog");
    ASSERT_TRUE(syslog);
    EventListContent* list = ContentOf<EventListContent>(syslog->uid);
    ASSERT_NE(list, nullptr);
    qm::testing::UdpPeer device;
    ASSERT_TRUE(device.SendTo(port_, "<14>router: link down on port 3"));
    const auto rowOf = [&](const std::string& text) -> std::optional<size_t> {
        for (size_t r = 0; r < list->Logic().RowCount(); ++r)
            if (const EventRow& row = list->Logic().Row(r); row.filled && row.event->Message().find(text) != std::string::npos)
                return r;
        return std::nullopt;
    };
    ASSERT_TRUE(PumpUntil([&] { return rowOf("link down").has_value(); }, std::chrono::seconds(30)));
    const RowColors scheme = list->Logic().ColorsOf(*rowOf("link down"));

    RecordPage& rules = Page(str::kPageRules);
    const RowColors marked{0x654321, 0x123456};
    const uint64_t colours = uint64_t{marked.text} << 32 | marked.background;
    ASSERT_FALSE(rules.AddRecord(RecordSet::Item, {{"StrName", "Links"}, {"InCond1", "1"}, {"StrInCond1", "link"},
                                                   {"Param", "256"}, {"OutColor", std::to_string(colours)}}));

    RecordPage& windows = Page(str::kPageWindows);
    std::set<std::string> listed;
    for (int r = 0; r < windows.Items()->rowCount(); ++r)
        for (int c = 0; c < windows.Items()->columnCount(); ++c)
            if (const QTableWidgetItem* item = windows.Items()->item(r, c)) listed.insert(item->text().toStdString());
    for (const char* name : {"Syslog", "Program", "Ping"}) EXPECT_TRUE(listed.count(name)) << name;
    EXPECT_TRUE(listed.count(Label(str::kWindowTypeGraph))) << "types are named";
    ASSERT_GE(SelectWindow(windows, "Syslog"), 0);
    WindowTypeForm& form = *windows.TypeForm();
    ASSERT_FALSE(form.ForNewWindow());
    ASSERT_NE(form.Option("EventParam", 0x20), nullptr);
    EXPECT_TRUE(form.Option("EventParam", 0x20)->isChecked());
    EXPECT_EQ(form.Option("EventParam", 0x20)->text().toStdString(), Label(str::kEventTypeExternal));
    ASSERT_EQ(form.Rules()->count(), 0);
    const int offered = form.OfferedRules()->findText("Links");
    ASSERT_GE(offered, 0) << "the rule made a moment ago is offered";
    form.OfferedRules()->setCurrentIndex(offered);
    EXPECT_FALSE(form.Pending());
    Button(form, "addRule")->click();
    ASSERT_EQ(form.Rules()->count(), 1);
    EXPECT_TRUE(form.Pending());
    // And the header's host as a column, from the window's Columns box.
    ASSERT_NE(form.Option("Columns", kShowHost), nullptr);
    EXPECT_EQ(form.Option("Columns", kShowHost)->text().toStdString(), Label(str::kColumnHost));
    form.Option("Columns", kShowHost)->setChecked(true);

    // Apply writes this window's keys and no other's.
    const auto othersOf = [&](const platform::ProfileFile& file) {
        std::map<std::string, std::string> kept;
        for (const std::string& section : file.Sections())
            for (const std::string& key : file.Keys(section))
                if (key.rfind("Wnd." + std::to_string(syslog->uid), 0) != 0 &&
                    key.rfind("Item." + std::to_string(syslog->index) + "-", 0) != 0)
                    kept[section + "/" + key] = file.Get(section, key).value_or("");
        return kept;
    };
    const auto before = othersOf(platform::ProfileFile::Load(home_.Settings("mod_window")));
    Button(form, "applyWindow")->click();
    EXPECT_EQ(windows.Status().toStdString(), Label(str::kDialogSaved));
    EXPECT_FALSE(form.Pending());
    const platform::ProfileFile file = platform::ProfileFile::Load(home_.Settings("mod_window"));
    EXPECT_EQ(othersOf(file), before);
    const core::Config config(core_.paths.settingsFolder);
    const EventListSettings stored =
        LoadEventListSettings(config.Open(kWindowSettingsFile, kEventListSection), syslog->uid, core_.dotsPerInch);
    const auto rulesNow = core_.registry->Find(core::kModuleRules)->Records()->Copy({RecordSet::Item});
    ASSERT_TRUE(rulesNow && rulesNow->size() == 1u);
    const std::string uid = *(*rulesNow)[0].Get("UID");
    ASSERT_EQ(stored.rules.size(), 1u);
    EXPECT_EQ(std::to_string(stored.rules[0]), uid);
    EXPECT_EQ(stored.columns, kShowHost);
    EXPECT_TRUE(PumpUntil([&] { return list->Logic().Columns() == ShownColumns(kShowHost); })) << "the running window shows it";

    // The running window colours the row it showed, the next such line, and nothing else.
    ASSERT_TRUE(PumpUntil([&] { return rowOf("link down") && list->Logic().ColorsOf(*rowOf("link down")) == marked; },
                          std::chrono::seconds(30)));
    ASSERT_TRUE(device.SendTo(port_, "<14>router: link up on port 3"));
    ASSERT_TRUE(device.SendTo(port_, "<14>router: fan speed normal"));
    ASSERT_TRUE(PumpUntil([&] { return rowOf("link up") && rowOf("fan speed"); }, std::chrono::seconds(30)));
    EXPECT_EQ(list->Logic().ColorsOf(*rowOf("link up")), marked);
    EXPECT_EQ(list->Logic().ColorsOf(*rowOf("fan speed")), scheme);

    // The list's order is the order the rules are tried in: a rule for
    // every message, moved up before the first, is the one that colours.
    const RowColors every{0x0000FF, 0xFFFF00};
    const std::string everyColours = std::to_string(uint64_t{every.text} << 32 | every.background);
    ASSERT_FALSE(Page(str::kPageRules).AddRecord(RecordSet::Item, {{"StrName", "Every"}, {"InCond1", "1"}, {"StrInCond1", "*"},
                                                                  {"Param", "256"}, {"OutColor", everyColours}}));
    Page(str::kPageWindows);
    form.OfferedRules()->setCurrentIndex(form.OfferedRules()->findText("Every"));
    Button(form, "addRule")->click();
    Button(form, "ruleUp")->click();
    ASSERT_EQ(form.Rules()->count(), 2);
    EXPECT_EQ(form.Rules()->item(0)->text(), "Every");
    EXPECT_FALSE(form.Apply());
    ASSERT_TRUE(PumpUntil([&] {
        const auto link = rowOf("link down"), fan = rowOf("fan speed");
        return link && fan && list->Logic().ColorsOf(*link) == every && list->Logic().ColorsOf(*fan) == every;
    }, std::chrono::seconds(30)));
}

// A new event list starts with the dialog's options: sorted, coloured by the
// scheme, with names, every event type. A window keeps its type; GodMode may
// add a window of another type than the page's, and an unknown type is named.
TEST_F(WindowPagesTest, NewEventListsStartWithTheDialogDefaultsAndWindowsKeepTheirType) {
    RecordPage& windows = Page(str::kPageWindows);
    WindowTypeForm& form = *windows.TypeForm();
    ASSERT_TRUE(form.ForNewWindow());
    for (const auto& [bit, on] : std::vector<std::pair<uint64_t, bool>>{
             {0x80, false}, {0x40, true}, {0x20, true}, {0x10, false}, {0x08, true}, {0x04, false}, {0x02, false}}) {
        ASSERT_NE(form.Option("Param", bit), nullptr) << bit;
        EXPECT_EQ(form.Option("Param", bit)->isChecked(), on) << bit;
    }
    for (uint64_t type : {0x40, 0x20, 0x10, 0x08}) EXPECT_TRUE(form.Option("EventParam", type)->isChecked()) << type;
    form.Option("Param", 0x80)->setChecked(true);
    ASSERT_FALSE(windows.AddRecord(RecordSet::Item, {{"Name", "Errors"}}));
    const std::optional<WindowSummary> added = Window("Errors");
    ASSERT_TRUE(added);
    EXPECT_EQ(added->type, kWindowEventList);
    const core::Config config(core_.paths.settingsFolder);
    const auto stored = [&](uint64_t uid) {
        return LoadEventListSettings(config.Open(kWindowSettingsFile, kEventListSection), uid, core_.dotsPerInch);
    };
    EXPECT_EQ(stored(added->uid).param, kNewWindowParam | kListAutoscroll);
    EXPECT_EQ(stored(added->uid).eventParam, 0x78);

    // A graph chosen here is named with its own page.
    ASSERT_GE(SelectWindow(windows, "Ping"), 0);
    const auto* note = form.findChild<QLabel*>("otherTypePage");
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->text().toStdString(), core_.Text(str::kDialogOtherTypePage, Label(str::kPageGraphs).c_str()));
    EXPECT_FALSE(form.Pending());

    core_.settings.godMode = true;
    RecordPage& graphs = Page(str::kPageGraphs);
    ASSERT_FALSE(graphs.AddRecord(RecordSet::Item, {{"Name", "Typed"}, {"Type", "1"}}));
    const std::optional<WindowSummary> typed = Window("Typed");
    ASSERT_TRUE(typed);
    EXPECT_EQ(typed->type, kWindowEventList);
    EXPECT_EQ(stored(typed->uid).param, kNewWindowParam);
    EXPECT_EQ(graphs.AddRecord(RecordSet::Item, {{"Name", "Odd"}, {"Type", "7"}}),
              core_.Text(str::kDialogWindowTypeUnknown, 7u));
    EXPECT_FALSE(Window("Odd"));
    const int ping = SelectWindow(graphs, "Ping");
    ASSERT_GE(ping, 0);
    EXPECT_EQ(graphs.EditRecord(RecordSet::Item, ping, {{"Type", "1"}}), Label(str::kDialogWindowTypeKept));
    EXPECT_EQ(Window("Ping")->type, kWindowGraph);
}

// Numbers are shown by what they stand for: option bits as their named
// check boxes (each writing its own bit back), a window's type by name and
// its place as x, y, width and height, colours by what they colour, times
// with their unit; the tables say the same as the forms.
TEST_F(WindowPagesTest, FieldsShowTheNamesUnitsAndPlacesTheirNumbersStandFor) {
    RecordPage& collector = Page(str::kPageCollector);
    collector.OpenRecordForm(RecordSet::Item, -1);
    FieldForm& listener = collector.OpenForm()->Fields();
    // Another address than the home's own listener, and not started.
    dynamic_cast<QLineEdit*>(listener.Control("StrName"))->setText("127.0.0.2");
    dynamic_cast<QCheckBox*>(listener.Control("Enable"))->setChecked(false);
    auto* filter = listener.Control("Param")->findChild<QCheckBox*>("Param.80");
    auto* serverCheck = listener.Control("Param")->findChild<QCheckBox*>("Param.40");
    ASSERT_TRUE(filter && serverCheck);
    EXPECT_EQ(filter->text().toStdString(), Label(str::kPacketFilter));
    EXPECT_EQ(serverCheck->text().toStdString(), Label(str::kServerCheck));
    serverCheck->setChecked(true);
    // The protocol by name: UDP unless told otherwise.
    auto* proto = dynamic_cast<QComboBox*>(listener.Control("Proto"));
    ASSERT_NE(proto, nullptr);
    EXPECT_EQ(proto->currentText().toStdString(), Label(str::kProtoUdp));
    proto->setCurrentIndex(proto->findText(QString::fromStdString(Label(str::kProtoTcp))));
    collector.OpenForm()->Submit();
    ASSERT_TRUE(PumpUntil([&] { return collector.OpenForm() == nullptr; }));
    const int row = RowNamed(collector.Items(), "StrName", "127.0.0.2");
    ASSERT_GE(row, 0);
    EXPECT_EQ(Cell(collector.Items(), row, "Param")->text().toStdString(), Label(str::kServerCheck));
    collector.OpenRecordForm(RecordSet::Item, row);
    QWidget* param = collector.OpenForm()->Fields().Control("Param");
    EXPECT_TRUE(param->findChild<QCheckBox*>("Param.40")->isChecked());
    param->findChild<QCheckBox*>("Param.80")->setChecked(true);
    collector.OpenForm()->Submit();
    ASSERT_TRUE(PumpUntil([&] { return collector.OpenForm() == nullptr; }));
    const std::vector<core::RecordCopy> listeners = *core_.registry->Find(core::kModuleCollector)->Records()->CopyItems();
    const auto added = std::find_if(listeners.begin(), listeners.end(),
                                    [](const core::RecordCopy& r) { return r.Get("StrName") == "127.0.0.2"; });
    ASSERT_NE(added, listeners.end());
    EXPECT_EQ(added->Get("Param"), std::to_string(0x80 | 0x40));
    EXPECT_EQ(added->Get("Proto"), "1");
    const QTableWidgetItem* recv = nullptr;
    for (int c = 0; c < collector.Items()->columnCount(); ++c)
        if (collector.Items()->horizontalHeaderItem(c)->toolTip() == "RecvTimeout") recv = collector.Items()->horizontalHeaderItem(c);
    ASSERT_NE(recv, nullptr);
    EXPECT_EQ(recv->text().toStdString(), core_.Text(str::kDialogInMilliseconds, Caption(str::kFieldRecvTimeout).c_str()));

    // A rule's options by name rather than 256.
    RecordPage& rules = Page(str::kPageRules);
    ASSERT_FALSE(rules.AddRecord(RecordSet::Item, {{"StrName", "Coloured"}, {"Param", "256"}}));
    const int rule = RowNamed(rules.Items(), "StrName", "Coloured");
    ASSERT_GE(rule, 0);
    EXPECT_EQ(Cell(rules.Items(), rule, "Param")->text().toStdString(), Label(str::kColorSchemeLabel));

    // A graph window's type and place, read-only outside GodMode.
    RecordPage& graphs = Page(str::kPageGraphs);
    const std::optional<WindowSummary> ping = Window("Ping");
    ASSERT_TRUE(ping);
    const Rect place = Windows().Entry(ping->index)->rect;
    const int graph = RowNamed(graphs.Items(), "Name", "Ping");
    ASSERT_GE(graph, 0);
    EXPECT_EQ(Cell(graphs.Items(), graph, "Type")->text().toStdString(), Label(str::kWindowTypeGraph));
    graphs.OpenRecordForm(RecordSet::Item, graph);
    FieldForm& window = graphs.OpenForm()->Fields();
    auto* type = dynamic_cast<QComboBox*>(window.Control("Type"));
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->currentText().toStdString(), Label(str::kWindowTypeGraph));
    EXPECT_FALSE(type->isEnabled());
    QWidget* rect = window.Control("Rect");
    const std::pair<const char*, int> parts[] = {
        {"x", place.left}, {"y", place.top}, {"width", place.right - place.left}, {"height", place.bottom - place.top}};
    for (const auto& [name, value] : parts) {
        auto* spin = rect->findChild<QSpinBox*>(name);
        ASSERT_NE(spin, nullptr) << name;
        EXPECT_EQ(spin->value(), value) << name;
    }
    EXPECT_TRUE(window.Control("Param")->findChild<QCheckBox*>("Param.1000"));
    graphs.OpenForm()->close();

    // The severity scheme's colours say which severity each one colours.
    RecordPage& scheme = Page(str::kPageColorScheme);
    QWidget* backgrounds = scheme.CommonForm()->Control("LogTypeBgColor");
    ASSERT_NE(backgrounds, nullptr);
    EXPECT_EQ(backgrounds->findChild<QPushButton*>("colour0")->toolTip().toStdString(), Label(str::kSeverityEmergency));
    EXPECT_EQ(backgrounds->findChild<QPushButton*>("colour8")->toolTip().toStdString(), Label(str::kEventTypeSystem));
    QStringList captions;
    for (const QLabel* l : backgrounds->findChildren<QLabel*>()) captions << l->text();
    EXPECT_TRUE(captions.contains(QString::fromStdString(Label(str::kSeverityDebug))));
}

// Option bits read as a number say the same in the dialog and in the
// script's echo (hexadecimal, as the echo prints them), and a check box
// changed in the dialog is what the echo then prints.
TEST_F(WindowPagesTest, TheDialogAndTheScriptEchoAgreeOnOptionBits) {
    script::ModuleNodes nodes(*core_.registry);
    const script::ScriptEnvironment env = script::EnvironmentFor(core_, nodes);
    const auto echoedParam = [&] {
        const std::string out = script::RunScript("#echo:mod_icmp.item", env).text;
        const size_t at = out.find("0.Param=");
        return at == std::string::npos ? out : out.substr(at + 8, out.find('\r', at) - at - 8);
    };
    RecordPage& icmp = Page(str::kPageIcmp);
    icmp.OpenRecordForm(RecordSet::Item, -1);
    dynamic_cast<QLineEdit*>(icmp.OpenForm()->Fields().Control("StrName"))->setText("127.0.0.1");
    auto* graphs = icmp.OpenForm()->Fields().Control("Param")->findChild<QCheckBox*>("Param.80");
    ASSERT_NE(graphs, nullptr);
    EXPECT_EQ(graphs->text().toStdString(), Label(str::kDialogValuesToGraphs));
    EXPECT_TRUE(graphs->isChecked());
    icmp.OpenForm()->Submit();
    ASSERT_TRUE(PumpUntil([&] { return icmp.OpenForm() == nullptr; }));
    EXPECT_EQ(echoedParam(), "80");
    EXPECT_EQ(Cell(icmp.Items(), 0, "Param")->toolTip().toStdString(), echoedParam());
    EXPECT_EQ(Cell(icmp.Items(), 0, "Param")->text().toStdString(), Label(str::kDialogValuesToGraphs));

    icmp.OpenRecordForm(RecordSet::Item, 0);
    QWidget* param = icmp.OpenForm()->Fields().Control("Param");
    EXPECT_EQ(param->toolTip().toStdString(), echoedParam());
    param->findChild<QCheckBox*>("Param.80")->setChecked(false);
    EXPECT_EQ(param->toolTip().toStdString(), "0");
    icmp.OpenForm()->Submit();
    ASSERT_TRUE(PumpUntil([&] { return icmp.OpenForm() == nullptr; }));
    EXPECT_EQ(echoedParam(), "0");

    // A bit field without names is typed in the echo's digits too.
    RecordPage& collector = Page(str::kPageCollector);
    auto* common = dynamic_cast<QLineEdit*>(collector.CommonForm()->Control("Param"));
    ASSERT_NE(common, nullptr);
    common->setText("C0");
    ASSERT_FALSE(collector.ApplyCommon(collector.CommonForm()->Changed()));
    const std::string echoed = script::RunScript("#echo:mod_collector.common", env).text;
    EXPECT_NE(echoed.find("Param=C0"), std::string::npos) << echoed;
    EXPECT_EQ(dynamic_cast<QLineEdit*>(collector.CommonForm()->Control("Param"))->text(), "C0");
}

}  // namespace
}  // namespace qm::windows::qt
