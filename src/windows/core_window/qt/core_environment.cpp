#include "windows/core_window/qt/core_environment.h"

#include "platform/guarded_lock.h"
#include "windows/core_window/qt/core_window.h"
#include "windows/qt/gui_thread.h"
#include "windows/qt/popup_menus.h"

namespace qm::windows::qt {

namespace {

constexpr int kMenuClosePollMs = 10;

}  // namespace

CoreEnvironment::CoreEnvironment(core::CoreContext& core, script::ScriptHost* scripts) : services_(core) {
    RunOnGui([&] { window_ = std::make_unique<CoreWindow>(core, services_, scripts); });
}

CoreEnvironment::~CoreEnvironment() {
    // The menu may be open (a signal or "quit" ends the program meanwhile):
    // it is closed first, and the window goes once the GUI thread has
    // returned from it. On the GUI thread itself there is no waiting; the
    // menu's caller checks that the window still exists.
    const bool fromGui = OnGuiThread();
    for (;;) {
        bool menuOpen = false;
        const bool ran = RunOnGui([this, fromGui, &menuOpen] {
            if (!window_) return;
            menuOpen = ClosePopupMenusWithin(*window_) && !fromGui;
            if (menuOpen) return;
            window_.reset();
        });
        if (!ran) {
            // The display is gone and the GUI thread with it: nothing may
            // touch the window any more, and the process ends without it.
            static_cast<void>(window_.release());
            break;
        }
        if (!menuOpen) break;
        platform::SleepMs(kMenuClosePollMs);
    }
    // No new start or stop can come now; one still running is awaited by
    // services_, before the core unloads the modules it works on.
}

}  // namespace qm::windows::qt
