#include "windows/event_list/row_sort.h"

#include <algorithm>
#include <numeric>
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

std::vector<size_t> SortOrder(const std::vector<EventRow>& rows, int32_t sortDirection) {
    std::vector<size_t> order(rows.size());
    std::iota(order.begin(), order.end(), size_t{0});
    const int column = sortDirection < 0 ? -sortDirection : sortDirection;
    if (column < 1 || column > 4) return order;
    // The keys side by side, made once: the comparisons then touch only the
    // texts, not the rows around them. The date keys are the swapped copies.
    std::vector<std::string> dateKeys;
    if (column == kColumnDate) {
        dateKeys.reserve(rows.size());
        for (const EventRow& r : rows) dateKeys.push_back(MonthFirst(r.fill.texts[kColumnDate]));
    }
    struct Key {
        uint64_t head;  // the first 8 bytes, big-endian, zero-padded: most comparisons end here
        std::string_view text;
        bool plain;  // no byte that could start U+E000..U+FFFF or a supplementary character
        size_t row;
    };
    std::vector<Key> keys;
    keys.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string_view text = column == kColumnDate ? std::string_view(dateKeys[i]) : rows[i].fill.texts[column];
        const bool plain = std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0xEE; });
        uint64_t head = 0;
        for (size_t b = 0; b < 8; ++b) head = head << 8 | (b < text.size() ? static_cast<unsigned char>(text[b]) : 0u);
        keys.push_back({head, text, plain, i});
    }
    const auto compare = [](const Key& x, const Key& y) {
        // Where neither text holds such a byte, byte order is UTF-16 order.
        if (!x.plain || !y.plain) return CompareUtf16Order(x.text, y.text);
        if (x.head != y.head) return x.head < y.head ? -1 : 1;
        return x.text.compare(y.text);
    };
    if (sortDirection > 0) {
        std::stable_sort(keys.begin(), keys.end(), [&](const Key& x, const Key& y) { return compare(x, y) > 0; });
    } else {
        std::stable_sort(keys.begin(), keys.end(), [&](const Key& x, const Key& y) { return compare(x, y) < 0; });
    }
    for (size_t k = 0; k < keys.size(); ++k) order[k] = keys[k].row;
    return order;
}

int32_t DirectionAfterHeaderClick(int32_t sortDirection, int column, bool sortable) {
    if (!sortable || column < 1 || column > 4) return sortDirection;
    if (sortDirection == column || sortDirection == -column) return -sortDirection;
    return column;
}

}  // namespace qm::windows
