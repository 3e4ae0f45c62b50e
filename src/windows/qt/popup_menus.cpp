#include "windows/qt/popup_menus.h"

#include <algorithm>
#include <vector>

#include <QMenu>
#include <QPointer>

namespace qm::windows::qt {

namespace {

struct OpenMenu {
    QMenu* menu;
    QPointer<QWidget> owner;
};

// Innermost last; only touched on the GUI thread.
std::vector<OpenMenu> openMenus;

bool Within(const QWidget& window, const QWidget* widget) {
    // Not isAncestorOf: that one stops at window boundaries.
    for (; widget != nullptr; widget = widget->parentWidget())
        if (widget == &window) return true;
    return false;
}

}  // namespace

QAction* RunPopupMenu(QMenu& menu, QWidget& owner, const QPoint& at) {
    openMenus.push_back(OpenMenu{&menu, QPointer<QWidget>(&owner)});
    QAction* chosen = menu.exec(at);
    openMenus.erase(std::find_if(openMenus.begin(), openMenus.end(), [&](const OpenMenu& m) { return m.menu == &menu; }));
    return chosen;
}

bool ClosePopupMenusWithin(const QWidget& window) {
    bool any = false;
    for (const OpenMenu& open : openMenus) {
        if (!Within(window, open.owner.data())) continue;
        open.menu->close();
        any = true;
    }
    return any;
}

}  // namespace qm::windows::qt
