#pragma once
// What a board's reply line says. Pure; the bytes are taken within their
// received length, whatever follows them in the caller's buffer.
#include <optional>
#include <string_view>

namespace qm::polling::laurent {

// The value field of a reply: the text after the last ',' (after the '#'
// when there is none), with trailing CR and LF removed. Nothing when the
// reply does not start with '#' or the field is empty: no reply.
std::optional<std::string_view> ReplyValue(std::string_view reply);

// The field a board gives for a command it could not carry out.
inline constexpr std::string_view kBoardError = "ERR";

}  // namespace qm::polling::laurent
