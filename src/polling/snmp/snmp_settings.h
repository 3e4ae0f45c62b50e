#pragma once
// Records of the SNMP poller: the common block, the agent items and the
// entries of the OID lists, with their settings keys.
#include <cstdint>
#include <string>

#include "core/settings_fields.h"
#include "polling/poller_settings.h"

namespace qm::polling::snmp {

// Capacities in UTF-16 units, terminator included.
constexpr size_t kAgentNameCapacity = 32;
constexpr size_t kCommunityCapacity = 16;
constexpr size_t kOidCapacity = 64;
constexpr size_t kTagCapacity = 16;

struct SnmpCommon {
    uint8_t enableService = 0;
    uint32_t repeatTimeout = 0;  // ms between cycles
    static const core::FieldTable<SnmpCommon>& Fields();
};

struct SnmpAgentItem {
    uint8_t enable = 1;
    std::string name = "127.0.0.1";  // `StrName`: address[:port]
    uint8_t param = 0;
    std::string community = "public";
    int32_t timeout = 1000;  // ms
    int32_t retries = 2;
    uint64_t oidId = 0;
    static const core::FieldTable<SnmpAgentItem>& Fields();
};

struct OidEntry {
    std::string value = ".1.3.6.1.2.1.1.1.0";  // `StrValue`
    std::string tag = "desc";                  // `StrTag`
    uint8_t enableMin = 0;
    int32_t minVal = 0;
    uint8_t enableMax = 0;
    int32_t maxVal = 0;
    uint8_t correct = 0;
    static const core::FieldTable<OidEntry>& Fields();
};

using OidList = PollList<OidEntry>;
using SnmpSettings = PollerSettings<SnmpCommon, SnmpAgentItem, OidEntry>;

}  // namespace qm::polling::snmp
