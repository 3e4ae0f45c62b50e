#pragma once
// What a graph holds between two refreshes: per shown tag a series of points
// on a 0…120 height scale, newest first, with the highest, lowest and newest
// value marked, and the time window they are drawn in. Built from copies of
// the value collector's samples; no toolkit, no lock.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/value_collector.h"
#include "windows/graph/graph_settings.h"

namespace qm::windows {

// The height scale: values are spread over 6…114 of 0…120.
constexpr double kHeightScale = 120;
constexpr double kLowestHeight = 6;
constexpr double kHeightSpan = 108;
constexpr double kFlatHeight = 54;

struct ChartPoint {
    bool error = false;  // a gap, or a value past the value limit
    // On the 0…120 scale; kept as a real number so that a tall window draws
    // more than 120 levels. 0 for an error point.
    double height = 0;
    uint64_t time = 0;   // UTC seconds
    core::Reading value;  // what was read (None for a gap)
};

struct ChartSeries {
    std::string tag;
    uint32_t penColor = 0;
    std::vector<ChartPoint> points;  // newest first
    // Indices into points of the newest good point and of the newest points
    // with the highest and the lowest height.
    size_t newest = 0, highest = 0, lowest = 0;
    std::string newestLabel, highestLabel, lowestLabel;
};

struct TimeWindow {
    uint64_t start = 0;  // UTC seconds
    uint64_t end = 0;    // always past start
};

struct Chart {
    std::vector<ChartSeries> series;
    std::optional<TimeWindow> window;  // none: "NO DATA"
};

// One shown tag and what the collector gave for it.
struct TagRead {
    GraphTag tag;
    core::ValueRead read;
};

// What one refresh reads: the samples of each shown tag (copies, so the
// collector's lock is held only while copying) and the vendor's count.
struct GraphReading {
    std::vector<TagRead> shown;
    uint32_t vendorCount = 0;
};
// `shown` parallels settings.tags; a missing flag counts as shown.
GraphReading ReadShownTags(const core::ValueCollector& values, const GraphSettings& settings,
                           const std::vector<bool>& shown);

// The window ending at `now`, starting no earlier than 1970; TimeRange 0
// (kept out by the settings, but this must never divide by zero) counts as
// one minute.
TimeWindow WindowEnding(uint64_t now, uint32_t timeRangeMinutes);

// Whether a good reading is drawn as an error under the value limit: by
// magnitude for the signed kinds, by value for the unsigned ones.
bool PastValueLimit(const core::Reading& value, const GraphSettings& settings);

// The series of one tag within the window; nothing when no usable sample is
// in it. Samples older than the start are left out but the newest of them,
// which is drawn at the left edge so the line comes in from the past.
std::optional<ChartSeries> BuildSeries(const TagRead& tag, const TimeWindow& window, const GraphSettings& settings);

// The whole chart at a refresh: without a vendor or a tag, no window at all;
// otherwise the window and a series for each tag that has one.
Chart BuildChart(const GraphSettings& settings, const std::vector<TagRead>& shown, uint64_t now);

}  // namespace qm::windows
