#include "http/json_text.h"

#include "platform/utf16.h"

namespace qm::http {

void AppendJsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    while (!text.empty()) {
        // Most of a log line is printable ASCII, copied a run at a time.
        size_t plain = 0;
        for (; plain < text.size(); ++plain) {
            const auto c = static_cast<unsigned char>(text[plain]);
            if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\') break;
        }
        out.append(text.substr(0, plain));
        text.remove_prefix(plain);
        if (text.empty()) break;
        const auto c = static_cast<unsigned char>(text.front());
        size_t taken = 1;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else if (const size_t n = platform::Utf8SequenceLength(text); n > 0) {
            out.append(text.substr(0, n));
            taken = n;
        } else {
            out += platform::kReplacementUtf8;
        }
        text.remove_prefix(taken);
    }
    out += '"';
}

void AppendJsonStringOrNull(std::string& out, std::string_view text) {
    if (text.empty())
        out += "null";
    else
        AppendJsonString(out, text);
}

}  // namespace qm::http
