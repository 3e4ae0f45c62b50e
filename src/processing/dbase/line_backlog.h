#pragma once
// Stored log lines (UTF-16LE, each ended by the unit 0x000A) that one log
// target could not take yet. Every line the database forms gets the next
// ordinal, and a backlog keeps the ordinals of its lines, so the backlogs of
// several targets can be merged into one run in which each line appears
// once and in the order it was formed. Owned and used by the database's
// worker thread only.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm::processing {

class LineBacklog {
public:
    bool empty() const { return pieces_.empty(); }
    size_t bytes() const { return bytes_; }
    void clear() {
        pieces_.clear();
        bytes_ = 0;
    }
    // Whole stored lines whose first has ordinal `first`, the rest following on.
    void Append(uint64_t first, std::string_view lines);
    // Everything, oldest first, as written to a file.
    std::string Joined() const;
    // Drops the oldest whole lines until at most `maxBytes` remain; returns
    // the bytes dropped.
    size_t KeepNewest(size_t maxBytes);
    // The lines of all backlogs, each once, in ordinal order.
    static std::string Merge(std::span<const LineBacklog> backlogs);

private:
    // Lines with consecutive ordinals.
    struct Piece {
        uint64_t first;
        uint64_t count;
        std::string lines;
    };
    std::vector<Piece> pieces_;
    size_t bytes_ = 0;
};

// The number of stored lines in `lines` and the byte after the n-th line end.
size_t CountStoredLines(std::string_view lines);
size_t StoredLinesEnd(std::string_view lines, size_t n);

}  // namespace qm::processing
