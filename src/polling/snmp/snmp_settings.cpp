#include "polling/snmp/snmp_settings.h"

#include <cstdint>

#include "core/string_ids.h"

namespace qm::polling::snmp {

using core::FieldKind;
using core::FieldTable;

const FieldTable<SnmpCommon>& SnmpCommon::Fields() {
    static const FieldTable<SnmpCommon> t = [] {
        FieldTable<SnmpCommon> f;
        f.Struct<&SnmpCommon::enableService>("EnableService").Kind(FieldKind::Flag).Label(core::str::kFieldEnableService)
            .Struct<&SnmpCommon::repeatTimeout>("RepeatTimeout").Kind(FieldKind::Milliseconds).Label(core::str::kRetryTimeout);
        return f;
    }();
    return t;
}

const FieldTable<SnmpAgentItem>& SnmpAgentItem::Fields() {
    static const FieldTable<SnmpAgentItem> t = [] {
        FieldTable<SnmpAgentItem> f;
        f.Struct<&SnmpAgentItem::enable>("Enable").Kind(FieldKind::Flag).Label(core::str::kEnabled)
            .Text<&SnmpAgentItem::name>("StrName", kAgentNameCapacity).Kind(FieldKind::Address).Label(core::str::kFieldAddress)
            .Struct<&SnmpAgentItem::param>("Param").Bit(0x80, core::str::kDialogValuesToGraphs).Label(core::str::kFieldOptions)
            .Text<&SnmpAgentItem::community>("StrCommunity", kCommunityCapacity).Label(core::str::kFieldCommunity)
            // A negative time-out or retry count means nothing to the library.
            .Struct<&SnmpAgentItem::timeout>("Timeout").SignedRange(0, INT32_MAX)
            .Kind(FieldKind::Milliseconds)
            .Label(core::str::kFieldRequestTimeout)
            .Struct<&SnmpAgentItem::retries>("Retries").SignedRange(0, INT32_MAX).Label(core::str::kFieldRetries)
            .Struct<&SnmpAgentItem::oidId>("OIDID").Label(core::str::kFieldOidList);
        return f;
    }();
    return t;
}

const FieldTable<OidEntry>& OidEntry::Fields() {
    static const FieldTable<OidEntry> t = [] {
        FieldTable<OidEntry> f;
        f.Text<&OidEntry::value>("StrValue", kOidCapacity).Label(core::str::kFieldOid)
            .Text<&OidEntry::tag>("StrTag", kTagCapacity).Label(core::str::kFieldTag)
            .Struct<&OidEntry::enableMin>("EnableMin").Kind(FieldKind::Flag).Label(core::str::kFieldCheckMinimum)
            .Struct<&OidEntry::minVal>("MinVal").Label(core::str::kFieldMinimum)
            .Struct<&OidEntry::enableMax>("EnableMax").Kind(FieldKind::Flag).Label(core::str::kFieldCheckMaximum)
            .Struct<&OidEntry::maxVal>("MaxVal").Label(core::str::kFieldMaximum)
            .Struct<&OidEntry::correct>("Correct").Kind(FieldKind::Bits).Label(core::str::kFieldPresentation);
        return f;
    }();
    return t;
}

}  // namespace qm::polling::snmp
