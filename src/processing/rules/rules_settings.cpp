#include "processing/rules/rules_settings.h"

#include <algorithm>

#include "core/string_ids.h"
#include "platform/profile_file.h"
#include "platform/utf16.h"

namespace qm::core {

namespace {
void PutU32(uint8_t* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetU32(const uint8_t* in) {
    return uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
}
}  // namespace

void BlobCodec<processing::RuleColors>::Encode(const processing::RuleColors& c, uint8_t* out) {
    PutU32(out, c.background);
    PutU32(out + 4, c.text);
}

void BlobCodec<processing::RuleColors>::Decode(const uint8_t* in, processing::RuleColors& c) {
    c.background = GetU32(in);
    c.text = GetU32(in + 4);
}

}  // namespace qm::core

namespace qm::processing {

using core::FieldTable;

namespace {

std::string Fit(const std::string& text, size_t capacity) {
    return platform::TruncateUtf16(platform::SanitizeUtf8(text), capacity - 1);
}

std::string ItemPrefix(size_t i) { return "Item." + std::to_string(i) + "-"; }
std::string ListPrefix(size_t i) { return "List." + std::to_string(i) + "-"; }
std::string EntryPrefix(size_t list, size_t entry) {
    return ListPrefix(list) + "item." + std::to_string(entry) + "-";
}

void LoadScheme(const platform::ProfileFile& file, const std::string& name, ColorScheme& scheme) {
    scheme = ColorScheme::Defaults();
    ColorScheme read = scheme;
    core::LoadRecord(file, name, "Common.", ColorScheme::Fields(), read);
    // Text colours chosen for another background would be unreadable: without
    // the backgrounds the whole scheme falls back to its defaults.
    if (file.ReadStruct(name, "Common.LogTypeBgColor", core::BlobCodec<ColorArray>::kSize)) scheme = read;
}

void LoadCurrent(const platform::ProfileFile& file, const std::string& name, RulesSettings& out) {
    const size_t rules = core::ReadRecordCount(file, name, "ItemCount");
    for (size_t i = 0; i < rules; ++i) {
        Rule r;
        // A count beyond the records written brings nothing to life.
        if (core::LoadRecord(file, name, ItemPrefix(i), Rule::Fields(), r) == 0) {
            core::ReportAbsentRecord(name, ItemPrefix(i), rules);
            continue;
        }
        out.rules.Add(r);
    }
    const size_t lists = core::ReadRecordCount(file, name, "ListCount");
    for (size_t i = 0; i < lists; ++i) {
        MatchList l;
        const std::string prefix = ListPrefix(i);
        const size_t present = core::LoadRecord(file, name, prefix, MatchList::Fields(), l);
        if (present == 0 && !file.Get(name, prefix + "ListSize")) {
            core::ReportAbsentRecord(name, prefix, lists);
            continue;
        }
        size_t size = 0;
        if (auto bytes = file.ReadStruct(name, prefix + "ListSize", 4)) {
            size = uint32_t((*bytes)[0]) | uint32_t((*bytes)[1]) << 8 | uint32_t((*bytes)[2]) << 16 |
                   uint32_t((*bytes)[3]) << 24;
        }
        size = std::min(size, kMaxListEntries);
        for (size_t e = 0; e < size; ++e) {
            // An entry whose key is gone is no entry: read as an empty text
            // it would occur in every message and match everything.
            const std::string key = EntryPrefix(i, e) + "StrValue";
            if (!file.Get(name, key)) continue;
            ListEntry entry;
            core::LoadRecord(file, name, EntryPrefix(i, e), ListEntry::Fields(), entry);
            l.entries.push_back(std::move(entry.value));
        }
        out.lists.Add(l);
    }
}

void LoadLegacy(const platform::ProfileFile& file, const std::string& name, RulesSettings& out) {
    const size_t rules = core::ReadLegacyCount(file, name, "Count");
    for (size_t i = 0; i < rules; ++i) {
        auto bytes = file.ReadStruct(name, "Item." + std::to_string(i), kLegacyRuleSize);
        if (!bytes) continue;
        Rule r;
        core::DecodeLegacyRecord(*bytes, Rule::Fields(), r);
        out.rules.Add(r);
    }
    // The older layout kept no list count: the lists run up to the first one missing.
    for (size_t i = 0; i < core::kMaxRecords; ++i) {
        auto bytes = file.ReadStruct(name, "List." + std::to_string(i), kLegacyListSize);
        if (!bytes) break;
        MatchList l;
        core::DecodeLegacyRecord(*bytes, MatchList::Fields(), l);
        const uint8_t* at = bytes->data() + kLegacyListEntryCountOffset;
        const size_t size = std::min<size_t>(
            uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24, kMaxListEntries);
        for (size_t e = 0; e < size; ++e) {
            auto entryBytes = file.ReadStruct(name, "List." + std::to_string(i) + "-item." + std::to_string(e),
                                              kLegacyEntrySize);
            if (!entryBytes) continue;
            ListEntry entry;
            core::DecodeLegacyRecord(*entryBytes, ListEntry::Fields(), entry);
            l.entries.push_back(std::move(entry.value));
        }
        out.lists.Add(l);
    }
}

// The scheme's colours by index: the severities, then System events, then
// every other severity (100 among them).
std::vector<core::FieldName> LevelNames() {
    std::vector<core::FieldName> names;
    for (uint32_t i = 0; i < 8; ++i) names.push_back({i, core::str::kSeverityEmergency + i, {}, 0});
    names.push_back({8, core::str::kEventTypeSystem, {}, 0});
    names.push_back({9, core::str::kSeverityUnknown, {}, 0});
    return names;
}

}  // namespace

const FieldTable<Rule>& Rule::Fields() {
    static const FieldTable<Rule> t = [] {
        FieldTable<Rule> f;
        f.Struct<&Rule::enable>("Enable", 0)
            .Kind(core::FieldKind::Flag)
            .Label(core::str::kEnabled)
            .Text<&Rule::name>("StrName", kRuleNameCapacity, 2).Label(core::str::kFieldName)
            .Struct<&Rule::uid>("UID", 72).Label(core::str::kFieldIdentifier)
            .Struct<&Rule::param>("Param", 80)
            .Kind(core::FieldKind::Bits)
            .Label(core::str::kFieldRuleOptions)
            .Struct<&Rule::inMatch>("InMatch", 82).Label(core::str::kFieldCombine)
            .Struct<&Rule::inCond1>("InCond1", 83).Label(core::str::kFieldCondition1)
            .Text<&Rule::strInCond1>("StrInCond1", kPatternCapacity, 84).Label(core::str::kFieldPattern1)
            .Struct<&Rule::inListId1>("InListID1", 216).Label(core::str::kFieldList1)
            .Struct<&Rule::inCond2>("InCond2", 224).Label(core::str::kFieldCondition2)
            .Text<&Rule::strInCond2>("StrInCond2", kPatternCapacity, 226).Label(core::str::kFieldPattern2)
            .Struct<&Rule::inListId2>("InListID2", 360).Label(core::str::kFieldList2)
            .Struct<&Rule::outColor>("OutColor", 368)
            .Kind(core::FieldKind::Colour)
            .Names({{0, core::str::kGraphBackground, {}, 0}, {1, core::str::kFieldActionText, {}, 0}})
            .Label(core::str::kColorSchemeLabel)
            .Text<&Rule::strOutText>("StrOutText", kOutTextCapacity, 376).Label(core::str::kFieldActionText)
            .Struct<&Rule::outTextMode>("OutTextMode", 504).Label(core::str::kFieldActionColumn)
            .Text<&Rule::startCmd>("StartCmd", kStartCmdCapacity, 506)
            .Label(core::str::kRunProgram);
        return f;
    }();
    return t;
}

const FieldTable<ListEntry>& ListEntry::Fields() {
    static const FieldTable<ListEntry> t = [] {
        FieldTable<ListEntry> f;
        f.Text<&ListEntry::value>("StrValue", kEntryCapacity, 0).Label(core::str::kFieldValue);
        return f;
    }();
    return t;
}

const FieldTable<MatchList>& MatchList::Fields() {
    static const FieldTable<MatchList> t = [] {
        FieldTable<MatchList> f;
        f.Struct<&MatchList::enable>("Enable", 0)
            .Kind(core::FieldKind::Flag)
            .Label(core::str::kEnabled)
            .Struct<&MatchList::uid>("UID", 8).Label(core::str::kFieldIdentifier)
            .Text<&MatchList::name>("StrName", kListNameCapacity, 16).Label(core::str::kFieldName);
        return f;
    }();
    return t;
}

const FieldTable<ColorScheme>& ColorScheme::Fields() {
    static const FieldTable<ColorScheme> t = [] {
        FieldTable<ColorScheme> f;
        f.Struct<&ColorScheme::background>("LogTypeBgColor")
            .Kind(core::FieldKind::Colour)
            .Names(LevelNames())
            .Label(core::str::kFieldLevelBackgrounds)
            .Struct<&ColorScheme::text>("LogTypeTextColor")
            .Kind(core::FieldKind::Colour)
            .Names(LevelNames())
            .Label(core::str::kFieldLevelTexts);
        return f;
    }();
    return t;
}

ColorScheme ColorScheme::Defaults() {
    ColorScheme s;
    s.background = ColorArray{{0x0000FF, 0x6464FF, 0xC8C8FF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0x000000,
                               0xF0F0F0, 0xFFFFFF}};
    s.text = ColorArray{{0xFFFFC8, 0x000046, 0x000064, 0x0000FF, 0x009696, 0x009600, 0xC80000, 0xFAFAFA,
                         0x141414, 0x000000}};
    return s;
}

void FitToCapacity(Rule& rule) {
    rule.name = Fit(rule.name, kRuleNameCapacity);
    rule.strInCond1 = Fit(rule.strInCond1, kPatternCapacity);
    rule.strInCond2 = Fit(rule.strInCond2, kPatternCapacity);
    rule.strOutText = Fit(rule.strOutText, kOutTextCapacity);
    rule.startCmd = Fit(rule.startCmd, kStartCmdCapacity);
}

void FitToCapacity(MatchList& list) {
    list.name = Fit(list.name, kListNameCapacity);
    for (std::string& entry : list.entries) entry = Fit(entry, kEntryCapacity);
}

void LoadRulesSettings(const core::SettingsSection& section, RulesSettings& out) {
    const platform::ProfileFile& file = section.File();
    const std::string& name = section.Name();
    out.rules.Clear();
    out.lists.Clear();
    if (section.IsCurrentForm()) {
        LoadCurrent(file, name, out);
    } else {
        LoadLegacy(file, name, out);
    }
    LoadScheme(file, name, out.scheme);
}

void SaveRulesSettings(core::SettingsSection& section, const RulesSettings& s) {
    platform::ProfileFile& file = section.File();
    const std::string& name = section.Name();
    s.rules.ForEachLive([&](size_t number, const Rule& r) { core::SaveRecord(file, name, ItemPrefix(number), Rule::Fields(), r); });
    core::WriteRecordCount(file, name, "ItemCount", s.rules.LiveCount());
    s.lists.ForEachLive([&](size_t number, const MatchList& l) {
        const std::string prefix = ListPrefix(number);
        core::SaveRecord(file, name, prefix, MatchList::Fields(), l);
        core::WriteRecordCount(file, name, prefix + "ListSize", l.entries.size());
        for (size_t e = 0; e < l.entries.size(); ++e) {
            core::SaveRecord(file, name, EntryPrefix(number, e), ListEntry::Fields(), ListEntry{l.entries[e]});
        }
    });
    core::WriteRecordCount(file, name, "ListCount", s.lists.LiveCount());
    core::SaveRecord(file, name, "Common.", ColorScheme::Fields(), s.scheme);
}

}  // namespace qm::processing
