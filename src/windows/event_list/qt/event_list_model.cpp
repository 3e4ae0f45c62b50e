#include "windows/event_list/qt/event_list_model.h"

#include <algorithm>

#include "windows/event_list/event_list_logic.h"
#include "windows/qt/colors.h"
#include "windows/qt/icon_set.h"

namespace qm::windows::qt {

int EventListModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || logic_ == nullptr) return 0;
    return static_cast<int>(logic_->ShownCount());
}

int EventListModel::columnCount(const QModelIndex& parent) const {
    if (parent.isValid() || logic_ == nullptr) return 0;
    return static_cast<int>(logic_->Columns().size());
}

int EventListModel::ColumnAt(int section) const {
    if (logic_ == nullptr || section < 0 || section >= static_cast<int>(logic_->Columns().size())) return -1;
    return logic_->Columns()[static_cast<size_t>(section)];
}

int EventListModel::SectionOf(int column) const {
    if (logic_ == nullptr) return -1;
    const std::vector<int>& columns = logic_->Columns();
    const auto it = std::find(columns.begin(), columns.end(), column);
    return it == columns.end() ? -1 : static_cast<int>(it - columns.begin());
}

QVariant EventListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || logic_ == nullptr) return {};
    const size_t place = static_cast<size_t>(index.row());
    const int column = ColumnAt(index.column());
    if (place >= logic_->ShownCount() || column < 0) return {};
    const size_t row = logic_->RowOfShown(place);
    const EventRow& r = logic_->Row(row);
    switch (role) {
        case Qt::DisplayRole: {
            if (column == kColumnIcon || !r.filled) return {};
            const std::string_view text = logic_->CellText(row, column);
            return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        }
        case Qt::DecorationRole:
            if (column != kColumnIcon || !r.filled || r.fill.icon < 0) return {};
            return ProgramIcons().Icon(r.fill.icon);
        case Qt::ForegroundRole: return ToQColor(logic_->ColorsOf(row).text);
        case Qt::BackgroundRole: return ToQColor(logic_->ColorsOf(row).background);
        default: return {};
    }
}

QVariant EventListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    const int column = ColumnAt(section);
    if (column < 0 || column >= headers_.size()) return {};
    return headers_[column];
}

void EventListModel::BeginInsertRows(size_t at, size_t count) {
    beginInsertRows({}, static_cast<int>(at), static_cast<int>(at + count - 1));
}

void EventListModel::BeginRemoveRows(size_t at, size_t count) {
    beginRemoveRows({}, static_cast<int>(at), static_cast<int>(at + count - 1));
}

void EventListModel::RowsChanged(size_t first, size_t last) {
    emit dataChanged(index(static_cast<int>(first), 0), index(static_cast<int>(last), columnCount() - 1));
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
    if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

}  // namespace qm::windows::qt
