#include "transport/collector/collector_settings.h"

#include "core/table_settings.h"

namespace qm::transport {

using core::FieldTable;

const FieldTable<CollectorCommon>& CollectorCommon::Fields() {
    static const FieldTable<CollectorCommon> t = [] {
        FieldTable<CollectorCommon> f;
        f.Struct<&CollectorCommon::enableService>("EnableService", 0)
            .Struct<&CollectorCommon::bufferSize>("BufferSize", 4)
            .Range(0, kMaxDatagramBytes)
            .Struct<&CollectorCommon::errorTimeout>("ErrorTimeout", 8)
            .Struct<&CollectorCommon::param>("Param", 1);
        return f;
    }();
    return t;
}

const FieldTable<ListenerRecord>& ListenerRecord::Fields() {
    // Legacy offsets are those of the stored 144-byte record.
    static const FieldTable<ListenerRecord> t = [] {
        FieldTable<ListenerRecord> f;
        f.Struct<&ListenerRecord::enable>("Enable", 0)
            .Struct<&ListenerRecord::recvTimeout>("RecvTimeout", 76)
            .Struct<&ListenerRecord::sendTimeout>("SendTimeout", 72)
            .Struct<&ListenerRecord::param>("Param", 66)
            .Struct<&ListenerRecord::port>("Port", 68)
            .Text<&ListenerRecord::name>("StrName", kNameCapacity, 2)
            .Text<&ListenerRecord::server>("StrServer", kNameCapacity, 80);
        return f;
    }();
    return t;
}

void LoadCollectorSettings(const core::SettingsSection& section, CollectorSettings& out) {
    core::LoadCommonAndRecords(section, kCollectorLayout, out.common, out.records);
}

}  // namespace qm::transport
