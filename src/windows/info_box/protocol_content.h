#pragma once
// The script protocol window as an info box shows it: the interpreter's
// description of it turned into a content record, and the call that puts it
// up through the window module. Free of any toolkit.
#include "script/script_interpreter.h"
#include "windows/info_content.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::windows {

// Title, text and icon as given; the three marking rules, each on only when
// the script left highlighting on, marking every occurrence.
InfoContent ProtocolContent(const script::ProtocolWindow& window);

// Shows it in the program's info box (the one there is, or a new one).
// Takes the window module's lock by the three-try protocol and waits for the
// GUI thread when a new box is made: call it from a script's thread, never
// from the GUI thread. Does nothing without a window module.
void ShowProtocolWindow(core::CoreContext& core, const script::ProtocolWindow& window);

}  // namespace qm::windows
