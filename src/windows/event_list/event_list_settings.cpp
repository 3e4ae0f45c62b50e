#include "windows/event_list/event_list_settings.h"

#include <algorithm>
#include <numeric>

#include "core/record_table.h"
#include "core/string_ids.h"
#include "platform/profile_file.h"
#include "windows/zoom.h"

namespace qm::windows {

namespace {

// A rule UID of the selection as a record of its own, so the field machinery
// reads and writes it like every other value.
struct RuleId {
    uint64_t id = 0;
    static const core::FieldTable<RuleId>& Fields() {
        static const core::FieldTable<RuleId> t = [] {
            core::FieldTable<RuleId> f;
            f.Struct<&RuleId::id>("ID");
            return f;
        }();
        return t;
    }
};

std::string UidText(uint64_t uid) { return std::to_string(static_cast<int64_t>(uid)); }
std::string RulePrefix(uint64_t uid) { return "Wnd." + UidText(uid) + ".Rule"; }

void LoadRules(const core::SettingsSection& section, uint64_t uid, std::vector<uint64_t>& rules) {
    const std::string prefix = RulePrefix(uid);
    // A count in a file is data: it can't exceed what the rule table holds.
    const size_t count = core::ReadRecordCount(section.File(), section.Name(), prefix + "-Size");
    rules.clear();
    for (size_t i = 0; i < count; ++i) {
        RuleId r;
        core::LoadRecord(section.File(), section.Name(), prefix + "." + std::to_string(i) + "-", RuleId::Fields(), r);
        // A missing key leaves 0, which names no rule: it would only cost a look-up per event.
        if (r.id != 0) rules.push_back(r.id);
    }
}

// Sorting by a column (1 to 4, the date to the message; 5 to 9 the
// header's fields), greater texts first when positive.
std::vector<core::FieldName> SortNames() {
    std::vector<core::FieldName> names{{0, core::str::kSortNone, {}, 0}};
    for (int64_t column = 1; column < kColumnCount; ++column) {
        const uint32_t title = ColumnTitleId(int(column));
        names.push_back({uint64_t(column), core::str::kSortDescending, {}, title});
        names.push_back({uint64_t(-column), core::str::kSortAscending, {}, title});
    }
    return names;
}

}  // namespace

const core::FieldTable<EventListSettings>& EventListSettings::Fields() {
    static const core::FieldTable<EventListSettings> t = [] {
        core::FieldTable<EventListSettings> f;
        f.Struct<&EventListSettings::fontHeight>("FontHeight", 0)
            .Struct<&EventListSettings::sortDirection>("SortDirection", 4)
            .SignedRange(-(kColumnCount - 1), kColumnCount - 1)
            .Fallback(0)
            .Names(SortNames())
            .Kind(core::FieldKind::Choice)
            .Struct<&EventListSettings::colSize>("ColSize", 8)
            .Struct<&EventListSettings::sbarParts>("SBarParts", 28)
            // A zero period would be a busy loop; a huge one a list that never moves.
            .Struct<&EventListSettings::mainTimer>("MainTimer", 48)
            .Range(kMinTimerMs, kMaxTimerMs)
            .Kind(core::FieldKind::Milliseconds)
            .Struct<&EventListSettings::statusTimer>("StatusTimer", 52)
            .Range(kMinTimerMs, kMaxTimerMs)
            .Kind(core::FieldKind::Milliseconds)
            .Struct<&EventListSettings::param>("Param", 56)
            .Bit(kListAutoscroll, core::str::kAutoscroll)
            .Bit(kListSortable, core::str::kSortList)
            .Bit(kListColorScheme, core::str::kColorScheme)
            .Bit(kListGroupBySender, core::str::kGroupBySender)
            .Bit(kListResolveNames, core::str::kUseDns)
            .Bit(kListSimpleStatus, core::str::kSimpleStatusBar)
            .Bit(kListDeselectGrouped, core::str::kDeselectRow)
            .Struct<&EventListSettings::eventParam>("EventParam", 57)
            .Kind(core::FieldKind::Bits)
            .Names(core::EventTypeNames())
            // Newer than the legacy record, so only in the current form.
            .Struct<&EventListSettings::columns>("Columns")
            .Label(core::str::kColumns)
            .Bit(kShowSenderTime, core::str::kColumnSenderTime)
            .Bit(kShowHost, core::str::kColumnHost)
            .Bit(kShowApp, core::str::kColumnApp)
            .Bit(kShowProcId, core::str::kColumnProcId)
            .Bit(kShowMsgId, core::str::kColumnMsgId)
            .Bit(kShowBodyOnly, core::str::kMessageBodyOnly)
            .Struct<&EventListSettings::headerColSize>("HeaderColSize");
        return f;
    }();
    return t;
}

void EventListSettings::Clamp(int32_t dotsPerInch) {
    // A font outside what zoom can reach would be unreadable or fill the screen.
    if (fontHeight != 0) {
        const int32_t points = PointsOfHeight(fontHeight, dotsPerInch);
        if (points < kMinZoomPoints) fontHeight = HeightOfPoints(kMinZoomPoints, dotsPerInch);
        if (points > kMaxZoomPoints) fontHeight = HeightOfPoints(kMaxZoomPoints, dotsPerInch);
    }
    core::ApplyFieldRules(Fields(), *this);
    // All zero means "keep the widths the view has", so it stays as it is.
    for (uint32_t& w : colSize) w = std::min(w, kMaxColumnWidth);
    // A header column is only there when asked for: a width of 0 would
    // hide it all the same.
    for (size_t i = 0; i < headerColSize.size(); ++i)
        headerColSize[i] = headerColSize[i] == 0 ? EventListSettings{}.headerColSize[i]
                                                 : std::min(headerColSize[i], kMaxColumnWidth);
    for (uint32_t& p : sbarParts) p = std::min<uint32_t>(p, 100);
    // Parts that add up to nothing would leave the status bar without room.
    if (std::accumulate(sbarParts.begin(), sbarParts.end(), uint64_t{0}) == 0) sbarParts = EventListSettings{}.sbarParts;
}

uint32_t EventListSettings::ColumnWidth(int column) const {
    if (column >= 0 && column < int(kEventListColumns)) return colSize[size_t(column)];
    if (column >= kFirstHeaderColumn && column < kColumnCount) return headerColSize[size_t(column - kFirstHeaderColumn)];
    return 0;
}

void EventListSettings::SetColumnWidth(int column, uint32_t width) {
    width = std::min(width, kMaxColumnWidth);
    if (column >= 0 && column < int(kEventListColumns)) colSize[size_t(column)] = width;
    else if (column >= kFirstHeaderColumn && column < kColumnCount && width != 0)
        headerColSize[size_t(column - kFirstHeaderColumn)] = width;
}

std::string EventListKeyPrefix(uint64_t uid) { return "Wnd." + UidText(uid) + "-"; }

EventListSettings LoadEventListSettings(const core::SettingsSection& section, uint64_t uid, int32_t dotsPerInch) {
    EventListSettings s;
    if (section.IsCurrentForm()) {
        core::LoadRecord(section.File(), section.Name(), EventListKeyPrefix(uid), EventListSettings::Fields(), s);
    } else if (auto legacy = section.File().ReadStruct(section.Name(), "WND-" + UidText(uid), kEventListLegacySize)) {
        core::DecodeLegacyRecord(*legacy, EventListSettings::Fields(), s);
    }
    LoadRules(section, uid, s.rules);
    s.Clamp(dotsPerInch);
    return s;
}

void SaveEventListSettings(core::SettingsSection& section, uint64_t uid, const EventListSettings& settings) {
    core::SaveRecord(section.File(), section.Name(), EventListKeyPrefix(uid), EventListSettings::Fields(), settings);
    const std::string prefix = RulePrefix(uid);
    const size_t count = std::min(settings.rules.size(), core::kMaxRecords);
    core::WriteRecordCount(section.File(), section.Name(), prefix + "-Size", count);
    for (size_t i = 0; i < count; ++i)
        core::SaveRecord(section.File(), section.Name(), prefix + "." + std::to_string(i) + "-", RuleId::Fields(),
                         RuleId{settings.rules[i]});
}

}  // namespace qm::windows
