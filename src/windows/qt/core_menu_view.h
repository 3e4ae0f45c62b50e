#pragma once
// Shows the program's menu (core_window/core_menu.h) as a Qt popup menu and
// tells which item was chosen. GUI thread only.
#include <optional>
#include <vector>

#include "windows/core_window/core_menu.h"

class QMenu;
class QPoint;
class QWidget;

namespace qm::windows::qt {

// Fills `menu` with the items; each action's data is the item's path
// (indexes from the top, through submenus).
void FillCoreMenu(QMenu& menu, const std::vector<CoreMenuItem>& items);

// Runs the menu for `owner` at `at` (through the popup menu guard); the item
// chosen, or nothing. The caller checks that the owner still exists.
std::optional<CoreMenuItem> RunCoreMenu(const std::vector<CoreMenuItem>& items, QWidget& owner, const QPoint& at);

}  // namespace qm::windows::qt
