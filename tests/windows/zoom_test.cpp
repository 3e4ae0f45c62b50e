#include "windows/zoom.h"

#include <gtest/gtest.h>

namespace qm::windows {
namespace {

TEST(Zoom, StepsOnePointOrTwoWhenRoundingGivesTheSameSizeAndStopsAtTheLimits) {
    for (int32_t dpi : {96, 120, 144}) {
        SCOPED_TRACE(dpi);
        for (int32_t points = kMinZoomPoints; points <= kMaxZoomPoints; ++points) {
            const int32_t height = HeightOfPoints(points, dpi);
            const int32_t now = PointsOfHeight(height, dpi);
            if (const auto up = ZoomIn(height, dpi)) {
                const int32_t after = PointsOfHeight(*up, dpi);
                EXPECT_GT(after, now);
                EXPECT_LE(after, now + 2);
                EXPECT_LE(now + 2, kMaxZoomPoints);
            } else {
                EXPECT_GT(now + 2, kMaxZoomPoints);
            }
            if (const auto down = ZoomOut(height, dpi)) {
                const int32_t after = PointsOfHeight(*down, dpi);
                EXPECT_LT(after, now);
                EXPECT_GE(after, now - 2);
            } else {
                EXPECT_LT(now - 2, kMinZoomPoints);
            }
        }
    }
    // The edges: 49 points cannot grow, 6 points cannot shrink.
    EXPECT_FALSE(ZoomIn(HeightOfPoints(49, 72), 72));
    EXPECT_TRUE(ZoomIn(HeightOfPoints(48, 72), 72));
    EXPECT_FALSE(ZoomOut(HeightOfPoints(6, 72), 72));
    EXPECT_TRUE(ZoomOut(HeightOfPoints(7, 72), 72));
    // At 96 dpi 9 points is -12; one point up rounds to -13, still 9 points
    // by truncation, so the step takes two.
    EXPECT_EQ(ZoomIn(-12, 96), HeightOfPoints(11, 96));
    EXPECT_EQ(PointsOfHeight(0, 0), 0) << "no division by a zero dpi";
}

}  // namespace
}  // namespace qm::windows
