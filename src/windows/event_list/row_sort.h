#pragma once
// Sorting the rows by one column's text, and what a header click does.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "windows/event_list/event_row.h"

namespace qm::windows {

// Compares two texts of a column code unit by code unit (UTF-16, as the
// list compared them); for "Дата" the leading day and month are swapped
// first so the text compares as month, day, time. <0, 0 or >0.
int CompareColumnTexts(int column, std::string_view a, std::string_view b);

// One row's place in a sort by one column: the text to compare (for "Дата"
// a copy with day and month swapped), its first 8 bytes as a number, which
// settle most comparisons, and whether plain byte order is UTF-16 order for
// it. A key points into its row's text, so it lives no longer than that text.
struct SortKey {
    uint64_t head = 0;
    std::string_view rowText;  // the row's own text (not for "Дата")
    std::string swapped;       // "Дата" only
    bool plain = true;
    size_t row = 0;

    std::string_view Text() const { return swapped.empty() ? rowText : std::string_view(swapped); }
};

SortKey MakeSortKey(int column, std::string_view text, size_t row);

// Sorts the keys for a sort direction (±column, see the settings), stable.
// When the first `sortedPrefix` keys are already in order, only the rest are
// sorted and merged in: the same order as a full sort, and for a long list
// that grows at its end a fraction of the work.
void SortKeys(std::vector<SortKey>& keys, size_t sortedPrefix, int32_t sortDirection);

// The order of the rows for a sort direction: order[k] is the index of the
// row that goes to place k. Stable, so rows with equal texts keep their
// order. Direction 0 or beyond the columns keeps the order. The texts are
// the rows' as shown with the whole message.
std::vector<size_t> SortOrder(const std::vector<EventRow>& rows, int32_t sortDirection, size_t sortedPrefix = 0);

// The sort direction after a click on a column header, or the old one when
// the click changes nothing ("#", no such column, or sorting not enabled).
int32_t DirectionAfterHeaderClick(int32_t sortDirection, int column, bool sortable);

}  // namespace qm::windows
