#pragma once
// Every widget lives on the GUI thread; other threads reach it through these.
#include <functional>

namespace qm::windows::qt {

bool OnGuiThread();
// Runs the call on the GUI thread, later and in order; at once when already
// there. Dropped when no application object exists.
void PostToGui(std::function<void()> call);
// Runs the call on the GUI thread and waits for it. The caller must not hold
// anything the GUI thread may wait for.
void RunOnGui(const std::function<void()>& call);

}  // namespace qm::windows::qt
