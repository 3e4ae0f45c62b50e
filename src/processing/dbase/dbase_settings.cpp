#include "processing/dbase/dbase_settings.h"

#include "core/paths.h"
#include "core/string_ids.h"
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
            .Label(core::str::kTemporaryBuffer)
            .Text<&DbaseCommon::logFormat>("StrLogFormat", kDbaseTextCapacity, 128)
            .Valid(IsValidLogFormat, kDefaultLogFormat)
            .Label(core::str::kReportFormat)
            .Struct<&DbaseCommon::eventParam>("EventParam", 256)
            .Kind(core::FieldKind::Bits)
            .Names(core::EventTypeNames())
            .Label(core::str::kEventTypes)
            .Struct<&DbaseCommon::timeout>("Timeout", 260)
            .Range(kMinDbaseTimeoutMs, UINT32_MAX)
            .Kind(core::FieldKind::Milliseconds)
            .Label(core::str::kPollTimeout)
            .Struct<&DbaseCommon::msgLimit>("MsgLimit", 264)
            .Label(core::str::kMessageLimit);
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
            .Label(core::str::kEnabled)
            .Text<&LogTarget::name>("StrName", kDbaseTextCapacity, 2).Label(core::str::kFieldName)
            .Text<&LogTarget::logNameFormat>("StrLogNameFormat", kDbaseTextCapacity, 130)
            .Valid(IsValidLogNameFormat, kDefaultLogNameFormat)
            .Label(core::str::kFileNameFormat)
            .Struct<&LogTarget::rotateSize>("RotateSize")
            .Range(0, kMaxRotateSizeMb)
            .Label(core::str::kFieldRotateSize)
            .Struct<&LogTarget::rotateMidnight>("RotateMidnight")
            .Kind(core::FieldKind::Flag)
            .Label(core::str::kFieldRotateMidnight)
            .Struct<&LogTarget::keepFiles>("KeepFiles")
            .Range(0, kMaxKeepFiles)
            .Label(core::str::kFieldKeepFiles)
            .Struct<&LogTarget::keepDays>("KeepDays")
            .Range(0, kMaxKeepDays)
            .Label(core::str::kFieldKeepDays);
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
