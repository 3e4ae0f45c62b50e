#pragma once
// The Qt side of start-up: which platform to show on, the one application
// object, and the GUI thread that every widget lives on.

namespace qm::windows::qt {

// With no display and no platform asked for, windows are drawn off-screen,
// so the program runs the same on a server.
// A named display that cannot be reached falls back to off-screen drawing too.
void ChoosePlatform();
// One line on stderr when that fallback happened.
void SayWhereWindowsAre();
// False on platforms that cannot stack windows (off-screen drawing).
bool CanRaiseWindows();

}  // namespace qm::windows::qt
