#include "windows/graph/graph_layout.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/text_format.h"
#include "platform/clock.h"

namespace qm::windows {

namespace {

constexpr const char* kNoDataText = "NO DATA";
constexpr size_t kPlaces = 8;
constexpr double kLabelSpacing = 4;

// Clockwise from above; the index of a place is its step round the compass.
constexpr LabelPlace kClockwise[kPlaces] = {LabelPlace::Above,     LabelPlace::AboveRight, LabelPlace::Right,
                                            LabelPlace::BelowRight, LabelPlace::Below,     LabelPlace::BelowLeft,
                                            LabelPlace::Left,      LabelPlace::AboveLeft};

size_t StepOf(LabelPlace place) {
    for (size_t i = 0; i < kPlaces; ++i)
        if (kClockwise[i] == place) return i;
    return 0;
}

BoxF LabelBox(LabelPlace place, PointF at, SizeF e) {
    const double left = at.x - e.width - kLabelDistance, centre = at.x - e.width / 2, right = at.x + kLabelDistance;
    const double above = at.y - e.height - kLabelDistance, middle = at.y - e.height / 2, below = at.y + kLabelDistance;
    double x = centre, y = above;
    switch (place) {
        case LabelPlace::Above: x = centre, y = above; break;
        case LabelPlace::AboveRight: x = right, y = above; break;
        case LabelPlace::Right: x = right, y = middle; break;
        case LabelPlace::BelowRight: x = right, y = below; break;
        case LabelPlace::Below: x = centre, y = below; break;
        case LabelPlace::BelowLeft: x = left, y = below; break;
        case LabelPlace::Left: x = left, y = middle; break;
        case LabelPlace::AboveLeft: x = left, y = above; break;
        case LabelPlace::CentredAbove: x = centre, y = above; break;
    }
    return BoxF{x, y, x + e.width, y + e.height};
}

BoxF CentredIn(const BoxF& area, SizeF e) {
    const double x = area.left + (area.Width() - e.width) / 2, y = area.top + (area.Height() - e.height) / 2;
    return BoxF{x, y, x + e.width, y + e.height};
}

// The plot is the client area moved in by AreaCorrect; corrections that
// cross the edges over give an empty plot, never an inverted one.
BoxF PlotOf(const GraphSettings& settings, double width, double height) {
    BoxF p{settings.areaCorrect[0] + 0.0, settings.areaCorrect[1] + 0.0, width + settings.areaCorrect[2],
           height + settings.areaCorrect[3]};
    p.right = std::max(p.right, p.left);
    p.bottom = std::max(p.bottom, p.top);
    return p;
}

void LayOutGrid(GraphPicture& picture, const TextMeasure& axisFont) {
    const BoxF& p = picture.plot;
    for (double x = p.right; x >= p.left; x -= kGridStep) picture.gridX.push_back(x);
    for (double y = p.bottom; y >= p.top; y -= kGridStep) picture.gridY.push_back(y);
    picture.noDataBox = CentredIn(p, axisFont(kNoDataText));
}

AxisTick MakeTick(uint64_t t, const TimeWindow& window, const BoxF& plot, const TextMeasure& axisFont) {
    AxisTick tick;
    tick.time = t;
    tick.x = TimeX(t, window, plot);
    tick.label = TickLabel(t);
    const SizeF e = axisFont(tick.label);
    const double top = plot.bottom + kTickLabelGap;
    tick.labelBox = BoxF{tick.x - e.width / 2, top, tick.x + e.width / 2, top + e.height};
    return tick;
}

// How many ticks apart labels go so that labels `needed` pixels wide clear
// each other at `spacing` pixels between ticks: steps a reader counts in
// (5, 10, 15, 30 minutes, an hour, ...), never fewer ticks than that.
size_t LabelEvery(double needed, double spacing) {
    size_t every = 1;
    for (const size_t next : {2, 3, 6, 12}) {
        if (double(every) * spacing >= needed) return every;
        every = next;
    }
    while (double(every) * spacing < needed && every < (size_t{1} << 40)) every *= 2;
    return every;
}

void LayOutTicks(GraphPicture& picture, const TimeWindow& window, const TextMeasure& axisFont) {
    // Every five minutes, but never two ticks within a pixel: closer ones
    // draw the same band of ink, and a range of years would otherwise ask
    // for millions of them.
    const uint64_t span = window.end - window.start;
    const double pixels = std::max(std::floor(picture.plot.Width()), 1.0);
    const uint64_t perPixel = static_cast<uint64_t>(std::ceil(static_cast<double>(span / kTickSeconds) / pixels));
    const uint64_t step = kTickSeconds * std::max<uint64_t>(perPixel, 1);
    for (uint64_t back = 0; back < span; back += step)
        picture.ticks.push_back(MakeTick(window.end - back, window, picture.plot, axisFont));
    picture.ticks.push_back(MakeTick(window.start, window, picture.plot, axisFont));
    // Labels wider than the ticks are apart would run into each other: only
    // every so many ticks, counted from now, keeps its label.
    double widest = 0;
    for (const AxisTick& tick : picture.ticks) widest = std::max(widest, tick.labelBox.Width());
    const double spacing = span == 0 ? 0 : static_cast<double>(step) * picture.plot.Width() / static_cast<double>(span);
    const size_t every = LabelEvery(widest + kLabelSpacing, spacing);
    const size_t edge = picture.ticks.size() - 1;
    const auto unlabel = [&](size_t i) {
        picture.ticks[i].label.clear();
        picture.ticks[i].labelBox = BoxF{};
    };
    for (size_t i = 1; i < edge; ++i)
        if (i % every != 0) unlabel(i);
    // The left edge keeps its label; the nearest label that it would touch
    // gives way, unless that is the label of now.
    for (size_t i = edge; i-- > 0;) {
        if (picture.ticks[i].label.empty()) continue;
        BoxF wide = picture.ticks[edge].labelBox;
        wide.right += kLabelSpacing;
        if (wide.Overlaps(picture.ticks[i].labelBox)) unlabel(i == 0 ? edge : i);
        break;
    }
}

// `taken` holds the labels of the series laid out before, so that one
// series' labels keep clear of another's where there is room.
SeriesPicture LayOutSeries(const ChartSeries& series, const TimeWindow& window, const BoxF& plot,
                           const TextMeasure& labelFont, std::vector<BoxF>& taken) {
    SeriesPicture out;
    std::vector<DrawnPoint> run;  // newest first while walking
    const auto endRun = [&] {
        if (run.empty()) return;
        std::reverse(run.begin(), run.end());
        out.lines.push_back(std::move(run));
        run.clear();
    };
    std::optional<double> previousX;
    std::vector<PointF> at(series.points.size());
    for (size_t i = 0; i < series.points.size(); ++i) {
        const ChartPoint& p = series.points[i];
        const bool beforeStart = p.time < window.start;
        const double x = beforeStart ? plot.left : TimeX(p.time, window, plot);
        at[i] = PointF{x, p.error ? plot.bottom : HeightY(p.height, plot)};
        if (p.error) {
            endRun();
            // The newest point failed: nothing newer exists, so as far as
            // the graph knows the failure lasts until now, the right edge.
            const double newer = previousX.value_or(plot.right);
            BoxF bar{std::min(x, newer), plot.bottom - kErrorBarHeight, std::max(x, newer), plot.bottom};
            // A failure in the same second as its neighbour still shows.
            if (bar.Width() < 1) bar.left = std::max(plot.left, bar.right - 1);
            out.errorBars.push_back(bar);
        } else {
            run.push_back(DrawnPoint{at[i], i});
        }
        previousX = x;
        if (beforeStart) break;
    }
    endRun();

    // The newest value, then the highest and lowest, also where one of them
    // is the newest point (a rising line's newest is its highest): their
    // labels start round the compass from where the newest's went (the
    // highest one step on, the lowest opposite it), so the three spread out
    // instead of all trying the same side first. A flat line's highest and
    // lowest are one point and get one square.
    ChartMarker newest{ChartMarker::Shape::Circle, at[series.newest], series.newestLabel, {}, LabelPlace::Above};
    newest = PlaceLabel(newest, labelFont(newest.label), LabelPlace::Above, plot, taken);
    taken.push_back(newest.labelBox);
    out.markers.push_back(newest);
    const size_t step = newest.place == LabelPlace::CentredAbove ? 0 : StepOf(newest.place);
    const auto square = [&](size_t point, const std::string& label, size_t offset) {
        for (const ChartMarker& m : out.markers)
            if (m.shape == ChartMarker::Shape::Square && m.at == at[point] && m.label == label) return;
        ChartMarker marker{ChartMarker::Shape::Square, at[point], label, {}, LabelPlace::Above};
        marker = PlaceLabel(marker, labelFont(label), kClockwise[(step + offset) % kPlaces], plot, taken);
        taken.push_back(marker.labelBox);
        out.markers.push_back(marker);
    };
    square(series.highest, series.highestLabel, 1);
    square(series.lowest, series.lowestLabel, 4);
    return out;
}

double Distance(PointF a, PointF b) { return std::hypot(a.x - b.x, a.y - b.y); }

double DistanceToSegment(PointF p, PointF a, PointF b) {
    const double dx = b.x - a.x, dy = b.y - a.y, length2 = dx * dx + dy * dy;
    if (length2 == 0) return Distance(p, a);
    const double t = std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / length2, 0.0, 1.0);
    return Distance(p, PointF{a.x + t * dx, a.y + t * dy});
}

}  // namespace

std::string TickLabel(uint64_t utcSeconds) {
    const platform::SystemTime t = platform::ToLocalTime(static_cast<int64_t>(utcSeconds));
    return core::Format("%.2u:%.2u", unsigned{t.hour}, unsigned{t.minute}).value_or(std::string());
}

double TimeX(uint64_t t, const TimeWindow& window, const BoxF& plot) {
    if (window.end <= window.start || t <= window.start) return plot.left;
    if (t >= window.end) return plot.right;
    return plot.right - static_cast<double>(window.end - t) * plot.Width() / static_cast<double>(window.end - window.start);
}

double HeightY(double height, const BoxF& plot) { return plot.bottom - height * plot.Height() / kHeightScale; }

ChartMarker PlaceLabel(ChartMarker marker, SizeF extent, LabelPlace first, const BoxF& plot,
                       const std::vector<BoxF>& taken) {
    const size_t start = first == LabelPlace::CentredAbove ? 0 : StepOf(first);
    // The first place clockwise inside the plot and clear of the labels
    // already placed; where every place inside covers some label, the one
    // that covers least; where none is inside, centred above the marker.
    std::optional<LabelPlace> best;
    double bestCover = std::numeric_limits<double>::infinity();
    for (size_t i = 0; i < kPlaces; ++i) {
        const LabelPlace place = kClockwise[(start + i) % kPlaces];
        const BoxF box = LabelBox(place, marker.at, extent);
        if (!plot.Contains(box)) continue;
        // Labels that merely touch read as one number: keep a little space.
        const BoxF room{box.left - kLabelSpacing, box.top, box.right + kLabelSpacing, box.bottom};
        double cover = 0;
        for (const BoxF& t : taken)
            if (t.Overlaps(room))
                cover += (std::min(t.right, room.right) - std::max(t.left, room.left)) *
                         (std::min(t.bottom, room.bottom) - std::max(t.top, room.top));
        if (cover < bestCover) best = place, bestCover = cover;
        if (cover == 0) break;
    }
    marker.place = best.value_or(LabelPlace::CentredAbove);
    marker.labelBox = LabelBox(marker.place, marker.at, extent);
    return marker;
}

GraphPicture LayOutGraph(const Chart& chart, const GraphSettings& settings, double width, double height,
                         const TextMeasure& labelFont, const TextMeasure& axisFont) {
    GraphPicture picture;
    picture.client = BoxF{0, 0, std::max(width, 0.0), std::max(height, 0.0)};
    picture.plot = PlotOf(settings, picture.client.right, picture.client.bottom);
    if (!chart.window) {
        picture.noData = true;
        LayOutGrid(picture, axisFont);
        return picture;
    }
    LayOutTicks(picture, *chart.window, axisFont);
    std::vector<BoxF> taken;
    for (const ChartSeries& series : chart.series)
        picture.series.push_back(LayOutSeries(series, *chart.window, picture.plot, labelFont, taken));
    return picture;
}

std::optional<HoverSample> SampleNear(const Chart& chart, const GraphPicture& picture, PointF at, double reach) {
    std::optional<HoverSample> best;
    double bestDistance = std::numeric_limits<double>::infinity();
    const auto consider = [&](size_t s, const DrawnPoint& p, double distance) {
        if (distance > reach || distance >= bestDistance) return;
        bestDistance = distance;
        best = HoverSample{s, p.point, {}};
    };
    for (size_t s = 0; s < picture.series.size() && s < chart.series.size(); ++s) {
        for (const std::vector<DrawnPoint>& line : picture.series[s].lines) {
            for (size_t i = 0; i < line.size(); ++i) {
                if (i + 1 == line.size()) {
                    consider(s, line[i], Distance(at, line[i].at));
                    continue;
                }
                // Near the segment: the sample at its nearer end.
                const double d = DistanceToSegment(at, line[i].at, line[i + 1].at);
                const bool first = Distance(at, line[i].at) <= Distance(at, line[i + 1].at);
                consider(s, first ? line[i] : line[i + 1], d);
            }
        }
    }
    if (!best) return std::nullopt;
    const ChartSeries& series = chart.series[best->series];
    const ChartPoint& point = series.points[best->point];
    const platform::SystemTime t = platform::ToLocalTime(static_cast<int64_t>(point.time));
    best->text = core::Format("%s\n%.2u.%.2u %.2u:%.2u:%.2u\n%s", series.tag, unsigned{t.day}, unsigned{t.month},
                              unsigned{t.hour}, unsigned{t.minute}, unsigned{t.second}, point.value.Text())
                     .value_or(std::string());
    return best;
}

}  // namespace qm::windows
