#pragma once
// The event list's rows as a Qt table model: texts, icon and colours come
// from the logic, which tells the model of every change it makes.
#include <QAbstractTableModel>

#include "windows/event_list/event_list_view.h"

namespace qm::windows {
class EventListLogic;
}

namespace qm::windows::qt {

class EventListModel : public QAbstractTableModel, public EventListView {
    Q_OBJECT
public:
    explicit EventListModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    void SetLogic(EventListLogic* logic) { logic_ = logic; }
    // Selections follow rows through the view's own hooks.
    void SetSelectionHooks(std::function<bool(size_t)> deselect, std::function<void()> ensureLastVisible) {
        deselect_ = std::move(deselect);
        ensureLastVisible_ = std::move(ensureLastVisible);
    }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void SetHeaders(const QStringList& headers) { headers_ = headers; }

    // EventListView
    void BeginResetRows() override { beginResetModel(); }
    void EndResetRows() override { endResetModel(); }
    void BeginAppendRows(size_t first, size_t count) override;
    void EndAppendRows() override { endInsertRows(); }
    void RowsChanged(size_t first, size_t last) override;
    void BeginReorderRows() override;
    void EndReorderRows(std::span<const size_t> newIndexOfOld) override;
    void ColorsChanged() override;
    bool DeselectRow(size_t row) override { return deselect_ ? deselect_(row) : false; }
    void EnsureLastVisible() override {
        if (ensureLastVisible_) ensureLastVisible_();
    }

private:
    EventListLogic* logic_ = nullptr;
    QStringList headers_;
    QModelIndexList persistentBefore_;
    std::function<bool(size_t)> deselect_;
    std::function<void()> ensureLastVisible_;
};

}  // namespace qm::windows::qt
