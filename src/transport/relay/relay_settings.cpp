#include "transport/relay/relay_settings.h"


namespace qm::transport {

using core::FieldTable;

const FieldTable<RelayCommon>& RelayCommon::Fields() {
    static const FieldTable<RelayCommon> t = [] {
        FieldTable<RelayCommon> f;
        f.Struct<&RelayCommon::enableService>("EnableService", 0)
            .Struct<&RelayCommon::sendTimeout>("SendTimeout", 4)
            .Struct<&RelayCommon::repeatTimeout>("RepeatTimeout", 8)
            .Range(kMinRepeatTimeoutMs, UINT32_MAX);
        return f;
    }();
    return t;
}

const FieldTable<RelayDestination>& RelayDestination::Fields() {
    static const FieldTable<RelayDestination> t = [] {
        FieldTable<RelayDestination> f;
        f.Struct<&RelayDestination::enable>("Enable", 0)
            .WhenMissing(0)
            .Text<&RelayDestination::name>("StrName", kRelayNameCapacity, 2)
            .Struct<&RelayDestination::eventParam>("EventParam", 66)
            .Struct<&RelayDestination::port>("Port", 68);
        return f;
    }();
    return t;
}

}  // namespace qm::transport
