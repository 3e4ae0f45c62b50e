#include "polling/snmp/snmp_settings.h"

#include <algorithm>
#include <cstdio>

#include "core/string_ids.h"
#include "platform/profile_file.h"

namespace qm::polling::snmp {

using core::FieldKind;
using core::FieldTable;

namespace {
std::string ItemPrefix(size_t i) { return "Item." + std::to_string(i) + "-"; }
std::string ListPrefix(size_t i) { return "List." + std::to_string(i) + "-"; }
std::string EntryPrefix(size_t list, size_t entry) { return ListPrefix(list) + "item." + std::to_string(entry) + "-"; }
}  // namespace

const FieldTable<SnmpCommon>& SnmpCommon::Fields() {
    static const FieldTable<SnmpCommon> t = [] {
        FieldTable<SnmpCommon> f;
        f.Struct<&SnmpCommon::enableService>("EnableService").Kind(FieldKind::Flag)
            .Struct<&SnmpCommon::repeatTimeout>("RepeatTimeout").Label(core::str::kRetryTimeout);
        return f;
    }();
    return t;
}

const FieldTable<SnmpAgentItem>& SnmpAgentItem::Fields() {
    static const FieldTable<SnmpAgentItem> t = [] {
        FieldTable<SnmpAgentItem> f;
        f.Struct<&SnmpAgentItem::enable>("Enable").Kind(FieldKind::Flag).Label(core::str::kEnabled)
            .Text<&SnmpAgentItem::name>("StrName", kAgentNameCapacity).Kind(FieldKind::Address)
            .Struct<&SnmpAgentItem::param>("Param").Kind(FieldKind::Bits)
            .Text<&SnmpAgentItem::community>("StrCommunity", kCommunityCapacity)
            // A negative time-out or retry count means nothing to the library.
            .Struct<&SnmpAgentItem::timeout>("Timeout").SignedRange(0, INT32_MAX)
            .Struct<&SnmpAgentItem::retries>("Retries").SignedRange(0, INT32_MAX)
            .Struct<&SnmpAgentItem::oidId>("OIDID");
        return f;
    }();
    return t;
}

const FieldTable<OidEntry>& OidEntry::Fields() {
    static const FieldTable<OidEntry> t = [] {
        FieldTable<OidEntry> f;
        f.Text<&OidEntry::value>("StrValue", kOidCapacity)
            .Text<&OidEntry::tag>("StrTag", kTagCapacity)
            .Struct<&OidEntry::enableMin>("EnableMin").Kind(FieldKind::Flag)
            .Struct<&OidEntry::minVal>("MinVal")
            .Struct<&OidEntry::enableMax>("EnableMax").Kind(FieldKind::Flag)
            .Struct<&OidEntry::maxVal>("MaxVal")
            .Struct<&OidEntry::correct>("Correct").Kind(FieldKind::Bits);
        return f;
    }();
    return t;
}

const FieldTable<OidList>& OidList::Fields() {
    static const FieldTable<OidList> t = [] {
        FieldTable<OidList> f;
        f.Struct<&OidList::enable>("Enable").Kind(FieldKind::Flag).Label(core::str::kEnabled)
            .Struct<&OidList::id>("ID")
            .Text<&OidList::name>("StrName", kListNameCapacity)
            .Text<&OidList::outFormat>("StrOutFmt", kOutFormatCapacity)
            .Struct<&OidList::listSize>("ListSize");
        return f;
    }();
    return t;
}

void LoadSnmpSettings(const core::SettingsSection& section, SnmpSettings& out) {
    const platform::ProfileFile& file = section.File();
    const std::string& name = section.Name();
    out = SnmpSettings{};
    if (!section.IsCurrentForm() && !file.Keys(name).empty()) {
        for (const std::string& key : file.Keys(name))
            if (std::optional<std::string> value = file.Get(name, key)) out.keptLegacyKeys.emplace_back(key, *value);
        std::fprintf(stderr,
                     "settings: [%s] in %s is in the old whole-record form, which cannot be read; the SNMP poller "
                     "starts without agents and lists, and the section is kept as it is\n",
                     name.c_str(), section.Path().string().c_str());
        return;
    }
    // A missing key reads as 0 or an empty text: the defaults of a new
    // record are what the dialog proposes, not what a file means.
    SnmpCommon common{};
    core::LoadRecord(file, name, "Common.", SnmpCommon::Fields(), common);
    out.common = common;

    const size_t items = core::ReadRecordCount(file, name, "ItemCount");
    for (size_t i = 0; i < items; ++i) {
        SnmpAgentItem item{0, {}, 0, {}, 0, 0, 0};
        if (core::LoadRecord(file, name, ItemPrefix(i), SnmpAgentItem::Fields(), item) == 0) {
            core::ReportAbsentRecord(name, ItemPrefix(i), items);
            continue;
        }
        out.items.Add(item);
    }
    const size_t lists = core::ReadRecordCount(file, name, "ListCount");
    for (size_t i = 0; i < lists; ++i) {
        OidList list{0, 0, {}, {}, {}, 0};
        const std::string prefix = ListPrefix(i);
        if (core::LoadRecord(file, name, prefix, OidList::Fields(), list) == 0) {
            core::ReportAbsentRecord(name, prefix, lists);
            continue;
        }
        const size_t size = std::min<size_t>(list.listSize, kMaxOidEntries);
        for (size_t e = 0; e < size; ++e) {
            OidEntry entry{{}, {}, 0, 0, 0, 0, 0};
            if (core::LoadRecord(file, name, EntryPrefix(i, e), OidEntry::Fields(), entry) == 0) continue;
            list.entries.push_back(std::move(entry));
        }
        list.listSize = static_cast<uint32_t>(list.entries.size());
        out.lists.Add(list);
    }
}

void SaveSnmpSettings(core::SettingsSection& section, const SnmpSettings& in) {
    platform::ProfileFile& file = section.File();
    const std::string& name = section.Name();
    if (!in.keptLegacyKeys.empty()) {
        file.EmptySection(name);
        for (const auto& [key, value] : in.keptLegacyKeys) file.WriteString(name, key, value);
        std::fprintf(stderr,
                     "settings: [%s] in %s is kept in its old form as it was read; changes to the SNMP settings "
                     "are not saved until it is converted\n",
                     name.c_str(), section.Path().string().c_str());
        return;
    }
    core::SaveRecord(file, name, "Common.", SnmpCommon::Fields(), in.common);
    core::WriteRecordCount(file, name, "ItemCount", in.items.LiveCount());
    in.items.ForEachLive([&](size_t n, const SnmpAgentItem& item) {
        core::SaveRecord(file, name, ItemPrefix(n), SnmpAgentItem::Fields(), item);
    });
    core::WriteRecordCount(file, name, "ListCount", in.lists.LiveCount());
    in.lists.ForEachLive([&](size_t n, const OidList& stored) {
        OidList list = stored;
        list.listSize = static_cast<uint32_t>(list.entries.size());
        core::SaveRecord(file, name, ListPrefix(n), OidList::Fields(), list);
        for (size_t e = 0; e < list.entries.size(); ++e)
            core::SaveRecord(file, name, EntryPrefix(n, e), OidEntry::Fields(), list.entries[e]);
    });
}

}  // namespace qm::polling::snmp
