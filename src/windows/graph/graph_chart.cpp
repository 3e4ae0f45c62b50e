#include "windows/graph/graph_chart.h"

#include <algorithm>

namespace qm::windows {

namespace {

// Every kind fits in 128 bits with its sign, so values of any kind compare
// and subtract without overflow (i64 and u64 extremes included).
__int128 Wide(const core::Reading& r) {
    return r.Signed() ? static_cast<__int128>(r.AsSigned()) : static_cast<__int128>(r.AsUnsigned());
}

}  // namespace

GraphReading ReadShownTags(const core::ValueCollector& values, const GraphSettings& settings,
                           const std::vector<bool>& shown) {
    GraphReading reading;
    if (settings.vendor.empty()) return reading;
    for (size_t i = 0; i < settings.tags.size(); ++i) {
        if (i < shown.size() && !shown[i]) continue;
        TagRead tag{settings.tags[i], values.Read(settings.vendor, settings.tags[i].name)};
        reading.vendorCount = std::max(reading.vendorCount, tag.read.vendorCount);
        reading.shown.push_back(std::move(tag));
    }
    // With every tag hidden the buffer still has a fill to show.
    if (reading.shown.empty()) reading.vendorCount = values.Read(settings.vendor, {}).vendorCount;
    return reading;
}

TimeWindow WindowEnding(uint64_t now, uint32_t timeRangeMinutes) {
    const uint64_t span = uint64_t{std::max<uint32_t>(timeRangeMinutes, 1)} * 60;
    // A range reaching back past 1970 starts there: the start must not wrap
    // round to the far future, nor the end move off now.
    const uint64_t start = now > span ? now - span : 0;
    return TimeWindow{start, std::max(now, start + 1)};
}

bool PastValueLimit(const core::Reading& value, const GraphSettings& settings) {
    if (!settings.enableValueLimit) return false;
    const __int128 v = Wide(value);
    // The magnitude of INT64_MIN does not fit in 64 bits; here it does.
    const __int128 measured = value.Signed() && v < 0 ? -v : v;
    return measured > static_cast<__int128>(settings.valueLimit);
}

std::optional<ChartSeries> BuildSeries(const TagRead& tag, const TimeWindow& window, const GraphSettings& settings) {
    ChartSeries s;
    s.tag = tag.tag.name;
    s.penColor = tag.tag.penColor;
    const std::vector<core::ValueSample>& samples = tag.read.samples;
    for (auto it = samples.rbegin(); it != samples.rend(); ++it) {
        ChartPoint p;
        p.time = it->time;
        p.value = it->value;
        p.error = it->gap || it->value.Kind() == core::ValueKind::None || PastValueLimit(it->value, settings);
        s.points.push_back(p);
        if (it->time < window.start) break;
    }

    std::optional<size_t> newest, highest, lowest;
    for (size_t i = 0; i < s.points.size(); ++i) {
        if (s.points[i].error) continue;
        const __int128 v = Wide(s.points[i].value);
        if (!newest) newest = i;
        // Newest first: ties keep the newer point.
        if (!highest || v > Wide(s.points[*highest].value)) highest = i;
        if (!lowest || v < Wide(s.points[*lowest].value)) lowest = i;
    }
    if (!newest) return std::nullopt;

    const __int128 low = Wide(s.points[*lowest].value);
    const __int128 high = Wide(s.points[*highest].value);
    const unsigned __int128 range = static_cast<unsigned __int128>(high - low);
    for (ChartPoint& p : s.points) {
        if (p.error) continue;
        if (range == 0) {
            p.height = kFlatHeight;
            continue;
        }
        // (v - lowest) * 108 / (highest - lowest) + 6, the product in 128 bits.
        const unsigned __int128 offset = static_cast<unsigned __int128>(Wide(p.value) - low);
        const unsigned __int128 scaled = offset * 108;
        const unsigned __int128 whole = scaled / range;
        const unsigned __int128 rest = scaled % range;
        p.height = kLowestHeight + static_cast<double>(whole) + static_cast<double>(rest) / static_cast<double>(range);
    }
    s.newest = *newest;
    s.highest = *highest;
    s.lowest = *lowest;
    s.newestLabel = s.points[s.newest].value.Text();
    s.highestLabel = s.points[s.highest].value.Text();
    s.lowestLabel = s.points[s.lowest].value.Text();
    return s;
}

Chart BuildChart(const GraphSettings& settings, const std::vector<TagRead>& shown, uint64_t now) {
    Chart chart;
    if (settings.vendor.empty() || settings.tags.empty()) return chart;
    chart.window = WindowEnding(now, settings.timeRange);
    for (const TagRead& tag : shown)
        if (auto series = BuildSeries(tag, *chart.window, settings)) chart.series.push_back(std::move(*series));
    return chart;
}

}  // namespace qm::windows
