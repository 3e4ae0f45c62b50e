#pragma once
// JSON text for the server's machine-readable answers. Strings always come
// out as well-formed UTF-8 with every control character escaped, whatever
// bytes they were given, so one odd message cannot make a whole answer
// unreadable to the script that asked for it.
#include <string>
#include <string_view>

namespace qm::http {

// `text` as a JSON string, quotes included. A byte that is not part of a
// well-formed UTF-8 sequence becomes U+FFFD; '"' and '\' are escaped, and
// control characters (DEL too) as \u00XX.
void AppendJsonString(std::string& out, std::string_view text);
// The same, or null for an empty text: a field that is absent.
void AppendJsonStringOrNull(std::string& out, std::string_view text);

}  // namespace qm::http
