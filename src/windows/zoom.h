#pragma once
// Font zoom shared by the event list and the info box: heights are the
// platform font record's (negative = character height in pixels), sizes are
// points at the screen's dots per inch.
#include <cstdint>
#include <optional>

namespace qm::windows {

constexpr int32_t kMaxZoomPoints = 50;
constexpr int32_t kMinZoomPoints = 5;

// The size in points of a font height (a positive height is taken as is).
int32_t PointsOfHeight(int32_t height, int32_t dotsPerInch);
// The height of a size in points, rounded.
int32_t HeightOfPoints(int32_t points, int32_t dotsPerInch);

// The next height one step up or down, or nothing when the step is refused
// (above 50 or below 5 points). A step that rounds back to the same size
// takes two points.
std::optional<int32_t> ZoomIn(int32_t height, int32_t dotsPerInch);
std::optional<int32_t> ZoomOut(int32_t height, int32_t dotsPerInch);

}  // namespace qm::windows
