#pragma once
// The event list's rows as a Qt table model: texts, icon and colours come
// from the logic, which tells the model of every change it makes. The
// model's rows are the rows shown (a filter may hide some), its columns the
// columns shown, in display order.
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

    // Header titles by column number (EventListColumn).
    void SetHeaders(const QStringList& headers) { headers_ = headers; }
    // The column number of a model column, and back (-1: not shown).
    int ColumnAt(int section) const;
    int SectionOf(int column) const;

    // EventListView
    void BeginResetRows() override { beginResetModel(); }
    void EndResetRows() override { endResetModel(); }
    void BeginInsertRows(size_t at, size_t count) override;
    void EndInsertRows() override { endInsertRows(); }
    void BeginRemoveRows(size_t at, size_t count) override;
    void EndRemoveRows() override { endRemoveRows(); }
    void RowsChanged(size_t first, size_t last) override;
    void BeginReorderRows() override;
    void EndReorderRows(std::span<const size_t> newIndexOfOld) override;
    void ColorsChanged() override;
    bool DeselectRow(size_t place) override { return deselect_ ? deselect_(place) : false; }
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
