// The windows' arithmetic: a saved place brought onto the screens there are,
// and zoom steps in points.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "windows/geometry.h"
#include "windows/zoom.h"

namespace qm::windows {
namespace {

TEST(FitToScreens, KeepsWhatLiesOnTheScreensAndBringsTheRestOntoTheNearestWholeAndNoLarger) {
    const std::vector<Rect> one{{0, 0, 1280, 1024}};
    // Two monitors side by side, the second lower and smaller.
    const std::vector<Rect> two{{0, 0, 1920, 1080}, {1920, 200, 3200, 1224}};

    EXPECT_EQ(FitToScreens(Rect{40, 40, 1040, 640}, one), (Rect{40, 40, 1040, 640}));
    EXPECT_EQ(FitToScreens(Rect{1500, 300, 2500, 900}, two), (Rect{1500, 300, 2500, 900})) << "spans both monitors";
    EXPECT_EQ(FitToScreens(Rect{0, 0, 60000, 60000}, one), (Rect{0, 0, 1280, 1024}));
    EXPECT_EQ(FitToScreens(Rect{100, 50, 60100, 60050}, two), (Rect{0, 0, 1920, 1080})) << "on the screen it shares most with";
    EXPECT_EQ(FitToScreens(Rect{1000, 100, 1600, 500}, one), (Rect{680, 100, 1280, 500})) << "moved the least";
    EXPECT_EQ(FitToScreens(Rect{1500, 0, 2500, 600}, two), (Rect{920, 0, 1920, 600})) << "a corner off both";

    // Saved on a monitor that is gone (left of the primary, or far right).
    EXPECT_EQ(FitToScreens(Rect{-1700, 100, -900, 700}, one), (Rect{0, 100, 800, 700}));
    EXPECT_EQ(FitToScreens(Rect{5000, 1300, 5600, 1700}, two), (Rect{2600, 824, 3200, 1224})) << "the nearest screen";
    EXPECT_EQ(FitToScreens(Rect{-1700, 100, -900, 700}, std::vector<Rect>{{-1920, 0, 0, 1080}, {0, 0, 1280, 1024}}),
              (Rect{-1700, 100, -900, 700})) << "the monitor on the left is there";

    // A screen smaller than the smallest window keeps the window's minimum.
    EXPECT_EQ(FitToScreens(Rect{50, 50, 850, 650}, std::vector<Rect>{{0, 0, 400, 240}}), (Rect{0, 0, 500, 300}));
    // Edges at the ends of their type, and no screens known at all.
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min(), kMax = std::numeric_limits<int32_t>::max();
    EXPECT_EQ(FitToScreens(Rect{kMin, kMin, kMax, kMax}, one), (Rect{0, 0, 1280, 1024}));
    EXPECT_EQ(FitToScreens(Rect{kMax - 600, kMax - 400, kMax, kMax}, one), (Rect{680, 624, 1280, 1024}));
    EXPECT_EQ(FitToScreens(Rect{-3000, 40, 5000, 1000}, {}), (Rect{-3000, 40, 5000, 1000}));
    EXPECT_EQ(FitToScreens(Rect{0, 0, 60000, 60000}, {}), (Rect{0, 0, 8192, 8192}));
    EXPECT_EQ(FitToScreens(Rect{kMax - 600, kMin, kMax, kMax}, {}), (Rect{kMax - 600, kMin, kMax, kMin + 8192}));
}

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
