#pragma once
// The default home's windows on real Qt widgets (off-screen): the rules and
// window modules over a core without services, for tests of what the windows
// show and do.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "core/core_context.h"
#include "core/string_table.h"
#include "processing/rules/rules_module.h"
#include "support/temp_dir.h"
#include "windows/event_list/qt/event_list_content.h"
#include "windows/qt/frame.h"
#include "windows/qt/program_windows.h"
#include "windows/qt/qt_test_support.h"
#include "windows/window_module/window_module.h"

namespace qm::windows::qt::test {

class ProgramWindowsOnQt : public ::testing::Test {
protected:
    // `open`: the windows are made at once; else a test adds its own modules
    // first and then calls OpenWindows.
    explicit ProgramWindowsOnQt(bool open = true) {
        App();
        core_.paths = core::Paths::Build(home_.path() / "quillmark", home_.path());
        core_.paths.CreateFolders();
        std::filesystem::copy(std::filesystem::path(QM_SOURCE_DIR) / "resources/default-home/Settings",
                              core_.paths.settingsFolder,
                              std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
        core_.config = std::make_unique<core::Config>(core_.paths.settingsFolder);
        core_.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
        core_.events = std::make_unique<core::EventCore>(core_.counters);
        core_.registry = std::make_unique<core::ModuleRegistry>(core_);
        core_.registry->Add(std::make_unique<processing::RulesModule>(core_));
        if (open) OpenWindows();
    }
    void OpenWindows() {
        windows_ = std::make_unique<ProgramWindows>(core_);
        auto module = CreateWindowModule(core_, &windows_->System());
        module_ = dynamic_cast<WindowModule*>(module.get());
        module->LoadSection();
        core_.registry->Add(std::move(module));
    }
    ~ProgramWindowsOnQt() override {
        core_.registry->UnloadAll();
        core_.registry.reset();
        windows_.reset();
        core_.events->Shutdown();
    }

    static FrameWidget* FrameTitled(const QString& prefix) {
        return FindTopLevel<FrameWidget>([&](FrameWidget& w) { return w.windowTitle().startsWith(prefix); });
    }
    // The frame whose title starts with `prefix` once it is shown; null when it never shows.
    static FrameWidget* ShownFrame(const QString& prefix) {
        FrameWidget* frame = nullptr;
        return PumpUntil([&] { return (frame = FrameTitled(prefix)) && frame->isVisible(); }) ? frame : nullptr;
    }
    // The content of that frame, when it is a `Content`.
    template <typename Content>
    static Content* Shown(const QString& prefix) {
        FrameWidget* frame = ShownFrame(prefix);
        return frame ? dynamic_cast<Content*>(frame->Content()) : nullptr;
    }
    // An External line as a relay passes it on: `text` ("<14>message") from `sender`.
    void Submit(const std::string& text, const std::string& sender, const std::string& time = "1 2 2024 3 4 5 0") {
        const std::string line = text + "|a2;" + sender + ";" + time + ";";
        ASSERT_EQ(core_.events->Submit(core::kEventExternal, core::kNoSeverity, line, {}), core::kOk);
    }
    // True once `list` has taken every event submitted, in `rows` rows.
    bool Filled(EventListContent& list, size_t rows) {
        if (!core_.events->Settle(20000)) return false;
        list.TickNow();
        return PumpUntil([&] { return list.BusyWorkers() == 0 && list.Logic().RowCount() == rows; });
    }

    qm::testing::TempDir home_{"qm-qt"};
    core::CoreContext core_;
    std::unique_ptr<ProgramWindows> windows_;
    WindowModule* module_ = nullptr;
};

}  // namespace qm::windows::qt::test
