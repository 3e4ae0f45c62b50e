#include "transport/relay/relay_settings.h"

#include "core/string_ids.h"

namespace qm::transport {

using core::FieldTable;

const FieldTable<RelayCommon>& RelayCommon::Fields() {
    static const FieldTable<RelayCommon> t = [] {
        FieldTable<RelayCommon> f;
        f.Struct<&RelayCommon::enableService>("EnableService", 0)
            .Kind(core::FieldKind::Flag)
            .Label(core::str::kFieldEnableService)
            .Struct<&RelayCommon::sendTimeout>("SendTimeout", 4)
            .Kind(core::FieldKind::Milliseconds)
            .Label(core::str::kSendTimeout)
            .Struct<&RelayCommon::repeatTimeout>("RepeatTimeout", 8)
            .Range(kMinRepeatTimeoutMs, UINT32_MAX)
            .Kind(core::FieldKind::Milliseconds)
            .Label(core::str::kRetryTimeout)
            .Struct<&RelayCommon::backlogSize>("BacklogSize")
            .Range(1, kMaxBacklogMiB)
            .Label(core::str::kRelayBacklogSize);
        return f;
    }();
    return t;
}

const FieldTable<RelayDestination>& RelayDestination::Fields() {
    static const FieldTable<RelayDestination> t = [] {
        FieldTable<RelayDestination> f;
        f.Struct<&RelayDestination::enable>("Enable", 0)
            .Kind(core::FieldKind::Flag)
            .WhenMissing(0)
            .Label(core::str::kEnabled)
            .Text<&RelayDestination::name>("StrName", kRelayNameCapacity, 2)
            .Kind(core::FieldKind::Address)
            .Label(core::str::kRecipientSettings)
            .Struct<&RelayDestination::eventParam>("EventParam", 66)
            .Kind(core::FieldKind::Bits)
            .Names(core::EventTypeNames(0x30))
            .Label(core::str::kEventTypesLabel)
            .Struct<&RelayDestination::port>("Port", 68)
            .Kind(core::FieldKind::Port)
            .Label(core::str::kPort)
            .Struct<&RelayDestination::proto>("Proto")
            .Range(kRelayUdp, kRelayTls)
            .Fallback(kRelayUdp)
            .Choice(kRelayUdp, core::str::kProtoUdp)
            .Choice(kRelayTcp, core::str::kProtoTcp)
            .Choice(kRelayTls, core::str::kProtoTls)
            .Label(core::str::kFieldProtocol)
            .Text<&RelayDestination::caFile>("StrCAFile", kRelayPathCapacity)
            .Label(core::str::kFieldCaFile);
        return f;
    }();
    return t;
}

}  // namespace qm::transport
