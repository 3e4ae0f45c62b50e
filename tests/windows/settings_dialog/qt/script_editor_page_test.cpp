// The settings dialog and its Script Editor page on real Qt widgets
// (off-screen), over a core with the relay and window modules and the
// program's script host: the default script loaded, a run that changes the
// relay and puts up the protocol window, cancel, busy, and the program's
// end under a sleeping script.
#include <gtest/gtest.h>

#include <thread>

#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextCursor>

#include "core/core_context.h"
#include "core/string_table.h"
#include "platform/codepage.h"
#include "platform/file_io.h"
#include "processing/rules/rules_module.h"
#include "script/script_host.h"
#include "support/temp_dir.h"
#include "transport/relay/relay_module.h"
#include "windows/core_window/core_menu.h"
#include "windows/info_box/protocol_content.h"
#include "windows/core_window/qt/core_environment.h"
#include "windows/core_window/qt/core_window.h"
#include "windows/qt/frame.h"
#include "windows/info_box/qt/info_box_content.h"
#include "windows/qt/program_windows.h"
#include "windows/qt/qt_test_support.h"
#include "windows/settings_dialog/qt/script_editor_page.h"
#include "windows/settings_dialog/qt/settings_dialog.h"
#include "windows/window_module/window_module.h"

namespace qm::windows::qt {
namespace {

using test::App;
using test::FindTopLevel;
using test::PumpUntil;
namespace fs = std::filesystem;

class ScriptEditorTest : public ::testing::Test {
protected:
    ScriptEditorTest() {
        App();
        core_.paths = core::Paths::Build(home_.path() / "quillmark", home_.path());
        core_.paths.CreateFolders();
        fs::copy(fs::path(QM_SOURCE_DIR) / "resources/default-home/Settings", core_.paths.settingsFolder,
                 fs::copy_options::overwrite_existing | fs::copy_options::recursive);
        script_ = core_.paths.resourceFolder / "Scripts" / "default.qmk";
        fs::create_directories(script_.parent_path());
        // ANSI text with a byte that is no UTF-8: it reads in the fallback charset.
        platform::ReplaceFile(script_, "#set:mod_relay=A{#set:port=1514}\n#echo=caf\xe9: on\n#echo=[x]");
        core_.config = std::make_unique<core::Config>(core_.paths.settingsFolder);
        core_.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
        core_.events = std::make_unique<core::EventCore>(core_.counters);
        core_.registry = std::make_unique<core::ModuleRegistry>(core_);
        core_.registry->Add(std::make_unique<processing::RulesModule>(core_));
        auto relay = transport::CreateRelayModule(core_);
        relay->LoadSection();
        core_.registry->Add(std::move(relay));
        windows_ = std::make_unique<ProgramWindows>(core_);
        auto module = CreateWindowModule(core_, &windows_->System());
        module->LoadSection();
        core_.registry->Add(std::move(module));
        host_ = std::make_unique<script::ScriptHost>(
            core_, [this](const script::ProtocolWindow& w) { ShowProtocolWindow(core_, w); });
        environment_ = std::make_unique<CoreEnvironment>(core_, host_.get());
    }
    ~ScriptEditorTest() override {
        EndProgram();
        core_.registry->UnloadAll();
        core_.registry.reset();
        windows_.reset();
        core_.events->Shutdown();
    }
    // As the program ends: from the thread that runs the core, while the
    // GUI thread goes on.
    void EndProgram() {
        std::atomic<bool> ended{false};
        std::thread runner([&] {
            environment_.reset();
            host_->Shutdown();
            ended = true;
        });
        EXPECT_TRUE(PumpUntil([&] { return ended.load(); }));
        runner.join();
    }
    SettingsDialog* OpenSettings() {
        CoreWindow& window = *environment_->Window();
        const std::vector<CoreMenuItem> menu = window.Menu();
        for (const CoreMenuItem& item : menu)
            if (item.command == CoreCommand::Settings && item.enabled) window.Carry(item);
        return window.Settings();
    }
    static bool Finished(const ScriptEditorPage& page) {
        return page.Status().startsWith("Done") || page.Status().startsWith("Cancelled");
    }

    qm::testing::TempDir home_{"qm-script-editor"};
    core::CoreContext core_;
    fs::path script_;
    std::unique_ptr<ProgramWindows> windows_;
    std::unique_ptr<script::ScriptHost> host_;
    std::unique_ptr<CoreEnvironment> environment_;
};

TEST_F(ScriptEditorTest, TheMenuOpensOneDialogWhoseEditorRunsTheDefaultScript) {
    SettingsDialog* dialog = OpenSettings();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(OpenSettings(), dialog) << "a second Settings made a second dialog";
    // The record pages of the rules, relay and window modules, then the editor.
    ASSERT_EQ(dialog->PageCount(), 8);
    EXPECT_TRUE(dialog->ShowPage("QMK Script Editor"));
    auto* page = dynamic_cast<ScriptEditorPage*>(dialog->Page(dialog->PageCount() - 1));
    ASSERT_NE(page, nullptr);
    const std::string cafe = "caf" + platform::AnsiToUtf8("\xe9");
    const std::string loaded = "#set:mod_relay=A{#set:port=1514}\n#echo=" + cafe + ": on\n#echo=[x]";
    EXPECT_EQ(page->Editor().toPlainText().toStdString(), loaded);
    EXPECT_EQ(cafe, "caf\xd0\xb9") << "not read in the fallback charset (CP1251)";
    const QFontMetrics metrics(page->Editor().font());
    EXPECT_EQ(metrics.horizontalAdvance("iiii"), metrics.horizontalAdvance("WWWW")) << "not a monospace font";

    page->RunButton().click();
    ASSERT_TRUE(PumpUntil([&] { return Finished(*page); }));
    EXPECT_EQ(page->Status(), "Done: no failures");
    FrameWidget* protocol = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        protocol = FindTopLevel<FrameWidget>([](FrameWidget& f) { return f.windowTitle() == "Quillmark: Script protocol"; });
        return protocol && protocol->isVisible();
    }));
    auto* box = dynamic_cast<InfoBoxContent*>(protocol->Content());
    ASSERT_NE(box, nullptr);
    const QString text = box->Text().toPlainText();
    EXPECT_EQ(text.toStdString(), " * SET node found: mod_relay\n" + cafe + ": on\n[x]");
    // Each rule in its colour: after "*" green (it wins over the ":" rule
    // on the same line), after ":" blue, between brackets red; the rest as it was.
    const auto colourAt = [&](const QString& part) {
        QTextCursor cursor(box->Text().document());
        cursor.setPosition(text.indexOf(part) + 1);
        return cursor.charFormat().foreground().color();
    };
    EXPECT_EQ(colourAt("mod_relay"), QColor(0, 255, 0));
    EXPECT_EQ(colourAt(" on"), QColor(0, 0, 255));
    EXPECT_EQ(colourAt("x]"), QColor(255, 0, 0));
    for (const QColor& marked : {QColor(0, 255, 0), QColor(0, 0, 255), QColor(255, 0, 0)}) EXPECT_NE(colourAt("caf"), marked);
    const InfoContent off = ProtocolContent(script::ProtocolWindowOf("", false));
    EXPECT_EQ(off.icon, 11);
    EXPECT_FALSE(off.highlights[0].enabled || off.highlights[1].enabled || off.highlights[2].enabled);
    EXPECT_NE(host_->RunHere("#echo:mod_relay.item.0")->text.find("0.Port=1514\r\n0.Name=A"), std::string::npos);

    // Without the file the box starts empty.
    fs::remove(script_);
    EXPECT_TRUE(ScriptEditorPage(core_, host_.get()).Editor().toPlainText().isEmpty());
}

TEST_F(ScriptEditorTest, CancelEndsASleepAnotherScriptMakesItBusyAndTheProgramsEndClosesIt) {
    SettingsDialog* settings = OpenSettings();
    auto* page = dynamic_cast<ScriptEditorPage*>(settings->Page(settings->PageCount() - 1));
    ASSERT_NE(page, nullptr);
    page->Editor().setPlainText("#call:sys.sleep=60000");
    page->RunButton().click();
    EXPECT_EQ(page->Status(), "Running...");
    ASSERT_TRUE(page->CancelButton().isEnabled());
    page->CancelButton().click();
    ASSERT_TRUE(PumpUntil([&] { return Finished(*page); }));
    EXPECT_EQ(page->Status(), "Cancelled");
    EXPECT_FALSE(page->CancelButton().isEnabled());

    ASSERT_EQ(host_->Start("#call:sys.sleep=60000", nullptr), script::ScriptHost::Started::Yes);
    page->RunButton().click();
    EXPECT_EQ(page->Status(), "Busy: another script is running");
    host_->CancelStarted();  // the worker's: cancelled
    ASSERT_TRUE(PumpUntil([&] { return !host_->Running(); }));
    std::optional<script::ScriptRun> socketRun;
    std::thread socket([&] { socketRun = host_->RunHere("#call:sys.sleep=500;#echo=x"); });
    ASSERT_TRUE(PumpUntil([&] { return host_->Running() || socketRun; }));
    host_->CancelStarted();  // not the worker's: left alone
    socket.join();
    EXPECT_EQ(socketRun->text, "x");

    // The program ends while a script sleeps: it is cancelled and awaited,
    // and the dialog goes.
    ASSERT_EQ(host_->Start("#call:sys.sleep=60000", nullptr), script::ScriptHost::Started::Yes);
    const QPointer<SettingsDialog> dialog(environment_->Window()->Settings());
    EndProgram();
    EXPECT_TRUE(dialog.isNull());
    EXPECT_FALSE(host_->Running());
}

}  // namespace
}  // namespace qm::windows::qt
