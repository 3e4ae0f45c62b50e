#pragma once
// Every widget lives on the GUI thread; other threads reach it through these.
//
// The GUI thread can be lost for good: when the display goes away, the
// toolkit ends the process from the GUI thread, and the program parks that
// thread to shut down (or go on) without its windows. From then on nothing
// is run there any more; callers learn it from RunOnGui's answer.
#include <functional>

namespace qm::windows::qt {

bool OnGuiThread();
// Runs the call on the GUI thread, later and in order; at once when already
// there. Dropped when no application object exists or the GUI thread is gone.
void PostToGui(std::function<void()> call);
// Runs the call on the GUI thread and waits for it; true when it ran. False
// without an application object, or when the GUI thread is gone before it
// got to the call (a waiting caller is released then). The caller must not
// hold anything the GUI thread may wait for.
bool RunOnGui(const std::function<void()>& call);

// Called on the GUI thread when it will never run another call: releases
// every caller waiting in RunOnGui, and makes later calls return at once.
void MarkGuiGone();
bool GuiGone();

}  // namespace qm::windows::qt
