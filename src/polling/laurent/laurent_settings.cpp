#include "polling/laurent/laurent_settings.h"

#include "core/string_ids.h"

namespace qm::polling::laurent {

using core::FieldKind;
using core::FieldTable;

const FieldTable<LaurentCommon>& LaurentCommon::Fields() {
    static const FieldTable<LaurentCommon> t = [] {
        FieldTable<LaurentCommon> f;
        f.Struct<&LaurentCommon::enableService>("EnableService").Kind(FieldKind::Flag)
            .Struct<&LaurentCommon::recvTimeout>("RecvTimeout")
            .Struct<&LaurentCommon::sendTimeout>("SendTimeout")
            .Struct<&LaurentCommon::connectTimeout>("ConnectTimeout")
            .Struct<&LaurentCommon::repeatTimeout>("RepeatTimeout").Label(core::str::kRetryTimeout);
        return f;
    }();
    return t;
}

const FieldTable<LaurentBoard>& LaurentBoard::Fields() {
    static const FieldTable<LaurentBoard> t = [] {
        FieldTable<LaurentBoard> f;
        f.Struct<&LaurentBoard::enable>("Enable").Kind(FieldKind::Flag).Label(core::str::kEnabled)
            .Text<&LaurentBoard::name>("StrName", kBoardNameCapacity).Kind(FieldKind::Address)
            .Struct<&LaurentBoard::param>("Param").Kind(FieldKind::Bits)
            .Struct<&LaurentBoard::cmdListId>("CmdListID")
            .Struct<&LaurentBoard::port>("Port").Kind(FieldKind::Port)
            .Text<&LaurentBoard::password>("StrPass", kPasswordCapacity);
        return f;
    }();
    return t;
}

const FieldTable<LaurentCommand>& LaurentCommand::Fields() {
    static const FieldTable<LaurentCommand> t = [] {
        FieldTable<LaurentCommand> f;
        f.Text<&LaurentCommand::value>("StrValue", kCommandCapacity)
            .Text<&LaurentCommand::tag>("StrTag", kTagCapacity)
            .Struct<&LaurentCommand::enableMin>("EnableMin").Kind(FieldKind::Flag)
            .Struct<&LaurentCommand::minVal>("MinVal")
            .Struct<&LaurentCommand::enableMax>("EnableMax").Kind(FieldKind::Flag)
            .Struct<&LaurentCommand::maxVal>("MaxVal");
        return f;
    }();
    return t;
}

}  // namespace qm::polling::laurent
