#include "polling/snmp/snmp_client.h"

namespace qm::polling::snmp {

namespace {
constexpr size_t kMaxSubIds = 128;
}

std::optional<std::vector<uint32_t>> ParseOid(std::string_view text) {
    // Settings carry ".1.3.6..."; a text without the dot means the same.
    if (!text.empty() && text.front() == '.') text.remove_prefix(1);
    std::vector<uint32_t> out;
    uint64_t current = 0;
    bool digits = false;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '.') {
            if (!digits || out.size() == kMaxSubIds) return std::nullopt;
            out.push_back(static_cast<uint32_t>(current));
            current = 0;
            digits = false;
            continue;
        }
        const char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        current = current * 10 + static_cast<uint64_t>(c - '0');
        if (current > UINT32_MAX) return std::nullopt;
        digits = true;
    }
    if (out.size() < 2) return std::nullopt;
    return out;
}

std::string_view AgentAddress(std::string_view agent) {
    const size_t colon = agent.find(':');
    return colon == std::string_view::npos ? agent : agent.substr(0, colon);
}

}  // namespace qm::polling::snmp
