#include "windows/zoom.h"

#include <cmath>
#include <cstdlib>

namespace qm::windows {

namespace {

int32_t SafeDpi(int32_t dotsPerInch) { return dotsPerInch > 0 ? dotsPerInch : 96; }

std::optional<int32_t> Step(int32_t height, int32_t dotsPerInch, int32_t direction) {
    const int32_t dpi = SafeDpi(dotsPerInch);
    const int32_t points = PointsOfHeight(height, dpi);
    if (direction > 0 && points + 2 > kMaxZoomPoints) return std::nullopt;
    if (direction < 0 && points - 2 < kMinZoomPoints) return std::nullopt;
    int32_t next = HeightOfPoints(points + direction, dpi);
    if (PointsOfHeight(next, dpi) == points) next = HeightOfPoints(points + 2 * direction, dpi);
    return next;
}

}  // namespace

int32_t PointsOfHeight(int32_t height, int32_t dotsPerInch) {
    return static_cast<int32_t>(std::llabs(static_cast<int64_t>(height)) * 72 / SafeDpi(dotsPerInch));
}

int32_t HeightOfPoints(int32_t points, int32_t dotsPerInch) {
    return -static_cast<int32_t>(std::lround(static_cast<double>(points) * SafeDpi(dotsPerInch) / 72.0));
}

std::optional<int32_t> ZoomIn(int32_t height, int32_t dotsPerInch) { return Step(height, dotsPerInch, +1); }
std::optional<int32_t> ZoomOut(int32_t height, int32_t dotsPerInch) { return Step(height, dotsPerInch, -1); }

}  // namespace qm::windows
