#include "transport/collector/collector_settings.h"

#include "platform/profile_file.h"

namespace qm::transport {

using core::FieldTable;

const FieldTable<CollectorCommon>& CollectorCommon::Fields() {
    static const FieldTable<CollectorCommon> t = [] {
        FieldTable<CollectorCommon> f;
        f.Struct<&CollectorCommon::enableService>("EnableService", 0)
            .Struct<&CollectorCommon::bufferSize>("BufferSize", 4)
            .Struct<&CollectorCommon::errorTimeout>("ErrorTimeout", 8)
            .Struct<&CollectorCommon::param>("Param", 1);
        return f;
    }();
    return t;
}

const FieldTable<ListenerRecord>& ListenerRecord::Fields() {
    // Legacy offsets are those of the stored 144-byte record.
    static const FieldTable<ListenerRecord> t = [] {
        FieldTable<ListenerRecord> f;
        f.Struct<&ListenerRecord::enable>("Enable", 0)
            .Struct<&ListenerRecord::recvTimeout>("RecvTimeout", 76)
            .Struct<&ListenerRecord::sendTimeout>("SendTimeout", 72)
            .Struct<&ListenerRecord::param>("Param", 66)
            .Struct<&ListenerRecord::port>("Port", 68)
            .Text<&ListenerRecord::name>("StrName", kNameCapacity, 2)
            .Text<&ListenerRecord::server>("StrServer", kNameCapacity, 80);
        return f;
    }();
    return t;
}

void LoadCollectorSettings(const core::SettingsSection& section, CollectorSettings& out) {
    const platform::ProfileFile& file = section.File();
    const std::string& name = section.Name();
    out.common = CollectorCommon{};
    out.listeners.Clear();

    if (section.IsCurrentForm()) {
        // The common block loads as a whole or not at all: it is only taken
        // when its EnableService key reads.
        CollectorCommon common;
        if (file.ReadStruct(name, "Common.EnableService", 1)) {
            core::LoadRecord(file, name, "Common.", CollectorCommon::Fields(), common);
            out.common = common;
        }
        const size_t count = core::ReadRecordCount(file, name, "ItemCount");
        for (size_t i = 0; i < count; ++i) {
            const std::string prefix = "Item." + std::to_string(i) + "-";
            if (!file.ReadStruct(name, prefix + "Enable", 1)) continue;  // a record without Enable is not there
            ListenerRecord r;
            core::LoadRecord(file, name, prefix, ListenerRecord::Fields(), r);
            out.listeners.Add(r);
        }
        return;
    }

    if (auto bytes = file.ReadStruct(name, "Common", kLegacyCommonSize))
        core::DecodeLegacyRecord(*bytes, CollectorCommon::Fields(), out.common);
    const size_t count = core::ReadLegacyCount(file, name, "Count");
    for (size_t i = 0; i < count; ++i) {
        auto bytes = file.ReadStruct(name, "Item." + std::to_string(i), kLegacyListenerSize);
        if (!bytes) continue;
        ListenerRecord r;
        core::DecodeLegacyRecord(*bytes, ListenerRecord::Fields(), r);
        out.listeners.Add(r);
    }
}

void SaveCollectorSettings(core::SettingsSection& section, const CollectorSettings& s) {
    platform::ProfileFile& file = section.File();
    const std::string& name = section.Name();
    core::SaveRecord(file, name, "Common.", CollectorCommon::Fields(), s.common);
    core::WriteRecordCount(file, name, "ItemCount", s.listeners.LiveCount());
    s.listeners.ForEachLive([&](size_t number, const ListenerRecord& r) {
        core::SaveRecord(file, name, "Item." + std::to_string(number) + "-", ListenerRecord::Fields(), r);
    });
}

}  // namespace qm::transport
