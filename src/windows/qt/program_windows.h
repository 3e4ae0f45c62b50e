#pragma once
// The program's tool windows on Qt: the window system the window module
// makes its frames with, the contents of each window type, and the one pool
// of event workers every event list shares.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>

#include "core/module_registry.h"
#include "windows/event_list/event_worker_pool.h"
#include "windows/event_list/qt/event_list_content.h"
#include "windows/qt/frame.h"
#include "windows/graph/qt/graph_content.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::windows {
class WindowModule;
}

namespace qm::windows::qt {

class ProgramWindows {
public:
    // Made on the GUI thread before the modules load; lives until they are
    // unloaded. Only one exists at a time: the window module's factory finds it.
    explicit ProgramWindows(core::CoreContext& core);
    ~ProgramWindows();
    ProgramWindows(const ProgramWindows&) = delete;
    ProgramWindows& operator=(const ProgramWindows&) = delete;

    QtWindowSystem& System() { return system_; }
    EventWorkerPool& Pool() { return pool_; }

    static ProgramWindows* Current();

private:
    std::unique_ptr<FrameContent> MakeContent(const FrameRequest& request, FrameWidget& frame);
    WindowModule* Module();
    // The entry's Param and a flip of one of its bits, for a window's menu.
    std::function<uint16_t()> FrameParamOf(uint64_t uid);
    std::function<void(uint16_t)> FrameParamToggle(uint64_t uid);
    static std::optional<size_t> IndexOf(WindowModule& module, uint64_t uid);
    // The active graph windows whose vendor is `vendor` (GUI thread).
    std::vector<GraphChoice> GraphsOf(const std::string& vendor);

    core::CoreContext& core_;
    EventWorkerPool pool_;
    QtWindowSystem system_;
    // The running graphs by window UID, for the event lists' menus (GUI thread).
    std::map<uint64_t, QPointer<GraphContent>> graphs_;
};

// The program's module catalog with the window module made on Qt.
std::span<const core::ModuleDescriptor> ProgramCatalogWithWindows();

}  // namespace qm::windows::qt
