#pragma once
// The event record: every message the program shows, stores or forwards.
#include <cstdint>
#include <memory>
#include <string>

#include "core/string_ids.h"
#include "platform/clock.h"

namespace qm::core {

// One bit each, so windows and the relay can select types with a mask.
enum EventType : uint32_t {
    kEventSystem = 0x40,    // the program's own service messages
    kEventExternal = 0x20,  // syslog datagrams received by the collector
    kEventInternal = 0x10,  // device pollers
    kEventArchive = 0x08,   // lines reloaded from the log files
};

constexpr uint32_t kNoSeverity = 100;  // nothing was decoded
constexpr uint32_t kDefaultFacility = 5;

struct EventRecord {
    uint32_t type = 0;
    uint32_t severity = kNoSeverity;
    uint32_t facility = kDefaultFacility;
    bool relayed = false;
    // How the received bytes were decoded into raw, message and a suffix's
    // sender (platform::TextCharset), so the relay sends the raw text as it came.
    uint8_t charset = 0;
    std::string sender;   // dotted IPv4, the relay suffix's sender, or "127.0.0.1"
    platform::SystemTime time;
    std::string message;  // empty when the line had none
    std::string raw;      // the line up to a relay suffix; empty for System events
    uint32_t rawLength = 0;  // bytes submitted
    uint64_t sequence = 0;
};

using EventPtr = std::unique_ptr<EventRecord>;

// String ids of the names, for displays. The severity and facility names
// follow one another in the table in syslog order.
static_assert(str::kSeverityDebug == str::kSeverityEmergency + 7 && str::kFacilityLocal7 == str::kFacilityKernel + 23);
constexpr uint32_t SeverityNameId(uint32_t severity) {
    return severity <= 7 ? str::kSeverityEmergency + severity : str::kSeverityUnknown;
}
constexpr uint32_t FacilityNameId(uint32_t facility) {
    return facility <= 23 ? str::kFacilityKernel + facility : str::kFacilityNone;
}
constexpr uint32_t EventTypeLabelId(uint32_t type) {
    switch (type) {
        case kEventSystem: return str::kEventTypeSystem;
        case kEventExternal: return str::kEventTypeExternal;
        case kEventInternal: return str::kEventTypeInternal;
        case kEventArchive: return str::kEventTypeArchive;
        default: return str::kEventTypeNone;
    }
}

}  // namespace qm::core
