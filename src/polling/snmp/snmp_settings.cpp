#include "polling/snmp/snmp_settings.h"

#include <cstdint>

#include "core/string_ids.h"

namespace qm::polling::snmp {

using core::FieldKind;
using core::FieldTable;

const FieldTable<SnmpCommon>& SnmpCommon::Fields() {
    static const FieldTable<SnmpCommon> t = [] {
        FieldTable<SnmpCommon> f;
        f.Struct<&SnmpCommon::enableService>("EnableService").Kind(FieldKind::Flag)
            .Struct<&SnmpCommon::repeatTimeout>("RepeatTimeout").Label(core::str::kRetryTimeout);
        return f;
    }();
    return t;
}

const FieldTable<SnmpAgentItem>& SnmpAgentItem::Fields() {
    static const FieldTable<SnmpAgentItem> t = [] {
        FieldTable<SnmpAgentItem> f;
        f.Struct<&SnmpAgentItem::enable>("Enable").Kind(FieldKind::Flag).Label(core::str::kEnabled)
            .Text<&SnmpAgentItem::name>("StrName", kAgentNameCapacity).Kind(FieldKind::Address)
            .Struct<&SnmpAgentItem::param>("Param").Kind(FieldKind::Bits)
            .Text<&SnmpAgentItem::community>("StrCommunity", kCommunityCapacity)
            // A negative time-out or retry count means nothing to the library.
            .Struct<&SnmpAgentItem::timeout>("Timeout").SignedRange(0, INT32_MAX)
            .Struct<&SnmpAgentItem::retries>("Retries").SignedRange(0, INT32_MAX)
            .Struct<&SnmpAgentItem::oidId>("OIDID");
        return f;
    }();
    return t;
}

const FieldTable<OidEntry>& OidEntry::Fields() {
    static const FieldTable<OidEntry> t = [] {
        FieldTable<OidEntry> f;
        f.Text<&OidEntry::value>("StrValue", kOidCapacity)
            .Text<&OidEntry::tag>("StrTag", kTagCapacity)
            .Struct<&OidEntry::enableMin>("EnableMin").Kind(FieldKind::Flag)
            .Struct<&OidEntry::minVal>("MinVal")
            .Struct<&OidEntry::enableMax>("EnableMax").Kind(FieldKind::Flag)
            .Struct<&OidEntry::maxVal>("MaxVal")
            .Struct<&OidEntry::correct>("Correct").Kind(FieldKind::Bits);
        return f;
    }();
    return t;
}

}  // namespace qm::polling::snmp
