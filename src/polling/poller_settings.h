#pragma once
// The settings every list poller keeps (SNMP agents with OID lists, Laurent
// boards with command lists, ...): a common block, items, and lists of
// entries, each list with an identity that items name. Loaded from and saved
// to the keys "Common.", "Item.%u-", "List.%u-" and "List.%u-item.%u-".
// Plain data; the module that owns it guards it with its lock.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/config.h"
#include "core/record_sets.h"
#include "core/record_table.h"
#include "core/settings_fields.h"
#include "core/string_ids.h"
#include "platform/profile_file.h"

namespace qm::polling {

// Capacities of a list's texts in UTF-16 units, terminator included.
constexpr size_t kPollListNameCapacity = 32;
constexpr size_t kPollListFormatCapacity = 128;
// A count in a file is data: beyond this it is corrupt, not a list anybody made.
constexpr size_t kMaxListEntries = 65536;

// `Param` bit of an item: its values and gaps go to the value collector.
constexpr uint8_t kParamToCollector = 0x80;

template <typename Entry>
struct PollList {
    uint8_t enable = 1;
    uint64_t id = 0;  // `ID`: what items name; 0 until the module gives one
    std::string name;
    std::string outFormat;  // `StrOutFmt`: "[tag]" placeholders and brace expressions
    std::vector<Entry> entries;
    uint32_t listSize = 0;  // `ListSize`: the entries' count, kept in step by the module

    static const core::FieldTable<PollList>& Fields() {
        static const core::FieldTable<PollList> t = [] {
            core::FieldTable<PollList> f;
            f.template Struct<&PollList::enable>("Enable").Kind(core::FieldKind::Flag).Label(core::str::kEnabled)
                .template Struct<&PollList::id>("ID").Label(core::str::kFieldIdentifier)
                .template Text<&PollList::name>("StrName", kPollListNameCapacity).Label(core::str::kFieldName)
                .template Text<&PollList::outFormat>("StrOutFmt", kPollListFormatCapacity).Label(core::str::kReportFormat)
                .template Struct<&PollList::listSize>("ListSize").Label(core::str::kFieldEntryCount);
            return f;
        }();
        return t;
    }
};

template <typename Common, typename Item, typename Entry>
struct PollerSettings {
    Common common;
    core::RecordTable<Item> items;
    core::RecordTable<PollList<Entry>> lists;
    // A section in the old whole-record form, whose item and list layouts we
    // cannot decode: its keys as they were, written back unchanged at save
    // so that the items and lists it holds are not replaced by nothing.
    std::vector<std::pair<std::string, std::string>> keptLegacyKeys;
};

namespace detail {
inline std::string ItemPrefix(size_t i) { return "Item." + std::to_string(i) + "-"; }
inline std::string ListPrefix(size_t i) { return "List." + std::to_string(i) + "-"; }
inline std::string EntryPrefix(size_t list, size_t entry) {
    return ListPrefix(list) + "item." + std::to_string(entry) + "-";
}
}  // namespace detail

// A record with every described field zero or empty: what a missing key
// reads as. The defaults of a new record are what the dialog proposes, not
// what a file means.
template <typename R>
R ZeroRecord() {
    core::RecordCopy copy = core::RecordCopy::Of(R{});
    copy.Zero();
    return copy.As<R>();
}

template <typename Common, typename Item, typename Entry>
void LoadPollerSettings(const core::SettingsSection& section, PollerSettings<Common, Item, Entry>& out) {
    const platform::ProfileFile& file = section.File();
    const std::string& name = section.Name();
    out = PollerSettings<Common, Item, Entry>{};
    if (!section.IsCurrentForm() && !file.Keys(name).empty()) {
        for (const std::string& key : file.Keys(name))
            if (std::optional<std::string> value = file.Get(name, key)) out.keptLegacyKeys.emplace_back(key, *value);
        std::fprintf(stderr,
                     "settings: [%s] in %s is in the old whole-record form, which cannot be read; the poller "
                     "starts without items and lists, and the section is kept as it is\n",
                     name.c_str(), section.Path().string().c_str());
        return;
    }
    Common common = ZeroRecord<Common>();
    core::LoadRecord(file, name, "Common.", Common::Fields(), common);
    out.common = common;

    const size_t items = core::ReadRecordCount(file, name, "ItemCount");
    for (size_t i = 0; i < items; ++i) {
        Item item = ZeroRecord<Item>();
        if (core::LoadRecord(file, name, detail::ItemPrefix(i), Item::Fields(), item) == 0) {
            core::ReportAbsentRecord(name, detail::ItemPrefix(i), items);
            continue;
        }
        out.items.Add(item);
    }
    const size_t lists = core::ReadRecordCount(file, name, "ListCount");
    for (size_t i = 0; i < lists; ++i) {
        PollList<Entry> list = ZeroRecord<PollList<Entry>>();
        const std::string prefix = detail::ListPrefix(i);
        if (core::LoadRecord(file, name, prefix, PollList<Entry>::Fields(), list) == 0) {
            core::ReportAbsentRecord(name, prefix, lists);
            continue;
        }
        const size_t size = std::min<size_t>(list.listSize, kMaxListEntries);
        for (size_t e = 0; e < size; ++e) {
            Entry entry = ZeroRecord<Entry>();
            if (core::LoadRecord(file, name, detail::EntryPrefix(i, e), Entry::Fields(), entry) == 0) continue;
            list.entries.push_back(std::move(entry));
        }
        list.listSize = static_cast<uint32_t>(list.entries.size());
        out.lists.Add(list);
    }
}

template <typename Common, typename Item, typename Entry>
void SavePollerSettings(core::SettingsSection& section, const PollerSettings<Common, Item, Entry>& in) {
    platform::ProfileFile& file = section.File();
    const std::string& name = section.Name();
    if (!in.keptLegacyKeys.empty()) {
        file.EmptySection(name);
        for (const auto& [key, value] : in.keptLegacyKeys) file.WriteString(name, key, value);
        std::fprintf(stderr,
                     "settings: [%s] in %s is kept in its old form as it was read; changes to its settings "
                     "are not saved until it is converted\n",
                     name.c_str(), section.Path().string().c_str());
        return;
    }
    core::SaveRecord(file, name, "Common.", Common::Fields(), in.common);
    core::WriteRecordCount(file, name, "ItemCount", in.items.LiveCount());
    in.items.ForEachLive([&](size_t n, const Item& item) {
        core::SaveRecord(file, name, detail::ItemPrefix(n), Item::Fields(), item);
    });
    core::WriteRecordCount(file, name, "ListCount", in.lists.LiveCount());
    in.lists.ForEachLive([&](size_t n, const PollList<Entry>& stored) {
        PollList<Entry> list = stored;
        list.listSize = static_cast<uint32_t>(list.entries.size());
        core::SaveRecord(file, name, detail::ListPrefix(n), PollList<Entry>::Fields(), list);
        for (size_t e = 0; e < list.entries.size(); ++e)
            core::SaveRecord(file, name, detail::EntryPrefix(n, e), Entry::Fields(), list.entries[e]);
    });
}

}  // namespace qm::polling
