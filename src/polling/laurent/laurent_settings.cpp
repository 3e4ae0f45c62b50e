#include "polling/laurent/laurent_settings.h"

#include "core/string_ids.h"

namespace qm::polling::laurent {

using core::FieldKind;
using core::FieldTable;

const FieldTable<LaurentCommon>& LaurentCommon::Fields() {
    static const FieldTable<LaurentCommon> t = [] {
        FieldTable<LaurentCommon> f;
        f.Struct<&LaurentCommon::enableService>("EnableService").Kind(FieldKind::Flag).Label(core::str::kFieldEnableService)
            .Struct<&LaurentCommon::recvTimeout>("RecvTimeout").Kind(FieldKind::Milliseconds).Label(core::str::kFieldRecvTimeout)
            .Struct<&LaurentCommon::sendTimeout>("SendTimeout").Kind(FieldKind::Milliseconds).Label(core::str::kSendTimeout)
            .Struct<&LaurentCommon::connectTimeout>("ConnectTimeout")
            .Kind(FieldKind::Milliseconds)
            .Label(core::str::kFieldConnectTimeout)
            .Struct<&LaurentCommon::repeatTimeout>("RepeatTimeout").Kind(FieldKind::Milliseconds).Label(core::str::kRetryTimeout);
        return f;
    }();
    return t;
}

const FieldTable<LaurentBoard>& LaurentBoard::Fields() {
    static const FieldTable<LaurentBoard> t = [] {
        FieldTable<LaurentBoard> f;
        f.Struct<&LaurentBoard::enable>("Enable").Kind(FieldKind::Flag).Label(core::str::kEnabled)
            .Text<&LaurentBoard::name>("StrName", kBoardNameCapacity).Kind(FieldKind::Address).Label(core::str::kFieldAddress)
            .Struct<&LaurentBoard::param>("Param").Bit(0x80, core::str::kDialogValuesToGraphs).Label(core::str::kFieldOptions)
            .Struct<&LaurentBoard::cmdListId>("CmdListID").Label(core::str::kFieldCommandList)
            .Struct<&LaurentBoard::port>("Port").Kind(FieldKind::Port).Label(core::str::kPort)
            .Text<&LaurentBoard::password>("StrPass", kPasswordCapacity).Label(core::str::kFieldPassword);
        return f;
    }();
    return t;
}

const FieldTable<LaurentCommand>& LaurentCommand::Fields() {
    static const FieldTable<LaurentCommand> t = [] {
        FieldTable<LaurentCommand> f;
        f.Text<&LaurentCommand::value>("StrValue", kCommandCapacity).Label(core::str::kFieldCommand)
            .Text<&LaurentCommand::tag>("StrTag", kTagCapacity).Label(core::str::kFieldTag)
            .Struct<&LaurentCommand::enableMin>("EnableMin").Kind(FieldKind::Flag).Label(core::str::kFieldCheckMinimum)
            .Struct<&LaurentCommand::minVal>("MinVal").Label(core::str::kFieldMinimum)
            .Struct<&LaurentCommand::enableMax>("EnableMax").Kind(FieldKind::Flag).Label(core::str::kFieldCheckMaximum)
            .Struct<&LaurentCommand::maxVal>("MaxVal").Label(core::str::kFieldMaximum);
        return f;
    }();
    return t;
}

}  // namespace qm::polling::laurent
