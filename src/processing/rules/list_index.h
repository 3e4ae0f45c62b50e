#pragma once
// A match list prepared for searching. A condition on a list asks whether any
// of its entries occurs in (or equals) one text; trying a thousand entries
// one by one costs a thousand searches per rule and event. Here the entries
// become one automaton that reads the text once, and a set for whole texts.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace qm::processing {

class ListIndex {
public:
    explicit ListIndex(const std::vector<std::string>& entries);

    // Some entry occurs somewhere in `text` (an empty entry occurs in every text).
    bool AnyOccursIn(std::string_view text) const;
    // Some entry equals `text` as a whole.
    bool AnyEquals(std::string_view text) const { return whole_.count(text) != 0; }

private:
    struct Node {
        uint32_t fail = 0;
        uint32_t firstEdge = 0;  // its edges: edgeBytes_/edgeTargets_[firstEdge, firstEdge + edgeCount)
        uint32_t edgeCount = 0;
        bool accepts = false;    // an entry ends here or at a state its failure chain reaches
    };

    uint32_t Next(uint32_t state, uint8_t byte) const;

    std::vector<Node> nodes_;
    std::vector<uint8_t> edgeBytes_;      // sorted within each node
    std::vector<uint32_t> edgeTargets_;
    uint32_t root_[256] = {};             // the root's moves, every byte (0 = stay)
    bool emptyEntry_ = false;

    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_set<std::string, Hash, std::equal_to<>> whole_;
};

}  // namespace qm::processing
