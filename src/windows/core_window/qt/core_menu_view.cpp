#include "windows/core_window/qt/core_menu_view.h"

#include <QMenu>
#include <QVariant>

#include "windows/qt/popup_menus.h"

namespace qm::windows::qt {

namespace {

using Choose = std::function<void(const CoreMenuItem&)>;

void Fill(QMenu& menu, const std::vector<CoreMenuItem>& items, QList<QVariant> path, const Choose& choose) {
    for (size_t i = 0; i < items.size(); ++i) {
        const CoreMenuItem& item = items[i];
        if (item.separator) {
            menu.addSeparator();
            continue;
        }
        QList<QVariant> here = path;
        here.append(QVariant::fromValue(static_cast<qulonglong>(i)));
        const QString text = QString::fromStdString(item.text);
        if (!item.submenu.empty()) {
            QMenu* sub = menu.addMenu(text);  // owned by `menu`
            sub->setEnabled(item.enabled);
            Fill(*sub, item.submenu, here, choose);
            continue;
        }
        QAction* action = menu.addAction(text);
        action->setCheckable(item.checkable);
        action->setChecked(item.checked);
        action->setEnabled(item.enabled);
        action->setData(here);
        // The item by value: the list it came from is gone by the time a
        // desktop's menu reports the choice.
        if (choose) QObject::connect(action, &QAction::triggered, action, [choose, item] { choose(item); });
    }
}

}  // namespace

void FillCoreMenu(QMenu& menu, const std::vector<CoreMenuItem>& items) { Fill(menu, items, {}, nullptr); }

void RefillCoreMenu(QMenu& menu, const std::vector<CoreMenuItem>& items, const Choose& choose) {
    // clear() leaves the submenus, which are the menu's children; they go
    // once the caller (a menu's own signal, perhaps) has returned.
    menu.clear();
    for (QMenu* sub : menu.findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) sub->deleteLater();
    Fill(menu, items, {}, choose);
}

std::optional<CoreMenuItem> RunCoreMenu(const std::vector<CoreMenuItem>& items, QWidget& owner, const QPoint& at) {
    QMenu menu;
    FillCoreMenu(menu, items);
    const QAction* chosen = RunPopupMenu(menu, owner, at);
    if (chosen == nullptr) return std::nullopt;
    const std::vector<CoreMenuItem>* level = &items;
    const CoreMenuItem* item = nullptr;
    for (const QVariant& step : chosen->data().toList()) {
        const size_t index = static_cast<size_t>(step.toULongLong());
        if (index >= level->size()) return std::nullopt;
        item = &(*level)[index];
        level = &item->submenu;
    }
    if (item == nullptr) return std::nullopt;
    return *item;
}

}  // namespace qm::windows::qt
