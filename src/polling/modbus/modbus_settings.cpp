#include "polling/modbus/modbus_settings.h"

#include <cstdint>

#include "core/string_ids.h"

namespace qm::polling::modbus {

using core::FieldKind;
using core::FieldTable;

const FieldTable<ModbusCommon>& ModbusCommon::Fields() {
    static const FieldTable<ModbusCommon> t = [] {
        FieldTable<ModbusCommon> f;
        f.Struct<&ModbusCommon::enableService>("EnableService").Kind(FieldKind::Flag).Label(core::str::kFieldEnableService)
            .Struct<&ModbusCommon::timeout>("Timeout").Kind(FieldKind::Milliseconds).Label(core::str::kFieldNetworkTimeout)
            .Struct<&ModbusCommon::repeatTimeout>("RepeatTimeout").Kind(FieldKind::Milliseconds).Label(core::str::kRetryTimeout);
        return f;
    }();
    return t;
}

const FieldTable<ModbusNode>& ModbusNode::Fields() {
    static const FieldTable<ModbusNode> t = [] {
        FieldTable<ModbusNode> f;
        f.Struct<&ModbusNode::enable>("Enable").Kind(FieldKind::Flag).Label(core::str::kEnabled)
            .Text<&ModbusNode::name>("StrName", kNodeNameCapacity).Kind(FieldKind::Address).Label(core::str::kFieldAddress)
            .Struct<&ModbusNode::param>("Param").Bit(0x80, core::str::kDialogValuesToGraphs).Label(core::str::kFieldOptions)
            .Struct<&ModbusNode::timeout>("Timeout").Kind(FieldKind::Milliseconds).Label(core::str::kFieldRequestTimeout)
            .Struct<&ModbusNode::retries>("Retries").Label(core::str::kFieldRetries)
            .Struct<&ModbusNode::regListId>("RegListID").Label(core::str::kRequestTemplate)
            .Struct<&ModbusNode::port>("Port").Kind(FieldKind::Port).Label(core::str::kPort);
        return f;
    }();
    return t;
}

const FieldTable<RegisterEntry>& RegisterEntry::Fields() {
    static const FieldTable<RegisterEntry> t = [] {
        FieldTable<RegisterEntry> f;
        f.Text<&RegisterEntry::tag>("StrTag", kTagCapacity).Label(core::str::kFieldTag)
            .Struct<&RegisterEntry::enableMin>("EnableMin").Kind(FieldKind::Flag).Label(core::str::kFieldCheckMinimum)
            .Struct<&RegisterEntry::minVal>("MinVal").Label(core::str::kFieldMinimum)
            .Struct<&RegisterEntry::enableMax>("EnableMax").Kind(FieldKind::Flag).Label(core::str::kFieldCheckMaximum)
            .Struct<&RegisterEntry::maxVal>("MaxVal").Label(core::str::kFieldMaximum)
            .Struct<&RegisterEntry::correct>("Correct").Kind(FieldKind::Bits).Label(core::str::kFieldCorrection)
            .Struct<&RegisterEntry::type>("Type").Kind(FieldKind::Bits).Label(core::str::kFieldValueType)
            .Struct<&RegisterEntry::unit>("Unit").Label(core::str::kFieldUnit)
            .Struct<&RegisterEntry::func>("Func").Label(core::str::kFieldFunction)
            .Struct<&RegisterEntry::reg>("Reg").Label(core::str::kFieldRegister)
            .Struct<&RegisterEntry::regCount>("RegCount").Label(core::str::kFieldRegisterCount);
        return f;
    }();
    return t;
}

}  // namespace qm::polling::modbus
