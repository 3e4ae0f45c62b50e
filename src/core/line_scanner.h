#pragma once
// Turns one submitted syslog line into the parts of an event record: the
// priority, the message, the raw text and an optional relay suffix that
// restores the original sender and time of a forwarded line.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm::core {

struct RelaySuffix {
    std::string_view sender;   // second field, when it ended with ';'
    bool hasSender = false;
    bool hasTime = false;      // third field, when it ended with ';'
    uint32_t day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

struct ScannedLine {
    uint32_t severity = 0;
    uint32_t facility = 0;
    std::string_view message;  // bytes of the message; empty when none
    std::string_view raw;      // the line up to the suffix's '|'; empty when the scan ended before a message
    bool relayed = false;
    RelaySuffix suffix;
};

// Where a line's relay suffix begins.
enum class SuffixAt {
    // At the first '|' after the priority, as peers have always sent it.
    FirstBar,
    // At the '|' that begins a suffix of exactly the written form and ends the
    // line, so that a bar inside the message stays in it; a line without
    // one is read as FirstBar reads it. For the program's own log files,
    // whose messages (the program's reports) may hold a bar of their own.
    WrittenSuffix,
};

// Scans `line` in place: CR and LF are replaced by spaces first, so the views
// in the result point into `line` and show spaces where they were. Returns
// nothing for a refused line.
std::optional<ScannedLine> ScanLine(char* data, size_t size, SuffixAt suffixAt = SuffixAt::FirstBar);
inline std::optional<ScannedLine> ScanLine(std::string& line, SuffixAt suffixAt = SuffixAt::FirstBar) {
    return ScanLine(line.data(), line.size(), suffixAt);
}

// Suffix format written by the relay and the log files.
constexpr const char* kRelaySuffixFormat = "%s|a2;%s;%u %u %u %u %u %u %u;";

}  // namespace qm::core
