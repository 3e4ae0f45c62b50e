#include "processing/dbase/dbase_settings.h"

#include "platform/profile_file.h"

namespace qm::processing {

using core::FieldTable;

const FieldTable<DbaseCommon>& DbaseCommon::Fields() {
    static const FieldTable<DbaseCommon> t = [] {
        FieldTable<DbaseCommon> f;
        f.Text<&DbaseCommon::lastLogFile>("StrLastLog", kDbaseTextCapacity, 0)
            .Text<&DbaseCommon::logFormat>("StrLogFormat", kDbaseTextCapacity, 128)
            .Struct<&DbaseCommon::eventParam>("EventParam", 256)
            .Struct<&DbaseCommon::timeout>("Timeout", 260)
            .Struct<&DbaseCommon::msgLimit>("MsgLimit", 264);
        return f;
    }();
    return t;
}

const FieldTable<LogTarget>& LogTarget::Fields() {
    static const FieldTable<LogTarget> t = [] {
        FieldTable<LogTarget> f;
        f.Struct<&LogTarget::enable>("Enable", 0)
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

void LoadDbaseSettings(const core::SettingsSection& section, DbaseSettings& out) {
    const platform::ProfileFile& file = section.File();
    const std::string& name = section.Name();
    out.common = DbaseCommon{};
    out.targets.Clear();

    if (section.IsCurrentForm()) {
        core::LoadRecord(file, name, "Common.", DbaseCommon::Fields(), out.common);
        const size_t count = core::ReadRecordCount(file, name, "ItemCount");
        for (size_t i = 0; i < count; ++i) {
            LogTarget t;
            core::LoadRecord(file, name, "Item." + std::to_string(i) + "-", LogTarget::Fields(), t);
            out.targets.Add(t);
        }
    } else {
        if (auto bytes = file.ReadStruct(name, "Common", kLegacyDbaseCommonSize))
            core::DecodeLegacyRecord(*bytes, DbaseCommon::Fields(), out.common);
        const size_t count = core::ReadLegacyCount(file, name, "Count");
        for (size_t i = 0; i < count; ++i) {
            auto bytes = file.ReadStruct(name, "Item." + std::to_string(i), kLegacyTargetSize);
            if (!bytes) continue;
            LogTarget t;
            core::DecodeLegacyRecord(*bytes, LogTarget::Fields(), t);
            out.targets.Add(t);
        }
    }
    if (out.targets.size() == 0) out.targets.Add(DefaultTarget());
    out.targets[0].record.primary = true;
}

void SaveDbaseSettings(core::SettingsSection& section, const DbaseSettings& s) {
    platform::ProfileFile& file = section.File();
    const std::string& name = section.Name();
    core::SaveRecord(file, name, "Common.", DbaseCommon::Fields(), s.common);
    core::WriteRecordCount(file, name, "ItemCount", s.targets.LiveCount());
    s.targets.ForEachLive([&](size_t number, const LogTarget& t) {
        core::SaveRecord(file, name, "Item." + std::to_string(number) + "-", LogTarget::Fields(), t);
    });
}

}  // namespace qm::processing
