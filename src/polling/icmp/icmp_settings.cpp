#include "polling/icmp/icmp_settings.h"

#include "core/string_ids.h"

namespace qm::polling {

using core::FieldTable;

const FieldTable<IcmpCommon>& IcmpCommon::Fields() {
    static const FieldTable<IcmpCommon> t = [] {
        FieldTable<IcmpCommon> f;
        const IcmpCommon d;
        // A file's values are kept as they are, even where a script word
        // allows less; only what cannot work is replaced. A receive time-out
        // of 0 would give up on every host before it could answer, a pause
        // of 0 would poll without rest with the module lock held: both take
        // the default (a missing key in an old file reads as 0). A send
        // time-out of 0 is the socket's own: no limit on a datagram send.
        f.Struct<&IcmpCommon::enableService>("EnableService", 0)
            .Kind(core::FieldKind::Flag)
            .Label(core::str::kFieldEnableService)
            .Struct<&IcmpCommon::recvTimeout>("RecvTimeout", 4)
            .Range(1, UINT32_MAX)
            .Fallback(d.recvTimeout)
            .Kind(core::FieldKind::Milliseconds)
            .Label(core::str::kFieldRecvTimeout)
            .Struct<&IcmpCommon::sendTimeout>("SendTimeout", 8)
            .Kind(core::FieldKind::Milliseconds)
            .Label(core::str::kSendTimeout)
            .Struct<&IcmpCommon::repeatTimeout>("RepeatTimeout", 12)
            .Range(1, UINT32_MAX)
            .Fallback(d.repeatTimeout)
            .Kind(core::FieldKind::Milliseconds)
            .Label(core::str::kRetryTimeout)
            .Struct<&IcmpCommon::packetSize>("PacketSize", 16)
            .Range(0, kMaxPacketSize)
            .Label(core::str::kFieldPacketSize)
            .Struct<&IcmpCommon::realIp>("RealIP", 20)
            .Kind(core::FieldKind::Flag)
            .Label(core::str::kFieldReplyAddress);
        return f;
    }();
    return t;
}

const FieldTable<IcmpHost>& IcmpHost::Fields() {
    static const FieldTable<IcmpHost> t = [] {
        FieldTable<IcmpHost> f;
        f.Struct<&IcmpHost::enable>("Enable", 0)
            .Kind(core::FieldKind::Flag)
            .WhenMissing(0)
            .Label(core::str::kEnabled)
            .Text<&IcmpHost::name>("StrName", kIcmpNameCapacity, 2)
            .Kind(core::FieldKind::Address)
            .Label(core::str::kFieldAddress)
            .Struct<&IcmpHost::param>("Param", 66)
            .Bit(0x80, core::str::kDialogValuesToGraphs)
            .Label(core::str::kFieldOptions)
            .Text<&IcmpHost::outFormat>("StrOutFmt", kIcmpFormatCapacity, 68)
            .Label(core::str::kReportFormat)
            .Struct<&IcmpHost::enableMin>("EnableMin", 196)
            .Kind(core::FieldKind::Flag)
            .Label(core::str::kFieldCheckMinimum)
            .Struct<&IcmpHost::minVal>("MinVal", 200).Label(core::str::kFieldMinimum)
            .Struct<&IcmpHost::enableMax>("EnableMax", 204)
            .Kind(core::FieldKind::Flag)
            .Label(core::str::kFieldCheckMaximum)
            .Struct<&IcmpHost::maxVal>("MaxVal", 208).Label(core::str::kFieldMaximum);
        return f;
    }();
    return t;
}

}  // namespace qm::polling
