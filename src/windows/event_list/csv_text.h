#pragma once
// Rows as comma-separated values (RFC 4180): fields with a comma, a double
// quote or a line break are put in double quotes, with each double quote
// doubled; records end with CR LF. Texts are UTF-8 and are written as they
// are, byte for byte.
#include <span>
#include <string>
#include <string_view>

namespace qm::windows {

// Appends one field, quoted when it needs to be.
void AppendCsvField(std::string& out, std::string_view field);
// Appends one record: the fields separated by commas, then CR LF.
void AppendCsvRecord(std::string& out, std::span<const std::string_view> fields);

}  // namespace qm::windows
