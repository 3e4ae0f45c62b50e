#pragma once
// Sorting the rows by one column's text, and what a header click does.
#include <cstdint>
#include <string_view>
#include <vector>

#include "windows/event_list/event_row.h"

namespace qm::windows {

// Compares two texts of a column code unit by code unit (UTF-16, as the
// list compared them); for "Дата" the leading day and month are swapped
// first so the text compares as month, day, time. <0, 0 or >0.
int CompareColumnTexts(int column, std::string_view a, std::string_view b);

// The order of the rows for a sort direction (±column, see the settings):
// order[k] is the index of the row that goes to place k. Stable, so rows
// with equal texts keep their order. Direction 0 or beyond ±4 keeps the order.
std::vector<size_t> SortOrder(const std::vector<EventRow>& rows, int32_t sortDirection);

// The sort direction after a click on a column header, or the old one when
// the click changes nothing (column 0, or sorting not enabled).
int32_t DirectionAfterHeaderClick(int32_t sortDirection, int column, bool sortable);

}  // namespace qm::windows
