#include "processing/rules/list_index.h"

#include <algorithm>
#include <map>

namespace qm::processing {

ListIndex::ListIndex(const std::vector<std::string>& entries) : whole_(entries.begin(), entries.end()) {
    // The trie first, with ordered children, then flattened.
    std::vector<std::map<uint8_t, uint32_t>> children(1);
    std::vector<bool> ends(1, false);
    for (const std::string& entry : entries) {
        if (entry.empty()) emptyEntry_ = true;
        uint32_t state = 0;
        for (char c : entry) {
            const uint8_t b = static_cast<uint8_t>(c);
            auto it = children[state].find(b);
            if (it == children[state].end()) {
                const uint32_t added = static_cast<uint32_t>(children.size());
                children[state].emplace(b, added);
                children.emplace_back();
                ends.push_back(false);
                state = added;
            } else {
                state = it->second;
            }
        }
        ends[state] = true;
    }

    nodes_.resize(children.size());
    for (size_t s = 0; s < children.size(); ++s) {
        nodes_[s].firstEdge = static_cast<uint32_t>(edgeBytes_.size());
        nodes_[s].edgeCount = static_cast<uint32_t>(children[s].size());
        nodes_[s].accepts = ends[s];
        for (const auto& [b, target] : children[s]) {
            edgeBytes_.push_back(b);
            edgeTargets_.push_back(target);
        }
    }
    for (const auto& [b, target] : children[0]) root_[b] = target;

    // Failure links breadth first, so a node's failure target is final
    // before its children need it; acceptance is inherited along them, as an
    // entry that ends inside a longer one still occurs.
    std::vector<uint32_t> queue;
    queue.reserve(nodes_.size());
    for (const auto& [b, target] : children[0]) {
        nodes_[target].fail = 0;
        queue.push_back(target);
    }
    for (size_t head = 0; head < queue.size(); ++head) {
        const uint32_t s = queue[head];
        for (const auto& [b, target] : children[s]) {
            nodes_[target].fail = Next(nodes_[s].fail, b);
            nodes_[target].accepts = nodes_[target].accepts || nodes_[nodes_[target].fail].accepts;
            queue.push_back(target);
        }
    }
}

uint32_t ListIndex::Next(uint32_t state, uint8_t byte) const {
    for (;;) {
        if (state == 0) return root_[byte];
        const Node& n = nodes_[state];
        const uint8_t* first = edgeBytes_.data() + n.firstEdge;
        const uint8_t* last = first + n.edgeCount;
        const uint8_t* at = n.edgeCount <= 8 ? std::find(first, last, byte) : std::lower_bound(first, last, byte);
        if (at != last && *at == byte) return edgeTargets_[n.firstEdge + uint32_t(at - first)];
        state = n.fail;
    }
}

bool ListIndex::AnyOccursIn(std::string_view text) const {
    if (emptyEntry_) return true;
    uint32_t state = 0;
    for (char c : text) {
        state = Next(state, static_cast<uint8_t>(c));
        if (nodes_[state].accepts) return true;
    }
    return false;
}

}  // namespace qm::processing
