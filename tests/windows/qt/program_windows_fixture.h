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
#include "windows/qt/event_list_content.h"
#include "windows/qt/frame.h"
#include "windows/qt/program_windows.h"
#include "windows/qt/qt_test_support.h"
#include "windows/window_module/window_module.h"

namespace qm::windows::qt::test {


class ProgramWindowsOnQt : public ::testing::Test {
protected:
    ProgramWindowsOnQt() {
        App();
        core_.paths = core::Paths::Build(home_.path() / "quillmark", home_.path());
        core_.paths.CreateFolders();
        std::filesystem::copy(std::filesystem::path(QM_SOURCE_DIR) / "resources/default-home/Settings",
                              core_.paths.settingsFolder, std::filesystem::copy_options::overwrite_existing | std::filesystem::copy_options::recursive);
        core_.config = std::make_unique<core::Config>(core_.paths.settingsFolder);
        core_.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
        core_.events = std::make_unique<core::EventCore>(core_.counters);
        core_.registry = std::make_unique<core::ModuleRegistry>(core_);
        core_.registry->Add(std::make_unique<processing::RulesModule>(core_));
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
    // The default home's event list once it is shown, with its frame; null when it never shows.
    static EventListContent* ShownList(FrameWidget*& frame) {
        if (!PumpUntil([&] { return (frame = FrameTitled("Syslog")) && frame->isVisible(); })) return nullptr;
        return dynamic_cast<EventListContent*>(frame->Content());
    }

    qm::testing::TempDir home_{"qm-qt"};
    core::CoreContext core_;
    std::unique_ptr<ProgramWindows> windows_;
    WindowModule* module_ = nullptr;
};

}  // namespace qm::windows::qt::test
