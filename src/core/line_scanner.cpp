#include "core/line_scanner.h"

#include <cstring>
#include <vector>

namespace qm::core {

namespace {

enum class State { Start, Priority, Message, Suffix };

// Optional sign, then digits up to the first non-digit; 0 without digits.
int32_t ParsePriority(std::string_view chars) {
    size_t i = 0;
    bool negative = false;
    if (i < chars.size() && (chars[i] == '+' || chars[i] == '-')) negative = chars[i++] == '-';
    int32_t value = 0;
    for (; i < chars.size() && chars[i] >= '0' && chars[i] <= '9'; ++i) value = value * 10 + (chars[i] - '0');
    return negative ? -value : value;
}

// Up to seven space-separated unsigned numbers; missing ones stay 0, and
// reading stops at the first text that is not a number, as a scanf would.
void ParseSuffixTime(std::string_view text, RelaySuffix& out) {
    uint32_t* fields[] = {&out.day, &out.month, &out.year, &out.hour, &out.minute, &out.second, &out.millisecond};
    size_t pos = 0;
    for (uint32_t* field : fields) {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
        size_t start = pos;
        if (pos < text.size() && text[pos] == '+') ++pos;
        uint64_t value = 0;
        size_t digits = pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            value = value * 10 + uint64_t(text[pos] - '0');
            if (value > 0xFFFFFFFFull) value = 0xFFFFFFFFull;
            ++pos;
        }
        if (pos == digits) {
            (void)start;
            return;
        }
        *field = static_cast<uint32_t>(value);
    }
}

void ParseSuffix(std::string_view suffix, RelaySuffix& out) {
    // Only fields closed by ';' count: a cut-off suffix gives what is complete.
    size_t index = 0;
    size_t begin = 0;
    for (size_t i = 0; i < suffix.size(); ++i) {
        if (suffix[i] != ';') continue;
        std::string_view field = suffix.substr(begin, i - begin);
        if (index == 1) {
            out.sender = field;
            out.hasSender = true;
        } else if (index == 2) {
            out.hasTime = true;
            ParseSuffixTime(field, out);
            return;
        }
        ++index;
        begin = i + 1;
    }
}

// "a2;" sender ";" seven numbers each ended by a space, the last by ';', up
// to the end: the suffix as kRelaySuffixFormat writes it, after its '|'.
bool IsWrittenSuffix(std::string_view text) {
    if (!text.starts_with("a2;")) return false;
    text.remove_prefix(3);
    const size_t senderEnd = text.find(';');
    if (senderEnd == std::string_view::npos) return false;
    text.remove_prefix(senderEnd + 1);
    for (int number = 0; number < 7; ++number) {
        size_t digits = 0;
        while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
        if (digits == 0 || digits == text.size() || text[digits] != (number < 6 ? ' ' : ';')) return false;
        text.remove_prefix(digits + 1);
    }
    return text.empty();
}

// The last '|' at or after `from` that begins a written suffix.
size_t WrittenSuffixBar(std::string_view line, size_t from) {
    for (size_t bar = line.rfind('|'); bar != std::string_view::npos && bar >= from; bar = line.rfind('|', bar - 1)) {
        if (IsWrittenSuffix(line.substr(bar + 1))) return bar;
        if (bar == 0) break;
    }
    return std::string_view::npos;
}

}  // namespace

std::optional<ScannedLine> ScanLine(char* data, size_t size, SuffixAt suffixAt) {
    for (char* p = data; (p = static_cast<char*>(std::memchr(p, '\r', size_t(data + size - p)))) != nullptr;) *p++ = ' ';
    for (char* p = data; (p = static_cast<char*>(std::memchr(p, '\n', size_t(data + size - p)))) != nullptr;) *p++ = ' ';
    const std::string_view line(data, size);

    State state = State::Start;
    char priority[4];
    size_t priorityLength = 0;
    const size_t npos = std::string::npos;
    size_t messageBegin = npos;
    size_t barPos = npos;
    size_t suffixBegin = npos;

    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        const bool blank = c == ' ' || c == '\t';
        switch (state) {
            case State::Start:
                if (blank) break;
                if (c == '<') {
                    state = State::Priority;
                    break;
                }
                return std::nullopt;
            case State::Priority:
                if (blank) break;
                if (c == '<') return std::nullopt;
                if (c == '>') {
                    state = State::Message;
                    break;
                }
                if (priorityLength == 4) return std::nullopt;
                priority[priorityLength++] = c;
                break;
            case State::Message:
                if (suffixAt == SuffixAt::WrittenSuffix) {
                    // Looked for once, from where the message begins; without
                    // one the line reads as it always has.
                    suffixAt = SuffixAt::FirstBar;
                    if (const size_t bar = WrittenSuffixBar(line, i); bar != npos) {
                        if (bar > i) messageBegin = i;
                        state = State::Suffix;
                        barPos = bar;
                        i = bar;
                        break;
                    }
                }
                if (c == '|') {
                    state = State::Suffix;
                    barPos = i;
                    break;
                }
                if (messageBegin == npos) messageBegin = i;
                // Inside the message only a '|' matters: jump to it.
                if (const void* bar = std::memchr(data + i + 1, '|', size - i - 1)) {
                    i = size_t(static_cast<const char*>(bar) - data) - 1;
                } else {
                    i = size;
                }
                break;
            case State::Suffix:
                // The suffix begins at the byte after the bar; nothing after it changes the scan.
                suffixBegin = i;
                i = size;
                break;
        }
    }

    ScannedLine out;
    const int32_t p = ParsePriority(std::string_view(priority, priorityLength));
    out.severity = static_cast<uint32_t>(p & 7);
    out.facility = static_cast<uint32_t>((p >> 3) & 127);

    if (state == State::Message || state == State::Suffix) {
        const std::string_view all = line;
        const size_t messageEnd = suffixBegin != npos ? barPos : all.size();
        if (messageBegin != npos && messageBegin < messageEnd)
            out.message = all.substr(messageBegin, messageEnd - messageBegin);
        out.raw = all.substr(0, messageEnd);
        if (suffixBegin != npos) {
            out.relayed = true;
            ParseSuffix(all.substr(suffixBegin), out.suffix);
        }
    }
    return out;
}

}  // namespace qm::core
