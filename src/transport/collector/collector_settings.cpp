#include "transport/collector/collector_settings.h"

#include "core/string_ids.h"
#include "core/table_settings.h"

namespace qm::transport {

using core::FieldTable;

const FieldTable<CollectorCommon>& CollectorCommon::Fields() {
    static const FieldTable<CollectorCommon> t = [] {
        FieldTable<CollectorCommon> f;
        f.Struct<&CollectorCommon::enableService>("EnableService", 0)
            .Kind(core::FieldKind::Flag)
            .Struct<&CollectorCommon::bufferSize>("BufferSize", 4)
            .Range(0, kMaxDatagramBytes)
            .Struct<&CollectorCommon::errorTimeout>("ErrorTimeout", 8)
            .Struct<&CollectorCommon::param>("Param", 1)
            .Kind(core::FieldKind::Bits);
        return f;
    }();
    return t;
}

const FieldTable<ListenerRecord>& ListenerRecord::Fields() {
    // Legacy offsets are those of the stored 144-byte record.
    static const FieldTable<ListenerRecord> t = [] {
        FieldTable<ListenerRecord> f;
        f.Struct<&ListenerRecord::enable>("Enable", 0)
            .Kind(core::FieldKind::Flag)
            .Label(core::str::kEnabled)
            .Struct<&ListenerRecord::recvTimeout>("RecvTimeout", 76)
            .Struct<&ListenerRecord::sendTimeout>("SendTimeout", 72)
            .Struct<&ListenerRecord::param>("Param", 66)
            .Kind(core::FieldKind::Bits)
            .Struct<&ListenerRecord::port>("Port", 68)
            .Kind(core::FieldKind::Port)
            .Text<&ListenerRecord::name>("StrName", kNameCapacity, 2)
            .Kind(core::FieldKind::Address)
            .Text<&ListenerRecord::server>("StrServer", kNameCapacity, 80)
            .Kind(core::FieldKind::Address);
        return f;
    }();
    return t;
}

void LoadCollectorSettings(const core::SettingsSection& section, CollectorSettings& out) {
    core::LoadCommonAndRecords(section, kCollectorLayout, out.common, out.records);
}

}  // namespace qm::transport
