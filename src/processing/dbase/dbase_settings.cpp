#include "processing/dbase/dbase_settings.h"

#include "core/paths.h"
#include "processing/dbase/log_format.h"

namespace qm::processing {

using core::FieldTable;

const FieldTable<DbaseCommon>& DbaseCommon::Fields() {
    static const FieldTable<DbaseCommon> t = [] {
        FieldTable<DbaseCommon> f;
        // Formats are used only when they take the expected arguments, and
        // the last-log file stays inside the log folder.
        f.Text<&DbaseCommon::lastLogFile>("StrLastLog", kDbaseTextCapacity, 0)
            .Valid(core::IsPlainFileName, kDefaultLastLog)
            .Label(866)
            .Text<&DbaseCommon::logFormat>("StrLogFormat", kDbaseTextCapacity, 128)
            .Valid(IsValidLogFormat, kDefaultLogFormat)
            .Label(865)
            .Struct<&DbaseCommon::eventParam>("EventParam", 256)
            .Kind(core::FieldKind::Bits)
            .Label(867)
            .Struct<&DbaseCommon::timeout>("Timeout", 260)
            .Range(kMinDbaseTimeoutMs, UINT32_MAX)
            .Label(864)
            .Struct<&DbaseCommon::msgLimit>("MsgLimit", 264)
            .Label(863);
        return f;
    }();
    return t;
}

const FieldTable<LogTarget>& LogTarget::Fields() {
    static const FieldTable<LogTarget> t = [] {
        FieldTable<LogTarget> f;
        f.Struct<&LogTarget::enable>("Enable", 0)
            .Kind(core::FieldKind::Flag)
            .WhenMissing(0)
            .Label(163)
            .Text<&LogTarget::name>("StrName", kDbaseTextCapacity, 2)
            .Text<&LogTarget::logNameFormat>("StrLogNameFormat", kDbaseTextCapacity, 130)
            .Valid(IsValidLogNameFormat, kDefaultLogNameFormat)
            .Label(862);
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
