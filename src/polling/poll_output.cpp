#include "polling/poll_output.h"

namespace qm::polling {

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    if (from.empty()) return;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::string Placeholder(std::string_view tag) {
    std::string out;
    out.reserve(tag.size() + 2);
    out += '[';
    out += tag;
    out += ']';
    return out;
}

std::string DefuseDeviceText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '|') {
            out += "\xC2\xA6";
        } else {
            out += c;
        }
    }
    return out;
}

int32_t ReadDeviceDecimal(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size() && (bytes[i] == ' ' || (bytes[i] >= '\t' && bytes[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < bytes.size() && (bytes[i] == '+' || bytes[i] == '-')) negative = bytes[i++] == '-';
    int64_t v = 0;
    for (; i < bytes.size() && bytes[i] >= '0' && bytes[i] <= '9'; ++i) {
        v = v * 10 + (bytes[i] - '0');
        if (v > int64_t{INT32_MAX} + 1) v = int64_t{INT32_MAX} + 1;
    }
    if (negative) v = -v;
    if (v > INT32_MAX) v = INT32_MAX;
    return static_cast<int32_t>(v);
}

}  // namespace qm::polling
