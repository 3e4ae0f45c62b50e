#pragma once
// Where everything of a graph goes in a window of a given size: the plot
// area, the time axis with its ticks and local-time labels, the grid and
// "NO DATA" of a chart without a time window, each series' lines broken at
// errors, the error bars, the markers and their labels. Pure arithmetic on
// a Chart, so it is tested without a display; the Qt view only draws it.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "windows/graph/graph_chart.h"

namespace qm::windows {

struct PointF {
    double x = 0, y = 0;
    bool operator==(const PointF&) const = default;
};

struct BoxF {
    double left = 0, top = 0, right = 0, bottom = 0;
    double Width() const { return right - left; }
    double Height() const { return bottom - top; }
    bool Contains(const BoxF& inner) const {
        return inner.left >= left && inner.top >= top && inner.right <= right && inner.bottom <= bottom;
    }
    bool Overlaps(const BoxF& o) const { return left < o.right && o.left < right && top < o.bottom && o.top < bottom; }
    bool operator==(const BoxF&) const = default;
};

struct SizeF {
    double width = 0, height = 0;
};

// How large a text is drawn in a font (the view measures with its fonts).
using TextMeasure = std::function<SizeF(const std::string&)>;

constexpr double kGridStep = 20;
constexpr uint64_t kTickSeconds = 300;
constexpr double kTickLength = 5;
constexpr double kTickLabelGap = 10;
constexpr double kErrorBarHeight = 10;
constexpr double kMarkerSize = 5;    // circle radius, square half-size
constexpr double kLabelDistance = 10;

struct AxisTick {
    double x = 0;
    uint64_t time = 0;
    std::string label;   // local "hh:mm"; empty where labels would crowd
    BoxF labelBox;       // where the label text goes
};

// Label positions round a marker, clockwise from above.
enum class LabelPlace { Above, AboveRight, Right, BelowRight, Below, BelowLeft, Left, AboveLeft, CentredAbove };

struct ChartMarker {
    enum class Shape { Circle, Square } shape = Shape::Circle;
    PointF at;
    std::string label;
    BoxF labelBox;
    LabelPlace place = LabelPlace::Above;
};

struct DrawnPoint {
    PointF at;
    size_t point = 0;  // index into the series' points
};

struct SeriesPicture {
    // Runs of good points joined by lines, each oldest to newest in x.
    std::vector<std::vector<DrawnPoint>> lines;
    std::vector<BoxF> errorBars;
    std::vector<ChartMarker> markers;  // newest, highest, lowest (in that order; one square for a flat line)
};

struct GraphPicture {
    BoxF client;
    BoxF plot;
    bool noData = false;           // no time window: grid and "NO DATA"
    std::vector<double> gridX, gridY;
    BoxF noDataBox;
    std::vector<AxisTick> ticks;   // newest (right) first, the left edge's last
    std::vector<SeriesPicture> series;  // parallel to Chart::series
};

// Local "hh:mm" of a UTC second (tests pass their own zone by setting TZ).
std::string TickLabel(uint64_t utcSeconds);

// The x of time t in the plot (t before the start lands on the left edge).
double TimeX(uint64_t t, const TimeWindow& window, const BoxF& plot);
// The y of a height on the 0…120 scale.
double HeightY(double height, const BoxF& plot);

// Where the label of a marker at `at` goes: the first of the eight places,
// clockwise from `first`, that lies wholly in the plot and clear of
// `taken`; centred above when none does.
ChartMarker PlaceLabel(ChartMarker marker, SizeF extent, LabelPlace first, const BoxF& plot, const std::vector<BoxF>& taken);

// The picture of a chart in a client area of `width` × `height` pixels.
// `labelFont` measures the value labels, `axisFont` the tick labels and "NO DATA".
GraphPicture LayOutGraph(const Chart& chart, const GraphSettings& settings, double width, double height,
                         const TextMeasure& labelFont, const TextMeasure& axisFont);

// Hovering: the tag, local time and value of the sample nearest to `at`
// on a line (or a lone point) within `reach` pixels; nothing farther away.
struct HoverSample {
    size_t series = 0;
    size_t point = 0;
    std::string text;
};
std::optional<HoverSample> SampleNear(const Chart& chart, const GraphPicture& picture, PointF at, double reach = 8);

}  // namespace qm::windows
