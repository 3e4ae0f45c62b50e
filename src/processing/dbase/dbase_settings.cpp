#include "processing/dbase/dbase_settings.h"


namespace qm::processing {

using core::FieldTable;

const FieldTable<DbaseCommon>& DbaseCommon::Fields() {
    static const FieldTable<DbaseCommon> t = [] {
        FieldTable<DbaseCommon> f;
        f.Text<&DbaseCommon::lastLogFile>("StrLastLog", kDbaseTextCapacity, 0)
            .Text<&DbaseCommon::logFormat>("StrLogFormat", kDbaseTextCapacity, 128)
            .Struct<&DbaseCommon::eventParam>("EventParam", 256)
            .Struct<&DbaseCommon::timeout>("Timeout", 260)
            .Range(kMinDbaseTimeoutMs, UINT32_MAX)
            .Struct<&DbaseCommon::msgLimit>("MsgLimit", 264);
        return f;
    }();
    return t;
}

const FieldTable<LogTarget>& LogTarget::Fields() {
    static const FieldTable<LogTarget> t = [] {
        FieldTable<LogTarget> f;
        f.Struct<&LogTarget::enable>("Enable", 0)
            .WhenMissing(0)
            .Text<&LogTarget::name>("StrName", kDbaseTextCapacity, 2)
            .Text<&LogTarget::logNameFormat>("StrLogNameFormat", kDbaseTextCapacity, 130);
        return f;
    }();
    return t;
}

LogTarget DefaultTarget() {
    LogTarget t;
    t.enable = 1;
    t.primary = true;
    t.name = "Default";
    t.logNameFormat = kDefaultLogNameFormat;
    return t;
}

}  // namespace qm::processing
