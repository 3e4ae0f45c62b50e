#pragma once
// Settings of the SNMP poller: the common block, the agent items and the OID
// lists with their entries, with their settings keys.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/config.h"
#include "core/record_table.h"
#include "core/settings_fields.h"

namespace qm::polling::snmp {

// Capacities in UTF-16 units, terminator included.
constexpr size_t kAgentNameCapacity = 32;
constexpr size_t kCommunityCapacity = 16;
constexpr size_t kListNameCapacity = 32;
constexpr size_t kOutFormatCapacity = 128;
constexpr size_t kOidCapacity = 64;
constexpr size_t kTagCapacity = 16;
// A count in a file is data: beyond this it is corrupt, not a list anybody made.
constexpr size_t kMaxOidEntries = 65536;

// `Param` bit: the agent's values and gaps go to the value collector.
constexpr uint8_t kParamToCollector = 0x80;

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

struct OidList {
    uint8_t enable = 1;
    uint64_t id = 0;
    std::string name;
    std::string outFormat = "Description: [desc]";  // `StrOutFmt`
    std::vector<OidEntry> entries;
    uint32_t listSize = 0;  // `ListSize`: the entries' count, kept in step by the module
    static const core::FieldTable<OidList>& Fields();
};

struct SnmpSettings {
    SnmpCommon common;
    core::RecordTable<SnmpAgentItem> items;
    core::RecordTable<OidList> lists;
    // A section in the old whole-record form, whose item and list layouts we
    // cannot decode: its keys as they were, written back unchanged at save
    // so that the agents and lists it holds are not replaced by nothing.
    std::vector<std::pair<std::string, std::string>> keptLegacyKeys;
};

void LoadSnmpSettings(const core::SettingsSection& section, SnmpSettings& out);
void SaveSnmpSettings(core::SettingsSection& section, const SnmpSettings& in);

}  // namespace qm::polling::snmp
