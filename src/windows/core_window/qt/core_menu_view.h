#pragma once
// Shows the program's menu (core_window/core_menu.h) as a Qt menu: a popup
// run here that tells which item was chosen, or a menu kept filled for the
// tray, which reports choices as they come. GUI thread only.
#include <functional>
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

// Puts the items into `menu` in place of everything it held, submenus
// included; choosing an entry, whenever that comes, calls `choose` with the
// item it stands for. For a menu that lives on and is shown by someone else
// (the tray's, which the desktop may show through D-Bus).
void RefillCoreMenu(QMenu& menu, const std::vector<CoreMenuItem>& items,
                    const std::function<void(const CoreMenuItem&)>& choose);

// Runs the menu for `owner` at `at` (through the popup menu guard); the item
// chosen, or nothing. The caller checks that the owner still exists.
std::optional<CoreMenuItem> RunCoreMenu(const std::vector<CoreMenuItem>& items, QWidget& owner, const QPoint& at);

}  // namespace qm::windows::qt
