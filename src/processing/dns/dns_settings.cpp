#include "processing/dns/dns_settings.h"

#include "core/string_ids.h"

namespace qm::processing {

using core::FieldTable;

const FieldTable<DnsCommon>& DnsCommon::Fields() {
    static const FieldTable<DnsCommon> t = [] {
        FieldTable<DnsCommon> f;
        f.Struct<&DnsCommon::enableService>("EnableService", 0)
            .Kind(core::FieldKind::Flag)
            .Label(core::str::kFieldEnableService);
        return f;
    }();
    return t;
}

const FieldTable<DnsResolver>& DnsResolver::Fields() {
    static const FieldTable<DnsResolver> t = [] {
        FieldTable<DnsResolver> f;
        f.Struct<&DnsResolver::id>("ID", 0).Label(core::str::kFieldResolverNumber)
            .Struct<&DnsResolver::enable>("Enable", 1)
            .Kind(core::FieldKind::Flag)
            .Label(core::str::kEnabled)
            .Struct<&DnsResolver::param>("Param", 2)
            .Bit(0x80, core::str::kUseLocalStore)
            .Bit(0x40, core::str::kUseDnsServer)
            .Bit(0x20, core::str::kUseSnmp)
            .Label(core::str::kFieldNameMethods)
            .Text<&DnsResolver::name>("StrName", kDnsTextCapacity, 4).Label(core::str::kFieldName)
            .Text<&DnsResolver::cacheFile>("StrCacheFile", kDnsTextCapacity, 68)
            .Label(core::str::kStoreFileName);
        return f;
    }();
    return t;
}

DnsResolver DefaultResolver() {
    DnsResolver r;
    r.id = 0;
    r.enable = true;
    r.param = kDnsLocalStorage;
    r.name = "Default";
    r.cacheFile = kDefaultCacheFile;
    r.primary = true;
    return r;
}

}  // namespace qm::processing
