#pragma once
// The core window's life, from the thread that starts and ends the core:
// made on the GUI thread as the last step of start-up, destroyed there as
// the first step of shutdown, with the menu's service start or stop awaited
// before the modules go. Survives a lost display (the window is then
// abandoned with the GUI thread).
#include <memory>

#include "windows/core_window/service_control.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::script {
class ScriptHost;
}

namespace qm::windows::qt {

class CoreWindow;

class CoreEnvironment {
public:
    // `scripts` (may be null) is what the settings dialog runs scripts
    // with; it must outlive the environment.
    explicit CoreEnvironment(core::CoreContext& core, script::ScriptHost* scripts = nullptr);
    ~CoreEnvironment();
    CoreEnvironment(const CoreEnvironment&) = delete;
    CoreEnvironment& operator=(const CoreEnvironment&) = delete;

    // GUI thread only; null when it could not be made.
    CoreWindow* Window() const { return window_.get(); }
    ServiceControl& Services() { return services_; }

private:
    ServiceControl services_;  // declared first: it outlives the window
    std::unique_ptr<CoreWindow> window_;
};

}  // namespace qm::windows::qt
