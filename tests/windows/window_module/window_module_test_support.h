#pragma once
// The window module over a window system without a toolkit, with a settings
// folder of its own. Each frame writes down what it was told into a record
// that outlives it, so a test can look at a window the module has already
// ended; place, visibility and minimised state are settable.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/core_context.h"
#include "support/temp_dir.h"
#include "windows/window_frame.h"
#include "windows/window_module/window_module.h"

namespace qm::windows::test {

struct FrameRecord {
    FrameRequest request;
    FrameEvents* events = nullptr;
    Rect rect;
    bool visible = false, minimized = false, destroyed = false;
    std::optional<std::string> title;
    std::optional<bool> onTop, toolFrame;
    int shows = 0, moves = 0, typeSaves = 0, typeSavesAtDestruction = 0;
    std::vector<std::string> contentTitles;
    std::atomic<uint32_t> busy{0};
    uint32_t busyAtDestruction = 0;
};

class FakeFrame : public WindowFrame {
public:
    explicit FakeFrame(std::shared_ptr<FrameRecord> r) : r_(std::move(r)) {}
    ~FakeFrame() override {
        r_->busyAtDestruction = r_->busy;
        r_->typeSavesAtDestruction = r_->typeSaves;
        r_->destroyed = true;
    }
    void SetTitle(const std::string& title) override { r_->title = title; }
    void ShowAndRaise() override { ++r_->shows, r_->visible = true, r_->minimized = false; }
    void Hide() override { r_->visible = false; }
    bool IsVisible() const override { return r_->visible; }
    bool IsMinimized() const override { return r_->minimized; }
    void SetOnTop(bool onTop) override { r_->onTop = onTop; }
    void SetToolFrame(bool toolFrame) override { r_->toolFrame = toolFrame; }
    Rect OuterRect() const override { return r_->rect; }
    void MoveTo(const Rect& rect) override { ++r_->moves, r_->rect = rect; }
    void SetIcon(uint32_t icon) override { r_->request.icon = icon; }
    void Repaint() override {}
    void ShowContent(const InfoContent& content) override { r_->contentTitles.push_back(content.title); }
    void SaveTypeSettings() override { ++r_->typeSaves; }
    uint32_t BusyWorkers() const override { return r_->busy; }

private:
    std::shared_ptr<FrameRecord> r_;
};

class FakeWindowSystem : public WindowSystem {
public:
    bool refuse = false;        // CreateFrame gives nothing
    std::vector<Rect> screens;  // none: places are not checked

    std::vector<Rect> Screens() const override { return screens; }
    std::unique_ptr<WindowFrame> CreateFrame(const FrameRequest& request, FrameEvents& events) override {
        if (refuse) return nullptr;
        auto record = std::make_shared<FrameRecord>();
        record->request = request, record->events = &events, record->rect = request.rect;
        std::lock_guard lock(mutex_);
        frames_.push_back(record);
        return std::make_unique<FakeFrame>(record);
    }
    // The newest frame made for this UID.
    std::shared_ptr<FrameRecord> Frame(uint64_t uid) const {
        std::lock_guard lock(mutex_);
        for (auto it = frames_.rbegin(); it != frames_.rend(); ++it)
            if ((*it)->request.uid == uid) return *it;
        return nullptr;
    }
    size_t Made() const {
        std::lock_guard lock(mutex_);
        return frames_.size();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<FrameRecord>> frames_;
};

inline WindowEntry Window(std::string name, uint16_t param, uint8_t type = kWindowEventList, Rect rect = {}) {
    WindowEntry e;
    e.enable = 1, e.name = std::move(name), e.param = param, e.type = type, e.rect = rect;
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
    // The frame of the window in slot `index`.
    std::shared_ptr<FrameRecord> FrameOf(WindowModule& module, size_t index) const {
        return system_.Frame(module.Entry(index)->uid);
    }

    testing::TempDir dir_{"qm-windows"};
    core::CoreContext core_;
    FakeWindowSystem system_;  // outlives every module a test makes
};

}  // namespace qm::windows::test
