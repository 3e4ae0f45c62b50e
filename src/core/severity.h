#pragma once
// Syslog severities as the program reports its own events. The values are
// the syslog ones and go unchanged into the event record, the log files and
// forwarded lines.
#include <cstdint>

namespace qm::core {

enum class Severity : uint32_t {
    Emergency = 0,
    Alert = 1,
    Critical = 2,
    Error = 3,
    Warning = 4,
    Notice = 5,
    Info = 6,
    Debug = 7,
};

constexpr uint32_t SeverityValue(Severity severity) { return static_cast<uint32_t>(severity); }

}  // namespace qm::core
