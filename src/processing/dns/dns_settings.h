#pragma once
// Settings of the name resolution: a common block and the resolver table.
#include <cstdint>
#include <string>

#include "core/settings_fields.h"
#include "core/table_module.h"

namespace qm::processing {

struct DnsCommon {
    // Stored and echoed; lookups follow each resolver's own switch.
    bool enableService = true;

    static const core::FieldTable<DnsCommon>& Fields();
};

// Methods of a resolver, tried in this order.
enum DnsParam : uint8_t {
    kDnsLocalStorage = 0x80,  // the local storage file, section CACHE
    kDnsSystemLookup = 0x40,  // the system's reverse lookup
    kDnsSnmp = 0x20,          // the device's sysName, through the SNMP poller
};

struct DnsResolver {
    uint8_t id = 0;  // only a resolver with ID 0 is used for lookups
    bool enable = false;
    uint8_t param = 0;
    std::string name;
    std::string cacheFile;  // file name inside the resource folder
    bool primary = false;   // the resolver numbered 0 when loaded; not stored

    static const core::FieldTable<DnsResolver>& Fields();
};

constexpr size_t kDnsTextCapacity = 32;  // UTF-16 units with terminator
// The legacy form: the common block is the one flag; a resolver is ID, Enable
// and Param bytes, a reserved byte, then Name and CacheFile as 32 UTF-16 units each.
constexpr size_t kLegacyDnsCommonSize = 1;
constexpr size_t kLegacyResolverSize = 132;

constexpr const char* kDefaultCacheFile = "name.conf";

using DnsSettings = core::TableSettings<DnsCommon, DnsResolver>;
// The common block is taken only when its EnableService reads; a resolver
// record only when its Enable reads.
inline const core::TableLayout kDnsLayout{kLegacyDnsCommonSize, kLegacyResolverSize, "EnableService", "Enable"};

// What a section without resolvers gets. "Default": ID 0, enabled, local storage only, name.conf.
DnsResolver DefaultResolver();

}  // namespace qm::processing
