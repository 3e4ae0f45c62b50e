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
            .Label(core::str::kFieldEnableService)
            .Struct<&CollectorCommon::bufferSize>("BufferSize", 4)
            .Range(0, kMaxDatagramBytes)
            .Label(core::str::kFieldBufferSize)
            .Struct<&CollectorCommon::errorTimeout>("ErrorTimeout", 8)
            .Kind(core::FieldKind::Milliseconds)
            .Label(core::str::kFieldErrorPause)
            .Struct<&CollectorCommon::param>("Param", 1)
            .Kind(core::FieldKind::Bits)
            .Label(core::str::kFieldOptions);
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
            .Kind(core::FieldKind::Milliseconds)
            .Label(core::str::kFieldRecvTimeout)
            .Struct<&ListenerRecord::sendTimeout>("SendTimeout", 72)
            .Kind(core::FieldKind::Milliseconds)
            .Label(core::str::kSendTimeout)
            .Struct<&ListenerRecord::param>("Param", 66)
            .Bit(0x80, core::str::kPacketFilter)
            .Bit(0x40, core::str::kServerCheck)
            .Label(core::str::kFieldOptions)
            .Struct<&ListenerRecord::port>("Port", 68)
            .Kind(core::FieldKind::Port)
            .Label(core::str::kPort)
            .Text<&ListenerRecord::name>("StrName", kNameCapacity, 2)
            .Kind(core::FieldKind::Address)
            .Label(core::str::kFieldAddress)
            .Text<&ListenerRecord::server>("StrServer", kNameCapacity, 80)
            .Kind(core::FieldKind::Address)
            .Label(core::str::kFieldCheckServer)
            // Not in the legacy record: a file without them has UDP listeners.
            .Struct<&ListenerRecord::proto>("Proto")
            .Choice(kProtoUdp, core::str::kProtoUdp)
            .Choice(kProtoTcp, core::str::kProtoTcp)
            .Choice(kProtoTls, core::str::kProtoTls)
            .Range(kProtoUdp, kProtoTls)
            .Label(core::str::kFieldProtocol)
            .Text<&ListenerRecord::certFile>("StrCertFile", kFileCapacity)
            .Label(core::str::kFieldCertFile)
            .Text<&ListenerRecord::keyFile>("StrKeyFile", kFileCapacity)
            .Label(core::str::kFieldKeyFile)
            .Text<&ListenerRecord::caFile>("StrCAFile", kFileCapacity)
            .Label(core::str::kFieldCaFile)
            .Struct<&ListenerRecord::idleTimeout>("IdleTimeout")
            .WhenMissing(600000)
            .Kind(core::FieldKind::Milliseconds)
            .Label(core::str::kFieldIdleTimeout);
        return f;
    }();
    return t;
}

void LoadCollectorSettings(const core::SettingsSection& section, CollectorSettings& out) {
    core::LoadCommonAndRecords(section, kCollectorLayout, out.common, out.records);
}

}  // namespace qm::transport
