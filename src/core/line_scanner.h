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

// Scans `line` in place: CR and LF are replaced by spaces first, so the views
// in the result point into `line` and show spaces where they were. Returns
// nothing for a refused line.
std::optional<ScannedLine> ScanLine(char* data, size_t size);
inline std::optional<ScannedLine> ScanLine(std::string& line) { return ScanLine(line.data(), line.size()); }

// Suffix format written by the relay and the log files.
constexpr const char* kRelaySuffixFormat = "%s|a2;%s;%u %u %u %u %u %u %u;";

}  // namespace qm::core
