#pragma once
// The program's own texts by string id, compiled in from resources/strings.txt.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace qm::core {

// Lines "<id>\t<text>" or "<id> <name>\t<text>" with \r \n \t \\ escapes;
// '#' starts a comment line. Malformed lines are skipped (the build refuses
// them in the built-in table). The names are the constants of the generated
// "core/string_ids.h".
std::map<uint32_t, std::string> ParseStringTable(std::string_view source);

// The built-in table, parsed once.
const std::map<uint32_t, std::string>& BuiltinStrings();

}  // namespace qm::core
