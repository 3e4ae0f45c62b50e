#pragma once
// A core with a settings folder of its own, and window entries made short.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/core_context.h"
#include "support/temp_dir.h"
#include "windows/window_module/fake_window_system.h"
#include "windows/window_module/window_module.h"

namespace qm::windows::test {

inline WindowEntry Window(std::string name, uint16_t param, uint8_t type = kWindowEventList, Rect rect = {}) {
    WindowEntry e;
    e.enable = 1;
    e.name = std::move(name);
    e.param = param;
    e.type = type;
    e.rect = rect;
    return e;
}

class WindowModuleTest : public ::testing::Test {
protected:
    WindowModuleTest() { core_.config = std::make_unique<core::Config>(dir_.path()); }

    // A module that has read mod_window.ini, as at start-up.
    std::unique_ptr<WindowModule> Loaded(WindowSystem* system) {
        auto module = std::make_unique<WindowModule>(core_, system);
        module->LoadSection();
        return module;
    }
    void Remove(WindowModule& module, size_t index) {
        WindowEntry e = *module.Entry(index);
        e.marked = true;
        ASSERT_TRUE(module.ReplaceWindow(index, e));
    }

    testing::TempDir dir_{"qm-windows"};
    core::CoreContext core_;
    FakeWindowSystem system_;  // outlives every module a test makes
};

}  // namespace qm::windows::test
