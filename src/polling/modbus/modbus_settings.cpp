#include "polling/modbus/modbus_settings.h"

#include <cstdint>

#include "core/string_ids.h"

namespace qm::polling::modbus {

using core::FieldKind;
using core::FieldTable;

const FieldTable<ModbusCommon>& ModbusCommon::Fields() {
    static const FieldTable<ModbusCommon> t = [] {
        FieldTable<ModbusCommon> f;
        f.Struct<&ModbusCommon::enableService>("EnableService").Kind(FieldKind::Flag)
            .Struct<&ModbusCommon::timeout>("Timeout")
            .Struct<&ModbusCommon::repeatTimeout>("RepeatTimeout").Label(core::str::kRetryTimeout);
        return f;
    }();
    return t;
}

const FieldTable<ModbusNode>& ModbusNode::Fields() {
    static const FieldTable<ModbusNode> t = [] {
        FieldTable<ModbusNode> f;
        f.Struct<&ModbusNode::enable>("Enable").Kind(FieldKind::Flag).Label(core::str::kEnabled)
            .Text<&ModbusNode::name>("StrName", kNodeNameCapacity).Kind(FieldKind::Address)
            .Struct<&ModbusNode::param>("Param").Kind(FieldKind::Bits)
            .Struct<&ModbusNode::timeout>("Timeout")
            .Struct<&ModbusNode::retries>("Retries")
            .Struct<&ModbusNode::regListId>("RegListID")
            .Struct<&ModbusNode::port>("Port").Kind(FieldKind::Port);
        return f;
    }();
    return t;
}

const FieldTable<RegisterEntry>& RegisterEntry::Fields() {
    static const FieldTable<RegisterEntry> t = [] {
        FieldTable<RegisterEntry> f;
        f.Text<&RegisterEntry::tag>("StrTag", kTagCapacity)
            .Struct<&RegisterEntry::enableMin>("EnableMin").Kind(FieldKind::Flag)
            .Struct<&RegisterEntry::minVal>("MinVal")
            .Struct<&RegisterEntry::enableMax>("EnableMax").Kind(FieldKind::Flag)
            .Struct<&RegisterEntry::maxVal>("MaxVal")
            .Struct<&RegisterEntry::correct>("Correct").Kind(FieldKind::Bits)
            .Struct<&RegisterEntry::type>("Type").Kind(FieldKind::Bits)
            .Struct<&RegisterEntry::unit>("Unit")
            .Struct<&RegisterEntry::func>("Func")
            .Struct<&RegisterEntry::reg>("Reg")
            .Struct<&RegisterEntry::regCount>("RegCount");
        return f;
    }();
    return t;
}

}  // namespace qm::polling::modbus
