#include "windows/event_list/csv_text.h"

namespace qm::windows {

void AppendCsvField(std::string& out, std::string_view field) {
    // Leading or trailing spaces are quoted too: some readers trim them otherwise.
    const bool quote = field.find_first_of(",\"\r\n") != std::string_view::npos ||
                       (!field.empty() && (field.front() == ' ' || field.back() == ' '));
    if (!quote) {
        out.append(field);
        return;
    }
    out.push_back('"');
    for (char c : field) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

void AppendCsvRecord(std::string& out, std::span<const std::string_view> fields) {
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) out.push_back(',');
        AppendCsvField(out, fields[i]);
    }
    out.append("\r\n");
}

}  // namespace qm::windows
