#pragma once
// Context menus run an event loop of their own on the GUI thread, and what
// other threads ask of the GUI thread meanwhile runs inside that loop. A
// window destroyed then would be destroyed under its own running menu, which
// returns into it afterwards. So menus run through here, and a window that is
// to go first closes the menus open within it and goes once they returned.
// GUI thread only.
class QAction;
class QMenu;
class QPoint;
class QWidget;

namespace qm::windows::qt {

// Runs `menu` at the global position `at` on behalf of `owner`; the action
// chosen, or null. The menu must not be a child of the owner (a window
// destroyed while it runs would delete it a second time): the caller checks
// that the owner still exists before using it after the call.
QAction* RunPopupMenu(QMenu& menu, QWidget& owner, const QPoint& at);

// Closes the menus whose owner is `window` or inside it; true when one was
// open (it returns once the GUI thread is back in the loop that ran it).
bool ClosePopupMenusWithin(const QWidget& window);

}  // namespace qm::windows::qt
