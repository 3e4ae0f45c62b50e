#include "core/string_table.h"

#include <algorithm>

namespace qm::resources {
std::string_view qm_string_table_data();
}

namespace qm::core {

std::map<uint32_t, std::string> ParseStringTable(std::string_view source) {
    std::map<uint32_t, std::string> table;
    size_t pos = 0;
    while (pos < source.size()) {
        size_t end = source.find('\n', pos);
        if (end == std::string_view::npos) end = source.size();
        std::string_view line = source.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const size_t tab = line.find('\t');
        if (line.empty() || line[0] == '#' || tab == std::string_view::npos) continue;
        // The key is the id, optionally followed by a space and the name the
        // code knows the text by; only the build reads the name.
        const std::string_view key = line.substr(0, tab);
        const size_t digits = std::min(key.find(' '), key.size());
        if (digits == 0 || digits > 9) continue;
        uint32_t id = 0;
        bool valid = true;
        for (char c : key.substr(0, digits)) {
            if (c < '0' || c > '9') valid = false;
            else id = id * 10 + uint32_t(c - '0');
        }
        if (!valid) continue;
        std::string text;
        for (size_t i = tab + 1; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                const char e = line[++i];
                text += e == 'r' ? '\r' : e == 'n' ? '\n' : e == 't' ? '\t' : e;
            } else {
                text += line[i];
            }
        }
        table.emplace(id, std::move(text));
    }
    return table;
}

const std::map<uint32_t, std::string>& BuiltinStrings() {
    static const std::map<uint32_t, std::string> table = ParseStringTable(resources::qm_string_table_data());
    return table;
}

}  // namespace qm::core
