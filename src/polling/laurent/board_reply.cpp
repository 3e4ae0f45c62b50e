#include "polling/laurent/board_reply.h"

namespace qm::polling::laurent {

std::optional<std::string_view> ReplyValue(std::string_view reply) {
    if (reply.empty() || reply.front() != '#') return std::nullopt;
    std::string_view field = reply.substr(1);
    if (const size_t comma = field.rfind(','); comma != std::string_view::npos) field.remove_prefix(comma + 1);
    while (!field.empty() && (field.back() == '\r' || field.back() == '\n')) field.remove_suffix(1);
    if (field.empty()) return std::nullopt;
    return field;
}

}  // namespace qm::polling::laurent
