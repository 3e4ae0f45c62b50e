#include "windows/event_list/row_sort.h"

#include <algorithm>
#include <numeric>
#include <utility>
#include <string>

namespace qm::windows {

namespace {

// Where the code point containing byte `i` of a UTF-8 text starts.
size_t CharStart(std::string_view s, size_t i) {
    while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) --i;
    return i;
}

uint32_t CodePointAt(std::string_view s, size_t i) {
    const auto b = [&](size_t k) { return k < s.size() ? static_cast<unsigned char>(s[k]) : 0u; };
    const unsigned lead = b(i);
    if (lead < 0x80) return lead;
    if (lead < 0xE0) return (lead & 0x1F) << 6 | (b(i + 1) & 0x3F);
    if (lead < 0xF0) return (lead & 0x0F) << 12 | (b(i + 1) & 0x3F) << 6 | (b(i + 2) & 0x3F);
    return (lead & 0x07) << 18 | (b(i + 1) & 0x3F) << 12 | (b(i + 2) & 0x3F) << 6 | (b(i + 3) & 0x3F);
}

// The first UTF-16 unit of a code point: characters beyond the basic plane
// start with a surrogate, which sorts below U+E000..U+FFFF.
uint32_t FirstUnit(uint32_t cp) { return cp >= 0x10000 ? 0xD800 + ((cp - 0x10000) >> 10) : cp; }

// UTF-8 byte order is code point order; it differs from UTF-16 unit order
// only where a character beyond the basic plane meets one of U+E000..U+FFFF.
int CompareUtf16Order(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    size_t i = 0;
    while (i < n && a[i] == b[i]) ++i;
    if (i == n) return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
    const size_t start = CharStart(a, i);  // the same in both: the bytes before are equal
    const uint32_t ca = CodePointAt(a, start), cb = CodePointAt(b, start);
    const uint32_t ua = FirstUnit(ca), ub = FirstUnit(cb);
    if (ua != ub) return ua < ub ? -1 : 1;
    return ca < cb ? -1 : ca > cb ? 1 : 0;
}

// "dd.mm  hh:mm:ss" as "mm.dd  hh:mm:ss".
std::string MonthFirst(std::string_view date) {
    std::string s(date);
    if (s.size() >= 5) {
        std::swap(s[0], s[3]);
        std::swap(s[1], s[4]);
    }
    return s;
}

}  // namespace

int CompareColumnTexts(int column, std::string_view a, std::string_view b) {
    if (column == kColumnDate) return CompareUtf16Order(MonthFirst(a), MonthFirst(b));
    return CompareUtf16Order(a, b);
}

SortKey MakeSortKey(int column, std::string_view text, size_t row) {
    SortKey key;
    key.row = row;
    if (column == kColumnDate) key.swapped = MonthFirst(text);
    else key.rowText = text;
    const std::string_view t = key.Text();
    key.plain = std::none_of(t.begin(), t.end(), [](char c) { return static_cast<unsigned char>(c) >= 0xEE; });
    for (size_t b = 0; b < 8; ++b) key.head = key.head << 8 | (b < t.size() ? static_cast<unsigned char>(t[b]) : 0u);
    return key;
}

void SortKeys(std::vector<SortKey>& keys, size_t sortedPrefix, int32_t sortDirection) {
    const auto compare = [](const SortKey& x, const SortKey& y) {
        // Where neither text holds such a byte, byte order is UTF-16 order.
        if (!x.plain || !y.plain) return CompareUtf16Order(x.Text(), y.Text());
        if (x.head != y.head) return x.head < y.head ? -1 : 1;
        return x.Text().compare(y.Text());
    };
    const auto sortWith = [&](auto before) {
        const auto middle = keys.begin() + static_cast<std::ptrdiff_t>(std::min(sortedPrefix, keys.size()));
        std::stable_sort(middle, keys.end(), before);
        // Merging keeps the earlier (prefix) row first among equals, as a
        // stable sort of the whole list would.
        std::inplace_merge(keys.begin(), middle, keys.end(), before);
    };
    if (sortDirection > 0) sortWith([&](const SortKey& x, const SortKey& y) { return compare(x, y) > 0; });
    else sortWith([&](const SortKey& x, const SortKey& y) { return compare(x, y) < 0; });
}

std::vector<size_t> SortOrder(const std::vector<EventRow>& rows, int32_t sortDirection, size_t sortedPrefix) {
    std::vector<size_t> order(rows.size());
    std::iota(order.begin(), order.end(), size_t{0});
    const int column = sortDirection < 0 ? -sortDirection : sortDirection;
    if (column < 1 || column >= kColumnCount) return order;
    std::vector<SortKey> keys;
    keys.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) keys.push_back(MakeSortKey(column, CellText(rows[i].fill, column, false), i));
    SortKeys(keys, sortedPrefix, sortDirection);
    for (size_t k = 0; k < keys.size(); ++k) order[k] = keys[k].row;
    return order;
}

int32_t DirectionAfterHeaderClick(int32_t sortDirection, int column, bool sortable) {
    if (!sortable || column < 1 || column >= kColumnCount) return sortDirection;
    if (sortDirection == column || sortDirection == -column) return -sortDirection;
    return column;
}

}  // namespace qm::windows
