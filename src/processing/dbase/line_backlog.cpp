#include "processing/dbase/line_backlog.h"

#include <algorithm>

namespace qm::processing {

namespace {
bool IsLineEnd(std::string_view lines, size_t i) { return lines[i] == '\n' && lines[i + 1] == '\0'; }
}  // namespace

size_t CountStoredLines(std::string_view lines) {
    size_t n = 0;
    for (size_t i = 0; i + 1 < lines.size(); i += 2) n += IsLineEnd(lines, i);
    return n;
}

size_t StoredLinesEnd(std::string_view lines, size_t n) {
    size_t i = 0;
    for (; n > 0 && i + 1 < lines.size(); i += 2) {
        if (IsLineEnd(lines, i)) --n;
    }
    return n == 0 ? i : lines.size();
}

void LineBacklog::Append(uint64_t first, std::string_view lines) {
    if (lines.empty()) return;
    const uint64_t count = CountStoredLines(lines);
    bytes_ += lines.size();
    if (!pieces_.empty() && pieces_.back().first + pieces_.back().count == first) {
        pieces_.back().count += count;
        pieces_.back().lines.append(lines);
        return;
    }
    pieces_.push_back(Piece{first, count, std::string(lines)});
}

std::string LineBacklog::Joined() const {
    std::string out;
    out.reserve(bytes_);
    for (const Piece& p : pieces_) out += p.lines;
    return out;
}

size_t LineBacklog::KeepNewest(size_t maxBytes) {
    size_t dropped = 0;
    while (bytes_ > maxBytes && !pieces_.empty()) {
        Piece& oldest = pieces_.front();
        const size_t excess = bytes_ - maxBytes;
        if (excess >= oldest.lines.size()) {
            dropped += oldest.lines.size();
            bytes_ -= oldest.lines.size();
            pieces_.erase(pieces_.begin());
            continue;
        }
        // Cut after the first line end at or beyond the excess.
        size_t cut = excess + excess % 2;
        while (cut < oldest.lines.size() && !(cut >= 2 && IsLineEnd(oldest.lines, cut - 2))) cut += 2;
        const uint64_t lines = CountStoredLines(std::string_view(oldest.lines).substr(0, cut));
        oldest.lines.erase(0, cut);
        oldest.first += lines;
        oldest.count -= lines;
        dropped += cut;
        bytes_ -= cut;
        if (oldest.lines.empty()) pieces_.erase(pieces_.begin());
    }
    return dropped;
}

std::string LineBacklog::Merge(std::span<const LineBacklog> backlogs) {
    std::vector<const Piece*> pieces;
    for (const LineBacklog& b : backlogs)
        for (const Piece& p : b.pieces_) pieces.push_back(&p);
    std::stable_sort(pieces.begin(), pieces.end(), [](const Piece* a, const Piece* b) { return a->first < b->first; });
    std::string out;
    uint64_t next = 0;  // the first ordinal not yet in `out`
    for (const Piece* p : pieces) {
        const uint64_t end = p->first + p->count;
        if (end <= next) continue;
        const uint64_t skip = next > p->first ? next - p->first : 0;
        out.append(std::string_view(p->lines).substr(StoredLinesEnd(p->lines, skip)));
        next = end;
    }
    return out;
}

}  // namespace qm::processing
