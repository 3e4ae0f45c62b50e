#pragma once
// Runs the program with its windows: the GUI thread is the main thread, and
// core start-up, the wait for the exit event and the shutdown run beside it
// on a thread of their own, so the loading window keeps painting meanwhile.
#include "core/core_context.h"

namespace qm::windows::qt {

int RunWithWindows(core::CoreContext& core, int& argc, char** argv);

}  // namespace qm::windows::qt
