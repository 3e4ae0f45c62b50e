// The graph window without widgets: its settings in both stored forms, the
// chart's heights and time window, the layout of lines, gaps, labels and
// ticks, the hover text and the status bar.
#include "windows/graph/graph_layout.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>

#include "core/core_context.h"
#include "core/string_table.h"
#include "platform/profile_file.h"
#include "processing/processing_test_support.h"
#include "windows/graph/graph_settings.h"
#include "windows/graph/graph_status.h"

namespace qm::windows {
namespace {

using core::Reading;
using processing::test::Put;

// 2026-12-07 10:02:00 UTC.
constexpr uint64_t kNow = 1796637720;

SizeF Measure(const std::string& text) { return SizeF{7.0 * static_cast<double>(text.size()), 12}; }

core::ValueSample Good(uint64_t time, core::Reading value) { return core::ValueSample{time, false, nullptr, value}; }
core::ValueSample Gap(uint64_t time) { return core::ValueSample{time, true, nullptr, core::Reading{}}; }

TagRead Tag(std::vector<core::ValueSample> samples) {
    return TagRead{GraphTag{"msec (mod_icmp)", 0x0000FF}, core::ValueRead{std::move(samples), 0, true}};
}

GraphSettings Settings() {
    GraphSettings s;
    s.vendor = "10.0.0.1";
    s.tags = {GraphTag{"msec (mod_icmp)", 0x0000FF}};
    return s;
}

std::vector<double> Heights(const ChartSeries& s) {
    std::vector<double> h;
    for (const ChartPoint& p : s.points) h.push_back(p.error ? -1 : p.height);
    return h;
}

// Tick labels and hover texts are local time: UTC here.
class GraphInUtc : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) saved_ = tz;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        saved_ ? setenv("TZ", saved_->c_str(), 1) : unsetenv("TZ");
        tzset();
    }
    std::optional<std::string> saved_;
};

TEST(GraphSettings, BothFormsLoadAndOnlyUnusableValuesAreReplaced) {
    // The current form round-trips, beside a window saved with defaults.
    GraphSettings s;
    s.color = {{0x202020, 0xFFFFFF, 0x505050, 0x0000FF, 0}};
    s.penSize = 2, s.penStyle = 1, s.enableValueLimit = 1, s.valueLimit = 1000, s.refreshTimeout = 10000;
    s.timeRange = 60;
    s.areaCorrect = {{30, 10, -20, -40}};
    s.vendor = "127.0.0.1";
    s.tags = {GraphTag{"_memory (Core)", 0x00FF00}, GraphTag{"_threads (Core)", 0xFF8000}};
    core::SettingsSection saving({}, kGraphSection, {});
    saving.File().WriteString(kGraphSection, "Version", "2");
    SaveGraphSettings(saving, 812345, s);
    SaveGraphSettings(saving, 812346, GraphSettings{});
    EXPECT_EQ(saving.File().Get(kGraphSection, "Wnd.812345.Chart-Vendor"), "127.0.0.1");
    EXPECT_EQ(saving.File().Get(kGraphSection, "Wnd.812345.Chart.Tag.1-Name"), "_threads (Core)");
    EXPECT_TRUE(saving.File().Get(kGraphSection, "Wnd.812345.Chart.Tag.1-PenColor"));
    EXPECT_TRUE(saving.File().Get(kGraphSection, "Wnd.812345.Chart.Tag-Size"));
    const core::SettingsSection loading({}, kGraphSection, saving.File());
    EXPECT_EQ(LoadGraphSettings(loading, 812345, 96), s);
    EXPECT_EQ(LoadGraphSettings(loading, 812346, 96), GraphSettings{});

    // The older form: the record whole, the chart under lower-case keys.
    std::vector<uint8_t> record(kGraphLegacySize, 0);
    Put(record, 0, uint32_t(0x112233)), Put(record, 12, uint32_t(0x0000FF)), Put(record, 20, int32_t(-16));
    Put(record, 24, uint8_t(0x55)), Put(record, 28, uint32_t(3)), Put(record, 32, uint32_t(2));
    Put(record, 36, uint8_t(1)), Put(record, 40, uint32_t(77));
    Put(record, 44, uint32_t(0));                                 // refresh 0: a busy loop
    Put(record, 48, uint32_t(60)), Put(record, 52, uint32_t(80));  // past the bar: the bar copes
    Put(record, 56, uint32_t(0));                                 // TimeRange 0: no window width
    Put(record, 60, int32_t(5)), Put(record, 72, int32_t(-1000000));
    core::SettingsSection older({}, kGraphSection, {});
    platform::ProfileFile& f = older.File();
    f.WriteStruct(kGraphSection, "WND-812345", record);
    f.WriteString(kGraphSection, "WND-812345.chart-vendor", "10.0.0.9");
    f.WriteStruct(kGraphSection, "WND-812345.chart-tag.size", std::vector<uint8_t>{2, 0, 0, 0});
    f.WriteString(kGraphSection, "WND-812345.chart-tag.0.name", "msec (mod_icmp)");
    f.WriteStruct(kGraphSection, "WND-812345.chart-tag.0.pencolor", std::vector<uint8_t>{0xFF, 0, 0, 0});
    f.WriteString(kGraphSection, "WND-812345.chart-tag.1.name", std::string(300, 'x'));
    ::testing::internal::CaptureStderr();
    const GraphSettings got = LoadGraphSettings(older, 812345, 96);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::tie(got.color[kGraphBackground], got.color[kGraphError], got.fontHeight, got.param, got.vendor),
              std::tuple(0x112233u, 0x0000FFu, -16, 0x55, "10.0.0.9"));
    EXPECT_EQ(std::tie(got.penSize, got.penStyle, got.valueLimit), std::tuple(3u, 2u, 77u));
    EXPECT_EQ(std::tie(got.refreshTimeout, got.sbarParts[1], got.timeRange), std::tuple(30000u, 80u, 60u));
    EXPECT_EQ(std::tie(got.areaCorrect[0], got.areaCorrect[3]), std::tuple(5, -1000000));
    for (const char* line : {"RefreshTimeout: \"0\" cannot be used, \"30000\" used instead",
                             "TimeRange: \"0\" cannot be used, \"60\" used instead"})
        EXPECT_NE(said.find(line), std::string::npos) << said;
    ASSERT_EQ(got.tags.size(), 2u);
    EXPECT_EQ(got.tags[0], (GraphTag{"msec (mod_icmp)", 0xFF}));
    EXPECT_EQ(got.tags[1].name.size(), kGraphTextCapacity - 1);  // text fields hold 127 units

    // Every value the window can draw with is kept as the file has it: a
    // refresh under a second, a range of two weeks, wide and unusual pens.
    core::SettingsSection current({}, kGraphSection, {});
    current.File().WriteString(kGraphSection, "Version", "2");
    const auto put = [&](const char* field, uint32_t v) {
        current.File().WriteStruct(kGraphSection, std::string("Wnd.7-") + field,
                                   std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    };
    put("RefreshTimeout", 500), put("TimeRange", 20160), put("PenSize", 100), put("PenStyle", 6);
    ::testing::internal::CaptureStderr();
    const GraphSettings kept = LoadGraphSettings(current, 7, 96);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(std::tie(kept.refreshTimeout, kept.timeRange, kept.penSize, kept.penStyle),
              std::tuple(500u, 20160u, 100u, 6u));
    EXPECT_EQ(kept.RefreshTimerMs(), 500);
    GraphSettings slow;
    slow.refreshTimeout = UINT32_MAX;
    EXPECT_EQ(slow.RefreshTimerMs(), INT32_MAX);
}

TEST(GraphChart, HeightsSpreadOverTheScaleInEveryKindWithoutOverflow) {
    const TimeWindow w = WindowEnding(kNow, 60);
    const GraphSettings s = Settings();
    const struct {
        std::vector<core::ValueSample> samples;
        std::vector<double> heights;  // newest first
    } cases[] = {
        {{Good(kNow - 20, core::Reading::I32(10)), Good(kNow - 10, core::Reading::I32(20))}, {114, 6}},
        {{Good(kNow - 20, core::Reading::U32(7)), Good(kNow - 10, core::Reading::U32(7))}, {54, 54}},
        // The extremes of the wide kinds: the difference alone needs 65 bits.
        {{Good(kNow - 30, core::Reading::I64(INT64_MIN)), Good(kNow - 20, core::Reading::I64(0)),
          Good(kNow - 10, core::Reading::I64(INT64_MAX))},
         {114, 60, 6}},
        {{Good(kNow - 20, core::Reading::U64(UINT64_MAX)), Good(kNow - 10, core::Reading::U64(0))}, {6, 114}},
    };
    for (const auto& c : cases) EXPECT_EQ(Heights(*BuildSeries(Tag(c.samples), w, s)), c.heights);
    // The value limit: by magnitude for signed kinds (INT64_MIN's magnitude
    // has no i64), by value for unsigned; an excluded sample sets no extreme.
    GraphSettings limited = s;
    limited.enableValueLimit = 1;
    limited.valueLimit = 1000;
    const auto series = BuildSeries(Tag({Good(kNow - 40, core::Reading::I32(-1500)), Good(kNow - 30, core::Reading::I64(INT64_MIN)),
                                         Good(kNow - 20, core::Reading::I32(-900)), Good(kNow - 10, core::Reading::I32(100))}),
                                    w, limited);
    EXPECT_EQ(Heights(*series), (std::vector<double>{114, 6, -1, -1}));
    EXPECT_EQ(series->lowestLabel, "-900");
    EXPECT_EQ(series->highestLabel, "100");
    EXPECT_TRUE(PastValueLimit(core::Reading::U64(UINT64_MAX), limited));
    EXPECT_FALSE(PastValueLimit(core::Reading::U32(1000), limited));
    EXPECT_FALSE(PastValueLimit(core::Reading::I32(-1000), limited));
    // Nothing usable: no series.
    EXPECT_FALSE(BuildSeries(Tag({Gap(kNow - 10)}), w, s));
}

TEST(GraphChart, TimeWindowAndPositionsNeverDivideByZero) {
    const BoxF plot{20, 10, 620, 130};
    const TimeWindow hour = WindowEnding(kNow, 60);
    EXPECT_EQ(hour.end - hour.start, 3600u);
    EXPECT_DOUBLE_EQ(TimeX(kNow, hour, plot), 620);
    EXPECT_DOUBLE_EQ(TimeX(kNow - 1800, hour, plot), 320);
    EXPECT_DOUBLE_EQ(TimeX(kNow - 9999, hour, plot), 20);
    EXPECT_DOUBLE_EQ(HeightY(60, plot), 70);

    // TimeRange 0 from a file: the default hour, and the window itself
    // keeps a width whatever it is given.
    GraphSettings zero = Settings();
    zero.timeRange = 0;
    zero.Clamp(96);
    EXPECT_EQ(zero.timeRange, 60u);
    const TimeWindow minute = WindowEnding(kNow, 0);
    EXPECT_EQ(minute.end - minute.start, 60u);
    EXPECT_DOUBLE_EQ(TimeX(kNow - 30, minute, plot), 320);
    EXPECT_DOUBLE_EQ(TimeX(5, TimeWindow{7, 7}, plot), 20);

    // A range reaching back past 1970 ends now all the same, and its ticks
    // (every five minutes over thousands of years) are never closer than a
    // pixel.
    GraphSettings ages = Settings();
    ages.timeRange = UINT32_MAX;
    const Chart chart = BuildChart(ages, {Tag({Good(kNow - 60, core::Reading::I32(1))})}, kNow);
    ASSERT_TRUE(chart.window);
    EXPECT_EQ(std::tie(chart.window->start, chart.window->end), std::tuple(0u, kNow));
    const GraphPicture p = LayOutGraph(chart, ages, 640, 160, Measure, Measure);
    ASSERT_GE(p.ticks.size(), 2u);
    EXPECT_LE(p.ticks.size(), 602u);
    EXPECT_DOUBLE_EQ(p.ticks.front().x, 620);
    EXPECT_DOUBLE_EQ(p.ticks.back().x, 20);
    EXPECT_NEAR(p.series.at(0).markers.at(0).at.x, 620, 1);
}

TEST(GraphLayout, GapsBreakTheLineWithAnErrorBarAndANewestGapReachesTheRightEdge) {
    GraphSettings s = Settings();
    const Chart chart = BuildChart(s, {Tag({Good(kNow - 1800, core::Reading::I32(1)), Good(kNow - 1200, core::Reading::I32(2)),
                                            Gap(kNow - 900), Good(kNow - 600, core::Reading::I32(3)),
                                            Good(kNow - 300, core::Reading::I32(4)), Gap(kNow - 60)})},
                                   kNow);
    const GraphPicture p = LayOutGraph(chart, s, 640, 160, Measure, Measure);
    ASSERT_EQ(p.series.size(), 1u);
    const SeriesPicture& line = p.series[0];
    EXPECT_EQ(p.plot, (BoxF{20, 10, 620, 140}));
    ASSERT_EQ(line.lines.size(), 2u);
    // Oldest to newest in x: the run after the gap, then the one before it.
    ASSERT_EQ(line.lines[0].size(), 2u);
    EXPECT_DOUBLE_EQ(line.lines[0][0].at.x, 520);
    EXPECT_DOUBLE_EQ(line.lines[0][1].at.x, 570);
    EXPECT_DOUBLE_EQ(line.lines[0][1].at.y, 140 - 114 * 130 / 120.0);
    ASSERT_EQ(line.lines[1].size(), 2u);
    EXPECT_DOUBLE_EQ(line.lines[1][0].at.x, 320);
    EXPECT_DOUBLE_EQ(line.lines[1][1].at.x, 420);
    ASSERT_EQ(line.errorBars.size(), 2u);
    EXPECT_EQ(line.errorBars[0], (BoxF{610, 130, 620, 140}));  // newest: up to now
    EXPECT_EQ(line.errorBars[1], (BoxF{470, 130, 520, 140}));  // from the gap to the newer point
}

TEST(GraphLayout, LabelsGoClockwiseFromAboveAndStayInsideThePlot) {
    const BoxF plot{0, 0, 400, 200};
    ChartMarker m{ChartMarker::Shape::Circle, PointF{200, 100}, "42", {}, LabelPlace::Above};
    EXPECT_EQ(PlaceLabel(m, SizeF{14, 12}, LabelPlace::Above, plot, {}).labelBox, (BoxF{193, 78, 207, 90}));
    // At the top edge nothing above fits, nor right (it pokes out by a
    // pixel): below-right does.
    m.at = PointF{200, 5};
    const ChartMarker top = PlaceLabel(m, SizeF{14, 12}, LabelPlace::Above, plot, {});
    EXPECT_EQ(top.place, LabelPlace::BelowRight);
    EXPECT_TRUE(plot.Contains(top.labelBox));
    // In the top right corner the first that fits clockwise is below-left.
    m.at = PointF{395, 5};
    EXPECT_EQ(PlaceLabel(m, SizeF{14, 12}, LabelPlace::Above, plot, {}).place, LabelPlace::BelowLeft);
    // A place taken is passed over, and so is one touching it (above-right
    // would sit 3 pixels from it); nowhere inside at all: centred above.
    m.at = PointF{200, 100};
    EXPECT_EQ(PlaceLabel(m, SizeF{14, 12}, LabelPlace::Above, plot, {BoxF{193, 78, 207, 90}}).place,
              LabelPlace::Right);
    EXPECT_EQ(PlaceLabel(m, SizeF{500, 12}, LabelPlace::Above, plot, {}).place, LabelPlace::CentredAbove);

    // A series: the newest (a circle), then the highest and lowest squares,
    // every label inside the plot and none over another.
    GraphSettings s = Settings();
    const Chart chart = BuildChart(s, {Tag({Good(kNow - 1800, core::Reading::I32(50)), Good(kNow - 1200, core::Reading::I32(10)),
                                            Good(kNow - 600, core::Reading::I32(90)), Good(kNow - 5, core::Reading::I32(30))})},
                                   kNow);
    const GraphPicture p = LayOutGraph(chart, s, 640, 300, Measure, Measure);
    const std::vector<ChartMarker>& markers = p.series.at(0).markers;
    ASSERT_EQ(markers.size(), 3u);
    EXPECT_EQ(markers[0].shape, ChartMarker::Shape::Circle);
    EXPECT_EQ(markers[0].label, "30");
    EXPECT_EQ(markers[1].label, "90");
    EXPECT_EQ(markers[2].label, "10");
    for (size_t i = 0; i < markers.size(); ++i) {
        EXPECT_TRUE(p.plot.Contains(markers[i].labelBox)) << i;
        for (size_t j = 0; j < i; ++j) EXPECT_FALSE(markers[i].labelBox.Overlaps(markers[j].labelBox)) << i << j;
    }

    // A rising line: its newest point is its highest and carries the
    // circle and the square, each with its label; a falling one the same
    // at its lowest. A flat line's one extreme gets one square.
    for (const bool rising : {true, false}) {
        const Chart line = BuildChart(s, {Tag({Good(kNow - 1200, core::Reading::I32(rising ? 10 : 90)),
                                               Good(kNow - 600, core::Reading::I32(50)),
                                               Good(kNow - 5, core::Reading::I32(rising ? 90 : 10))})},
                                      kNow);
        const std::vector<ChartMarker> drawn = LayOutGraph(line, s, 640, 300, Measure, Measure).series.at(0).markers;
        ASSERT_EQ(drawn.size(), 3u) << rising;
        const ChartMarker& atNewest = rising ? drawn[1] : drawn[2];
        EXPECT_EQ(std::tie(atNewest.shape, atNewest.at, atNewest.label),
                  std::tuple(ChartMarker::Shape::Square, drawn[0].at, drawn[0].label));
        EXPECT_FALSE(atNewest.labelBox.Overlaps(drawn[0].labelBox));
        EXPECT_EQ((rising ? drawn[2] : drawn[1]).label, rising ? "10" : "90");
    }
    const Chart flat = BuildChart(s, {Tag({Good(kNow - 600, core::Reading::I32(7)), Good(kNow - 5, core::Reading::I32(7))})}, kNow);
    const std::vector<ChartMarker> flatMarkers = LayOutGraph(flat, s, 640, 300, Measure, Measure).series.at(0).markers;
    ASSERT_EQ(flatMarkers.size(), 2u);
    EXPECT_EQ(std::tie(flatMarkers[0].shape, flatMarkers[1].shape),
              std::tuple(ChartMarker::Shape::Circle, ChartMarker::Shape::Square));
}

TEST_F(GraphInUtc, TicksEveryFiveMinutesBackFromNowInLocalTimeAndNoDataWithoutAWindow) {
    GraphSettings s = Settings();
    const Chart chart = BuildChart(s, {}, kNow);
    ASSERT_TRUE(chart.window);
    EXPECT_TRUE(chart.series.empty());
    const GraphPicture p = LayOutGraph(chart, s, 640, 160, Measure, Measure);
    EXPECT_FALSE(p.noData);
    ASSERT_EQ(p.ticks.size(), 13u);
    EXPECT_EQ(p.ticks[0].label, "10:02");
    EXPECT_DOUBLE_EQ(p.ticks[0].x, 620);
    EXPECT_EQ(p.ticks[1].label, "09:57");
    EXPECT_DOUBLE_EQ(p.ticks[1].x, 570);
    EXPECT_EQ(p.ticks[11].label, "09:07");
    EXPECT_EQ(p.ticks[12].label, "09:02");  // the left edge
    EXPECT_DOUBLE_EQ(p.ticks[12].x, 20);
    EXPECT_EQ(p.ticks[0].labelBox, (BoxF{602.5, 150, 637.5, 162}));
    for (const AxisTick& t : p.ticks) EXPECT_FALSE(t.label.empty());

    // Narrower, the ticks stay every five minutes and the labels go every 5,
    // 10, 15, 30 or 60 minutes, as many as clear each other on one line; the
    // left edge keeps its label and a neighbour it would touch gives way.
    const auto labelled = [&](double width, uint32_t minutes = 60) {
        s.timeRange = minutes;
        const GraphPicture narrow = LayOutGraph(BuildChart(s, {}, kNow), s, width, 160, Measure, Measure);
        std::vector<size_t> at;
        const AxisTick* left = nullptr;
        for (size_t i = 0; i < narrow.ticks.size(); ++i) {
            if (narrow.ticks[i].label.empty()) continue;
            if (left) {
                EXPECT_LE(narrow.ticks[i].labelBox.right + 4, left->labelBox.left) << width << ", tick " << i;
            }
            left = &narrow.ticks[i];
            at.push_back(i);
        }
        EXPECT_EQ(narrow.ticks.size(), (minutes + 4) / 5 + 1) << width;
        return at;
    };
    EXPECT_EQ(labelled(480), (std::vector<size_t>{0, 2, 4, 6, 8, 10, 12}));
    EXPECT_EQ(labelled(240), (std::vector<size_t>{0, 3, 6, 9, 12}));
    EXPECT_EQ(labelled(120), (std::vector<size_t>{0, 6, 12}));
    EXPECT_EQ(labelled(100), (std::vector<size_t>{0, 12}));
    EXPECT_EQ(labelled(520, 57), (std::vector<size_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12})) << "tick 11 gives way";

    // Without a tag there is no time window: the grid and "NO DATA".
    s.tags.clear();
    const GraphPicture none = LayOutGraph(BuildChart(s, {}, kNow), s, 640, 160, Measure, Measure);
    EXPECT_TRUE(none.noData);
    EXPECT_TRUE(none.ticks.empty());
    EXPECT_EQ(none.gridX.front(), 620);
    EXPECT_EQ(none.gridX.size(), 31u);
    EXPECT_EQ(none.gridY.front(), 140);
    EXPECT_EQ(none.gridY.size(), 7u);
    EXPECT_EQ(none.noDataBox, (BoxF{295.5, 69, 344.5, 81}));
}

TEST_F(GraphInUtc, HoverNamesTheNearestSampleOfALine) {
    GraphSettings s = Settings();
    const Chart chart = BuildChart(s, {Tag({Good(kNow - 1800, core::Reading::I32(10)), Good(kNow - 600, core::Reading::I32(20))})},
                                   kNow);
    const GraphPicture p = LayOutGraph(chart, s, 640, 160, Measure, Measure);
    // The line runs from (320, 133.5) to (520, 16.5); a point near its newer end.
    const auto near = SampleNear(chart, p, PointF{515, 22});
    ASSERT_TRUE(near);
    EXPECT_EQ(near->text, "msec (mod_icmp)\n07.12 09:52:00\n20");
    EXPECT_FALSE(SampleNear(chart, p, PointF{320, 16}));
}

TEST(GraphStatus, VendorFillTagRequestCountdownAndWidthsThatFit) {
    core::CoreContext core;
    core.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
    GraphSettings s = Settings();
    s.vendor = "127.0.0.1";
    EXPECT_EQ(VendorStatusText(core, s, 2500, 5000), "127.0.0.1 (Буфер значений: 50%)");
    // The collector switched off: nothing held, 0 %.
    EXPECT_EQ(VendorStatusText(core, s, 0, 0), "127.0.0.1 (Буфер значений: 0%)");
    EXPECT_EQ(BufferFillPercent(4999, 100), 100u);
    EXPECT_EQ(CountdownText(core, 7), "Обновление через 7 сек.");
    EXPECT_EQ(CountdownText(core, 0), "Обновление...");

    s.sbarParts = {75, 25};
    s.tags.push_back(GraphTag{"_threads (Core)", 0x00FF00});
    std::vector<GraphStatusPart> parts = GraphStatusParts(core, s, 10, 5000, 3, 801);
    ASSERT_EQ(parts.size(), 4u);
    EXPECT_EQ(parts[1].text, "msec (mod_icmp)");
    EXPECT_EQ(parts[2].penColor, 0x00FF00u);
    EXPECT_EQ(parts[0].width, 200);
    EXPECT_EQ(parts[1].width + parts[2].width, 401);
    EXPECT_EQ(parts[3].width, 200);
    // Parts that add up past the bar (a raw 90 % twice) still fit in it.
    int64_t sum = 0;
    for (int32_t w : GraphStatusWidths(90, 3, 500)) {
        EXPECT_GE(w, 0);
        sum += w;
    }
    EXPECT_EQ(sum, 500);

    s.tags.clear();
    parts = GraphStatusParts(core, s, 10, 5000, 3, 800);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].text, "Необходимо выбрать хотя бы один тэг");
    EXPECT_TRUE(IsDark(0x00FF9FFF));
    EXPECT_FALSE(IsDark(0x0000A000));
}

}  // namespace
}  // namespace qm::windows
