#include "windows/event_list/qt/event_list_model.h"

#include "windows/event_list/event_list_logic.h"
#include "windows/qt/colors.h"
#include "windows/qt/icon_set.h"

namespace qm::windows::qt {

int EventListModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || logic_ == nullptr) return 0;
    return static_cast<int>(logic_->RowCount());
}

int EventListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 5; }

QVariant EventListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || logic_ == nullptr) return {};
    const size_t row = static_cast<size_t>(index.row());
    if (row >= logic_->RowCount()) return {};
    const EventRow& r = logic_->Row(row);
    switch (role) {
        case Qt::DisplayRole:
            if (index.column() == kColumnIcon || !r.filled) return {};
            return QString::fromStdString(r.fill.texts[static_cast<size_t>(index.column())]);
        case Qt::DecorationRole:
            if (index.column() != kColumnIcon || !r.filled || r.fill.icon < 0) return {};
            return ProgramIcons().Icon(r.fill.icon);
        case Qt::ForegroundRole: return ToQColor(logic_->ColorsOf(row).text);
        case Qt::BackgroundRole: return ToQColor(logic_->ColorsOf(row).background);
        default: return {};
    }
}

QVariant EventListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section < 0 || section >= headers_.size()) return {};
    return headers_[section];
}

void EventListModel::BeginAppendRows(size_t first, size_t count) {
    beginInsertRows({}, static_cast<int>(first), static_cast<int>(first + count - 1));
}

void EventListModel::RowsChanged(size_t first, size_t last) {
    emit dataChanged(index(static_cast<int>(first), 0), index(static_cast<int>(last), 4));
}

void EventListModel::BeginReorderRows() {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    persistentBefore_ = persistentIndexList();
}

void EventListModel::EndReorderRows(std::span<const size_t> newIndexOfOld) {
    QModelIndexList after;
    after.reserve(persistentBefore_.size());
    for (const QModelIndex& old : persistentBefore_) {
        const size_t oldRow = static_cast<size_t>(old.row());
        const int newRow = oldRow < newIndexOfOld.size() ? static_cast<int>(newIndexOfOld[oldRow]) : old.row();
        after.push_back(index(newRow, old.column()));
    }
    changePersistentIndexList(persistentBefore_, after);
    persistentBefore_.clear();
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void EventListModel::ColorsChanged() {
    if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, 4));
}

}  // namespace qm::windows::qt
