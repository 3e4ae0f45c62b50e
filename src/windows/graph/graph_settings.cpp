#include "windows/graph/graph_settings.h"

#include <algorithm>
#include <cstdio>

#include "core/record_table.h"
#include "core/string_ids.h"
#include "platform/profile_file.h"
#include "windows/zoom.h"

namespace qm::windows {

namespace {

// The vendor and each tag are records of their own, so the field machinery
// reads and writes them under either form's prefix (key names compare
// without regard to case, so "Vendor" also finds the older "vendor").
struct VendorRecord {
    std::string vendor;
    static const core::FieldTable<VendorRecord>& Fields() {
        static const core::FieldTable<VendorRecord> t = [] {
            core::FieldTable<VendorRecord> f;
            f.Text<&VendorRecord::vendor>("Vendor", kGraphTextCapacity);
            return f;
        }();
        return t;
    }
};

struct TagRecord {
    std::string name;
    uint32_t penColor = 0;
    static const core::FieldTable<TagRecord>& Fields() {
        static const core::FieldTable<TagRecord> t = [] {
            core::FieldTable<TagRecord> f;
            f.Text<&TagRecord::name>("Name", kGraphTextCapacity).Struct<&TagRecord::penColor>("PenColor");
            return f;
        }();
        return t;
    }
};

// The key names of one form.
struct KeyScheme {
    std::string record;     // the record's prefix (current) or its whole key (older)
    std::string chart;      // prefix of the vendor
    std::string tagCount;   // key of the number of tags
    std::string tagPrefix;  // before the tag's number
    std::string tagSuffix;  // after it, before the field name
};

std::string UidText(uint64_t uid) { return std::to_string(static_cast<int64_t>(uid)); }

KeyScheme CurrentKeys(uint64_t uid) {
    const std::string w = "Wnd." + UidText(uid);
    return {w + "-", w + ".Chart-", w + ".Chart.Tag-Size", w + ".Chart.Tag.", "-"};
}

KeyScheme OlderKeys(uint64_t uid) {
    const std::string w = "WND-" + UidText(uid);
    return {w, w + ".chart-", w + ".chart-tag.size", w + ".chart-tag.", "."};
}

size_t ReadTagCount(const core::SettingsSection& section, const std::string& key) {
    // A count in a file is data: never more than a table holds. The older
    // files may hold it as a plain number.
    if (section.File().ReadStruct(section.Name(), key, 4)) return core::ReadRecordCount(section.File(), section.Name(), key);
    return core::ReadLegacyCount(section.File(), section.Name(), key);
}

void LoadChart(const core::SettingsSection& section, const KeyScheme& keys, GraphSettings& s) {
    VendorRecord vendor;
    core::LoadRecord(section.File(), section.Name(), keys.chart, VendorRecord::Fields(), vendor);
    s.vendor = std::move(vendor.vendor);
    const size_t count = ReadTagCount(section, keys.tagCount);
    s.tags.clear();
    for (size_t i = 0; i < count; ++i) {
        const std::string prefix = keys.tagPrefix + std::to_string(i) + keys.tagSuffix;
        TagRecord tag;
        if (core::LoadRecord(section.File(), section.Name(), prefix, TagRecord::Fields(), tag) == 0) {
            core::ReportAbsentRecord(section.Name(), prefix, count);
            continue;
        }
        // A tag without a name can match no reading; it would only take a status part.
        if (tag.name.empty()) continue;
        s.tags.push_back(GraphTag{std::move(tag.name), tag.penColor});
    }
}

}  // namespace

const core::FieldTable<GraphSettings>& GraphSettings::Fields() {
    static const core::FieldTable<GraphSettings> t = [] {
        core::FieldTable<GraphSettings> f;
        const GraphSettings d;
        f.Struct<&GraphSettings::color>("Color", 0)
            .Label(core::str::kFieldColors)
            .Kind(core::FieldKind::Colour)
            .Names({{0, core::str::kGraphBackground, {}, 0},
                    {1, core::str::kGraphTextUnsupported, {}, 0},
                    {2, core::str::kGraphGrid, {}, 0},
                    {3, core::str::kGraphError, {}, 0}})
            .Struct<&GraphSettings::fontHeight>("FontHeight", 20)
            .Label(core::str::kFieldFontHeight)
            .Struct<&GraphSettings::param>("Param", 24)
            .Label(core::str::kFieldOptions)
            .Kind(core::FieldKind::Bits)
            .Struct<&GraphSettings::penSize>("PenSize", 28)
            .Label(core::str::kFieldPenSize)
            // Styles past dash-dot-dot (the platform's "none", "inside
            // frame", …) stay as stored and are drawn solid: an invisible
            // line helps nobody.
            .Struct<&GraphSettings::penStyle>("PenStyle", 32)
            .Label(core::str::kFieldPenStyle)
            .Choice(0, core::str::kPenSolid)
            .Choice(1, core::str::kPenDash)
            .Choice(2, core::str::kPenDot)
            .Choice(3, core::str::kPenDashDot)
            .Choice(4, core::str::kPenDashDotDot)
            .Struct<&GraphSettings::enableValueLimit>("EnableValueLimit", 36)
            .Label(core::str::kFieldEnableValueLimit)
            .Kind(core::FieldKind::Flag)
            .Struct<&GraphSettings::valueLimit>("ValueLimit", 40)
            .Label(core::str::kFieldValueLimit)
            // A refresh every 0 ms would refresh without rest.
            .Struct<&GraphSettings::refreshTimeout>("RefreshTimeout", 44)
            .Label(core::str::kFieldRefreshTimeout)
            .Range(1, UINT32_MAX)
            .Fallback(d.refreshTimeout)
            .Kind(core::FieldKind::Milliseconds)
            // The status bar takes at most half of itself for each end part
            // whatever the second value says; the first it does not read.
            .Struct<&GraphSettings::sbarParts>("SBarParts", 48)
            .Label(core::str::kFieldStatusParts)
            // 0 minutes would be a time window of no width: every x a division by zero.
            .Struct<&GraphSettings::timeRange>("TimeRange", 56)
            .Label(core::str::kFieldTimeRange)
            .Range(1, UINT32_MAX)
            .Fallback(d.timeRange)
            .Kind(core::FieldKind::Minutes)
            // Corrections that cross the edges over give an empty plot.
            .Struct<&GraphSettings::areaCorrect>("AreaCorrect", 60)
            .Label(core::str::kFieldAreaCorrect);
        return f;
    }();
    return t;
}

void GraphSettings::Clamp(int32_t dotsPerInch) {
    if (fontHeight != 0) {
        const int32_t points = PointsOfHeight(fontHeight, dotsPerInch);
        if (points < kMinZoomPoints) fontHeight = HeightOfPoints(kMinZoomPoints, dotsPerInch);
        if (points > kMaxZoomPoints) fontHeight = HeightOfPoints(kMaxZoomPoints, dotsPerInch);
    }
    core::ApplyFieldRules(Fields(), *this);
    if (tags.size() > core::kMaxRecords) tags.resize(core::kMaxRecords);
}

int GraphSettings::RefreshTimerMs() const {
    return static_cast<int>(std::clamp<uint32_t>(refreshTimeout, 1, kMaxRefreshTimerMs));
}

GraphSettings LoadGraphSettings(const core::SettingsSection& section, uint64_t uid, int32_t dotsPerInch) {
    GraphSettings s;
    const KeyScheme current = CurrentKeys(uid);
    // One section holds every graph, and a window saved in the current form
    // may sit beside others still in the older one.
    bool loaded = false;
    if (section.IsCurrentForm()) {
        GraphSettings probe;
        if (core::LoadRecord(section.File(), section.Name(), current.record, GraphSettings::Fields(), probe) > 0 ||
            section.File().Get(section.Name(), current.tagCount)) {
            s = std::move(probe);
            LoadChart(section, current, s);
            loaded = true;
        }
    }
    if (!loaded) {
        const KeyScheme older = OlderKeys(uid);
        if (const auto bytes = section.File().ReadStruct(section.Name(), older.record, kGraphLegacySize))
            core::DecodeLegacyRecord(*bytes, GraphSettings::Fields(), s);
        else if (section.File().Get(section.Name(), older.record))
            std::fprintf(stderr, "settings [%s] %s: record ignored (wrong length or checksum), defaults kept\n",
                         section.Name().c_str(), older.record.c_str());
        LoadChart(section, older, s);
    }
    s.Clamp(dotsPerInch);
    return s;
}

void SaveGraphSettings(core::SettingsSection& section, uint64_t uid, const GraphSettings& settings) {
    const KeyScheme keys = CurrentKeys(uid);
    core::SaveRecord(section.File(), section.Name(), keys.record, GraphSettings::Fields(), settings);
    core::SaveRecord(section.File(), section.Name(), keys.chart, VendorRecord::Fields(), VendorRecord{settings.vendor});
    const size_t count = std::min(settings.tags.size(), core::kMaxRecords);
    core::WriteRecordCount(section.File(), section.Name(), keys.tagCount, count);
    for (size_t i = 0; i < count; ++i)
        core::SaveRecord(section.File(), section.Name(), keys.tagPrefix + std::to_string(i) + keys.tagSuffix,
                         TagRecord::Fields(), TagRecord{settings.tags[i].name, settings.tags[i].penColor});
}

}  // namespace qm::windows
