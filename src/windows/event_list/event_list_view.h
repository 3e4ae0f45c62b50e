#pragma once
// What the event list logic tells the view (the toolkit's table model). All
// calls come on the GUI thread, from inside the logic's own calls (Tick,
// ApplyResults, HeaderClicked...). Begin/End pairs bracket each structural
// change, so the view sees the old rows before and the new rows after.
//
// Rows are named by their place among the rows shown: with a filter, the
// rows it lets through in their order; without one, every row.
#include <cstddef>
#include <span>

namespace qm::windows {

class EventListView {
public:
    virtual ~EventListView() = default;

    // Every row (and the columns shown) is about to change / has changed.
    virtual void BeginResetRows() = 0;
    virtual void EndResetRows() = 0;
    // `count` rows are about to be shown from place `at` on / were: new rows
    // at the end, or rows a filter lets through again.
    virtual void BeginInsertRows(size_t at, size_t count) = 0;
    virtual void EndInsertRows() = 0;
    // The rows at places at..at+count-1 are about to be hidden / were (a
    // filter no longer lets them through; they stay in the list).
    virtual void BeginRemoveRows(size_t at, size_t count) = 0;
    virtual void EndRemoveRows() = 0;
    // Texts, icon or colours of the rows at places first..last (inclusive) changed.
    virtual void RowsChanged(size_t first, size_t last) = 0;
    // The rows are about to be sorted / were sorted: the row that was at
    // place i is now at newIndexOfOld[i] (for selections that follow rows).
    virtual void BeginReorderRows() = 0;
    virtual void EndReorderRows(std::span<const size_t> newIndexOfOld) = 0;
    // The colour scheme or the list colours changed: every row repaints.
    virtual void ColorsChanged() = 0;
    // Removes selection and focus from the row at `place`; true when it was selected.
    virtual bool DeselectRow(size_t place) = 0;
    virtual void EnsureLastVisible() = 0;
};

}  // namespace qm::windows
