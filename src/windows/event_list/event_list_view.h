#pragma once
// What the event list logic tells the view (the toolkit's table model). All
// calls come on the GUI thread, from inside the logic's own calls (Tick,
// ApplyResults, HeaderClicked...). Begin/End pairs bracket each structural
// change, so the view sees the old rows before and the new rows after.
#include <cstddef>
#include <span>

namespace qm::windows {

class EventListView {
public:
    virtual ~EventListView() = default;

    // Every row is about to go / has gone.
    virtual void BeginResetRows() = 0;
    virtual void EndResetRows() = 0;
    // Rows first..first+count-1 are about to be added at the end / were added.
    virtual void BeginAppendRows(size_t first, size_t count) = 0;
    virtual void EndAppendRows() = 0;
    // Texts, icon or colours of rows first..last (inclusive) changed.
    virtual void RowsChanged(size_t first, size_t last) = 0;
    // The rows are about to be sorted / were sorted: the row that was at
    // index i is now at newIndexOfOld[i] (for selections that follow rows).
    virtual void BeginReorderRows() = 0;
    virtual void EndReorderRows(std::span<const size_t> newIndexOfOld) = 0;
    // The colour scheme or the list colours changed: every row repaints.
    virtual void ColorsChanged() = 0;
    // Removes selection and focus from the row; true when it was selected.
    virtual bool DeselectRow(size_t row) = 0;
    virtual void EnsureLastVisible() = 0;
};

}  // namespace qm::windows
