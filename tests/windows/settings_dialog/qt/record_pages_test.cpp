// The settings dialog's record pages on real Qt widgets (off-screen), over a
// core with the rules, database, relay and SNMP modules: values shown and
// written back through the modules, add and delete, checks that name the
// field, a busy module, GodMode, proposals for new records, the export
// and import buttons, labels in both languages, and edits not applied yet.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include "core/core_context.h"
#include "core/language.h"
#include "core/string_table.h"
#include "modules.h"
#include "polling/snmp/snmp_module.h"
#include "processing/dbase/dbase_module.h"
#include "processing/rules/rules_module.h"
#include "support/files.h"
#include "support/program_core.h"
#include "support/udp_peer.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"
#include "transport/relay/relay_module.h"
#include "windows/settings_dialog/qt/field_form.h"
#include "windows/settings_dialog/field_values.h"
#include "windows/qt/qt_test_support.h"
#include "windows/settings_dialog/qt/record_page.h"
#include "windows/settings_dialog/qt/settings_dialog.h"
#include "windows/window_module/window_module.h"

namespace qm::windows::qt {
namespace {

using core::RecordSet;
using test::App;
using test::PumpUntil;
namespace fs = std::filesystem;
namespace str = core::str;

// Answers the question about unapplied edits from inside its loop with the
// button of that name, and counts the questions.
class EditsAnswerer {
public:
    explicit EditsAnswerer(const char* button) {
        QObject::connect(&timer_, &QTimer::timeout, [this, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || box->objectName() != "UnappliedEdits") return;
            ++asked;
            box->findChild<QPushButton*>(button)->click();
        });
        timer_.start(20);
    }
    int asked = 0;

private:
    QTimer timer_;
};

class RecordPagesTest : public ::testing::Test {
protected:
    RecordPagesTest() {
        App();
        core_.paths = core::Paths::Build(home_.path() / "quillmark", home_.path());
        core_.paths.CreateFolders();
        core_.config = std::make_unique<core::Config>(core_.paths.settingsFolder);
        core_.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
        core_.events = std::make_unique<core::EventCore>(core_.counters);
        core_.registry = std::make_unique<core::ModuleRegistry>(core_);
        std::vector<std::unique_ptr<core::Module>> modules;
        modules.push_back(processing::CreateRulesModule(core_));
        modules.push_back(processing::CreateDbaseModule(core_));
        modules.push_back(transport::CreateRelayModule(core_));
        modules.push_back(polling::snmp::CreateSnmpModule(core_));
        for (auto& module : modules) {
            module->LoadSection();
            core_.registry->Add(std::move(module));
        }
        dialog_ = std::make_unique<SettingsDialog>(core_, nullptr);
    }
    ~RecordPagesTest() override {
        dialog_.reset();
        core_.registry->UnloadAll();
        core_.registry.reset();
        core_.events->Shutdown();
    }
    RecordPage& Page(uint32_t title) {
        const QString wanted = QString::fromStdString(core_.Text(title));
        EXPECT_TRUE(dialog_->ShowPage(wanted)) << wanted.toStdString();
        for (int i = 0; i < dialog_->PageCount(); ++i)
            if (auto* page = dynamic_cast<RecordPage*>(dialog_->Page(i)); page && page->Layout().title == title) return *page;
        throw std::runtime_error("no page " + wanted.toStdString());
    }
    core::RecordSets& Records(uint16_t id) { return *core_.registry->Find(id)->Records(); }
    std::vector<core::RecordCopy> Copy(uint16_t id, RecordSet set) { return *Records(id).Copy({set}); }
    std::string Cell(QTableWidget* table, int row, const std::string& header) {
        for (int c = 0; c < table->columnCount(); ++c)
            if (table->horizontalHeaderItem(c)->text().toStdString() == header) return table->item(row, c)->text().toStdString();
        return "<no column " + header + ">";
    }
    // A label as rows and headers show it: without the colon some texts end in.
    std::string Label(uint32_t id) {
        std::string text = core_.Text(id);
        while (!text.empty() && (text.back() == ':' || text.back() == ' ')) text.pop_back();
        return text;
    }

    qm::testing::TempDir home_{"qm-record-pages"};
    core::CoreContext core_;
    std::unique_ptr<SettingsDialog> dialog_;
};

TEST_F(RecordPagesTest, AnItemIsAddedShownEditedInItsFormAndMarkedDeletedThroughTheModule) {
    // A page per module that offers its records, and the script editor last.
    EXPECT_EQ(dialog_->PageCount(), 7);
    RecordPage& relay = Page(str::kPageRelay);
    EXPECT_FALSE(relay.AddRecord(RecordSet::Item, {{"StrName", "127.0.0.1"}, {"Port", "1514"}}));
    std::vector<core::RecordCopy> items = Copy(core::kModuleRelay, RecordSet::Item);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].Get("Port"), "1514");
    EXPECT_EQ(items[0].Get("Enable"), "1") << "a new destination is proposed enabled";
    ASSERT_EQ(relay.Items()->rowCount(), 1);
    EXPECT_EQ(Cell(relay.Items(), 0, Label(str::kPort)), "1514");
    EXPECT_EQ(relay.Status().toStdString(), Label(str::kDialogSaved));
    EXPECT_NE(qm::testing::ReadWholeFile(core_.paths.settingsFolder / "mod_relay.ini").find("Item.0-Port"),
              std::string::npos);

    // Edited in the form the Edit button opens: the new value goes back through Replace.
    relay.OpenRecordForm(RecordSet::Item, 0);
    RecordForm* form = relay.OpenForm();
    ASSERT_NE(form, nullptr);
    auto* port = dynamic_cast<QLineEdit*>(form->Fields().Control("Port"));
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->text(), "1514");
    port->setText("2514");
    auto* types = form->Fields().Control("EventParam");
    ASSERT_NE(types, nullptr);
    QList<QCheckBox*> bits = types->findChildren<QCheckBox*>();
    // Only the types a destination forwards.
    ASSERT_EQ(bits.size(), 2);
    EXPECT_EQ(bits[0]->text().toStdString(), Label(str::kEventTypeExternal));
    bits[0]->setChecked(true);
    form->Submit();
    EXPECT_TRUE(PumpUntil([&] { return relay.OpenForm() == nullptr; })) << form->Message().toStdString();
    items = Copy(core::kModuleRelay, RecordSet::Item);
    EXPECT_EQ(items[0].Get("Port"), "2514");
    EXPECT_EQ(std::stoul(*items[0].Get("EventParam")) & 0x20, 0x20u);

    // Delete sets the module's mark; a second Delete lifts it.
    EXPECT_FALSE(relay.ToggleDeleted(RecordSet::Item, 0));
    EXPECT_TRUE(Copy(core::kModuleRelay, RecordSet::Item)[0].deleted);
    EXPECT_EQ(Cell(relay.Items(), 0, Label(str::kDialogDeletedColumn)), "x");
    EXPECT_FALSE(relay.ToggleDeleted(RecordSet::Item, 0));
    EXPECT_FALSE(Copy(core::kModuleRelay, RecordSet::Item)[0].deleted);

    // The common block through its form and Apply; the service starts and stops off the GUI thread.
    auto* enable = dynamic_cast<QCheckBox*>(relay.CommonForm()->Control("EnableService"));
    ASSERT_NE(enable, nullptr);
    enable->setChecked(true);
    relay.findChild<QPushButton*>("apply")->click();
    EXPECT_EQ(Copy(core::kModuleRelay, RecordSet::Common)[0].Get("EnableService"), "1");
    relay.StartService();
    ASSERT_TRUE(PumpUntil([&] { return !relay.ServiceCallRunning(); }));
    EXPECT_EQ(relay.Status().toStdString(), Label(str::kDialogServiceStarted));
    relay.StopService();
    ASSERT_TRUE(PumpUntil([&] { return !relay.ServiceCallRunning(); }));
    EXPECT_EQ(relay.Status().toStdString(), Label(str::kDialogServiceStopped));
}

TEST_F(RecordPagesTest, ValuesOutsideTheirRulesAreRefusedNamingTheFieldAndNothingIsApplied) {
    RecordPage& dbase = Page(str::kPageDatabase);
    const std::vector<core::RecordCopy> before = Copy(core::kModuleDbase, RecordSet::Common);
    const auto refused = [&](const FieldTexts& texts, uint32_t why, const std::string& label) {
        const std::optional<std::string> message = dbase.ApplyCommon(texts);
        EXPECT_TRUE(message.has_value());
        if (message) {
            EXPECT_EQ(message->rfind(label, 0), 0u) << *message;
            EXPECT_EQ(*message, dbase.Status().toStdString());
        }
        EXPECT_TRUE(core::SameRecord(Copy(core::kModuleDbase, RecordSet::Common)[0], before[0]));
        (void)why;
    };
    // Below the range: the message names the field and the range.
    refused({{"MsgLimit", "200"}, {"Timeout", "5"}}, str::kFieldOutOfRange, Label(str::kPollTimeout));
    EXPECT_EQ(dbase.Status().toStdString(), core_.Text(str::kFieldOutOfRange, Label(str::kPollTimeout).c_str(), "10", "4294967295"));
    refused({{"Timeout", "ten"}}, str::kFieldNotNumber, Label(str::kPollTimeout));
    // A format whose conversions the writer cannot fill; a buffer file outside Logs.
    refused({{"StrLogFormat", "%s %s %s %s"}}, str::kFieldBadForm, Label(str::kReportFormat));
    refused({{"StrLastLog", "../escape.log"}}, str::kFieldBadForm, Label(str::kTemporaryBuffer));
    // One UTF-16 unit over the capacity (63 + terminator); a character
    // outside the BMP counts two units.
    refused({{"StrLastLog", std::string(60, 'a') + "\xF0\x9F\x98\x80" + "aa"}}, str::kFieldTooLong,
            Label(str::kTemporaryBuffer));
    EXPECT_EQ(dbase.Status().toStdString(), core_.Text(str::kFieldTooLong, Label(str::kTemporaryBuffer).c_str(), 63u));
    EXPECT_FALSE(dbase.ApplyCommon({{"StrLastLog", std::string(61, 'a') + ".l"}}).has_value()) << "63 units fit";

    // A rule's program must be one that can be started.
    RecordPage& rules = Page(str::kPageRules);
    std::optional<std::string> message = rules.AddRecord(RecordSet::Item, {{"StartCmd", "/nonexistent/prog"}});
    ASSERT_TRUE(message);
    EXPECT_EQ(*message, core_.Text(str::kFieldBadProgram, Label(str::kRunProgram).c_str()));
    EXPECT_TRUE(Copy(core::kModuleRules, RecordSet::Item).empty());
    EXPECT_FALSE(rules.AddRecord(RecordSet::Item, {{"StartCmd", "/bin/true"}, {"StrName", "run"}}));
    EXPECT_FALSE(rules.AddRecord(RecordSet::Item, {{"StartCmd", "true"}, {"StrName", "on PATH"}}));
    EXPECT_EQ(Copy(core::kModuleRules, RecordSet::Item).size(), 2u);
}

TEST_F(RecordPagesTest, ABusyModuleAnswersAtOnceWithAMessageAndCountsTheCollision) {
    RecordPage& relay = Page(str::kPageRelay);
    ASSERT_FALSE(relay.AddRecord(RecordSet::Item, {{"StrName", "127.0.0.1"}, {"Port", "1514"}}));
    std::atomic<bool> held{false}, release{false};
    std::thread holder([&] {
        core_.registry->Find(core::kModuleRelay)->Lock().Enter();
        held = true;
        qm::testing::WaitUntil([&] { return release.load(); }, std::chrono::seconds(60));
        core_.registry->Find(core::kModuleRelay)->Lock().Leave();
    });
    ASSERT_TRUE(qm::testing::WaitUntil([&] { return held.load(); }));
    const uint32_t collisions = core_.counters.locks.collisions;
    const std::string busy = Label(str::kDialogBusy);
    EXPECT_EQ(relay.EditRecord(RecordSet::Item, 0, {{"Port", "3514"}}), busy);
    EXPECT_EQ(relay.ToggleDeleted(RecordSet::Item, 0), busy);
    EXPECT_EQ(relay.ApplyCommon({{"SendTimeout", "200"}}), busy);
    relay.Refresh();
    EXPECT_EQ(relay.Status().toStdString(), busy);
    EXPECT_EQ(Cell(relay.Items(), 0, Label(str::kPort)), "1514") << "the last copy stays shown";
    EXPECT_GT(core_.counters.locks.collisions, collisions);
    release = true;
    holder.join();
    EXPECT_FALSE(relay.EditRecord(RecordSet::Item, 0, {{"Port", "3514"}}));
    EXPECT_EQ(Copy(core::kModuleRelay, RecordSet::Item)[0].Get("Port"), "3514");
}

TEST_F(RecordPagesTest, ReadOnlyFieldsOpenOnlyInGodMode) {
    RecordPage& lists = Page(str::kPageLists);
    ASSERT_FALSE(lists.AddRecord(RecordSet::List, {{"StrName", "hosts"}}));
    const std::string uid = *Copy(core::kModuleRules, RecordSet::List)[0].Get("UID");
    EXPECT_NE(uid, "0") << "the module gives a new list its UID";
    lists.OpenRecordForm(RecordSet::List, 0);
    ASSERT_NE(lists.OpenForm(), nullptr);
    EXPECT_FALSE(lists.OpenForm()->Fields().Control("UID")->isEnabled());
    EXPECT_TRUE(lists.OpenForm()->Fields().Control("StrName")->isEnabled());
    lists.OpenForm()->close();
    const std::optional<std::string> refused = lists.EditRecord(RecordSet::List, 0, {{"UID", "77"}});
    ASSERT_TRUE(refused);
    EXPECT_EQ(*refused, core_.Text(str::kFieldReadOnly, Label(str::kFieldIdentifier).c_str()));
    EXPECT_EQ(Copy(core::kModuleRules, RecordSet::List)[0].Get("UID"), uid);

    core_.settings.godMode = true;
    lists.OpenRecordForm(RecordSet::List, 0);
    auto* edit = dynamic_cast<QLineEdit*>(lists.OpenForm()->Fields().Control("UID"));
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(edit->isEnabled());
    edit->setText("77");
    lists.OpenForm()->Submit();
    EXPECT_EQ(Copy(core::kModuleRules, RecordSet::List)[0].Get("UID"), "77");

    // Entries travel with their list: added, changed and removed through it.
    lists.Lists()->selectRow(0);
    EXPECT_FALSE(lists.AddEntry(0, {{"StrValue", "10.0.0.1"}}));
    EXPECT_FALSE(lists.AddEntry(0, {{"StrValue", "10.0.0.2"}}));
    EXPECT_FALSE(lists.EditEntry(0, 1, {{"StrValue", "10.0.0.3"}}));
    EXPECT_FALSE(lists.ToggleEntryDeleted(0, 0));
    const std::vector<core::RecordCopy> entries = Copy(core::kModuleRules, RecordSet::List)[0].entries;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Get("StrValue"), "10.0.0.3");
    EXPECT_EQ(lists.Entries()->rowCount(), 1);

    // A rule names the list by its name.
    RecordPage& rules = Page(str::kPageRules);
    rules.OpenRecordForm(RecordSet::Item, -1);
    auto* list = dynamic_cast<QComboBox*>(rules.OpenForm()->Fields().Control("InListID1"));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->itemText(1), "hosts");
    list->setCurrentIndex(1);
    auto* kind = dynamic_cast<QComboBox*>(rules.OpenForm()->Fields().Control("InCond1"));
    ASSERT_NE(kind, nullptr);
    EXPECT_EQ(kind->itemText(2).toStdString(), core_.Text(str::kConditionStatus, Label(str::kSeverityEmergency).c_str()));
    ASSERT_EQ(kind->count(), 18);
    EXPECT_EQ(kind->itemText(17).toStdString(), Label(str::kConditionMsgId));
    rules.OpenForm()->Submit();
    ASSERT_EQ(Copy(core::kModuleRules, RecordSet::Item).size(), 1u);
    EXPECT_EQ(Copy(core::kModuleRules, RecordSet::Item)[0].Get("InListID1"), "77");
    EXPECT_EQ(Cell(rules.Items(), 0, Label(str::kFieldList1)), "hosts");
}

TEST_F(RecordPagesTest, SnmpShowsSecondsAndProposesItsNewAgentsAndLists) {
    RecordPage& snmp = Page(str::kPageSnmp);
    snmp.OpenRecordForm(RecordSet::Item, -1);
    FieldForm& agent = snmp.OpenForm()->Fields();
    EXPECT_EQ(dynamic_cast<QLineEdit*>(agent.Control("StrCommunity"))->text(), "public");
    EXPECT_EQ(dynamic_cast<QLineEdit*>(agent.Control("Timeout"))->text(), "1");
    EXPECT_EQ(dynamic_cast<QLineEdit*>(agent.Control("Retries"))->text(), "2");
    dynamic_cast<QLineEdit*>(agent.Control("Timeout"))->setText("3");
    dynamic_cast<QLineEdit*>(agent.Control("StrName"))->setText("127.0.0.1");
    snmp.OpenForm()->Submit();
    std::vector<core::RecordCopy> items = Copy(core::kModuleSnmp, RecordSet::Item);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].Get("Timeout"), "3000") << "seconds are stored as milliseconds";
    EXPECT_EQ(items[0].Get("StrCommunity"), "public");

    EXPECT_FALSE(snmp.AddRecord(RecordSet::List, {{"StrName", "sys"}}));
    std::vector<core::RecordCopy> lists = Copy(core::kModuleSnmp, RecordSet::List);
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0].Get("StrOutFmt"), "Description: [desc]");
    ASSERT_EQ(lists[0].entries.size(), 1u);
    EXPECT_EQ(lists[0].entries[0].Get("StrValue"), ".1.3.6.1.2.1.1.1.0");
    EXPECT_EQ(lists[0].entries[0].Get("StrTag"), "desc");

    // The common repeat time-out in seconds, too; an edit left alone keeps
    // a value that is no whole number of seconds.
    ASSERT_FALSE(snmp.ApplyCommon({{"RepeatTimeout", "2500"}}));
    auto* repeat = dynamic_cast<QLineEdit*>(snmp.CommonForm()->Control("RepeatTimeout"));
    ASSERT_NE(repeat, nullptr);
    EXPECT_EQ(repeat->text(), "2");
    EXPECT_TRUE(snmp.CommonForm()->Changed().empty());
    repeat->setText("x");
    ASSERT_EQ(snmp.CommonForm()->Changed().size(), 1u);
    EXPECT_EQ(snmp.ApplyCommon(snmp.CommonForm()->Changed()),
              core_.Text(str::kFieldNotNumber, Label(str::kRetryTimeout).c_str()));
    EXPECT_EQ(Copy(core::kModuleSnmp, RecordSet::Common)[0].Get("RepeatTimeout"), "2500");
}

TEST_F(RecordPagesTest, AColourIsChosenInTheColourChooserAndStoredAsBgr) {
    RecordPage& scheme = Page(str::kPageColorScheme);
    QWidget* background = scheme.CommonForm()->Control("LogTypeBgColor");
    ASSERT_NE(background, nullptr);
    QList<QPushButton*> buttons = background->findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 10) << "one button per colour of the array";
    // Emergency's background 0x0000FF is red.
    EXPECT_EQ(buttons[0]->text(), "#ff0000");
    // The chooser runs modal; a timer answers it from inside its loop.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* chooser = dynamic_cast<QColorDialog*>(w); chooser && chooser->isVisible()) {
                chooser->setCurrentColor(QColor(0x12, 0x34, 0x56));
                chooser->accept();
            }
    });
    answer.start(20);
    buttons[0]->click();
    answer.stop();
    EXPECT_EQ(buttons[0]->text(), "#123456");
    scheme.findChild<QPushButton*>("apply")->click();
    const core::RecordCopy common = Copy(core::kModuleRules, RecordSet::Common)[0];
    const core::FieldDef* field = common.Find("LogTypeBgColor");
    ASSERT_NE(field, nullptr);
    const std::vector<uint32_t> colours = ColoursOf(*field, common.Data());
    ASSERT_EQ(colours.size(), 10u);
    EXPECT_EQ(colours[0], 0x563412u);
    EXPECT_EQ(colours[1], 0x6464FFu) << "the other colours kept";
}

TEST_F(RecordPagesTest, ExportAndImportShowOnlyWhenSetAndRunOffTheGuiThread) {
    EXPECT_TRUE(dialog_->ExportButton().isHidden());
    EXPECT_TRUE(dialog_->ImportButton().isHidden());
    const std::thread::id gui = std::this_thread::get_id();
    std::atomic<bool> release{false};
    std::thread::id ranOn;
    dialog_->SetTransfers(
        [&] {
            ranOn = std::this_thread::get_id();
            qm::testing::WaitUntil([&] { return release.load(); }, std::chrono::seconds(60));
            return SettingsTransferResult{true, "exported"};
        },
        [] { return SettingsTransferResult{false, "no file"}; });
    EXPECT_FALSE(dialog_->ExportButton().isHidden());
    dialog_->ExportButton().click();
    // The click returned while the export still waits.
    EXPECT_TRUE(dialog_->TransferRunning());
    EXPECT_EQ(dialog_->TransferStatus().toStdString(), Label(str::kDialogWorking));
    EXPECT_FALSE(dialog_->ImportButton().isEnabled());
    release = true;
    ASSERT_TRUE(PumpUntil([&] { return !dialog_->TransferRunning(); }));
    EXPECT_EQ(dialog_->TransferStatus(), "exported");
    EXPECT_NE(ranOn, gui);
    dialog_->ImportButton().click();
    ASSERT_TRUE(PumpUntil([&] { return !dialog_->TransferRunning(); }));
    EXPECT_EQ(dialog_->TransferStatus(), "no file");
}

TEST_F(RecordPagesTest, UnappliedEditsOutliveAPageSwitchAndClosingAsksWhatBecomesOfThem) {
    // Closes the dialog answering the question, if one comes, with that button; how many came.
    const auto close = [&](const char* button) {
        EditsAnswerer answer(button);
        dialog_->close();
        return answer.asked;
    };
    dialog_->show();
    RecordPage& relay = Page(str::kPageRelay);
    const auto timeout = [&] { return dynamic_cast<QLineEdit*>(relay.CommonForm()->Control("SendTimeout")); };
    const auto stored = [&] { return *Copy(core::kModuleRelay, RecordSet::Common)[0].Get("SendTimeout"); };
    const std::string before = stored();
    timeout()->setText("2500");
    Page(str::kPageDatabase);
    Page(str::kPageRelay);
    EXPECT_EQ(timeout()->text(), "2500") << "typed, not applied, and still there";
    EXPECT_EQ(stored(), before);

    // Cancel stays with the edits; Discard drops them; Apply applies them.
    EXPECT_EQ(close("cancel"), 1);
    EXPECT_TRUE(dialog_->isVisible());
    EXPECT_EQ(timeout()->text(), "2500");
    EXPECT_EQ(close("discard"), 1);
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(timeout()->text().toStdString(), before);
    EXPECT_EQ(stored(), before);
    dialog_->show();
    timeout()->setText("2500");
    EXPECT_EQ(close("apply"), 1);
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(stored(), "2500");
    dialog_->show();
    EXPECT_EQ(close("apply"), 0) << "nothing left to settle";

    // An edit the module refuses keeps the dialog open on its page, which says why.
    dialog_->show();
    RecordPage& dbase = Page(str::kPageDatabase);
    Page(str::kPageRelay);
    dynamic_cast<QLineEdit*>(dbase.CommonForm()->Control("Timeout"))->setText("5");
    EXPECT_EQ(close("apply"), 1);
    EXPECT_TRUE(dialog_->isVisible());
    EXPECT_EQ(dialog_->Page(dialog_->findChild<QListWidget*>()->currentRow()), &dbase);
    EXPECT_EQ(dbase.Status().toStdString().rfind(Label(str::kPollTimeout), 0), 0u) << dbase.Status().toStdString();
}

// At its opening size the colour scheme's Apply is in view; Close asks about
// unapplied edits as the frame does; the next dialog (as at the next start)
// opens where the last one closed or where the program ended with it open,
// and at its own size after -wndreset.
TEST_F(RecordPagesTest, TheDialogClosesFromItsButtonKeepsItsPlaceAndShowsTheColourSchemesApply) {
    dialog_->show();
    const QSize opening = dialog_->size();
    RecordPage& scheme = Page(str::kPageColorScheme);
    ASSERT_TRUE(PumpUntil([&] { return scheme.isVisible(); }));
    auto* apply = scheme.findChild<QPushButton*>("apply");
    ASSERT_NE(apply, nullptr);
    const QRect shown = apply->visibleRegion().boundingRect();
    EXPECT_EQ(shown.size(), apply->size()) << "Apply wholly in view at " << opening.width() << "x" << opening.height();

    RecordPage& relay = Page(str::kPageRelay);
    dynamic_cast<QLineEdit*>(relay.CommonForm()->Control("SendTimeout"))->setText("2500");
    const auto close = [&](const char* button) {
        EditsAnswerer answer(button);
        dialog_->CloseButton().click();
        return answer.asked;
    };
    EXPECT_EQ(close("cancel"), 1);
    EXPECT_TRUE(dialog_->isVisible());
    dialog_->move(40, 30);
    dialog_->resize(700, 520);
    EXPECT_EQ(close("discard"), 1);
    EXPECT_FALSE(dialog_->isVisible());

    dialog_ = std::make_unique<SettingsDialog>(core_, nullptr);
    EXPECT_EQ(std::pair(dialog_->pos(), dialog_->size()), std::pair(QPoint(40, 30), QSize(700, 520)));
    dialog_->show();
    dialog_->move(60, 50);
    dialog_.reset();  // the program ends with it open
    dialog_ = std::make_unique<SettingsDialog>(core_, nullptr);
    EXPECT_EQ(std::pair(dialog_->pos(), dialog_->size()), std::pair(QPoint(60, 50), QSize(700, 520)));
    core_.options.windowReset = true;
    dialog_ = std::make_unique<SettingsDialog>(core_, nullptr);
    EXPECT_EQ(dialog_->size(), opening);
}

TEST_F(RecordPagesTest, ChoosingAnotherRecordWhileItsEditsArePendingAsksFirst) {
    RecordPage& lists = Page(str::kPageLists);
    ASSERT_FALSE(lists.AddRecord(RecordSet::List, {{"StrName", "a"}}));
    ASSERT_FALSE(lists.AddRecord(RecordSet::List, {{"StrName", "b"}}));
    bool pending = false;
    int applied = 0, chosen = 0;
    lists.SetRecordEdits({[&] { return pending; },
                          [&] {
                              ++applied;
                              pending = false;
                              return std::optional<std::string>();
                          },
                          [&] { pending = false; }});
    QObject::connect(&lists, &RecordPage::RecordChosen, [&](RecordSet, int) { ++chosen; });
    const auto choose = [&](int row, const char* button) {
        EditsAnswerer answer(button);
        lists.Lists()->selectRow(row);
        return answer.asked;
    };
    EXPECT_EQ(choose(0, "cancel"), 0);
    EXPECT_EQ(chosen, 1);
    pending = true;
    EXPECT_EQ(choose(1, "cancel"), 1);
    EXPECT_EQ(lists.Lists()->currentRow(), 0) << "back on the record the edits belong to";
    EXPECT_EQ(chosen, 1);
    EXPECT_EQ(choose(1, "apply"), 1);
    EXPECT_EQ(applied, 1);
    EXPECT_EQ(lists.Lists()->currentRow(), 1);
    EXPECT_EQ(chosen, 2);
    // A refresh keeps the chosen row and asks nothing.
    pending = true;
    EditsAnswerer none("cancel");
    lists.Refresh();
    EXPECT_EQ(none.asked, 0);
    EXPECT_EQ(lists.Lists()->currentRow(), 1);
    EXPECT_EQ(chosen, 2);
}

// Every record page of the program, under the built-in texts and under the
// English language file: every form row and column header shows its field's
// label text, never the raw key (in English "Port" may be both).
TEST(RecordPagesOfTheProgram, NoPageShowsAFieldKeyAsItsLabelInEitherLanguage) {
    App();
    qm::testing::TempDir home{"qm-record-labels"};
    core::CoreContext core;
    core.paths = core::Paths::Build(home.path() / "quillmark", home.path());
    core.paths.CreateFolders();
    core.config = std::make_unique<core::Config>(core.paths.settingsFolder);
    core.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
    core.events = std::make_unique<core::EventCore>(core.counters);
    core.registry = std::make_unique<core::ModuleRegistry>(core);
    for (const core::ModuleDescriptor& d : ProgramModules()) {
        if (d.create == nullptr) continue;
        std::unique_ptr<core::Module> module = d.create(core);
        module->LoadSection();
        core.registry->Add(std::move(module));
    }
    // The window module without a toolkit: its entries without frames.
    std::unique_ptr<core::Module> windows = CreateWindowModule(core, nullptr);
    windows->LoadSection();
    core.registry->Add(std::move(windows));

    const fs::path english = fs::path(QM_SOURCE_DIR) / "resources/default-home/Resource/lang.txt";
    for (const std::string_view locale : {"RU", "EN"}) {
        core.texts = locale == "EN" ? std::make_unique<core::TextTable>(core::BuiltinStrings(), english, "EN")
                                    : std::make_unique<core::TextTable>(core::BuiltinStrings());
        SettingsDialog dialog(core, nullptr);
        size_t pages = 0;
        for (int i = 0; i < dialog.PageCount(); ++i) {
            auto* page = dynamic_cast<RecordPage*>(dialog.Page(i));
            if (page == nullptr) continue;
            ++pages;
            const PageLayout& layout = page->Layout();
            const std::string where = std::string(locale) + ", " + core.Text(layout.title);
            core::RecordSets& records = *core.registry->Find(layout.module)->Records();
            const auto labelled = [&](const core::FieldDef& f, const QString& text) {
                EXPECT_NE(f.label, 0u) << where << ": " << f.key;
                if (f.label == 0) return;
                std::string wanted = core.Text(f.label);
                while (!wanted.empty() && (wanted.back() == ':' || wanted.back() == ' ')) wanted.pop_back();
                // A form row may add a unit ("Таймаут повтора, с").
                EXPECT_EQ(text.toStdString().rfind(wanted, 0), 0u) << where << ": " << text.toStdString();
                if (locale == "RU") {
                    EXPECT_NE(text.toStdString(), f.key) << where;
                }
            };
            const auto check = [&](RecordSet set, FieldForm* shown, QTableWidget* table) {
                const core::RecordCopy blank = records.Blank({set});
                ASSERT_TRUE(blank) << where;
                FieldForm made(core, layout, set, blank, {}, false);
                FieldForm* form = shown ? shown : &made;
                for (const core::FieldDef& f : blank.Fields()) {
                    auto* rows = static_cast<QFormLayout*>(form->layout());
                    auto* label = qobject_cast<QLabel*>(rows->labelForField(form->Control(f.key)));
                    ASSERT_NE(label, nullptr) << where << ": " << f.key;
                    labelled(f, label->text());
                }
                if (table == nullptr) return;
                const auto fields = blank.Fields();
                ASSERT_EQ(table->columnCount(), int(fields.size()) + 1) << where;
                for (int c = 0; c < int(fields.size()); ++c)
                    labelled(fields[size_t(c)], table->horizontalHeaderItem(c + 1)->text());
            };
            if (layout.common) check(RecordSet::Common, page->CommonForm(), nullptr);
            if (layout.items) check(RecordSet::Item, nullptr, page->Items());
            if (layout.lists) {
                check(RecordSet::List, nullptr, page->Lists());
                check(RecordSet::Entry, nullptr, page->Entries());
            }
        }
        EXPECT_EQ(pages, RecordPageLayouts().size()) << locale;
    }
    core.registry->UnloadAll();
    core.registry.reset();
    core.events->Shutdown();
}

// Under English no named value of any page stays Russian, the marks beside
// the rule conditions included.
TEST(RecordPagesOfTheProgram, EveryNamedValueHasItsEnglishText) {
    core::CoreContext core;
    const fs::path english = fs::path(QM_SOURCE_DIR) / "resources/default-home/Resource/lang.txt";
    core.texts = std::make_unique<core::TextTable>(core::BuiltinStrings(), english, "EN");
    // Cyrillic letters are the two-byte UTF-8 sequences that start with 0xD0 or 0xD1.
    const auto russian = [](const std::string& text) {
        return std::any_of(text.begin(), text.end(), [](char c) { return (uint8_t(c) & 0xFE) == 0xD0; });
    };
    size_t named = 0;
    for (const PageLayout& page : RecordPageLayouts())
        for (const FieldHint& hint : page.hints)
            for (const Named& value : hint.names) {
                const std::string text = NamedText(core, value);
                EXPECT_FALSE(russian(text)) << core.Text(page.title) << ", " << hint.key << ": " << text;
                ++named;
            }
    EXPECT_GT(named, 20u);
}

// Over the program's own modules on a new home: every module with records
// gets its page, shows what the home holds, and proposes the design's
// values for new records.
TEST(RecordPagesOfTheProgram, EveryModulePageShowsItsRecordsAndProposesNewOnes) {
    App();
    qm::testing::ProgramCore program{qm::testing::FreePort()};
    SettingsDialog dialog(program.core, nullptr);
    std::vector<RecordPage*> pages;
    for (int i = 0; i < dialog.PageCount(); ++i)
        if (auto* page = dynamic_cast<RecordPage*>(dialog.Page(i))) pages.push_back(page);
    for (const PageLayout& page : RecordPageLayouts()) {
        if (page.windowType) continue;  // no window module here
        core::Module* module = program.core.registry->Find(page.module);
        const bool shown = std::any_of(pages.begin(), pages.end(), [&](RecordPage* p) { return &p->Layout() == &page; });
        EXPECT_EQ(shown, module != nullptr && module->Records() != nullptr) << program.core.Text(page.title);
    }
    const auto page = [&](uint32_t title) -> RecordPage& {
        for (RecordPage* p : pages)
            if (p->Layout().title == title) return *p;
        throw std::runtime_error("no page");
    };
    // The new home's listener and log target.
    EXPECT_EQ(page(str::kPageCollector).Items()->rowCount(), 1);
    EXPECT_EQ(page(str::kPageDatabase).Items()->rowCount(), 1);
    EXPECT_NE(page(str::kPageDatabase).CommonForm(), nullptr);

    RecordPage& laurent = page(str::kPageLaurent);
    laurent.OpenRecordForm(RecordSet::Item, -1);
    EXPECT_EQ(dynamic_cast<QLineEdit*>(laurent.OpenForm()->Fields().Control("Port"))->text(), "2424");
    EXPECT_EQ(dynamic_cast<QLineEdit*>(laurent.OpenForm()->Fields().Control("StrPass"))->text(), "");
    laurent.OpenForm()->close();
    ASSERT_FALSE(laurent.AddRecord(RecordSet::List, {{"StrName", "t"}}));
    core::RecordCopy list = program.core.registry->Find(core::kModuleLaurent)->Records()->Copy({RecordSet::List})->back();
    EXPECT_EQ(list.Get("StrOutFmt"), "Temperature: [temp] *C");
    ASSERT_EQ(list.entries.size(), 1u);
    EXPECT_EQ(list.entries[0].Get("StrValue"), "$KE,TMP");
    EXPECT_EQ(list.entries[0].Get("StrTag"), "temp");

    RecordPage& icmp = page(str::kPageIcmp);
    icmp.OpenRecordForm(RecordSet::Item, -1);
    EXPECT_EQ(dynamic_cast<QLineEdit*>(icmp.OpenForm()->Fields().Control("StrOutFmt"))->text(), "On-line, response [msec]");
    icmp.OpenForm()->close();
    // A second host with one address is refused, the page saying why.
    ASSERT_FALSE(icmp.AddRecord(RecordSet::Item, {{"StrName", "192.0.2.7"}}));
    EXPECT_EQ(icmp.AddRecord(RecordSet::Item, {{"StrName", "192.0.2.7"}}), "Узел 192.0.2.7 уже есть в списке ICMP");
    EXPECT_EQ(icmp.Status().toStdString(), "Узел 192.0.2.7 уже есть в списке ICMP");
    EXPECT_EQ(icmp.Items()->rowCount(), 1);
}

}  // namespace
}  // namespace qm::windows::qt
