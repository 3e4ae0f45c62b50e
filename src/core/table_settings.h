#pragma once
// The settings shape most modules share: a common block under "Common." and
// a table of records under "Item.%u-", each described by its field table; in
// the legacy form a struct `Common`, an integer `Count` and a struct `Item.%u`
// per record.
#include <string>

#include "core/config.h"
#include "core/record_table.h"
#include "core/settings_fields.h"
#include "platform/profile_file.h"

namespace qm::core {

struct TableLayout {
    size_t legacyCommonSize;
    size_t legacyRecordSize;
    // When set, the common block is taken only if this field of it reads
    // (otherwise all its defaults stand together).
    const char* commonGate = nullptr;
    // When set, a record exists only if this field of it reads; otherwise
    // when any of its keys is in the file.
    const char* recordGate = nullptr;
};

template <typename C, typename R>
void LoadCommonAndRecords(const SettingsSection& section, const TableLayout& layout, C& common, RecordTable<R>& table) {
    const platform::ProfileFile& file = section.File();
    const std::string& name = section.Name();
    common = C{};
    table.Clear();
    if (section.IsCurrentForm()) {
        C loaded;
        const FieldDef* gate = layout.commonGate ? C::Fields().Find(layout.commonGate) : nullptr;
        if (!gate || file.ReadStruct(name, std::string("Common.") + gate->key, gate->size)) {
            LoadRecord(file, name, "Common.", C::Fields(), loaded);
            common = loaded;
        }
        const FieldDef* recordGate = layout.recordGate ? R::Fields().Find(layout.recordGate) : nullptr;
        const size_t count = ReadRecordCount(file, name, "ItemCount");
        for (size_t i = 0; i < count; ++i) {
            const std::string prefix = "Item." + std::to_string(i) + "-";
            if (recordGate && !file.ReadStruct(name, prefix + recordGate->key, recordGate->size)) continue;
            R record;
            // A count larger than the records written (a hand-edited or cut
            // file) must not bring records to life with their defaults.
            if (LoadRecord(file, name, prefix, R::Fields(), record) == 0) {
                ReportAbsentRecord(name, prefix, count);
                continue;
            }
            table.Add(record);
        }
        return;
    }
    if (auto bytes = file.ReadStruct(name, "Common", layout.legacyCommonSize)) DecodeLegacyRecord(*bytes, C::Fields(), common);
    const size_t count = ReadLegacyCount(file, name, "Count");
    for (size_t i = 0; i < count; ++i) {
        auto bytes = file.ReadStruct(name, "Item." + std::to_string(i), layout.legacyRecordSize);
        if (!bytes) continue;
        R record;
        DecodeLegacyRecord(*bytes, R::Fields(), record);
        table.Add(record);
    }
}

template <typename C, typename R>
void SaveCommonAndRecords(SettingsSection& section, const C& common, const RecordTable<R>& table) {
    platform::ProfileFile& file = section.File();
    const std::string& name = section.Name();
    SaveRecord(file, name, "Common.", C::Fields(), common);
    WriteRecordCount(file, name, "ItemCount", table.LiveCount());
    table.ForEachLive([&](size_t number, const R& record) {
        SaveRecord(file, name, "Item." + std::to_string(number) + "-", R::Fields(), record);
    });
}

}  // namespace qm::core
